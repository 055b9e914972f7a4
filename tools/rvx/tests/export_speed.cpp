// The speed of `rvx export` against the plain way of writing the same CSV:
// the same block reads, each value through printf("%g"). Fails unless the
// export is at least three times as fast. Both run in this process and are
// timed by the processor time they take, which other work on the machine
// does not inflate. Usage: rvx_export_speed [RECORDS]
#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "commands.h"
#include "kdrvx/kdrvx.h"

namespace {

constexpr int kChannels = 8;
constexpr int64_t kInterval = 1000;

const KDRVX_CHAR* wide(const std::u16string& text) { return reinterpret_cast<const KDRVX_CHAR*>(text.c_str()); }

bool createFile(const std::filesystem::path& path, uint32_t records) {
  std::u16string name = path.u16string();
  name.push_back(0);
  if (KDRVX_CreateExt(reinterpret_cast<KDRVX_CHAR*>(name.data()), 1, 1, 0, 255) != 0) return false;
  KDRVX_SetScanRate(kInterval);
  const char16_t* variables[kChannels] = {u"p1", u"p2", u"p3", u"T1", u"T2", u"T3", u"dp1", u"dp2"};
  for (const char16_t* variable : variables) KDRVX_AddChannel(wide(variable));
  float record[kChannels];
  uint32_t state = 12345;
  for (uint32_t i = 0; i < records; ++i) {
    for (int k = 0; k < kChannels; ++k) {
      state = state * 1664525u + 1013904223u;
      // Sensor-like values: a slow wave with noise in the last digits.
      record[k] = static_cast<float>(10.0 * k + 5.0 * std::sin(i * 1e-3 + k)) +
                  static_cast<float>(state >> 8) * 1e-9f;
    }
    if (KDRVX_AddRecord(record) != 0) return false;
  }
  return KDRVX_CloseCreate() == 0;
}

// The reference: block reads as rvx does them, every number through printf.
double printfExport(const std::filesystem::path& in, const std::filesystem::path& out) {
  const std::clock_t start = std::clock();
  if (KDRVX_OpenRead(wide(in.u16string())) != 0) std::exit(2);
  const uint32_t records = KDRVX_GetNoRecords();
  FILE* file = std::fopen(out.string().c_str(), "wb");
  std::fprintf(file, "time [s],p1,p2,p3,T1,T2,T3,dp1,dp2\r\n");
  std::vector<float> block(8192 * kChannels);
  int64_t done = 0;
  while (done < records) {
    const int64_t got = KDRVX_ReadRecords(done, 8192, block.data());
    if (got <= 0) break;
    for (int64_t i = 0; i < got; ++i) {
      std::fprintf(file, "%g", static_cast<double>(done + i) * kInterval / 1e6);
      for (int k = 0; k < kChannels; ++k) std::fprintf(file, ",%g", block[i * kChannels + k]);
      std::fputs("\r\n", file);
    }
    done += got;
  }
  std::fclose(file);
  KDRVX_CloseRead();
  return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

double rvxExport(const std::filesystem::path& in, const std::filesystem::path& out) {
  const std::clock_t start = std::clock();
  rvx::ExportOptions options;
  options.file = in.string();
  options.output = out.string();
  rvx::runExport(options);
  return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t records = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 300000;
  const auto directory =
      std::filesystem::temp_directory_path() / ("rvx-export-speed-" + std::to_string(std::random_device()()));
  std::filesystem::create_directories(directory);
  const auto recording = directory / "speed.rvx";
  if (!createFile(recording, records)) {
    std::fprintf(stderr, "cannot create %s\n", recording.string().c_str());
    return 2;
  }
  // Best of three of each, alternating, so that both see the same load.
  double reference = 1e9, tool = 1e9;
  for (int round = 0; round < 3; ++round) {
    reference = std::min(reference, printfExport(recording, directory / "printf.csv"));
    tool = std::min(tool, rvxExport(recording, directory / "rvx.csv"));
  }
  const double ratio = reference / tool;
  std::printf("%u records of %d channels: printf(\"%%g\") %.3f s, rvx export %.3f s, %.1f times as fast\n",
              records, kChannels, reference, tool, ratio);
  std::filesystem::remove_all(directory);
#if defined(__SANITIZE_ADDRESS__)
  // Instrumented code against an uninstrumented C library says nothing
  // about speed.
  return 0;
#else
  return ratio >= 3.0 ? 0 : 1;
#endif
}
