// Which second open of a file succeeds while a first one holds it: the
// sharing rules every platform layer keeps, in one process as across
// processes.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "support/test_support.h"

namespace kdrvx::test {

struct SharingRule {
  platform::OpenMode first;
  platform::OpenMode second;
  bool secondOpens;
};

inline constexpr SharingRule kSharingRules[] = {
    {platform::OpenMode::ReadShared, platform::OpenMode::ReadShared, true},
    {platform::OpenMode::ReadShared, platform::OpenMode::ReadExclusive, false},
    {platform::OpenMode::ReadShared, platform::OpenMode::OpenReadWrite, false},
    {platform::OpenMode::ReadShared, platform::OpenMode::CreateReadWrite, false},
    {platform::OpenMode::ReadExclusive, platform::OpenMode::ReadShared, false},
    {platform::OpenMode::OpenReadWrite, platform::OpenMode::ReadShared, false},
    {platform::OpenMode::CreateReadWrite, platform::OpenMode::ReadShared, false},
    {platform::OpenMode::OpenReadWrite, platform::OpenMode::OpenReadWrite, false},
};

// Opens the file at `path` (holding "shared") as each rule's first opener,
// then as its second, and checks that the second is admitted or refused as
// the rule says; `whileBothHeld`, where given, checks what else holds before
// both close. A refused create never empties the file that is in use.
inline void expectSharingRules(const char16_t* path, void (*whileBothHeld)() = nullptr) {
  for (const SharingRule& each : kSharingRules) {
    platform::File first;
    ASSERT_TRUE(first.open(path, each.first));
    if (each.first == platform::OpenMode::CreateReadWrite) {
      ASSERT_TRUE(first.write("shared", 6));
    }
    platform::File second;
    EXPECT_EQ(second.open(path, each.second), each.secondOpens)
        << static_cast<int>(each.first) << " then " << static_cast<int>(each.second);
    if (!each.secondOpens) {
      EXPECT_EQ(platform::lastError(), platform::kErrorSharingViolation);
    }
    if (whileBothHeld != nullptr) whileBothHeld();
    EXPECT_EQ(first.length(), 6);
  }
}

// A file of recorded data in a scratch folder, for the tests of what a
// holder of it refuses to others.
class HeldFileTest : public ::testing::Test {
 protected:
  void SetUp() override { writeBytes(dir.file("f.rvx"), "recorded data"); }
  ScratchDir dir;
  const std::u16string path = dir.wide("f.rvx");
};

}  // namespace kdrvx::test
