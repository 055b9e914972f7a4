// The fuzz targets of rvx's CSV side, over rvx's own code (rvx_core):
//
// - csv_import:     u8 options, then the bytes of a CSV file, which go
//                   through the import from the bytes to the records it
//                   hands the library. Options: bits 0-1 --delimiter (none,
//                   ',', ';', tab), bits 2-3 --encoding (none, utf-8,
//                   cp1252, utf-16), bit 4 --decimal-comma, bit 5
//                   --scan-interval-us 1500, bit 6 --tz +01:00, bit 7
//                   --multichannel M1:8.
// - csv_round_trip: a recording (see csv_round_trip_harness.cpp), made
//                   through the library, exported to CSV and imported again.
//
// The fuzzers run them over the library's memory platform layer; the test
// suite replays their corpus and regression inputs with files on disk.
// Broken promises go to kdrvx::fuzz::check (harness.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <string>

namespace rvx::fuzz {

void runCsvImport(const uint8_t* data, size_t size);
void runCsvRoundTrip(const uint8_t* data, size_t size);

// A file name for a recording of the round trip, in a directory of the
// process's own (in the memory layer, or on disk under the temporary
// directory); clearScratch() removes what an input left there.
std::string scratchRecording();
void clearScratch();

// Mutes what import and export warn about on std::cerr while an input
// runs; the fuzzer's and the sanitizers' reports do not go through it.
class MutedWarnings {
 public:
  MutedWarnings() : saved_(std::cerr.rdbuf(nullptr)) {}
  ~MutedWarnings() { std::cerr.rdbuf(saved_); }
  MutedWarnings(const MutedWarnings&) = delete;
  MutedWarnings& operator=(const MutedWarnings&) = delete;

 private:
  std::streambuf* saved_;
};

}  // namespace rvx::fuzz
