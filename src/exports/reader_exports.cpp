// Exported entry points of the independent readers.
#include "kdrvx/kdrvx.h"
#include "library/text.h"
#include "read/reader.h"

using namespace kdrvx;

extern "C" {

KDRVX_API uint32_t KDRVX_ReaderOpen(const KDRVX_CHAR* path, KDRVX_Reader** reader) {
  return read::readerOpen(fromCaller(path), reader);
}

KDRVX_API uint32_t KDRVX_ReaderInfo(const KDRVX_Reader* reader, KDRVX_RecordingInfo* info) {
  return read::readerInfo(reader, info);
}

KDRVX_API uint32_t KDRVX_ReaderChannel(const KDRVX_Reader* reader, int16_t channel,
                                       KDRVX_ChannelInfo* info) {
  return read::readerChannel(reader, channel, info);
}

KDRVX_API int64_t KDRVX_ReaderRead(KDRVX_Reader* reader, int64_t first, uint32_t count,
                                   float* records) {
  return read::readerRead(reader, first, count, records);
}

KDRVX_API uint32_t KDRVX_ReaderSystemError(const KDRVX_Reader* reader, uint32_t* systemError) {
  return read::readerSystemError(reader, systemError);
}

KDRVX_API void KDRVX_ReaderClose(KDRVX_Reader* reader) { read::readerClose(reader); }

KDRVX_API uint32_t KDRVX_ReaderRefresh(KDRVX_Reader* reader, KDRVX_LiveState* state) {
  return read::readerRefresh(reader, state);
}

KDRVX_API uint32_t KDRVX_ReaderWait(KDRVX_Reader* reader, uint64_t known, uint32_t milliseconds,
                                    KDRVX_LiveState* state) {
  return read::readerWait(reader, known, milliseconds, state);
}

KDRVX_API uint32_t KDRVX_ReaderOpenLive(const KDRVX_CHAR* path, uint32_t milliseconds,
                                        KDRVX_Reader** reader, KDRVX_LiveState* state) {
  return read::readerOpenLive(fromCaller(path), milliseconds, reader, state);
}

KDRVX_API uint32_t KDRVX_ReaderStatistics(KDRVX_Reader* reader, uint64_t first, uint64_t count,
                                          KDRVX_WindowStatistics* channels,
                                          uint32_t channelCapacity, KDRVX_Progress progress,
                                          void* context) {
  return read::readerStatistics(reader, first, count, channels, channelCapacity, progress,
                                context);
}

}  // extern "C"
