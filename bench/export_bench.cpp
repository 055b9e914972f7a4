// rvx export against the plain way of writing the same numbers: the same
// block reads, every value through printf("%g"); and its MATLAB files
// against its HDF5 files of the same recordings, from 1 to 48 channels and
// up to 400 MB. Their goals (at least five times as fast; MATLAB at most
// 1.25 times the time of HDF5) are judged here only: no test of the suite
// times anything.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "benches.h"
#include "commands/commands.h"
#include "comparison.h"
#include "kdrvx/kdrvx.h"
#include "recordings.h"

namespace kdrvx::bench {
namespace {

constexpr uint32_t kExportChannels = 8;
constexpr uint64_t kExportRecords = 100000;
constexpr uint32_t kBlockRecords = 8192;

const Recording& exportRecording() {
  static const Recording recording = writeRecording("export.rvx", kExportChannels, kExportRecords);
  return recording;
}

void rvxExport(const Recording& recording, const std::filesystem::path& csv) {
  rvx::ExportOptions options;
  options.file = recording.path.string();
  options.output = csv.string();
  options.force = true;  // each run replaces the CSV of the one before
  if (rvx::runExport(options) != 0) fail("rvx export");
}

// The reference: blocks read with KDRVX_ReadRecords, the time column and
// every value written with printf("%g") into a buffered file.
void printfExport(const Recording& recording, const std::filesystem::path& csv) {
  if (KDRVX_OpenRead(recording.widePath.c_str()) != KDRVX_OK) fail("KDRVX_OpenRead");
  std::FILE* out = std::fopen(csv.c_str(), "wb");
  if (out == nullptr) fail("creating " + csv.string());
  std::fputs("time [s]", out);
  for (uint32_t k = 0; k < recording.channels; ++k) std::fprintf(out, ",p%u [bar]", k + 1);
  std::fputs("\r\n", out);
  const double interval = static_cast<double>(KDRVX_GetScanRate()) / 1e6;
  std::vector<float> block(static_cast<size_t>(kBlockRecords) * recording.channels);
  int64_t done = 0;
  while (const int64_t got = KDRVX_ReadRecords(done, kBlockRecords, block.data())) {
    if (got < 0) fail("KDRVX_ReadRecords");
    for (int64_t i = 0; i < got; ++i) {
      std::fprintf(out, "%g", static_cast<double>(done + i) * interval);
      for (uint32_t k = 0; k < recording.channels; ++k)
        std::fprintf(out, ",%g", static_cast<double>(block[i * recording.channels + k]));
      std::fputs("\r\n", out);
    }
    done += got;
  }
  std::fclose(out);
  KDRVX_CloseRead();
  if (static_cast<uint64_t>(done) != recording.records) fail("reading every record");
}

// The export is only worth timing if its text reads back to the very
// floats of the file: every value of every record is compared bit for bit.
void checkRoundTrip(const Recording& recording, const std::filesystem::path& csv) {
  std::FILE* in = std::fopen(csv.c_str(), "rb");
  if (in == nullptr) fail("reading " + csv.string());
  std::vector<char> line(4096);
  if (std::fgets(line.data(), static_cast<int>(line.size()), in) == nullptr) fail("CSV heading");
  uint64_t record = 0;
  for (; std::fgets(line.data(), static_cast<int>(line.size()), in) != nullptr; ++record) {
    char* field = std::strchr(line.data(), ',');  // past the time column
    for (uint32_t k = 0; k < recording.channels; ++k) {
      if (field == nullptr) fail("CSV record " + std::to_string(record));
      char* end = nullptr;
      const float value = std::strtof(field + 1, &end);
      const float expected = sampleValue(k, record);
      if (std::memcmp(&value, &expected, sizeof value) != 0)
        fail("reading back value " + std::to_string(k) + " of CSV record " +
             std::to_string(record));
      field = *end == ',' ? end : nullptr;
    }
  }
  std::fclose(in);
  if (record != recording.records) fail("CSV record count");
}

void exportCase(benchmark::State& state) {
  const Recording& recording = exportRecording();
  const std::filesystem::path rvxCsv = scratchDir() / "export-rvx.csv";
  const std::filesystem::path printfCsv = scratchDir() / "export-printf.csv";
  // Once untimed: the round trip, and the sizes of both texts.
  rvxExport(recording, rvxCsv);
  checkRoundTrip(recording, rvxCsv);
  printfExport(recording, printfCsv);
  const double rvxBytes = static_cast<double>(std::filesystem::file_size(rvxCsv));
  const double printfBytes = static_cast<double>(std::filesystem::file_size(printfCsv));

  const Side rvxSide = [&](uint64_t count) {
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i) rvxExport(recording, rvxCsv);
    return secondsSince(start);
  };
  const Side printfSide = [&](uint64_t count) {
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i) printfExport(recording, printfCsv);
    return secondsSince(start);
  };
  compare(state, 1, {rvxSide, printfSide}, {rvxBytes, printfBytes});
}

// A recording for the MATLAB and HDF5 cases. Only the last one asked for
// is kept: the largest are 400 MB, and each case asks again for its own.
const Recording& shapedRecording(uint32_t channels, uint64_t records) {
  static Recording kept;
  if (kept.channels != channels || kept.records != records) {
    if (!kept.path.empty()) std::filesystem::remove(kept.path);
    kept = writeRecording("shaped.rvx", channels, records);
  }
  return kept;
}

bool exportTo(const Recording& recording, const std::filesystem::path& out) {
  rvx::ExportOptions options;
  options.file = recording.path.string();
  options.output = out.string();
  options.force = true;
  return rvx::runExport(options) == 0;
}

struct FileShape {
  uint32_t channels;
  uint64_t megabytes;  // of records, 10^6 bytes
  uint64_t records() const { return megabytes * 1000000 / (4 * channels); }
};

// The shapes where the MATLAB export once fell behind (one channel: a
// column of times as long as the values'; 48 channels: blocks of 1365
// records) and the ones where it kept up.
constexpr FileShape kFileShapes[] = {{1, 4}, {1, 400}, {16, 400}, {48, 64}, {48, 400}};

void matlabAgainstHdf5Case(benchmark::State& state, FileShape shape) {
  const Recording& recording = shapedRecording(shape.channels, shape.records());
  const std::filesystem::path mat = scratchDir() / "export.mat";
  const std::filesystem::path hdf5 = scratchDir() / "export.h5";
  // Once untimed: an rvx built without either format has nothing to compare.
  if (!exportTo(recording, mat) || !exportTo(recording, hdf5)) {
    state.SkipWithError("this rvx exports no MATLAB or no HDF5");
    return;
  }
  const auto side = [&recording](const std::filesystem::path& out) -> Side {
    return [&recording, out](uint64_t count) {
      const auto start = Clock::now();
      for (uint64_t i = 0; i < count; ++i) check(exportTo(recording, out), "rvx export");
      return secondsSince(start);
    };
  };
  const double bytes = static_cast<double>(recording.records) * recording.recordSize();
  compare(state, 1, {side(mat), side(hdf5)}, {bytes});
  std::filesystem::remove(mat);
  std::filesystem::remove(hdf5);
}

}  // namespace

void registerExportCases() {
  CaseInfo info;
  info.library = "rvx export, 100000 records x 8 channels";
  info.baselines = {"the same numbers with printf(\"%g\")"};
  info.measure = Measure::Throughput;
  info.goal = {Goal::AtLeast, 5.0};
  registerCase("Export/csv", info, exportCase, 3.0);

  for (const FileShape shape : kFileShapes) {
    const std::string size = std::to_string(shape.megabytes) + " MB";
    CaseInfo matlab;
    matlab.library = "rvx export to MATLAB, " + std::to_string(shape.channels) + " ch, " + size;
    matlab.baselines = {"the same to HDF5"};
    matlab.goal = {Goal::AtMost, 1.25};
    // A round of the largest takes 20 to 40 seconds here, and the first
    // round only tells Google Benchmark how many to run: time enough for
    // three rounds or more, so that each side runs first and last.
    const double seconds = std::max(3.0, 0.2 * static_cast<double>(shape.megabytes));
    registerCase("Export/mat_hdf5/" + std::to_string(shape.channels) + "ch_" +
                     std::to_string(shape.megabytes) + "MB",
                 matlab, [shape](benchmark::State& state) { matlabAgainstHdf5Case(state, shape); },
                 seconds);
  }
}

}  // namespace kdrvx::bench
