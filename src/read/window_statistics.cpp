// KDRVX_ReaderStatistics: the records of a window read through the block
// reader, as KDRVX_ReaderRead delivers them, and followed with the window
// arithmetic (format/window_statistics.h). Reads with the reader's own
// cursor, like KDRVX_ReaderRead; touches no module state and traces
// nothing.
#include <algorithm>
#include <memory>
#include <new>

#include "format/header_values.h"
#include "format/window_statistics.h"
#include "kdrvx/kdrvx.h"
#include "platform/platform.h"
#include "read/reader.h"
#include "read/shared_state.h"

namespace kdrvx::read {
namespace {

namespace window = format::window;

// Records are read and followed in blocks of about this many values.
constexpr uint32_t kBlockValues = 64 * 1024;

// Reads and follows records [first, first + count); false when memory or
// the file failed.
bool followRecords(Reader& reader, uint64_t first, uint64_t count, uint32_t channels,
                   KDRVX_Progress progress, void* context, window::Window& found) {
  const uint32_t perBlock = std::max<uint32_t>(1, kBlockValues / channels);
  std::unique_ptr<float[]> block(new (std::nothrow) float[size_t{perBlock} * channels]);
  if (!block) {
    reader.cursor.failure = platform::kErrorNotEnoughMemory;
    return false;
  }
  uint64_t done = 0;
  while (done < count) {
    const auto wanted = static_cast<uint32_t>(std::min<uint64_t>(perBlock, count - done));
    const auto got = static_cast<uint32_t>(
        readBlock(reader.recording, reader.cursor, first + done, wanted, block.get()));
    if (reader.cursor.failure != 0) return false;
    window::follow(found, block.get(), got, channels);
    done += got;
    if (progress != nullptr && got != 0) progress(done, count, context);
    if (got < wanted) break;
  }
  return true;
}

}  // namespace

uint32_t readerStatistics(KDRVX_Reader* handle, uint64_t first, uint64_t count,
                          KDRVX_WindowStatistics* channels, uint32_t channelCapacity,
                          KDRVX_Progress progress, void* context) {
  Reader* reader = readers().find(handle);
  if (reader == nullptr) return KDRVX_ERR_RVX_NOT_OPEN_READ;
  reader->cursor.failure = 0;
  if (channelCapacity > 0 && (channels == nullptr || channels->size < library::kSmallestSized))
    return KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  const format::RVX_HEADER& h = reader->recording.header;
  const auto stored =
      static_cast<uint32_t>(reader->recording.recordSize) / format::kBytesPerValue;
  const uint32_t described = format::channelCount(h);
  std::unique_ptr<window::Window> found(new (std::nothrow) window::Window);
  if (!found) {
    reader->cursor.failure = platform::kErrorNotEnoughMemory;
    return KDRVX_ERR_RVX_OPEN_READ;
  }
  for (uint32_t k = 0; k < described; ++k)
    found->bits[k] = window::countedBits(h.Channel[k].MultiChannel);
  if (stored != 0 && count != 0 &&
      !followRecords(*reader, first, count, stored, progress, context, *found))
    return KDRVX_ERR_RVX_OPEN_READ;
  const uint32_t stride = channelCapacity > 0 ? channels->size : 0;
  for (uint32_t k = 0; k < std::min(described, channelCapacity); ++k)
    deliver(window::report(*found, k), library::entryAt(channels, stride, k));
  return KDRVX_OK;
}

}  // namespace kdrvx::read
