// The legacy import on arbitrary header bytes and file lengths.
#include <algorithm>
#include <cstring>
#include <memory>

#include "format/import.h"
#include "format/layout.h"
#include "harness.h"
#include "harness_support.h"
#include "kdrvx/kdrvx.h"

namespace kdrvx::fuzz {
namespace {

using format::MGR_DEF;
using format::RVX_HEADER;

bool isZero(const MGR_DEF& channel) {
  static const MGR_DEF zero{};
  return std::memcmp(&channel, &zero, sizeof channel) == 0;
}

// The current layout is kept as it is on disk; every older one is rebuilt
// from a cleared buffer.
bool isCurrentLayout(const RVX_HEADER& raw) {
  return raw.LeadWord == 0 && raw.Version >= 'a' && raw.Version <= format::kCurrentVersion &&
         (raw.OriginalFlag == format::kOriginalRecording ||
          raw.OriginalFlag == format::kNotOriginalRecording);
}

}  // namespace

void runImport(const uint8_t* data, size_t size) {
  Input input(data, size);
  const uint64_t fileLength = input.u64();
  const std::string bytes = input.bytes(format::kHeaderBufferSize);

  // As the open leaves it: the file's first bytes, zeros behind them.
  auto header = std::make_unique<RVX_HEADER>();
  std::memcpy(header.get(), bytes.data(), bytes.size());
  const bool current = isCurrentLayout(*header);
  const bool oldestDos = header->LeadWord != 0;
  const format::ImportResult result = format::importHeader(*header, fileLength);

  if (result.status != 0) {
    check(result.status == KDRVX_ERR_RVX_INVALID_HEADER ||
              result.status == KDRVX_ERR_RVX_NEWER_VERSION ||
              result.status == KDRVX_ERR_RVX_DEVELOPER_VERSION,
          "the import refuses a header with a status of its own");
    return;
  }
  const uint32_t channels = header->NoChannels;
  check(result.layout != nullptr, "an accepted header names its layout");
  check(channels <= format::kMaxChannels, "an accepted header has at most 48 channels");
  check(result.recordSize == 0 ||
            result.recordSize == static_cast<int32_t>(format::recordSize(channels)),
        "the record size is 4 bytes per channel");
  check(result.dataOffset >= 0, "the data offset lies inside the file");
  if (current) return;

  check(textsTerminated(*header) && std::all_of(std::begin(header->Channel),
                                                 std::end(header->Channel),
                                                 [](const MGR_DEF& c) { return textsTerminated(c); }),
        "every text the import writes is terminated");
  for (uint32_t k = channels; k < format::kMaxChannels; ++k)
    check(isZero(header->Channel[k]), "channel records beyond the channels stay zero");
  // The oldest layout counts its records from the file length; a file
  // shorter than its data offset gives the negative quotient as it is.
  if (oldestDos && header->NoRecords != 0 && fileLength < (uint64_t{1} << 31) &&
      fileLength >= static_cast<uint64_t>(result.dataOffset)) {
    check(result.dataOffset + uint64_t{header->NoRecords} * result.recordSize <= fileLength,
          "a record count taken from the file length fits in the file");
  }
}

}  // namespace kdrvx::fuzz
