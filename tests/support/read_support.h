// Helpers for the tests of the read context: a fixture that writes a test
// recording (tests/recordings) and opens it, RVI files beside it, and what
// the text queries deliver.
#pragma once

#include <cstdint>
#include <string>

#include "kdrvx/kdrvx.h"
#include "recordings.h"
#include "support/test_support.h"

namespace kdrvx::test {

// A scratch directory for one test's files; closes the read context at the
// end of the test.
class ReadTest : public ::testing::Test {
 protected:
  void TearDown() override { KDRVX_CloseRead(); }
  // Writes `bytes` as `name` and opens it for reading.
  uint32_t open(const std::string& bytes, const std::string& name = "f.rvx");
  // Writes the RVI file beside `name`: its last three characters become "RVI".
  void writeRvi(const std::string& bytes, const std::string& name = "f.rvx");
  void writeRvi(const std::u16string& text, RviEncoding encoding) { writeRvi(encodeRvi(text, encoding)); }
  ScratchDir dir;
};

// What the text queries deliver into a buffer of `capacity` units filled
// with '#' beforehand.
using HeaderTextQuery = uint32_t (*)(KDRVX_CHAR*, uint16_t);
using ChannelTextQuery = uint32_t (*)(KDRVX_CHAR*, int16_t, uint16_t);
std::u16string text(HeaderTextQuery query, uint16_t capacity = 400);
std::u16string text(ChannelTextQuery query, int16_t channel, uint16_t capacity = 400);
std::u16string text(uint32_t (*query)(KDRVX_CHAR*));  // date (11) or time (10 units)
std::u16string variable(int16_t channel);  // written without a terminator

}  // namespace kdrvx::test
