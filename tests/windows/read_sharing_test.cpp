// KDRVX_OpenRead against another handle that holds the file without
// sharing: one retry after 2 seconds, which succeeds when the handle has
// been closed meanwhile.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <thread>

#include "kdrvx/kdrvx.h"
#include "support/read_support.h"
#include "support/test_support.h"

namespace kdrvx::test {
namespace {

class WindowsReadSharing : public ReadTest {};

TEST_F(WindowsReadSharing, OneRetryAfterTwoSeconds) {
  writeBytes(dir.file("f.rvx"), win3Header(recording(64, 1)));
  const std::u16string path = dir.wide("f.rvx");
  HANDLE holder = CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_READ, 0,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KDRVX_OpenRead(c(path)), KDRVX_ERR_RVX_SHARING_VIOLATION);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));

  std::thread release([holder] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    CloseHandle(holder);
  });
  EXPECT_EQ(KDRVX_OpenRead(c(path)), 0u);
  release.join();
  EXPECT_EQ(KDRVX_GetNoChannels(), 1u);
}

}  // namespace
}  // namespace kdrvx::test
