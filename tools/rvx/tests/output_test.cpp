// How rvx puts its outputs in place, and how it words its failures.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/cli_support.h"

namespace rvx::test {
namespace {

namespace fs = std::filesystem;

const std::string kOldBytes = "old bytes\n";

class Outputs : public RvxTest {
 protected:
  void SetUp() override {
    Recording recording;
    recording.channels = {{"p1", "bar", ""}, {"T2", "K", ""}};
    recording.records = {{1.0f, 2.0f}, {3.0f, 4.0f}, {5.0f, 6.0f}};
    createRecording(at("a.rvx"), recording);
    createRecording(at("stale.rvx"), recording, false, 4, Close::Simple);
    createRecording(at("compact.rvx"), recording, true);
    writeBytes(at("a.csv"), "time,p1\n0,1\n0.5,2\n");
    writeBytes(at("short.csv"), "p1,T2\n1,2\n3\n");
    fs::copy_file(at("a.rvx"), at("readonly.rvx"));
    fs::permissions(at("readonly.rvx"), fs::perms::owner_read | fs::perms::group_read);
    writeBytes(at("bad.csv"), "p1,12\n1,2\n");
    fs::create_directory(at("d"));
  }
};

mode_t modeOf(const fs::path& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// Defect: export, plot and repair -o replaced an existing file without -f.
TEST_F(Outputs, ReplaceAFileOnlyWithForceKeepingItsModeAndItsLink) {
  const struct {
    std::vector<std::string> arguments;
    std::string target;
  } outputs[] = {
      {{"export", "a.rvx", "-o"}, "out"},     {{"plot", "a.rvx", "-o"}, "out"},
      {{"import", "a.csv", "-o"}, "out.rvx"}, {{"convert", "a.rvx", "-o"}, "out.rvx"},
      {{"repair", "a.rvx", "-o"}, "out.rvx"}, {{"demo", "d"}, "d/demo.svg"},
  };
  for (const auto& output : outputs) {
    std::vector<std::string> arguments = output.arguments;
    if (arguments[0] != "demo") arguments.push_back(output.target);
    SCOPED_TRACE(arguments[0]);
    writeBytes(at("real"), kOldBytes);
    chmod(at("real").c_str(), 0640);
    fs::remove(at(output.target));
    fs::create_symlink(fs::absolute(at("real")), at(output.target));
    const Outcome refused = rvx(arguments);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "rvx: " + output.target + " exists; give -f to replace it\n");
    EXPECT_EQ(readBytes(at("real")), kOldBytes);

    arguments.push_back("-f");
    const Outcome replaced = rvx(arguments);
    ASSERT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_TRUE(fs::is_symlink(at(output.target)));
    EXPECT_GT(readBytes(at("real")).size(), kOldBytes.size());
    EXPECT_EQ(modeOf(at("real")), 0640u);
  }
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(scratch.path())) {
    EXPECT_EQ(entry.path().string().find(".partial-"), std::string::npos) << entry.path();
  }
}

// Defect: repair in place changed the mode and made a symbolic link a file.
TEST_F(Outputs, RepairInPlaceKeepsModeAndLink) {
  fs::rename(at("stale.rvx"), at("d/stale.rvx"));
  chmod(at("d/stale.rvx").c_str(), 0604);
  fs::create_symlink("d/stale.rvx", at("link.rvx"));
  const Outcome run = rvx({"repair", "link.rvx"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::is_symlink(at("link.rvx")));
  EXPECT_EQ(modeOf(at("d/stale.rvx")), 0604u);
  EXPECT_EQ(readBytes(at("d/stale.rvx")), readBytes(at("a.rvx")));
  // An output that names the file itself is the repair in place.
  const Outcome again = rvx({"repair", "link.rvx", "-o", "d/stale.rvx"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.out.find("link.rvx: count and statistics are right; nothing to repair"),
            std::string::npos)
      << again.out;
}

// Defect: modify, repair and export -f, run as root, gave a file of another
// user to root and split its hard link.
TEST_F(Outputs, ReplacingAFileKeepsOwnerModeAndHardLinks) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a file to another owner takes root";
  constexpr uid_t kOwner = 4321;
  constexpr gid_t kGroup = 4322;
  const struct {
    std::vector<std::string> arguments;
    std::string target;
    std::string source;
  } replacements[] = {
      {{"modify", "owned.rvx", "--name", "x"}, "owned.rvx", "a.rvx"},
      {{"repair", "owned.rvx"}, "owned.rvx", "stale.rvx"},
      {{"export", "a.rvx", "-o", "owned.csv", "-f"}, "owned.csv", "a.csv"},
  };
  for (const auto& replacement : replacements) {
    SCOPED_TRACE(replacement.arguments[0]);
    const fs::path target = at(replacement.target);
    fs::remove(target);
    fs::copy_file(at(replacement.source), target);
    ASSERT_EQ(chown(target.c_str(), kOwner, kGroup), 0);
    ASSERT_EQ(chmod(target.c_str(), 0600), 0);
    fs::remove(at("second"));
    fs::create_hard_link(target, at("second"));
    const std::string before = readBytes(target);

    const Outcome run = rvx(replacement.arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kOwner);
    EXPECT_EQ(st.st_gid, kGroup);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_nlink, 2u);
    EXPECT_NE(readBytes(at("second")), before);
    EXPECT_EQ(readBytes(at("second")), readBytes(target));
  }
}

// Defect: every writer failed on paths of 245 to 259 characters, which the
// library takes.
TEST_F(Outputs, PathsUpToTheLibrarysLimitAreWritten) {
  const size_t base = scratch.path().string().size() + 1;
  for (size_t length = 255; length <= 259; ++length) {
    SCOPED_TRACE(length);
    const std::string name = std::string(length - base - 4, 'n') + ".rvx";
    ASSERT_EQ(at(name).size(), length);
    const Outcome imported = rvx({"import", "a.csv", "-o", at(name)});
    ASSERT_EQ(imported.status, 0) << imported.err;
    const Outcome modified = rvx({"modify", at(name), "--name", "long"});
    ASSERT_EQ(modified.status, 0) << modified.err;
    EXPECT_NE(modified.out.find("-> \"long\""), std::string::npos) << modified.out;
    fs::remove(at(name));
  }
}

// A file that another program has open (a recording still being written)
// is neither changed nor replaced.
TEST_F(Outputs, AFileInUseIsLeftAlone) {
  const int recorder = open(at("a.rvx").c_str(), O_RDONLY);
  ASSERT_EQ(flock(recorder, LOCK_EX), 0);
  const std::string before = readBytes(at("a.rvx"));
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"export", "stale.rvx", "-o", "a.rvx", "-f"},
        {"modify", "a.rvx", "--name", "x"},
        {"info", "a.rvx"}}) {
    const Outcome run = rvx(arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("in use by another program"), std::string::npos) << run.err;
  }
  EXPECT_EQ(readBytes(at("a.rvx")), before);
  close(recorder);
}

// Defects: a range beyond the records wrote a heading-only CSV; "-o -"
// made a file named "-" for import and convert.
TEST_F(Outputs, ErrorsNameTheirCauseAndHaveTheirExitStatus) {
  const std::string input = readBytes(at("a.rvx"));
  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string message;
  } cases[] = {
      {{}, 2, "subcommand is required"},
      {{"frobnicate"}, 2, "unknown subcommand 'frobnicate'"},
      {{""}, 2, "unknown subcommand ''"},
      {{"info"}, 2, "FILE is required"},
      {{"info", "a.rvx", "--bogus"}, 2, "--bogus"},
      {{"export", "a.rvx", "--records", "5:2"}, 2, "expected FIRST:LAST"},
      {{"export", "a.rvx", "--records", "3:"},
       2,
       "is out of range: the recording holds 3 records (0 to 2,"},
      {{"export", "a.rvx", "--records", "1:3"}, 2, "out of range"},
      {{"export", "a.rvx", "--channels", "q9"}, 2, "q9"},
      {{"import", "a.csv", "-o", "-"},
       2,
       "-o -: standard output takes the text of export and plot"},
      {{"convert", "a.rvx", "-o", "-"}, 2, "-o -: standard output"},
      {{"repair", "stale.rvx", "-o", "-"}, 2, "-o -: standard output"},
      {{"import", "a.csv", "-o", "y.rvx", "--language", "de"}, 2, "--language"},
      {{"import", "a.csv", "-o", "y.rvx", "--multichannel", ":8"},
       2,
       "--multichannel: expected VARIABLE:BITS with 1 to 32 bits, not :8"},
      {{"check", "-j", "4294967296", "a.rvx"},
       2,
       "expected a whole number from 1 to 4294967295, not 4294967296"},
      {{"stats", "-j", "123456789012345678901234", "a.rvx"}, 2, "not 12345678901234567890..."},
      {{"export", "a.rvx", "-o", "./a.rvx", "-f"}, 2, "./a.rvx is the input file; give another"},
      {{"convert", "a.rvx", "-o", "a.rvx", "-f"}, 2, "a.rvx is the input file; give another"},
      {{"import", "bad.csv", "-o", "y.rvx"}, 2, "has no time column: give --scan-interval-us"},
      {{"import", "bad.csv", "-o", "y.rvx", "--scan-interval-us", "9"}, 2, "is not a variable"},
      {{"import", "short.csv", "-o", "y.rvx", "--scan-interval-us", "9"}, 1, "line 3: 1 field where"},
      {{"info", "missing.rvx"}, 1, "missing.rvx: The RVX- file cannot be opened for read (0x"},
      {{"info", "missing.rvx"}, 1, "(0xE1000006): no such file or directory"},
      {{"info", "d"}, 1, "d: The RVX- file cannot be opened for read (0xE1000006): is a directory"},
      {{"info", "/dev/null"}, 1, "(0xE1000006): not a regular file"},
      {{"repair", "missing.rvx"}, 1, "(0xE1000006): no such file or directory"},
      {{"modify", "", "--name", "x"}, 2, "modify: no file given; name the recording to change"},
      {{"convert", "a.rvx", "-o", ""}, 2, "no output file given"},
      {{"export", "a.rvx", "-o", "nowhere/a.csv"}, 1, "cannot create the file: no such file"},
      {{"export", "a.rvx", "-o", "d"}, 1, "d: is a directory"},
      {{"demo", "a.rvx/d"},
       1,
       "a.rvx/d: cannot create the directory: a part of the path is not a directory"},
      {{"export", "a.rvx", "-o", "/dev/full"}, 1, "/dev/full: writing failed: disk full"},
      {{"modify", "compact.rvx", "--name", "x"}, 1, "convert it first (rvx convert compact.rvx"},
      {{"modify", "readonly.rvx", "--name", "x"}, 1, "readonly.rvx: is read-only"},
      {{"export", "a.rvx", "-o", "readonly.rvx", "-f"}, 1, "readonly.rvx: is read-only"},
  };
  for (const auto& c : cases) {
    const Outcome run = rvx(c.arguments);
    SCOPED_TRACE(c.arguments.empty() ? "" : c.arguments[0]);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.err.rfind("rvx: ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
  EXPECT_FALSE(fs::exists(at("y.rvx")) || fs::exists(at("-")));
  EXPECT_EQ(readBytes(at("a.rvx")), input);
  // A device is written to as it is, never replaced by a file.
  EXPECT_EQ(rvx({"export", "a.rvx", "-o", "/dev/null", "-f"}).status, 0);
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_NE(rvx({"plot", "a.rvx", "-o", "-"}).out.find("</svg>"), std::string::npos);
  EXPECT_EQ(rvx({"export", "a.rvx", "--records", "2:", "--no-time", "-o", "-"}).out,
            "p1 [bar],T2 [K]\r\n5,6\r\n");
}

}  // namespace
}  // namespace rvx::test
