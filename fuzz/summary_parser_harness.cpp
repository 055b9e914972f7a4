// The RVI parser on arbitrary text against arbitrary converted headers.
#include <cstring>
#include <memory>
#include <vector>

#include "format/import.h"
#include "format/layout.h"
#include "format/summary_parser.h"
#include "harness.h"
#include "harness_support.h"

namespace kdrvx::fuzz {
namespace {

using format::MGR_DEF;
using format::RVX_HEADER;

// Bytes of the fixed part that the parser never changes: everything before
// the comment except the date (10 to 15) and the record count (20 to 23).
bool untouchedFieldsKept(const RVX_HEADER& before, const RVX_HEADER& after) {
  const auto* a = reinterpret_cast<const uint8_t*>(&before);
  const auto* b = reinterpret_cast<const uint8_t*>(&after);
  return std::memcmp(a, b, 10) == 0 && std::memcmp(a + 16, b + 16, 4) == 0 &&
         std::memcmp(a + 24, b + 24, offsetof(RVX_HEADER, Comment) - 24) == 0;
}

// Versions up to this one are completed from an RVI file when opened.
constexpr uint8_t kLastVersionWithRvi = 96;

}  // namespace

SummaryInput decodeSummaryInput(const uint8_t* data, size_t size) {
  Input input(data, size);
  const uint16_t headerBytes = input.u16();
  const bool utf16 = (input.u8() & 1) != 0;
  const std::string raw = input.bytes(headerBytes);
  const std::string bytes = input.rest();

  SummaryInput decoded;
  const size_t units = utf16 ? bytes.size() / 2 : bytes.size();
  decoded.text.assign(units + 1, 0);
  for (size_t i = 0; i < units; ++i) {
    const auto low = static_cast<uint8_t>(bytes[utf16 ? 2 * i : i]);
    const auto high = utf16 ? static_cast<uint8_t>(bytes[2 * i + 1]) : uint8_t{0};
    decoded.text[i] = static_cast<char16_t>(low | high << 8);
  }
  auto header = std::make_unique<RVX_HEADER>();
  std::memcpy(header.get(), raw.data(), raw.size());
  const format::ImportResult imported = format::importHeader(*header, raw.size());
  // Only the older layouts that the open completes from an RVI file.
  if (imported.status == 0 && header->Version <= kLastVersionWithRvi)
    decoded.header = std::move(header);
  return decoded;
}

void runSummaryParser(const uint8_t* data, size_t size) {
  const SummaryInput input = decodeSummaryInput(data, size);
  if (!input.header) return;
  RVX_HEADER* header = input.header.get();
  const std::vector<char16_t>& text = input.text;

  const auto before = std::make_unique<RVX_HEADER>(*header);
  format::readSummaryMetadata({text.data(), text.size()}, *header);

  check(untouchedFieldsKept(*before, *header), "the parser leaves the binary fields alone");
  check(textsTerminated(*header), "every header text the parser writes is terminated");
  const uint32_t channels = std::min<uint32_t>(header->NoChannels, format::kMaxChannels);
  for (uint32_t k = 0; k < format::kMaxChannels; ++k) {
    if (k < channels) {
      check(textsTerminated(header->Channel[k]),
            "every channel text the parser writes is terminated");
    } else {
      check(std::memcmp(&header->Channel[k], &before->Channel[k], sizeof(MGR_DEF)) == 0,
            "channel records beyond the channels stay as they were");
    }
  }
}

}  // namespace kdrvx::fuzz
