// rvx import against the least that reading the same CSV takes: read() of
// its bytes, and read() with a plain std::from_chars loop over every
// field. Two cases: the import's core (the CSV parsed into blocks of
// records, handed to nothing) and the whole command (which also hands the
// records to the library and writes the recording). No test of the suite
// times anything; the goal in MB/s is judged here.
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "benches.h"
#include "commands/commands.h"
#include "comparison.h"
#include "inputs/csv_records.h"
#include "recordings.h"

namespace kdrvx::bench {
namespace {

constexpr uint32_t kCsvChannels = 8;
constexpr uint64_t kCsvRecords = 200000;
constexpr size_t kReadBlock = 1 << 20;

// The CSV of a recording as rvx export writes it: a time column and the
// shortest texts of sampleValue().
const std::filesystem::path& csvFile() {
  static const std::filesystem::path csv = [] {
    const Recording recording = writeRecording("from-csv.rvx", kCsvChannels, kCsvRecords);
    rvx::ExportOptions options;
    options.file = recording.path.string();
    options.output = (scratchDir() / "from-csv.csv").string();
    if (rvx::runExport(options) != 0) fail("rvx export");
    return std::filesystem::path(options.output);
  }();
  return csv;
}

// The core of rvx import: every row parsed into records, in blocks.
uint64_t parseCsv(const std::filesystem::path& csv) {
  std::ifstream in(csv, std::ios::binary);
  rvx::CsvRecords records(in, csv.string(), {}, std::nullopt);
  uint64_t handed = 0;
  const uint64_t count = records.read([&](const float*, size_t block) { handed += block; });
  check(count == kCsvRecords && handed == count, "parsing every record");
  return count;
}

// The whole command, into a recording that each run replaces; its line
// about the recording made is not shown.
void importCsv(const std::filesystem::path& csv) {
  rvx::FromCsvOptions options;
  options.input = csv.string();
  options.output = (scratchDir() / "from-csv-import.rvx").string();
  options.force = true;
  std::ostringstream report;
  std::streambuf* shown = std::cout.rdbuf(report.rdbuf());
  const int status = rvx::runFromCsv(options);
  std::cout.rdbuf(shown);
  check(status == 0, "rvx import");
}

// read() of the whole file in blocks; the buffer is the caller's.
size_t readFile(const std::filesystem::path& csv, std::vector<char>& buffer) {
  PlainFile file(csv, O_RDONLY);
  size_t length = 0;
  for (;;) {
    if (buffer.size() < length + kReadBlock) buffer.resize(length + kReadBlock);
    const ssize_t got = ::read(file.fd(), buffer.data() + length, kReadBlock);
    check(got >= 0, "read()");
    if (got == 0) return length;
    length += static_cast<size_t>(got);
  }
}

// read() of the file, then every field after the heading through
// std::from_chars as a float, the time column too.
uint64_t fromCharsLoop(const std::filesystem::path& csv, std::vector<char>& buffer) {
  const size_t length = readFile(csv, buffer);
  const char* p = static_cast<const char*>(std::memchr(buffer.data(), '\n', length)) + 1;
  const char* const end = buffer.data() + length;
  uint64_t fields = 0;
  float sum = 0;
  while (p < end) {
    float value = 0;
    p = std::from_chars(p, end, value).ptr;
    sum += value;
    ++fields;
    p += *p == '\r' ? 2 : 1;  // the comma, or the line end
  }
  benchmark::DoNotOptimize(sum);
  check(fields == kCsvRecords * (kCsvChannels + 1), "the fields of the CSV");
  return fields;
}

void fromCsvCase(benchmark::State& state, bool wholeCommand) {
  const std::filesystem::path& csv = csvFile();
  const double bytes = static_cast<double>(std::filesystem::file_size(csv));
  std::vector<char> readBuffer(kReadBlock), loopBuffer;
  const Side rvxSide = [&](uint64_t count) {
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i) wholeCommand ? importCsv(csv) : void(parseCsv(csv));
    return secondsSince(start);
  };
  const Side readSide = [&](uint64_t count) {
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i) {
      PlainFile file(csv, O_RDONLY);
      while (::read(file.fd(), readBuffer.data(), readBuffer.size()) > 0) {
      }
    }
    return secondsSince(start);
  };
  const Side loopSide = [&](uint64_t count) {
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i) fromCharsLoop(csv, loopBuffer);
    return secondsSince(start);
  };
  compare(state, 1, {rvxSide, readSide, loopSide}, {bytes});
}

}  // namespace

void registerFromCsvCases() {
  CaseInfo info;
  info.baselines = {"read() of the same CSV", "read() and std::from_chars of every field"};
  info.measure = Measure::Throughput;
  info.library = "rvx import core, 200000 records x 8 channels";
  registerCase(
      "Import/core", info, [](benchmark::State& state) { fromCsvCase(state, false); }, 3.0);
  info.library = "rvx import into a recording, the same CSV";
  registerCase(
      "Import/command", info, [](benchmark::State& state) { fromCsvCase(state, true); }, 3.0);
}

}  // namespace kdrvx::bench
