#include "raw_file.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "tool_error.h"
#include "utf.h"

namespace rvx {

namespace {

using kdrvx::format::LayoutId;
using kdrvx::format::RVX_HEADER;

// The lead word, the version letter and the original flag decide the
// layout; a file that ends before them has none.
constexpr size_t kRecognisableBytes = offsetof(RVX_HEADER, OriginalFlag) + 1;

}  // namespace

bool RawFile::tooShort() const { return headerBytes < kRecognisableBytes; }

RawFile readRawFile(const std::string& name) {
  RawFile file;
  file.name = name;
  std::ifstream in(toPath(name), std::ios::binary);
  if (!in) throw ToolError(name + ": cannot open the file");
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

uint64_t readRecords(const std::string& name, uint64_t offset, uint64_t count, size_t channels,
                     const std::function<void(const float*, size_t)>& block) {
  if (channels == 0 || count == 0) return 0;
  std::ifstream in(toPath(name), std::ios::binary);
  if (!in) throw ToolError(name + ": cannot open the file");
  in.seekg(static_cast<std::streamoff>(offset));
  const size_t perBlock = std::max<size_t>(1, (1 << 20) / (4 * channels));
  std::vector<float> buffer(perBlock * channels);
  uint64_t done = 0;
  while (done < count) {
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(perBlock, count - done));
    in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(wanted * channels * 4));
    const size_t got = static_cast<size_t>(in.gcount()) / (channels * 4);
    if (got > 0) block(buffer.data(), got);
    done += got;
    if (got < wanted) break;
  }
  return done;
}

}  // namespace rvx
