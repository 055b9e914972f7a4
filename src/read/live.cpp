// Following a recording while it is being made. A follower's reader looks at
// two things: who holds the file (the platform's probe of the sharing
// modes) and how long it is. While a writer holds it, the records are what
// the length holds, whatever the lagging header counts; once no writer holds
// it, the reader opens it again and the header tells a recording that was
// closed from one whose writer stopped before its final header.
#include <chrono>
#include <memory>
#include <new>
#include <utility>

#include "format/claims.h"
#include "kdrvx/kdrvx.h"
#include "platform/platform.h"
#include "read/reader.h"
#include "read/shared_state.h"

namespace kdrvx::read {
namespace {

using Clock = std::chrono::steady_clock;

// The length of the file now, or what the reader knew when it cannot be had.
uint64_t currentLength(Recording& recording) {
  const int64_t length = recording.file.length();
  return length >= 0 ? static_cast<uint64_t>(length) : recording.claims.fileLength;
}

// Measures the claims of the open recording again at `length`: the header
// stays as it was read, the whole records follow the data.
void remeasure(Recording& recording, uint64_t length) {
  format::OpenFacts facts = recording.facts;
  facts.fileLength = length;
  recording.claims =
      format::measureClaims(*recording.layout, recording.sourceVersion, recording.header, facts);
}

// Opens the recording at the reader's path again, as the writer left it, in
// place of the one the reader holds; the status of the open (the reader
// keeps what it had when it fails).
uint32_t reopen(Reader& reader) {
  std::unique_ptr<Recording> fresh(new (std::nothrow) Recording);
  if (!fresh) return KDRVX_ERR_RVX_OPEN_READ;
  const OpenOutcome outcome = openRecording(*fresh, reader.path.c_str(), RetryLine::Silent);
  if (outcome.status != KDRVX_OK) return outcome.status;
  measureClaims(*fresh, outcome);
  reader.recording.file.close();
  reader.recording = std::move(*fresh);
  reader.cursor = BlockCursor{};
  reader.cursor.filePosition = static_cast<int64_t>(reader.recording.dataOffset);
  return KDRVX_OK;
}

KDRVX_LiveState liveStateOf(uint32_t state, const Recording& recording) {
  KDRVX_LiveState live{};
  live.size = sizeof live;
  live.state = state;
  live.records = recording.claims.heldRecords;
  live.fileLength = recording.claims.fileLength;
  return live;
}

// The refresh of an open reader: who holds the file first, its length
// second, so that a writer seen gone has written every record the length
// then holds.
uint32_t refresh(Reader& reader, KDRVX_LiveState& live) {
  platform::Holder holder = platform::Holder::Nobody;
  if (!platform::probeHolder(reader.path.c_str(), holder)) {
    live = liveStateOf(KDRVX_LIVE_MISSING, reader.recording);
    return KDRVX_ERR_RVX_OPEN_READ;
  }
  if (holder == platform::Holder::Missing) {
    live = liveStateOf(KDRVX_LIVE_MISSING, reader.recording);
    return KDRVX_ERR_RVX_OPEN_READ;
  }
  const uint64_t length = currentLength(reader.recording);
  if (holder != platform::Holder::Nobody) {
    reader.settledState = 0;
    remeasure(reader.recording, length);
    live = liveStateOf(holder == platform::Holder::LiveWriter ? KDRVX_LIVE_RECORDING
                                                               : KDRVX_LIVE_HELD,
                       reader.recording);
    return KDRVX_OK;
  }
  // Opened again only when something changed since the last look: a
  // recording whose writer is gone for good costs a probe and a length.
  if (reader.settledState == 0 || reader.settledLength != length) {
    if (const uint32_t status = reopen(reader); status != KDRVX_OK) {
      // Something is there that no writer holds and that does not open.
      live = liveStateOf(KDRVX_LIVE_INTERRUPTED, reader.recording);
      return status;
    }
    reader.settledLength = reader.recording.claims.fileLength;
    reader.settledState = format::countsWhatItHolds(reader.recording.claims)
                              ? KDRVX_LIVE_CLOSED
                              : KDRVX_LIVE_INTERRUPTED;
  }
  live = liveStateOf(reader.settledState, reader.recording);
  return KDRVX_OK;
}

// Hands the state to a caller's struct; a null one is no error here.
uint32_t deliverState(const KDRVX_LiveState& live, KDRVX_LiveState* state) {
  return state == nullptr ? KDRVX_OK : deliver(live, state);
}

bool sizeRefused(const KDRVX_LiveState* state) {
  return state != nullptr && state->size < sizeof(uint32_t);
}

// Milliseconds left until `deadline`, at most one poll.
uint32_t nextPause(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left < KDRVX_LIVE_POLL_MILLISECONDS ? static_cast<uint32_t>(left)
                                             : KDRVX_LIVE_POLL_MILLISECONDS;
}

// Whether a recording that a live writer holds has its channels for good:
// the writer writes its header with every channel it adds, and the first
// record, which the header counts from then on, ends the adding.
bool channelsSettled(const Recording& recording) {
  return (recording.claims.findings & KDRVX_FINDINGS_VALUES_WRONG) == 0 &&
         recording.header.NoRecords != 0;
}

// One attempt of a following open: its status, and where the recording
// stands (KDRVX_LIVE_MISSING, _HELD or _RECORDING while it is worth
// waiting; KDRVX_LIVE_CLOSED once no writer holds the file, when the status
// is final). A doubtful attempt found no writer and a file that did not
// open, or opened with values that cannot be right: a writer that has only
// just created the file and not yet taken its lock looks so, so the caller
// looks once more before the answer counts.
struct Attempt {
  uint32_t status = KDRVX_ERR_RVX_OPEN_READ;
  uint32_t state = KDRVX_LIVE_MISSING;
  bool doubtful = false;
};

Attempt attemptOpen(const char16_t* path, KDRVX_Reader** handle, bool takeDoubtful) {
  platform::Holder holder = platform::Holder::Nobody;
  if (!platform::probeHolder(path, holder)) return {KDRVX_ERR_RVX_OPEN_READ, KDRVX_LIVE_CLOSED};
  switch (holder) {
    case platform::Holder::Missing: return {KDRVX_ERR_RVX_OPEN_READ, KDRVX_LIVE_MISSING};
    case platform::Holder::Exclusive: return {KDRVX_ERR_RVX_SHARING_VIOLATION, KDRVX_LIVE_HELD};
    case platform::Holder::LiveWriter:
    case platform::Holder::Nobody: break;
  }
  const bool live = holder == platform::Holder::LiveWriter;
  const uint32_t status = readerOpen(path, handle);
  const Recording* opened = status == KDRVX_OK ? &readers().find(*handle)->recording : nullptr;
  const bool unsettled = opened != nullptr && (live ? !channelsSettled(*opened)
                                                    : (opened->claims.findings &
                                                       KDRVX_FINDINGS_VALUES_WRONG) != 0);
  const bool doubtful = !live && (status != KDRVX_OK || unsettled) && !takeDoubtful;
  if (unsettled && (live || doubtful)) {
    readerClose(*handle);
    *handle = nullptr;
    return {KDRVX_ERR_RVX_INVALID_HEADER, KDRVX_LIVE_RECORDING, doubtful};
  }
  if (doubtful) return {status, KDRVX_LIVE_RECORDING, true};
  return {status, live ? KDRVX_LIVE_RECORDING : KDRVX_LIVE_CLOSED};
}

}  // namespace

uint32_t readerRefresh(KDRVX_Reader* handle, KDRVX_LiveState* state) {
  Reader* reader = readers().find(handle);
  if (reader == nullptr) return KDRVX_ERR_RVX_NOT_OPEN_READ;
  if (sizeRefused(state)) return KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  KDRVX_LiveState live{};
  const uint32_t status = refresh(*reader, live);
  deliverState(live, state);
  return status;
}

uint32_t readerWait(KDRVX_Reader* handle, uint64_t known, uint32_t milliseconds,
                    KDRVX_LiveState* state) {
  Reader* reader = readers().find(handle);
  if (reader == nullptr) return KDRVX_ERR_RVX_NOT_OPEN_READ;
  if (sizeRefused(state)) return KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  KDRVX_LiveState live{};
  for (;;) {
    const uint32_t status = refresh(*reader, live);
    // A recording that is recorded, interrupted or gone for the moment is
    // waited through: new records or its close end the wait, as does a
    // file that no longer opens.
    const bool settled = live.records > known || live.state == KDRVX_LIVE_CLOSED ||
                         (status != KDRVX_OK && live.state != KDRVX_LIVE_MISSING);
    const uint32_t pause = nextPause(deadline);
    if (settled || pause == 0) {
      deliverState(live, state);
      return status;
    }
    platform::sleepMilliseconds(pause);
  }
}

uint32_t readerOpenLive(const char16_t* path, uint32_t milliseconds, KDRVX_Reader** handle,
                        KDRVX_LiveState* state) {
  if (handle == nullptr || sizeRefused(state)) return KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  *handle = nullptr;
  KDRVX_LiveState live{};
  live.size = sizeof live;
  if (path == nullptr) {
    live.state = KDRVX_LIVE_CLOSED;
    deliverState(live, state);
    return KDRVX_ERR_RVX_OPEN_READ;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  bool doubted = false;
  for (;;) {
    const Attempt attempt = attemptOpen(path, handle, doubted);
    doubted = attempt.doubtful;
    if (doubted) {
      platform::sleepMilliseconds(KDRVX_LIVE_POLL_MILLISECONDS);
      continue;
    }
    const uint32_t pause = nextPause(deadline);
    if (attempt.status == KDRVX_OK || attempt.state == KDRVX_LIVE_CLOSED || pause == 0) {
      live.state = attempt.state;
      if (*handle != nullptr) {
        const Recording& recording = readers().find(*handle)->recording;
        live.records = recording.claims.heldRecords;
        live.fileLength = recording.claims.fileLength;
      }
      deliverState(live, state);
      return attempt.status;
    }
    platform::sleepMilliseconds(pause);
  }
}

}  // namespace kdrvx::read
