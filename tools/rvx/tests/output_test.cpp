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

const std::string kOld = "old bytes\n";

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
    writeBytes(at("real"), kOld);
    chmod(at("real").c_str(), 0640);
    fs::remove(at(output.target));
    fs::create_symlink(fs::absolute(at("real")), at(output.target));
    const Outcome refused = rvx(arguments);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "rvx: " + output.target + " exists; give -f to replace it\n");
    EXPECT_EQ(readBytes(at("real")), kOld);

    arguments.push_back("-f");
    const Outcome replaced = rvx(arguments);
    ASSERT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_TRUE(fs::is_symlink(at(output.target)));
    EXPECT_GT(readBytes(at("real")).size(), kOld.size());
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
}

// A file that another program has open (a recording still being written)
// is neither changed nor replaced.
TEST_F(Outputs, AFileInUseIsLeftAlone) {
  const int recorder = open(at("a.rvx").c_str(), O_RDONLY);
  ASSERT_EQ(flock(recorder, LOCK_EX), 0);
  const std::string before = readBytes(at("a.rvx"));
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"export", "stale.rvx", "-o", "a.rvx", "-f"},
        {"modify", "a.rvx", "--name", "x"}}) {
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
  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string message;
  } cases[] = {
      {{}, 2, "subcommand is required"},
      {{"frobnicate"}, 2, "unknown subcommand 'frobnicate'"},
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
      {{"import", "bad.csv", "-o", "y.rvx"}, 2, "has no time column: give --scan-interval-us"},
      {{"import", "bad.csv", "-o", "y.rvx", "--scan-interval-us", "9"}, 2, "is not a variable"},
      {{"import", "short.csv", "-o", "y.rvx", "--scan-interval-us", "9"}, 1, "line 3: 1 field where"},
      {{"info", "missing.rvx"}, 1, "missing.rvx: The RVX- file cannot be opened for read (0x"},
      {{"info", "missing.rvx"}, 1, "(0xE1000006): no such file or directory"},
      {{"info", "d"}, 1, "d: The RVX- file cannot be opened for read (0xE1000006): is a directory"},
      {{"export", "a.rvx", "-o", "nowhere/a.csv"}, 1, "cannot create the file: no such file"},
      {{"export", "a.rvx", "-o", "d"}, 1, "d: is a directory"},
      {{"export", "a.rvx", "-o", "/dev/full"}, 1, "/dev/full: writing failed: disk full"},
      {{"modify", "compact.rvx", "--name", "x"}, 1, "convert it first (rvx convert compact.rvx"},
      {{"modify", "readonly.rvx", "--name", "x"}, 1, "readonly.rvx: the file is read-only"},
      {{"export", "a.rvx", "-o", "readonly.rvx", "-f"}, 1, "readonly.rvx: the file is read-only"},
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
  EXPECT_NE(rvx({"plot", "a.rvx", "-o", "-"}).out.find("</svg>"), std::string::npos);
  EXPECT_EQ(rvx({"export", "a.rvx", "--records", "2:", "--no-time", "-o", "-"}).out,
            "p1 [bar],T2 [K]\r\n5,6\r\n");
}

}  // namespace
}  // namespace rvx::test
