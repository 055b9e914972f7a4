// Helpers for the tests of the create and modify contexts: a fixture that
// leaves both contexts closed, and header images read back from disk.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "format/layout.h"
#include "kdrvx/kdrvx.h"
#include "support/test_support.h"

namespace kdrvx::test {

// The bytes of `bytes` from `offset` as a T; what the file does not hold
// stays zero.
template <class T>
T imageAt(const std::string& bytes, size_t offset = 0) {
  T value{};
  if (offset < bytes.size())
    std::memcpy(&value, bytes.data() + offset, std::min(sizeof(T), bytes.size() - offset));
  return value;
}

// A writable path for the exports that clean it in place.
inline KDRVX_CHAR* writable(std::u16string& text) {
  return reinterpret_cast<KDRVX_CHAR*>(text.data());
}

template <size_t N>
std::u16string textOf(const char16_t (&field)[N]) {
  return std::u16string(field, std::find(field, field + N, u'\0'));
}

// A scratch directory, a trace capture, and whatever a test left open in
// the create and modify contexts closed at its end without writing.
class WriteTest : public ::testing::Test {
 protected:
  void TearDown() override {
    KDRVX_CloseCreateSimple();
    KDRVX_CloseModify();
  }
  // Creates `name` in the scratch directory with the given channels.
  std::u16string create(const std::string& name, const std::vector<std::u16string>& channels,
                        bool legacy = false, int32_t language = 255) {
    std::u16string path = dir.wide(name);
    EXPECT_EQ(KDRVX_CreateExt(writable(path), 1, 1, legacy, language),
              KDRVX_OK);
    for (const auto& variable : channels) EXPECT_LT(KDRVX_AddChannel(c(variable)), 48u);
    return path;
  }
  // Files are read back only once the library has closed them: on Windows a
  // file under creation or modification admits no other opener.
  std::string bytes(const std::string& name) const { return readBytes(dir.file(name)); }
  // Closes the file under creation with its final header and reads that.
  format::RVX_HEADER finished(const std::string& name) {
    EXPECT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
    return header(name);
  }
  format::RVX_HEADER header(const std::string& name) const {
    return imageAt<format::RVX_HEADER>(bytes(name));
  }

  ScratchDir dir;
  TraceCapture capture;
};

}  // namespace kdrvx::test
