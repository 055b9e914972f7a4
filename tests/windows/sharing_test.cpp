// Sharing on Windows: a handle that another opener holds without sharing
// refuses the library's opens with a sharing violation and its deletion.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

#include "kdrvx/kdrvx.h"
#include "platform/platform.h"
#include "support/sharing_rules.h"
#include "support/test_support.h"

namespace kdrvx::test {
namespace {

namespace fs = std::filesystem;
using platform::File;
using platform::OpenMode;

// A handle of another opener, with the given share mode.
class ForeignHandle {
 public:
  ForeignHandle(const std::u16string& path, DWORD share)
      : handle_(CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()),
                            GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~ForeignHandle() {
    if (held()) CloseHandle(handle_);
  }
  bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

using WindowsSharing = HeldFileTest;

TEST_F(WindowsSharing, HandleWithoutSharingRefusesEveryMode) {
  {
    ForeignHandle holder(path, 0);
    ASSERT_TRUE(holder.held());
    for (OpenMode mode : {OpenMode::ReadShared, OpenMode::ReadExclusive, OpenMode::OpenReadWrite,
                          OpenMode::CreateReadWrite}) {
      File file;
      EXPECT_FALSE(file.open(path.c_str(), mode));
      EXPECT_EQ(platform::lastError(), platform::kErrorSharingViolation);
    }
  }
  // The refused create did not empty the file.
  EXPECT_EQ(readBytes(dir.file("f.rvx")), "recorded data");
}

TEST_F(WindowsSharing, HandleSharingReadAndWriteAdmitsSharedReadersOnly) {
  ForeignHandle holder(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_TRUE(holder.held());
  File reader;
  EXPECT_TRUE(reader.open(path.c_str(), OpenMode::ReadShared));
  File writer;
  EXPECT_FALSE(writer.open(path.c_str(), OpenMode::OpenReadWrite));
  EXPECT_EQ(platform::lastError(), platform::kErrorSharingViolation);
}

TEST_F(WindowsSharing, DeletionOfAFileInUseFails) {
  TraceCapture capture;
  {
    ForeignHandle holder(path, 0);
    ASSERT_TRUE(holder.held());
    KDRVX_DeleteFile(c(path));
    EXPECT_TRUE(fs::exists(dir.file("f.rvx")));
    EXPECT_EQ(capture.lines(), (std::vector<std::u16string>{u"throw exception ", path}));
  }
  KDRVX_DeleteFile(c(path));
  EXPECT_FALSE(fs::exists(dir.file("f.rvx")));
}

}  // namespace
}  // namespace kdrvx::test
