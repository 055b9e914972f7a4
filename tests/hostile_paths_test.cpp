// Paths at the interface: lengths around the Windows limit of 259 units and
// the 255 units up to which the RVI name beside a file can be built, paths
// far beyond any limit, and names outside Latin-1 that must reach the file
// system unchanged, for every export that takes a path.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "kdrvx/kdrvx.h"
#include "support/read_support.h"
#include "support/test_support.h"
#include "support/write_support.h"

namespace kdrvx::test {
namespace {

namespace fs = std::filesystem;

class HostilePaths : public ReadTest {
 protected:
  void TearDown() override {
    KDRVX_CloseCreateSimple();
    KDRVX_CloseModify();
    ReadTest::TearDown();
  }

  // A path of exactly `units` UTF-16 units: a sub-folder of the scratch
  // directory and a file name ending in `extension`, neither longer than a
  // folder entry may be.
  fs::path pathOf(size_t units, const std::string& extension = ".rvx") const {
    const size_t base = widePath(dir.path()).size();
    const size_t rest = units - base - 2;  // two separators
    const size_t folder = rest / 2;
    const fs::path path =
        dir.path() / std::string(folder, 'd') / (std::string(rest - folder - 4, 'f') + extension);
    EXPECT_EQ(widePath(path).size(), units);
    return path;
  }

  static bool tryWrite(const fs::path& path, const std::string& bytes) {
    std::error_code ignored;
    fs::create_directories(path.parent_path(), ignored);
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return static_cast<bool>(out);
  }

  // The RVI file beside `path`: its last three units become "RVI".
  static fs::path rviOf(const fs::path& path) {
    std::u16string name = path.u16string();
    name.replace(name.size() - 3, 3, u"RVI");
    return fs::path(name);
  }

  const std::string compact = win3Header(recording(64, 2)) + floatRecords({{1, 2}, {3, 4}});
  const std::string current = currentHeader(recording('s', 2)) + floatRecords({{1, 2}, {3, 4}});
};

TEST_F(HostilePaths, LengthsAroundTheLimitsForReadingAndDeleting) {
  for (const size_t units : {255, 256, 259, 260, 300}) {
    SCOPED_TRACE(units);
    // The RVI name replaces the last three units, whatever they are.
    const fs::path path = pathOf(units, ".xyz");
    const std::u16string wide = widePath(path);
    const bool written = tryWrite(path, compact) && tryWrite(rviOf(path), "Firma: ACME\r\n");
#ifdef _WIN32
    // Beyond 259 units Windows may refuse the name; the library then
    // reports a failed open, like for any file it cannot open.
    if (!written) {
      ASSERT_GE(units, 260u);
      EXPECT_EQ(KDRVX_OpenRead(c(wide)), KDRVX_ERR_RVX_OPEN_READ);
      KDRVX_DeleteFile(c(wide));
      continue;
    }
#endif
    ASSERT_TRUE(written);
    ASSERT_EQ(KDRVX_OpenRead(c(wide)), 0u);
    EXPECT_EQ(KDRVX_GetNoChannels(), 2u);
    float record[2];
    EXPECT_EQ(KDRVX_ReadFirstRecord(record), 0u);
    EXPECT_EQ(KDRVX_ReadNextRecord(record), 0u);
    EXPECT_EQ(record[1], 4.0f);
    // The RVI name is built only for paths of up to 255 units.
    EXPECT_EQ(text(KDRVX_GetCompany), units <= 255 ? u"ACME" : u"");
    EXPECT_EQ(KDRVX_CloseRead(), 0u);
    KDRVX_DeleteFile(c(wide));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_TRUE(fs::exists(rviOf(path)));
  }
}

// Creating refuses a path that does not fit its 259 units before it
// touches the disk; modifying opens whatever the system can open.
TEST_F(HostilePaths, LengthsAroundTheLimitsForCreatingAndModifying) {
  for (const size_t units : {259, 260, 300}) {
    SCOPED_TRACE(units);
    const fs::path path = pathOf(units);
    fs::create_directories(path.parent_path());
    std::u16string wide = widePath(path);
    const uint32_t created = KDRVX_CreateExt(writable(wide), 1, 1, 0, 255);
    if (units <= 259) {
      ASSERT_EQ(created, 0u);
      ASSERT_LT(KDRVX_AddChannel(c(u"p1")), 48u);
      const float record[1] = {5.0f};
      ASSERT_EQ(KDRVX_AddRecord(record), 0u);
      ASSERT_EQ(KDRVX_CloseCreate(), 0u);
      EXPECT_EQ(fs::file_size(path), 1500u + 1400u + 4u);
    } else {
      EXPECT_EQ(created, KDRVX_ERR_RVX_CREATE);
      EXPECT_FALSE(fs::exists(path));
    }

    const bool written = tryWrite(path, current);
    const uint32_t modified = KDRVX_OpenModify(c(wide));
#ifdef _WIN32
    if (!written || (units >= 260 && modified != 0)) {
      EXPECT_GE(units, 260u);
      EXPECT_EQ(modified, KDRVX_ERR_RVX_OPEN_MODIFY);
      continue;
    }
#endif
    ASSERT_TRUE(written);
    ASSERT_EQ(modified, 0u);
    KDRVX_CHAR name[24];
    EXPECT_EQ(KDRVX_ModifyNameMeasurement(name, c(u"lang")), 0u);
    EXPECT_EQ(KDRVX_CloseModify(), 0u);
    ASSERT_EQ(KDRVX_OpenRead(c(wide)), 0u);
    EXPECT_EQ(text(KDRVX_GetNameMeasurement), u"lang");
    EXPECT_EQ(KDRVX_CloseRead(), 0u);
  }
}

TEST_F(HostilePaths, PathsBeyondAnyLimitFailCleanly) {
  TraceCapture capture;
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS);
  for (const size_t units : {300, 4097, 40000}) {
    SCOPED_TRACE(units);
    capture.clear();
    const std::u16string missing = widePath(dir.path()) + u"/" + std::u16string(units, u'x');
    EXPECT_EQ(KDRVX_OpenRead(c(missing)), KDRVX_ERR_RVX_OPEN_READ);
    KDRVX_DeleteFile(c(missing));
    // The open's system error, then the failed deletion with the whole
    // path as a line of its own.
    ASSERT_EQ(capture.lines().size(), 3u);
    EXPECT_EQ(capture.lines()[0].rfind(u"KDrvxLibrary: Error 0x", 0), 0u);
    EXPECT_EQ(capture.lines()[1] + capture.lines()[2], u"throw exception " + missing);
  }
  capture.clear();
  std::u16string longest = widePath(dir.path()) + u"/" + std::u16string(40000, u'x');
  EXPECT_EQ(KDRVX_Create(writable(longest), 1, 1), KDRVX_ERR_RVX_CREATE);
  EXPECT_EQ(KDRVX_OpenModify(c(longest)), KDRVX_ERR_RVX_OPEN_MODIFY);
  // Create: the system error and the path as passed; modify: the error.
  ASSERT_EQ(capture.lines().size(), 3u);
  EXPECT_EQ(capture.lines()[1], longest);
  for (size_t line : {0, 2}) {
    EXPECT_EQ(capture.lines()[line].rfind(u"KDrvxLibrary: Error 0x", 0), 0u);
  }

  EXPECT_EQ(KDRVX_OpenRead(c(u"")), KDRVX_ERR_RVX_OPEN_READ);
  std::u16string empty;
  EXPECT_EQ(KDRVX_Create(writable(empty), 1, 1), KDRVX_ERR_RVX_CREATE);
  // Half a surrogate pair is no name at all.
  EXPECT_EQ(KDRVX_OpenRead(c(widePath(dir.path()) + u"/half\xD800.rvx")), KDRVX_ERR_RVX_OPEN_READ);
}

// Names beyond Latin-1, a character outside the Basic Multilingual Plane
// included, in the folder and in the file name: the file, its RVI file and
// the deletion all reach exactly these names.
TEST_F(HostilePaths, NamesOutsideLatin1ReachTheFileSystemUnchanged) {
  const std::u16string folder = u"Pr\u00FCfstand \u03A9 \u6E2C";
  const std::u16string name = u"Lauf \u20AC \U0001F600 \u0416.rvx";
  const fs::path path = dir.path() / fs::path(folder) / fs::path(name);
  ASSERT_TRUE(tryWrite(path, compact));
  ASSERT_TRUE(tryWrite(rviOf(path), "Firma: ACME\r\n"));
  ASSERT_EQ(KDRVX_OpenRead(c(widePath(path))), 0u);
  EXPECT_EQ(text(KDRVX_GetCompany), u"ACME");
  EXPECT_EQ(KDRVX_CloseRead(), 0u);

  // A name that differs only in the character outside the BMP is another
  // file.
  const fs::path other = dir.path() / fs::path(folder) / fs::path(u"Lauf \u20AC \U0001F601 \u0416.rvx");
  ASSERT_TRUE(tryWrite(other, compact));
  KDRVX_DeleteFile(c(widePath(path)));
  EXPECT_FALSE(fs::exists(path));
  EXPECT_TRUE(fs::exists(other));

  // Created in the compact layout with its summary, then modified.
  std::u16string created = widePath(path);
  ASSERT_EQ(KDRVX_CreateExt(writable(created), 1, 1, 1, 0), 0u);
  EXPECT_EQ(created, widePath(path));
  ASSERT_LT(KDRVX_AddChannel(c(u"T1")), 48u);
  ASSERT_EQ(KDRVX_CloseCreate(), 0u);
  EXPECT_TRUE(fs::exists(path) && fs::exists(rviOf(path)));
  ASSERT_EQ(KDRVX_OpenRead(c(widePath(path))), 0u);
  EXPECT_EQ(KDRVX_GetVersion(), 64u);
  EXPECT_EQ(KDRVX_CloseRead(), 0u);

  std::u16string again = widePath(other);
  ASSERT_EQ(KDRVX_Create(writable(again), 1, 1), 0u);
  ASSERT_LT(KDRVX_AddChannel(c(u"T1")), 48u);
  ASSERT_EQ(KDRVX_CloseCreate(), 0u);
  ASSERT_EQ(KDRVX_OpenModify(c(widePath(other))), 0u);
  EXPECT_EQ(KDRVX_CloseModify(), 0u);
}

}  // namespace
}  // namespace kdrvx::test
