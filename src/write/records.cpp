// Records of the file under creation: appending them, bringing the header
// up to date during a recording, and raw blocks.
#include "format/statistics.h"
#include "kdrvx/kdrvx.h"
#include "library/failure.h"
#include "library/state.h"
#include "library/trace.h"
#include "recording/record_writer.h"
#include "write/create.h"
#include "write/create_context.h"

namespace kdrvx::write {

using library::setLastError;

uint32_t addRecords(const float* records, uint32_t count) {
  CreateContext& context = createContext();
  recording::CreateExtras extras{context.compact.NoRecords, context.recordAdded};
  const recording::RecordTarget target{.file = context.file,
                                       .header = context.header,
                                       .headerImage = headerImage(context),
                                       .headerImageLength = headerImageLength(context),
                                       .position = context.position,
                                       .appendsAtEnd = false,
                                       .writeFailure = KDRVX_ERR_RVX_OPEN_WRITE,
                                       .statistics = context.statistics,
                                       .create = &extras};
  return recording::appendRecords(target, records, count);
}

uint32_t update() {
  trace::call(u"KDrvxLibrary: KDRVX_Update()");
  if (uint32_t status = requireCreateOpen()) return status;
  CreateContext& context = createContext();
  format::RVX_HEADER& header = context.header;

  if (header.NoRecords != 0) {
    const double n = header.NoRecords;
    const format::statistics::Running& running = context.statistics;
    for (uint32_t i = 0; i < header.NoChannels && i < format::kMaxChannels; ++i) {
      format::MGR_DEF& channel = header.Channel[i];
      channel.MeanValue = format::statistics::mean(running.sumValues[i], n);
      channel.RMSValue = format::statistics::rms(running.sumSquares[i], n);
    }
    recording::storeExtremes(running, header);
    header.FlagStatistics = 3;
  }

  const int64_t resume = context.position;
  if (!writeHeaderImage(context)) {
    const uint32_t status =
        library::failWithSystemError(KDRVX_ERR_RVX_OPEN_WRITE, platform::lastError());
    context.file.seekFromStart(resume);
    context.position = resume;
    return status;
  }

  // A live writer never lets go of its file while recording: a follower
  // would take a moment without a writer for the end of the recording.
  // Its writes have reached the system already.
  if (context.live) {
    const int64_t end = context.file.length();
    if (end < 0 || !context.file.seekFromStart(end)) {
      const uint32_t status =
          library::failWithSystemError(KDRVX_ERR_RVX_OPEN_WRITE, platform::lastError());
      context.file.seekFromStart(resume);
      return status;
    }
    context.position = end;
    return setLastError(KDRVX_OK);
  }

  // Closing hands everything written so far to the system; recording goes
  // on at the end of the reopened file. The file is opened again by the
  // absolute path it was created under, whatever the current directory is
  // now: after a failure it stays closed, and later writes fail instead of
  // reaching some other file.
  context.file.close();
  if (!context.file.open(context.filePath.c_str(), platform::OpenMode::OpenReadWrite)) {
    return library::failWithSystemError(KDRVX_ERR_RVX_OPEN_WRITE, platform::lastError());
  }
  // Without its end the reopened file stays closed as well: its position
  // is the start, where the next record would overwrite the header.
  const int64_t end = context.file.length();
  if (end < 0 || !context.file.seekFromStart(end)) {
    const uint32_t status =
        library::failWithSystemError(KDRVX_ERR_RVX_OPEN_WRITE, platform::lastError());
    context.file.close();
    return status;
  }
  context.position = end;
  return setLastError(KDRVX_OK);
}

uint32_t writeDataBlock(const void* data, int32_t offset, uint16_t count) {
  trace::Line<trace::kInfoLineCapacity>()
      .format("KDrvxLibrary: KDRVX_WriteDataBlock(...,Offset=%d,Bytes=%d)", static_cast<int>(offset),
              static_cast<int>(count))
      .emitIf(trace::kCalls);
  if (uint32_t status = requireCreateOpen()) return status;
  if (data == nullptr && count != 0) {
    return library::fail(KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  }
  CreateContext& context = createContext();
  // A negative offset fails here, in the file layer, like any seek it
  // refuses; the position stays where it was.
  if (!context.file.seekFromStart(offset))
    return library::failWithSystemError(KDRVX_ERR_RVX_OPEN_WRITE, platform::lastError());
  if (!context.file.write(data, count)) {
    const uint32_t status =
        library::failWithSystemError(KDRVX_ERR_RVX_OPEN_WRITE, platform::lastError());
    context.file.seekFromStart(context.position);
    return status;
  }
  context.position = static_cast<int64_t>(offset) + count;
  return setLastError(KDRVX_OK);
}

}  // namespace kdrvx::write
