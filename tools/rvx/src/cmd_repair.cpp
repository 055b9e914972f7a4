// rvx repair: a current-layout file whose recording stopped before its final
// header gets the record count of its data area and the statistics of its
// records, computed as the library computes them when it closes a file.
// Every other byte stays as it is.
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <vector>

#include "commands.h"
#include "raw_file.h"
#include "subcommand.h"
#include "terminal.h"
#include "tool_error.h"
#include "utf.h"

namespace rvx {

namespace {

struct RepairOptions {
  std::string file, output;
};

using kdrvx::format::RVX_HEADER;

// Refuses what repair must not touch: other layouts, and headers that do
// not describe their own size; repair recounts records, it does not guess a
// header.
void requireRepairable(const RawFile& file) {
  if (!file.hasLayout(kdrvx::format::LayoutId::Current)) {
    throw ToolError(file.name + ": the layout is " + layoutName(file) +
                    "; repair mends current-layout files (rvx convert reads the others)");
  }
  const RVX_HEADER& h = *file.header;
  const uint32_t n = h.NoChannels;
  if (n < 1 || n > kdrvx::format::kMaxChannels) {
    throw ToolError(file.name + ": the header is damaged: channel count " + std::to_string(n) +
                    "; repair does not guess a header");
  }
  if (h.HeaderSize != kdrvx::format::headerSizeField(n)) {
    throw ToolError(file.name + ": the header is damaged: header size " + std::to_string(h.HeaderSize) +
                    " does not fit " + std::to_string(n) + " channels; repair does not guess a header");
  }
  if (file.length < kdrvx::format::headerLength(n)) {
    throw ToolError(file.name + ": the file ends inside its header; there is nothing to recount");
  }
}

// Copies the file with the new header bytes in front.
void writeRepaired(const std::string& source, const std::filesystem::path& target,
                   const RVX_HEADER& header, uint32_t headerLength, uint64_t fileLength) {
  std::ifstream in(toPath(source), std::ios::binary);
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  if (!in) throw ToolError(source + ": cannot open the file");
  if (!out) throw ToolError(pathText(target) + ": cannot create the file");
  out.write(reinterpret_cast<const char*>(&header), headerLength);
  in.seekg(headerLength);
  std::vector<char> buffer(1 << 20);
  Progress progress("repair", fileLength);
  uint64_t copied = headerLength;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto got = in.gcount();
    if (got <= 0) break;
    if (!out.write(buffer.data(), got)) break;
    copied += static_cast<uint64_t>(got);
    progress.update(copied);
  }
  out.close();
  if (out.fail() || copied != fileLength) {
    std::error_code ignored;
    std::filesystem::remove(target, ignored);
    throw ToolError(pathText(target) + ": writing the repaired file failed");
  }
}

// The header with the count of the whole records in the data area and
// their statistics.
std::unique_ptr<RVX_HEADER> recountedHeader(const RawFile& file, const DataArea& area) {
  if (area.wholeRecords > UINT32_MAX) throw ToolError(file.name + ": more records than a header can count");
  Progress progress("recount", area.wholeRecords);
  const Recount recount =
      recountRecords(file, area.wholeRecords, [&](uint64_t done) { progress.update(done); });
  progress.finish();
  if (recount.records != area.wholeRecords) throw ToolError(file.name + ": reading the records failed");

  auto repaired = std::make_unique<RVX_HEADER>();
  std::memcpy(repaired.get(), file.header.get(), sizeof(RVX_HEADER));
  repaired->NoRecords = static_cast<uint32_t>(area.wholeRecords);
  if (area.wholeRecords == 0) return repaired;  // as the library's final update: nothing computed
  for (uint32_t k = 0; k < repaired->NoChannels; ++k) {
    const ChannelStatistics& computed = recount.channels[k];
    repaired->Channel[k].MinValue = computed.minimum;
    repaired->Channel[k].MaxValue = computed.maximum;
    repaired->Channel[k].MeanValue = computed.mean;
    repaired->Channel[k].RMSValue = computed.rms;
  }
  repaired->FlagStatistics = 3;
  return repaired;
}

void reportRecount(const std::string& name, const RVX_HEADER& old, const DataArea& area) {
  std::cout << name << ": " << area.wholeRecords << " whole records";
  if (old.NoRecords != area.wholeRecords) std::cout << " (the header said " << old.NoRecords << ")";
  std::cout << '\n';
  if (area.trailingBytes) {
    std::cout << name << ": a partial record of " << area.trailingBytes
              << " bytes at the end is left out of the count (its bytes are kept)\n";
  }
}

// A complete copy beside the file, then one rename over it, so that the
// file is at every moment either the old one or the repaired one.
void replaceInPlace(const RawFile& file, const RVX_HEADER& repaired, uint32_t headerLength) {
  const std::filesystem::path target = toPath(file.name);
  std::filesystem::path temporary = target;
  temporary += ".repair-tmp";
  writeRepaired(file.name, temporary, repaired, headerLength, file.length);
  std::error_code error;
  std::filesystem::rename(temporary, target, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    throw ToolError(file.name + ": cannot replace the file with its repaired copy");
  }
}

bool sameFile(const std::string& a, const std::string& b) {
  std::error_code ignored;
  return std::filesystem::equivalent(toPath(a), toPath(b), ignored);
}

int runRepair(const RepairOptions& options) {
  const RawFile file = readRawFile(options.file);
  requireRepairable(file);
  // The library's open fails while a recording still holds the file.
  {
    ReadSession probe(options.file);
  }
  const DataArea area = dataArea(file);
  const std::unique_ptr<RVX_HEADER> repaired = recountedHeader(file, area);
  const uint32_t headerLength = kdrvx::format::headerLength(file.header->NoChannels);
  const bool changed = std::memcmp(repaired.get(), file.header.get(), headerLength) != 0;
  reportRecount(options.file, *file.header, area);

  if (!options.output.empty() && !sameFile(options.file, options.output)) {
    writeRepaired(options.file, toPath(options.output), *repaired, headerLength, file.length);
    std::cout << options.output << ": written with " << (changed ? "the repaired" : "the unchanged")
              << " header\n";
  } else if (!changed) {
    std::cout << options.file << ": count and statistics are right; nothing to repair\n";
  } else {
    replaceInPlace(file, *repaired, headerLength);
    std::cout << options.file << ": repaired in place\n";
  }
  return kExitOk;
}

Run addRepairOptions(CLI::App& command) {
  auto options = std::make_shared<RepairOptions>();
  command.add_option("FILE", options->file, "RVX file of the current layout")->required();
  command.add_option("-o,--output", options->output, "Write the repaired file here instead of in place");
  return [options] { return runRepair(*options); };
}

}  // namespace

extern const Subcommand kRepairSubcommand{
    "repair",
    "Recount records and statistics of a recording that stopped before its final header",
    addRepairOptions};

}  // namespace rvx
