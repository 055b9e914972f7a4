// Independent readers: a recording of their own each, and what the block
// reader remembers between calls so that reading on from where the last
// block ended costs no search. Nothing here is shared between readers; the
// registry that tells the handles of open readers from any others lives in
// shared_state.h.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "format/layout.h"
#include "kdrvx/kdrvx.h"
#include "library/sized.h"
#include "read/recording.h"

namespace kdrvx::read {

// What the block reader of the two older record kinds remembers.
struct BlockCursor {
  int64_t filePosition = -1;  // where the file stands; -1 when unknown
  // DOS kind: records before `clearRecords` hold no end mark; the first
  // end mark found, -1 while none is known.
  uint64_t clearRecords = 0;
  int64_t endMark = -1;
  // Sparse kind: the values of every channel after record `carryRecord`
  // (counted from 1; 0 is before the first record, all values 0).
  uint64_t carryRecord = 0;
  float carry[format::kMaxChannels] = {};
  // Stored records of up to one chunk, kept from call to call.
  std::unique_ptr<uint8_t[]> stored;
  uint64_t storedBytes = 0;
  // Why the last call stopped short of the records the file holds: the
  // system's error (Windows numbering) of a read, a seek or a length that
  // failed, or kErrorNotEnoughMemory when its buffer could not be had; 0
  // when nothing failed. Those records are not the end of the data.
  uint32_t failure = 0;
};

// An independent reader: what a KDRVX_Reader handle stands for in the
// registry of open readers (shared_state.h). KDRVX_Check reads through one
// of its own that it never registers.
struct Reader {
  Recording recording;
  BlockCursor cursor;
  // The path it was opened by, where a follower looks for the writer and
  // opens the finished recording again.
  std::u16string path;
  // What the last refresh found once no writer held the file: the length
  // it had then, and whether it was closed (KDRVX_LIVE_CLOSED) or
  // interrupted; 0 while a writer held it.
  uint32_t settledState = 0;
  uint64_t settledLength = 0;
};

// The exports' bodies. A handle that is not an open reader's is refused
// with KDRVX_ERR_RVX_NOT_OPEN_READ (negative from readerRead) and ignored by
// readerClose; it is never dereferenced.
uint32_t readerOpen(const char16_t* path, KDRVX_Reader** handle);
uint32_t readerInfo(const KDRVX_Reader* handle, KDRVX_RecordingInfo* info);
uint32_t readerChannel(const KDRVX_Reader* handle, int16_t channel, KDRVX_ChannelInfo* info);
int64_t readerRead(KDRVX_Reader* handle, int64_t first, uint32_t count, float* records);
uint32_t readerFindings(const KDRVX_Reader* handle, KDRVX_Findings* findings);
uint32_t readerSystemError(const KDRVX_Reader* handle, uint32_t* systemError);
void readerClose(KDRVX_Reader* handle);
uint32_t readerRefresh(KDRVX_Reader* handle, KDRVX_LiveState* state);
uint32_t readerWait(KDRVX_Reader* handle, uint64_t known, uint32_t milliseconds,
                    KDRVX_LiveState* state);
uint32_t readerOpenLive(const char16_t* path, uint32_t milliseconds, KDRVX_Reader** handle,
                        KDRVX_LiveState* state);
uint32_t readerStatistics(KDRVX_Reader* handle, uint64_t first, uint64_t count,
                          KDRVX_WindowStatistics* channels, uint32_t channelCapacity,
                          KDRVX_Progress progress, void* context);

// Hands `whole` to a caller's struct that begins with its size; a null
// struct or a size below 4 is ERR_RVX_PARAMETER_STRING_LENGTH.
template <typename Info>
uint32_t deliver(const Info& whole, Info* info) {
  return library::deliver(whole, info, KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
}

// Reads `count` records from record `first` of `recording`, converted as
// readerRead delivers them; the number of whole records delivered, fewer
// at the end of the data or when cursor.failure tells why not.
uint64_t readBlock(Recording& recording, BlockCursor& cursor, uint64_t first, uint32_t count,
                   float* records);

}  // namespace kdrvx::read
