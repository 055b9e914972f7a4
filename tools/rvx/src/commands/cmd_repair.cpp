// rvx repair: a current-layout file whose recording stopped before its final
// header gets the record count of its data area and the statistics of its
// records, computed as the library computes them when it closes a file.
// Every other byte stays as it is.
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <vector>

#include "commands/commands.h"
#include "commands/subcommand.h"
#include "files/output_file.h"
#include "inputs/raw_file.h"
#include "shared/terminal.h"
#include "shared/tool_error.h"
#include "shared/utf.h"

namespace rvx {

namespace {

struct RepairOptions {
  std::string file, output;
  bool force = false;
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
    throw ToolError(file.name + ": the header is damaged: header size " +
                    std::to_string(h.HeaderSize) + " does not fit " + std::to_string(n) +
                    " channels; repair does not guess a header");
  }
  if (file.length < kdrvx::format::headerLength(n)) {
    throw ToolError(file.name + ": the file ends inside its header; there is nothing to recount");
  }
}

// Copies the file with the new header bytes in front into `out`.
void writeRepaired(const std::string& source, OutputFile& out, const RVX_HEADER& header,
                   uint32_t headerLength, uint64_t fileLength) {
  out.write(reinterpret_cast<const char*>(&header), headerLength);
  Progress progress("repair", fileLength);
  copyFileInto(out, source, headerLength,
               [&](uint64_t done) { progress.update(headerLength + done); });
  progress.finish();
}

// The header with the count of the whole records in the data area and
// their statistics.
std::unique_ptr<RVX_HEADER> recountedHeader(const RawFile& file, const DataArea& area) {
  if (area.wholeRecords > UINT32_MAX)
    throw ToolError(file.name + ": more records than a header can count");
  Progress progress("recount", area.wholeRecords);
  const Recount recount =
      recountRecords(file, area.wholeRecords, [&](uint64_t done) { progress.update(done); });
  progress.finish();
  if (recount.records != area.wholeRecords)
    throw ToolError(file.name + ": reading the records failed");

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

bool sameFile(const std::string& a, const std::string& b) {
  std::error_code ignored;
  return std::filesystem::equivalent(toPath(a), toPath(b), ignored);
}

int runRepair(const RepairOptions& options) {
  const RawFile file = readRawFile(options.file);
  requireRepairable(file);
  const bool elsewhere = !options.output.empty() && !sameFile(options.file, options.output);
  std::unique_ptr<OutputFile> out;
  if (elsewhere) out = std::make_unique<OutputFile>(options.output, existingFrom(options.force));
  // The library's open fails while a recording still holds the file, and
  // while it is open for reading here no recording starts on it.
  std::optional<Reader> held(std::in_place, options.file);
  const DataArea area = dataArea(file);
  const std::unique_ptr<RVX_HEADER> repaired = recountedHeader(file, area);
  const uint32_t headerLength = kdrvx::format::headerLength(file.header->NoChannels);
  const bool changed = std::memcmp(repaired.get(), file.header.get(), headerLength) != 0;
  reportRecount(options.file, *file.header, area);

  if (elsewhere) {
    writeRepaired(options.file, *out, *repaired, headerLength, file.length);
    held.reset();
    out->commit();
    std::cout << options.output << ": written with " << (changed ? "the repaired" : "the unchanged")
              << " header\n";
  } else if (!changed) {
    std::cout << options.file << ": count and statistics are right; nothing to repair\n";
  } else {
    // In place is what was asked for; a symbolic link's file is repaired.
    OutputFile inPlace(options.file, Existing::Replace);
    writeRepaired(options.file, inPlace, *repaired, headerLength, file.length);
    held.reset();
    inPlace.commit();
    std::cout << options.file << ": repaired in place\n";
  }
  return kExitOk;
}

Run addRepairOptions(CLI::App& command) {
  auto options = std::make_shared<RepairOptions>();
  command.add_option("FILE", options->file, "RVX file of the current layout")->required();
  command.add_option("-o,--output", options->output,
                     "Write the repaired file here instead of in place");
  command.add_flag("-f,--force", options->force, "Replace an existing output file");
  return [options] { return runRepair(*options); };
}

}  // namespace

extern const Subcommand kRepairSubcommand{
    "repair", "Recount records and statistics of a recording that stopped before its final header",
    addRepairOptions};

}  // namespace rvx
