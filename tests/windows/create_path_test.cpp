// On Windows '/' cannot stand in a file name: path cleaning turns it into
// '_' with the other forbidden characters, while '\\' keeps separating.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "kdrvx/kdrvx.h"
#include "support/write_support.h"

namespace kdrvx::test {
namespace {

class WindowsPath : public WriteTest {};

TEST_F(WindowsPath, SlashBecomesUnderscore) {
  std::u16string path = dir.wide("") + u"a/b?.rvx";
  ASSERT_EQ(KDRVX_Create(writable(path), 1, 1), KDRVX_OK);
  EXPECT_EQ(path, dir.wide("a_b_.rvx"));
  KDRVX_CloseCreateSimple();
  EXPECT_TRUE(std::filesystem::exists(dir.file("a_b_.rvx")));
}

}  // namespace
}  // namespace kdrvx::test
