// The bodies of the fuzz targets. Each takes one input of arbitrary bytes,
// drives the library with it and checks what the library promises on any
// input. The libFuzzer entry points in fuzz/ call them, and the normal test
// suite replays the inputs under tests/data/regressions/ through them, so a
// crash found once is checked on every build from then on.
//
// Input formats (all integers little-endian; missing bytes read as 0):
// - import:      u64 file length, then the first bytes of the file.
// - summary:     u16 header byte count n, u8 mode (bit 0: the text is UTF-16
//                rather than 8-bit), n header bytes, then the text bytes.
// - open_read:   u8 mode (bit 0: an RVI file lies beside; bit 1: read the
//                records as blocks rather than one by one; bits 2-7: the
//                path is padded to 250 + (bits 2-7 mod 10) units when not
//                0), u32 RVX byte count n, u8 block size b (also the small
//                text capacity 1 + b mod 24), n RVX bytes, then the RVI
//                bytes.
// - api:         a sequence of calls, see api_sequence_harness.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kdrvx::fuzz {

// What a harness does when a promise is broken: by default it prints the
// description and aborts, which a fuzzer reports as a crash. The test suite
// turns it into a test failure.
using FailureHandler = void (*)(const char* description);
void setFailureHandler(FailureHandler handler);
void check(bool condition, const char* description);

void runImport(const uint8_t* data, size_t size);
void runSummaryParser(const uint8_t* data, size_t size);
void runOpenRead(const uint8_t* data, size_t size);
void runApiSequence(const uint8_t* data, size_t size);

}  // namespace kdrvx::fuzz
