#include "raw_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "tool_error.h"
#include "utf.h"

namespace rvx {

using kdrvx::format::RVX_HEADER;

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
  file.layout = detectLayout(file.bytes(), file.headerBytes);
  return file;
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
