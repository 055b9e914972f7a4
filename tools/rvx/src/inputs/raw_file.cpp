#include "inputs/raw_file.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "format/statistics.h"
#include "kdrvx/kdrvx.h"
#include "shared/system_reason.h"
#include "shared/tool_error.h"
#include "shared/utf.h"

namespace rvx {

namespace {

using kdrvx::format::kBytesPerValue;
using kdrvx::format::LayoutId;
using kdrvx::format::RVX_HEADER;
namespace statistics = kdrvx::format::statistics;

// The lead word, the version letter and the original flag decide the
// layout; a file that ends before them has none.
constexpr size_t kRecognisableBytes = offsetof(RVX_HEADER, OriginalFlag) + 1;

// Streams `count` records of `channels` floats from `offset`, in blocks;
// returns the number of whole records read.
uint64_t readRecords(const std::string& name, uint64_t offset, uint64_t count, size_t channels,
                     const std::function<void(const float*, size_t)>& block) {
  if (channels == 0 || count == 0) return 0;
  std::ifstream in(toPath(name), std::ios::binary);
  if (!in) throw ToolError(name + ": cannot open the file: " + unreadableReason(name));
  in.seekg(static_cast<std::streamoff>(offset));
  const size_t perBlock = std::max<size_t>(1, (1 << 20) / (kBytesPerValue * channels));
  std::vector<float> buffer(perBlock * channels);
  uint64_t done = 0;
  while (done < count) {
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(perBlock, count - done));
    in.read(reinterpret_cast<char*>(buffer.data()),
            static_cast<std::streamsize>(wanted * channels * kBytesPerValue));
    const size_t got = static_cast<size_t>(in.gcount()) / (channels * kBytesPerValue);
    if (got > 0) block(buffer.data(), got);
    done += got;
    if (got < wanted) break;
  }
  return done;
}

// What the statistics of one channel need while the records pass.
struct RunningStatistics {
  float minimum = 0, maximum = 0;
  double sum = 0, sumSquares = 0;
};

// The extremes start at the first record, as the library's record writer
// starts them.
void addRecord(const float* record, bool first, std::vector<RunningStatistics>& running) {
  for (size_t k = 0; k < running.size(); ++k) {
    RunningStatistics& r = running[k];
    if (first) r.minimum = r.maximum = record[k];
    statistics::followExtremes(record[k], r.minimum, r.maximum);
    statistics::accumulate(record[k], r.sum, r.sumSquares);
  }
}

// The bits a multichannel of `bits` bits may set; all for an ordinary
// channel and a field of 32 bits.
uint32_t allowedBits(uint8_t bits) {
  constexpr uint8_t kWholeValue = 32;
  return bits == 0 || bits >= kWholeValue ? ~0u : (1u << bits) - 1;
}

void followStrayBits(const float* record, uint64_t index, const std::vector<uint32_t>& allowed,
                     std::vector<StrayBits>& stray) {
  for (size_t k = 0; k < allowed.size(); ++k) {
    const uint32_t bits = std::bit_cast<uint32_t>(record[k]);
    if ((bits & ~allowed[k]) == 0) continue;
    if (stray[k].records++ == 0) stray[k].first = index, stray[k].firstBits = bits;
  }
}

}  // namespace

bool RawFile::tooShort() const { return headerBytes < kRecognisableBytes; }

RawFile readRawFile(const std::string& name) {
  RawFile file;
  file.name = name;
  std::error_code ignored;
  std::ifstream in(toPath(name), std::ios::binary);
  if (!in || !std::filesystem::is_regular_file(toPath(name), ignored)) {
    throw ToolError(name + ": cannot open the file: " + unreadableReason(name));
  }
  in.seekg(0, std::ios::end);
  file.length = static_cast<uint64_t>(in.tellg());
  in.seekg(0);
  file.header = std::make_unique<RVX_HEADER>();
  std::memset(file.header.get(), 0, sizeof(RVX_HEADER));
  in.read(reinterpret_cast<char*>(file.header.get()), sizeof(RVX_HEADER));
  file.headerBytes = static_cast<size_t>(in.gcount());
  file.converted = std::make_unique<RVX_HEADER>();
  std::memcpy(file.converted.get(), file.header.get(), sizeof(RVX_HEADER));
  if (!file.tooShort()) file.recognised = kdrvx::format::importHeader(*file.converted, file.length);
  return file;
}

std::string layoutName(const RawFile& file) {
  const kdrvx::format::ImportResult& found = file.recognised;
  if (found.layout == nullptr) {
    if (found.status == KDRVX_ERR_RVX_NEWER_VERSION) return "newer than this library";
    if (found.status == KDRVX_ERR_RVX_DEVELOPER_VERSION) return "developer version";
    return "none (too short for a header)";
  }
  // The library writes the WIN 3.x/4.x layout itself, as its compact layout.
  const std::string name = found.layout->name;
  if (found.layout->id == LayoutId::Win3 && found.sourceVersion == kdrvx::format::kCompactVersion) {
    return name + " (compact)";
  }
  return name;
}

DataArea dataArea(const RawFile& file) {
  DataArea area;
  const uint32_t channels = file.header->NoChannels;
  area.offset = kdrvx::format::dataOffset(*file.header);
  area.recordSize = kdrvx::format::recordSize(channels);
  if (file.length > area.offset && area.recordSize > 0) {
    area.wholeRecords = (file.length - area.offset) / area.recordSize;
    area.trailingBytes = (file.length - area.offset) % area.recordSize;
  }
  return area;
}

std::optional<DataRecords> dataRecords(const RawFile& file, uint64_t counted) {
  const kdrvx::format::Layout* layout = file.recognised.layout;
  const auto offset = static_cast<uint64_t>(file.recognised.dataOffset);
  if (layout == nullptr || file.recognised.status != 0 || file.length < offset) return std::nullopt;
  const RVX_HEADER& h = *file.converted;
  const uint64_t data = file.length - offset;
  DataRecords records;
  if (layout->records(h) != kdrvx::format::RecordKind::Sparse) {
    const uint64_t size = kdrvx::format::recordSize(h.NoChannels);
    if (size != 0) records = {data / size, data % size};
    return records;
  }
  // Record m (from 1) holds the channels whose rate divides into it.
  std::vector<uint32_t> rates;
  for (uint32_t k = 0; k < h.NoChannels && k < kdrvx::format::kMaxChannels; ++k) {
    rates.push_back(h.Channel[k].ChannelIndRate);
  }
  if (std::find(rates.begin(), rates.end(), 0u) != rates.end()) return std::nullopt;
  uint64_t bytes = 0;
  const uint64_t enough = counted + data / kBytesPerValue + 1;
  for (uint64_t m = 1; m <= enough; ++m) {
    uint64_t size = 0;
    for (uint32_t rate : rates) {
      if (rate == 1 || m % rate == 1) size += kBytesPerValue;
    }
    if (bytes + size > data) break;
    bytes += size;
    records.whole = m;
    if (records.whole > counted && bytes == data) break;
  }
  records.trailingBytes = data - bytes;
  return records;
}

Recount recountRecords(const RawFile& file, uint64_t count,
                       const std::function<void(uint64_t)>& progress) {
  const size_t channels = file.header->NoChannels;
  std::vector<RunningStatistics> running(channels);
  std::vector<uint32_t> allowed;
  for (size_t k = 0; k < channels; ++k)
    allowed.push_back(allowedBits(file.header->Channel[k].MultiChannel));
  Recount recount;
  recount.strayBits.resize(channels);
  readRecords(
      file.name, dataArea(file).offset, count, channels, [&](const float* records, size_t got) {
        for (size_t i = 0; i < got; ++i, ++recount.records) {
          addRecord(records + i * channels, recount.records == 0, running);
          followStrayBits(records + i * channels, recount.records, allowed, recount.strayBits);
        }
        if (progress) progress(recount.records);
      });
  recount.channels.resize(channels);
  if (recount.records == 0) return recount;
  const auto n = static_cast<double>(recount.records);
  for (size_t k = 0; k < channels; ++k) {
    const RunningStatistics& r = running[k];
    recount.channels[k] = {r.minimum, r.maximum, statistics::mean(r.sum, n),
                           statistics::rms(r.sumSquares, n)};
  }
  return recount;
}

}  // namespace rvx
