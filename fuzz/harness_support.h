// Helpers shared by the harnesses: text field checks and one scratch
// directory per process (reading the fields of a fuzz input is in input.h).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "format/layout.h"
#include "input.h"

namespace kdrvx::fuzz {

// True when a zero ends the text inside its N units.
template <size_t N>
bool terminated(const char16_t (&field)[N]) {
  return std::find(field, field + N, u'\0') != field + N;
}

// Every text field of a header (without its channels) or of a channel.
inline bool textsTerminated(const format::RVX_HEADER& h) {
  return terminated(h.Comment) && terminated(h.Company) && terminated(h.Instrument) &&
         terminated(h.SnrInstrument) && terminated(h.NameMeasurement) &&
         terminated(h.TriggerSetting);
}
inline bool textsTerminated(const format::MGR_DEF& c) {
  return terminated(c.ChannelUnit) && terminated(c.ChannelName) && terminated(c.ChannelNumber) &&
         terminated(c.ChannelSignalType) && terminated(c.ChannelZeroPoint) &&
         terminated(c.ChannelCalParameter) && terminated(c.ChannelFilter) &&
         terminated(c.ChannelLintab);
}

// What a summary_parser input holds: the header converted from its header
// bytes, null when the import refuses them or their layout has no summary
// file, and its text as the open hands it over (8-bit bytes widened to one
// unit each, or UTF-16LE units), zero-terminated, in a buffer of exactly
// that size so that a read past the terminator is caught.
struct SummaryInput {
  std::unique_ptr<format::RVX_HEADER> header;
  std::vector<char16_t> text;
};
SummaryInput decodeSummaryInput(const uint8_t* data, size_t size);

// The files of the harnesses. They live on disk (harness_disk.cpp: the test
// suite's replay) or in the memory platform layer (harness_memory.cpp: the
// fuzz targets and the fault tests), whichever the library linked uses.
//
// A directory of the process's own: on disk under the temporary directory,
// removed when the process ends.
const std::filesystem::path& scratchDirectory();
// Called first for every input: the scratch directory exists and is empty
// (the memory layer holds nothing else).
void startInput();
// Called last: removes what the input left. Every input frees what it
// allocated, which is how the fuzzer tells a leak: an input that ends with
// more allocations than frees is run again under the leak checker.
void finishInput();
void writeFile(const std::filesystem::path& path, const std::string& bytes);
void makeDirectory(const std::filesystem::path& path);
bool fileExists(const std::filesystem::path& path);
uint64_t storedLength(const std::filesystem::path& path);  // 0 for a missing file
// Makes the `nth` fallible file call from now fail (kind 0: plainly; 1: a
// read or write moves half its bytes first; 2: that call and every one
// after it). False where files are on disk, which cannot be made to fail.
bool armFault(uint32_t nth, uint8_t kind);
void disarmFault();

}  // namespace kdrvx::fuzz
