#include "write/create_context.h"

#include <algorithm>
#include <cstring>

#include "kdrvx/kdrvx.h"
#include "library/failure.h"
#include "library/state.h"
#include "library/trace.h"

namespace kdrvx::write {

using format::RVX_HEADER;
using format::RVX_HEADER_W3;

CreateContext& createContext() {
  static CreateContext context;
  return context;
}

void resetCreateHeader() {
  CreateContext& context = createContext();
  RVX_HEADER& header = context.header;
  RVX_HEADER_W3& compact = context.compact;
  std::memset(&header, 0, sizeof header);
  std::memset(&compact, 0, sizeof compact);

  platform::LocalTime now;
  uint16_t year = 0;
  uint8_t month = 0, day = 0, hour = 255, minute = 255;
  if (platform::localTimeNow(now)) {
    year = static_cast<uint16_t>(now.year);
    month = static_cast<uint8_t>(now.month);
    day = static_cast<uint8_t>(now.day);
    hour = static_cast<uint8_t>(now.hour);
    minute = static_cast<uint8_t>(now.minute);
  }

  header.Version = format::kCurrentVersion;
  header.OriginalFlag = format::kOriginalRecording;
  header.HeaderSize = format::headerSizeField(0);
  header.Year = year;
  header.Month = month;
  header.Day = day;
  header.Hour = hour;
  header.Minute = minute;
  header.Second = format::kNoSeconds;
  header.Reserved12 = 0xFFFF;

  compact.Version = format::kCompactVersion;
  compact.OriginalFlag = format::kOriginalRecording;
  compact.HeaderSize = static_cast<uint16_t>(format::compactHeaderLength(0));
  compact.Year = year;
  compact.Month = month;
  compact.Day = day;
  compact.Hour = hour;
  compact.Minute = minute;

  context.statistics = {};
  context.recordAdded = false;
}

uint32_t requireCreateOpen() {
  if (createContext().open) return KDRVX_OK;
  return library::fail(KDRVX_ERR_RVX_NOT_OPEN_WRITE);
}

uint32_t requireChannel(int16_t channel) {
  if (uint32_t status = requireCreateOpen()) return status;
  if (channel >= 0 && channel < createContext().header.NoChannels) return KDRVX_OK;
  return library::fail(KDRVX_ERR_RVX_CHN_UNKNOWN);
}

const void* headerImage(const CreateContext& context) {
  if (context.legacyLayout) return &context.compact;
  return &context.header;
}

uint32_t headerImageLength(const CreateContext& context) {
  // The compact layout holds at most 24 channels, so its HeaderSize stays
  // within the record; the bound only guards the buffer.
  if (context.legacyLayout)
    return std::min<uint32_t>(context.compact.HeaderSize, sizeof context.compact);
  return format::headerLength(context.header.NoChannels);
}

bool writeHeaderImage(CreateContext& context) {
  const uint32_t length = headerImageLength(context);
  if (!context.file.seekFromStart(0)) return false;
  context.position = 0;
  if (!context.file.write(headerImage(context), length)) return false;
  context.position = length;
  return true;
}

}  // namespace kdrvx::write
