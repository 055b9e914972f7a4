// Putting a host's finished file in its place: the staging name beside the
// target, and the placement that keeps what the replaced file had.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "kdrvx/kdrvx.h"
#include "support/test_support.h"
#include "support/write_support.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace kdrvx::test {
namespace {

namespace fs = std::filesystem;

class Placement : public WriteTest {
 protected:
  // A staging name for `target`, with the status in `status`.
  static std::u16string staging(std::u16string& target, uint32_t flags,
                                uint32_t* status = nullptr) {
    KDRVX_CHAR name[1024] = {};
    const uint32_t result = KDRVX_GetStagingName(writable(target), flags, name, 1024);
    if (status != nullptr) *status = result;
    EXPECT_TRUE(status != nullptr || result == KDRVX_OK) << result;
    return std::u16string(reinterpret_cast<const char16_t*>(name));
  }

  uint32_t place(const std::u16string* staged, const std::u16string& target, uint32_t flags) {
    report = KDRVX_Placement{};
    report.size = sizeof report;
    return KDRVX_PlaceFile(staged != nullptr ? c(*staged) : nullptr, c(target), flags, &report);
  }

  std::string reportText() const {
    return narrow(std::u16string(reinterpret_cast<const char16_t*>(report.text)));
  }

  // A compact recording with one channel and fixed date and time, created
  // at `path` and closed with its RVI file.
  void createCompact(std::u16string path) {
    ASSERT_EQ(KDRVX_CreateExt(writable(path), 0, 1, 1, 4), KDRVX_OK);
    ASSERT_EQ(KDRVX_SetCompany(c(u"ACME")), KDRVX_OK);
    ASSERT_EQ(KDRVX_SetDate(c(u"07.12.2026")), KDRVX_OK);
    ASSERT_EQ(KDRVX_SetTime(c(u"10:20")), KDRVX_OK);
    ASSERT_LT(KDRVX_AddChannel(c(u"p1")), 48u);
    const float record[] = {1.5f};
    ASSERT_EQ(KDRVX_AddRecord(record), KDRVX_OK);
    ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
  }

  KDRVX_Placement report{};
};

TEST_F(Placement, AReplacedFileKeepsItsModeAndItsHardLinks) {
  writeBytes(dir.file("t.dat"), "old");
#if !defined(_WIN32)
  chmod(dir.file("t.dat").c_str(), 0640);
#endif
  std::u16string target = dir.wide("t.dat");
  std::u16string staged = staging(target, 0);
  EXPECT_EQ(fs::path(staged).parent_path(), dir.path());
  EXPECT_EQ(fs::path(staged).extension(), ".dat");
  writeBytes(fs::path(staged), "new bytes");

  // Not without being asked to replace: nothing changes.
  EXPECT_EQ(place(&staged, target, 0), KDRVX_ERR_RVX_ALREADY_EXISTS);
  EXPECT_EQ(report.step, KDRVX_PLACE_STEP_TARGET);
  EXPECT_EQ(reportText(), "exists");
  EXPECT_EQ(readBytes(dir.file("t.dat")), "old");

  ASSERT_EQ(place(&staged, target, KDRVX_PLACE_REPLACE), KDRVX_OK) << reportText();
  EXPECT_EQ(report.links, 1u);
  EXPECT_EQ(readBytes(dir.file("t.dat")), "new bytes");
  EXPECT_FALSE(fs::exists(fs::path(staged)));
#if !defined(_WIN32)
  struct stat st {};
  stat(dir.file("t.dat").c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
#endif

  // A second name for the file: both see the new bytes, and stay one file.
  fs::create_hard_link(dir.file("t.dat"), dir.file("u.dat"));
  staged = staging(target, 0);
  writeBytes(fs::path(staged), "newer");
  ASSERT_EQ(place(&staged, target, KDRVX_PLACE_REPLACE), KDRVX_OK) << reportText();
  EXPECT_EQ(report.links, 2u);
  EXPECT_EQ(readBytes(dir.file("u.dat")), "newer");
  EXPECT_TRUE(fs::equivalent(dir.file("t.dat"), dir.file("u.dat")));
  EXPECT_FALSE(fs::exists(fs::path(staged)));

  // A bare name, relative to the working directory, as a command line gives it.
  writeBytes(dir.file("v.dat"), "old");
  const fs::path before = fs::current_path();
  fs::current_path(dir.path());
  std::u16string bare = u"v.dat";
  staged = staging(bare, 0);
  writeBytes(fs::path(staged), "replaced by name");
  EXPECT_EQ(place(&staged, bare, KDRVX_PLACE_REPLACE), KDRVX_OK) << reportText();
  fs::current_path(before);
  EXPECT_EQ(readBytes(dir.file("v.dat")), "replaced by name");
}

TEST_F(Placement, WhatIsNotReplaced) {
  fs::create_directory(dir.file("d"));
  create("held.rvx", {u"p1"});
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
  writeBytes(dir.file("ro.rvx"), "read-only");
  fs::permissions(dir.file("ro.rvx"), fs::perms::owner_read);
  KDRVX_Reader* reader = nullptr;
  ASSERT_EQ(KDRVX_ReaderOpen(c(dir.wide("held.rvx")), &reader), KDRVX_OK);
  const struct {
    std::string name;
    uint32_t status;
    std::string text;
  } cases[] = {
      {"d", KDRVX_ERR_RVX_CREATE, "is a directory"},
      {"ro.rvx", KDRVX_ERR_RVX_CREATE, "is read-only"},
      {"held.rvx", KDRVX_ERR_RVX_SHARING_VIOLATION, "in use by another program"},
  };
  for (const auto& refused : cases) {
    SCOPED_TRACE(refused.name);
    EXPECT_EQ(place(nullptr, dir.wide(refused.name), KDRVX_PLACE_REPLACE), refused.status);
    EXPECT_EQ(report.step, KDRVX_PLACE_STEP_TARGET);
    EXPECT_EQ(reportText(), refused.text);
  }
  KDRVX_ReaderClose(reader);
  EXPECT_EQ(place(nullptr, dir.wide("held.rvx"), KDRVX_PLACE_REPLACE), KDRVX_OK);
  EXPECT_EQ(KDRVX_PlaceFile(nullptr, nullptr, 0, &report), KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
}

// The RVI file of a recording staged beside its target reads as if the
// recording had been created there.
TEST_F(Placement, ACompactRecordingComesWithItsSummaryNamingIt) {
  createCompact(dir.wide("in place.rvx"));
  const std::string expected = readBytes(dir.file("in place.RVI"));
  fs::rename(dir.file("in place.rvx"), dir.file("kept.rvx"));
  fs::rename(dir.file("in place.RVI"), dir.file("kept.RVI"));

  std::u16string target = dir.wide("in place?.rvx");
  const uint32_t flags = KDRVX_PLACE_SUMMARY;
  std::u16string staged = staging(target, flags | KDRVX_PLACE_CREATE);
  EXPECT_EQ(target, dir.wide("in place_.rvx"));  // cleaned as the create cleans it
  target = dir.wide("in place.rvx");
  createCompact(staged);
  ASSERT_EQ(place(&staged, target, flags), KDRVX_OK) << reportText();
  EXPECT_EQ(readBytes(dir.file("in place.RVI")), expected);
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 4u);  // the two pairs, no staging file

  // Another recording in its place: the RVI file is replaced with it.
  staged = staging(target, flags);
  createCompact(staged);
  EXPECT_EQ(place(&staged, target, flags), KDRVX_ERR_RVX_ALREADY_EXISTS);
  EXPECT_EQ(reportText(), "exists");
  ASSERT_EQ(place(&staged, target, flags | KDRVX_PLACE_REPLACE), KDRVX_OK) << reportText();
  EXPECT_EQ(readBytes(dir.file("in place.RVI")), expected);
  KDRVX_Reader* reader = nullptr;
  ASSERT_EQ(KDRVX_ReaderOpen(c(target), &reader), KDRVX_OK);
  KDRVX_RecordingInfo info{};
  info.size = sizeof info;
  ASSERT_EQ(KDRVX_ReaderInfo(reader, &info), KDRVX_OK);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(info.company)), u"ACME");
  KDRVX_ReaderClose(reader);

  std::u16string named = dir.wide("x.rvx.bak");
  uint32_t status = 0;
  staging(named, flags, &status);
  EXPECT_EQ(status, KDRVX_ERR_RVI_FILE_NAME);
}

// Every path that the create takes stages too: the staging path is never
// longer than 259 units or the target's.
TEST_F(Placement, LongPathsStage) {
  const size_t base = widePath(dir.path()).size() + 1;
  for (size_t units = 255; units <= 259; ++units) {
    SCOPED_TRACE(units);
    std::u16string target = dir.wide(std::string(units - base - 4, 'f') + ".rvx");
    ASSERT_EQ(target.size(), units);
    std::u16string staged = staging(target, KDRVX_PLACE_CREATE);
    EXPECT_LE(staged.size(), units);
    ASSERT_EQ(KDRVX_CreateExt(writable(staged), 0, 1, 0, 255), KDRVX_OK);
    ASSERT_LT(KDRVX_AddChannel(c(u"p1")), 48u);
    ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
    ASSERT_EQ(place(&staged, target, 0), KDRVX_OK) << reportText();
    EXPECT_TRUE(fs::exists(fs::path(target)));
  }
  std::u16string tooLong = dir.wide(std::string(260 - base - 4, 'f') + ".rvx");
  uint32_t status = 0;
  staging(tooLong, KDRVX_PLACE_CREATE, &status);
  EXPECT_EQ(status, KDRVX_ERR_RVX_CREATE);
}

}  // namespace
}  // namespace kdrvx::test
