// Every subcommand of rvx that writes, through the faults of a user's
// machine: bad input, a full disk (writes failing with ENOSPC from a point
// on), a file-size limit, and the process killed part-way, while it writes
// and at each of its renames. Afterwards the inputs are byte-identical,
// every target holds its old bytes or, once the command put it in place,
// its complete new ones, nothing partial lies beside them (a killed command
// may leave its temporary, named ".partial-", and its temporary directory),
// and a failure names its cause.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "support/cli_support.h"
#include "support/test_support.h"

namespace rvx::test {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kFileSizeLimit = 64 * 1024;  // below every output, above every old target
const std::string kOld = "the old bytes of a file that the user keeps\n";

// A subcommand that writes: its arguments with a good input and with one
// that it refuses part-way, with what the refusal says; the files it reads
// and writes; a point part-way through its writes (for import and convert
// early enough to lie among the records whether they are written one by
// one or in blocks), and its renames.
struct Writer {
  const char *tag, *good, *bad, *refusal, *inputs, *targets, *killWhileWriting;
  int renames;
};

void PrintTo(const Writer& writer, std::ostream* out) { *out << writer.tag; }

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

constexpr const char* kNotARecording =
    "junk.rvx: The file is not a RVX- file or the header is invalid";
constexpr const char* kDemoFiles =
    "out/demo.rvx out/demo-compact.rvx out/demo-compact.RVI out/demo.csv out/demo.svg";

const Writer kWriters[] = {
    {"export", "export big.rvx -o out.csv -f", "export junk.rvx -o out.csv -f", kNotARecording,
     "big.rvx junk.rvx", "out.csv", "kill:write:2", 1},
    {"plot", "plot big.rvx -o out.svg -f", "plot junk.rvx -o out.svg -f", kNotARecording,
     "big.rvx junk.rvx", "out.svg", "kill:write:1", 1},
    // Defect: a bad field deleted the file that an import with -f was to replace.
    {"import", "import in.csv -o out.rvx -f --date 1.2.2020 --time 10:00",
     "import bad.csv -o out.rvx -f", "bad.csv line 20002, column 2: 'x' is not a number",
     "in.csv bad.csv", "out.rvx", "kill:write:3", 1},
    {"import_compact",
     "import in.csv -o out.rvx -f --legacy --comment c --date 1.2.2020 --time 10:00",
     "import bad.csv -o out.rvx -f --legacy --comment c", "'x' is not a number", "in.csv bad.csv",
     "out.rvx out.RVI", "kill:write:3", 3},
    {"convert", "convert big.rvx -o out.rvx -f", "convert junk.rvx -o out.rvx -f", kNotARecording,
     "big.rvx junk.rvx", "out.rvx", "kill:write:3", 1},
    {"export_mat", "export big.rvx -o out.mat -f", "export junk.rvx -o out.mat -f", kNotARecording,
     "big.rvx junk.rvx", "out.mat", "kill:write:3", 1},
    {"export_hdf5", "export big.rvx -o out.h5 -f", "export junk.rvx -o out.h5 -f", kNotARecording,
     "big.rvx junk.rvx", "out.h5", "kill:write:3", 1},
    {"cut", "cut big.rvx -o out.rvx -f --records 10:", "cut junk.rvx -o out.rvx -f --from 0",
     kNotARecording, "big.rvx junk.rvx", "out.rvx", "kill:write:3", 1},
    {"select", "select big.rvx -o out.rvx -f --channels T2,p1",
     "select junk.rvx -o out.rvx -f --channels p1", kNotARecording, "big.rvx junk.rvx", "out.rvx",
     "kill:write:3", 1},
    {"merge", "merge big.rvx big.rvx -o out.rvx -f --no-time-check",
     "merge big.rvx junk.rvx -o out.rvx -f", kNotARecording, "big.rvx junk.rvx", "out.rvx",
     "kill:write:3", 1},
    {"repair", "repair stale.rvx -o out.rvx -f", "repair damaged.rvx -o out.rvx -f",
     "repair does not guess a header", "stale.rvx damaged.rvx", "out.rvx", "kill:write:2", 1},
    {"repair_in_place", "repair stale.rvx", "repair damaged.rvx", "repair does not guess a header",
     "stale.rvx damaged.rvx", "", "kill:write:2", 1},
    {"modify", "modify big.rvx --comment new", "modify compact.rvx --comment new",
     "convert it first", "big.rvx compact.rvx compact.RVI", "", "kill:write:2", 1},
    {"demo", "demo out -f", "demo junk.rvx -f", "junk.rvx: not a directory", "junk.rvx", kDemoFiles,
     "kill:write:12000", 6},
};

// The inputs of every writer, made once.
class Inputs {
 public:
  Inputs() {
    Recording big;
    big.channels = {{"p1", "bar", ""}, {"p2", "bar", ""}, {"T1", "K", ""}, {"T2", "K", ""},
                    {"p3", "", ""},    {"p4", "", ""},    {"p5", "", ""},  {"M1", "", "", 16}};
    big.records = randomRecords(60000, 8, 21);
    createRecording(scratch.file("big.rvx"), big);
    createRecording(scratch.file("stale.rvx"), big, false, 4, Close::Simple);
    Recording compact;
    compact.channels = {{"p1", "bar", ""}};
    compact.records = {{1.0f}, {2.0f}};
    createRecording(scratch.file("compact.rvx"), compact, true);
    for (const char* name : {"big.rvx", "stale.rvx", "compact.rvx", "compact.RVI"})
      bytes[name] = readBytes(scratch.file(name));
    for (int i = 0; i < 5000; ++i) bytes["junk.rvx"] += "not a recording\n";
    bytes["damaged.rvx"] = bytes["stale.rvx"];
    bytes["damaged.rvx"][8] = 0;  // the header size no longer fits the channel count
    std::string csv = "time,p1 [bar],T2\n";
    for (int i = 0; i < 20000; ++i) {
      csv += std::to_string(i) + "e-3," + std::to_string(i % 97) + ".5," + std::to_string(i / 7) +
             "\n";
    }
    bytes["in.csv"] = csv;
    bytes["bad.csv"] = csv + "20,x,1\n";
  }
  std::map<std::string, std::string> bytes;

 private:
  kdrvx::test::ScratchDir scratch;
};

class FaultMatrix : public ::testing::TestWithParam<Writer> {
 protected:
  static void SetUpTestSuite() { made = new Inputs; }
  static void TearDownTestSuite() { delete made; }

  // A directory with the writer's inputs and the old bytes at its targets,
  // named after the case without its colons: rvx's temporary directory lies
  // below it, and the library takes a colon in a path it creates for no
  // more than a drive's.
  fs::path prepare(std::string name) {
    std::replace(name.begin(), name.end(), ':', '-');
    const fs::path directory = scratch.file(name);
    fs::create_directories(directory / "out");
    for (const std::string& input : inputs) writeBytes(directory / input, made->bytes[input]);
    for (const std::string& target : targets) writeBytes(directory / target, kOld);
    return directory;
  }

  // The inputs are as they were and nothing but the files of the case lies
  // in the directory; temporaries (".partial-") only where allowed.
  void expectInputsKept(const fs::path& directory, bool temporaries) {
    for (const std::string& input : inputs) {
      EXPECT_EQ(readBytes(directory / input), made->bytes[input]) << input;
    }
    std::set<std::string> known(inputs.begin(), inputs.end());
    known.insert(targets.begin(), targets.end());
    known.insert({".rvx-stdout", ".rvx-stderr", kTemporaryDirectory, "out"});
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(directory)) {
      const std::string name = fs::relative(entry.path(), directory).string();
      // A command that failed has removed its own temporary directory too.
      const bool temporary = name.find(".partial-") != std::string::npos ||
                             name.starts_with(std::string(kTemporaryDirectory) + "/");
      EXPECT_TRUE(known.count(name) || (temporaries && temporary)) << name;
    }
  }

  void expectFailure(const std::string& name, const char* arguments, const Fault& fault,
                     const std::string& cause) {
    SCOPED_TRACE(name);
    const fs::path directory = prepare(name);
    const Outcome run = runRvx(words(arguments), directory, fault);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find(cause), std::string::npos) << run.err;
    EXPECT_EQ(run.err.rfind("rvx: ", 0), 0u) << run.err;
    for (const std::string& target : targets)
      EXPECT_EQ(readBytes(directory / target), kOld) << target;
    expectInputsKept(directory, false);
  }

  // Each target holds its old bytes or the complete new ones, and a
  // recording never stands beside the RVI file of another one (while the
  // two are renamed into place it is absent).
  void expectKilled(const std::string& killAt, const std::map<std::string, std::string>& complete) {
    SCOPED_TRACE(killAt);
    const fs::path directory = prepare(killAt);
    EXPECT_EQ(runRvx(words(GetParam().good), directory, {0, killAt}).status, 128 + SIGKILL);
    std::map<std::string, std::string> state;
    for (const std::string& target : targets) {
      const std::string bytes =
          fs::exists(directory / target) ? readBytes(directory / target) : "-";
      state[target] = bytes == "-"                   ? "absent"
                      : bytes == kOld                ? "old"
                      : bytes == complete.at(target) ? "new"
                                                     : "partial";
      EXPECT_NE(state[target], "partial") << target;
    }
    for (const auto& [target, what] : state) {
      const std::string rvi = target.substr(0, target.size() - 3) + "RVI";
      if (target.ends_with(".rvx") && state.count(rvi)) {
        EXPECT_TRUE(what == "absent" || what == state[rvi])
            << target << " " << what << ", RVI " << state[rvi];
      } else if (!target.ends_with(".RVI")) {
        EXPECT_NE(what, "absent") << target;
      }
    }
    expectInputsKept(directory, true);
  }

  static Inputs* made;
  const std::vector<std::string> inputs = words(GetParam().inputs),
                                 targets = words(GetParam().targets);
  kdrvx::test::ScratchDir scratch;
};

Inputs* FaultMatrix::made = nullptr;

TEST_P(FaultMatrix, KeepsInputsAndTargetsWhole) {
  const Writer& writer = GetParam();
  expectFailure("bad-input", writer.bad, {}, writer.refusal);
  expectFailure("file-size-limit", writer.good, {kFileSizeLimit, ""}, "file too large");
  expectFailure("full-disk", writer.good, {0, "full:write:1"}, "disk full");
  const fs::path reference = prepare("reference");
  ASSERT_EQ(runRvx(words(writer.good), reference).status, 0);
  std::map<std::string, std::string> complete;
  for (const std::string& target : targets) complete[target] = readBytes(reference / target);
  expectKilled(writer.killWhileWriting, complete);
  for (int rename = 1; rename <= writer.renames; ++rename) {
    expectKilled("kill:rename:" + std::to_string(rename), complete);
  }
}

INSTANTIATE_TEST_SUITE_P(Writers, FaultMatrix, ::testing::ValuesIn(kWriters),
                         [](const auto& writer) { return std::string(writer.param.tag); });

// The names below `directory`, its subdirectories' entries included.
std::set<std::string> entries(const fs::path& directory) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(directory))
    names.insert(fs::relative(entry.path(), directory).string());
  return names;
}

// A call of the system that fails, rvx's own or the library's, with the
// errors of a user's machine: rvx names the cause in its own words, and the
// input and an existing target keep their bytes, with nothing left beside
// them. Export opens the recording (open 1) and then creates its output
// (open 2); modify judges the file (open 1), creates its copy (2), holds
// the file open (3) and has the library open the copy (4), whose header
// it writes (write 2) after rvx has read the file (from read 3) and copied
// its bytes (write 1).
TEST(SystemFailures, AreNamedAndLeaveTheFilesAsTheyWere) {
  const struct {
    const char *fault, *arguments, *says;
  } cases[] = {
      // rvx's own output file
      {"fail:write:1:EIO", "export a.rvx -o out.csv -f",
       "out.csv: writing failed: input/output error"},
      {"fail:write:1:EDQUOT", "export a.rvx -o out.csv -f", "writing failed: disk quota exceeded"},
      {"fail:write:1:EFBIG", "export a.rvx -o out.csv -f",
       "writing failed: file too large (over the file-size limit)"},
      // as a network file system reports a full disk late
      {"fail:close:2:EIO", "export a.rvx -o out.csv -f",
       "out.csv: writing failed: input/output error"},
      {"fail:open:2:EROFS", "export a.rvx -o new.csv",
       "new.csv: cannot create the file: read-only file system"},
      {"fail:open:2:EMFILE", "export a.rvx -o new.csv", "create the file: too many open files"},
      {"fail:open:2:EACCES", "export a.rvx -o new.csv", "create the file: permission denied"},
      {"fail:open:2:ENAMETOOLONG", "export a.rvx -o new.csv",
       "create the file: file name too long"},
      {"fail:open:2:ENOTDIR", "export a.rvx -o new.csv",
       "create the file: a part of the path is not a directory"},
      {"fail:open:2:EPERM", "export a.rvx -o new.csv", "create the file: permission denied"},
      {"fail:open:2:ENFILE", "export a.rvx -o new.csv", "create the file: too many open files"},
      {"fail:open:2:ENOMEM", "export a.rvx -o new.csv", "create the file: out of memory"},
      // another program takes every staging name first
      {"full:open:2:EEXIST", "export a.rvx -o new.csv", "create the file: already exists"},
      {"fail:read:3:EIO", "modify a.rvx --name x", "a.rvx: reading failed: input/output error"},
      {"fail:close:2:EIO", "modify a.rvx --name x", "a.rvx: writing failed: input/output error"},
      // the library's calls
      {"fail:write:2:EIO", "modify a.rvx --name x",
       "a.rvx: Error: Open file for modification (0xE100001C): input/output error"},
      {"fail:write:2:EFBIG", "modify a.rvx --name x", "(0xE100001C): file too large"},
      {"fail:open:4:EMFILE", "modify a.rvx --name x", "(0xE100001C): too many open files"},
      {"fail:open:4:ENOMEM", "modify a.rvx --name x", "(0xE100001C): out of memory"},
      {"fail:open:4:EBUSY", "modify a.rvx --name x", "(0xE100001C): in use by another program"},
      {"fail:open:4:ELOOP", "modify a.rvx --name x",
       "(0xE100001C): too many levels of symbolic links"},
      {"fail:open:4:ENAMETOOLONG", "modify a.rvx --name x", "(0xE100001C): file name too long"},
      {"fail:open:4:EACCES", "modify a.rvx --name x", "(0xE100001C): permission denied"},
      {"fail:open:4:ENOENT", "modify a.rvx --name x", "(0xE100001C): no such file or directory"},
      {"fail:open:4:ENOTDIR", "modify a.rvx --name x", "(0xE100001C): no such directory"},
      // a name that the file system does not take (a colon on FAT)
      {"fail:open:4:EINVAL", "modify a.rvx --name x", "(0xE100001C): invalid parameter"},
      // the library creating a new recording
      {"fail:open:3:EACCES", "convert a.rvx -o new.rvx",
       "new.rvx: Error during creation of a RVX- file. (0xE1000009): permission denied"},
      // an error without words of rvx's own still names its number
      {"fail:open:4:ENOTSUP", "modify a.rvx --name x",
       "(0xE100001C): an error the system gives no words for (Windows error 31)"},
      {"fail:rename:1:EIO", "export a.rvx -o out.csv -f",
       "out.csv: cannot take the new file's place: input/output error"},
      {"fail:rename:1:EIO", "convert a.rvx -o out.rvx -f",
       "out.rvx: cannot take the new file's place: input/output error"},
      {"fail:fsync:1:EIO", "export a.rvx -o out.csv -f",
       "out.csv: cannot take the new file: it cannot be flushed to the disk: input/output error"},
      // a file that the user may not read, and one that fails once
      {"full:open:1:EACCES", "info a.rvx",
       "a.rvx: The RVX- file cannot be opened for read (0xE1000006): permission denied"},
      {"full:open:1:EMFILE", "info a.rvx", "(0xE1000006): too many open files"},
      {"fail:open:1:EIO", "info a.rvx", "(0xE1000006): cannot be read"},
      // a read of the records that fails is no end of the data (an open
      // reads the header with two reads, the second at the end of this small
      // file; check opens the file twice)
      {"fail:read:3:EIO", "export a.rvx -o out.csv -f",
       "a.rvx: reading the records failed: The RVX- file cannot be opened for read (0xE1000006): "
       "input/output error"},
      {"fail:read:5:EIO", "check a.rvx",
       "a.rvx: reading the records failed after 0 records: The RVX- file cannot be opened for "
       "read (0xE1000006): input/output error"},
  };
  kdrvx::test::ScratchDir scratch;
  Recording recording;
  recording.channels = {{"p1", "bar", ""}, {"T2", "K", ""}};
  recording.records = {{1.0f, 2.0f}, {3.0f, 4.0f}};
  createRecording(scratch.file("a.rvx"), recording);
  const std::string input = readBytes(scratch.file("a.rvx"));
  int at = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fault) + " " + c.arguments);
    const fs::path directory = scratch.file(std::to_string(++at));
    fs::create_directory(directory);
    writeBytes(directory / "a.rvx", input);
    writeBytes(directory / "out.csv", kOld);
    writeBytes(directory / "out.rvx", kOld);
    const Outcome run = runRvx(words(c.arguments), directory, {0, c.fault});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(run.err.rfind("rvx: ", 0), 0u) << run.err;
    EXPECT_EQ(readBytes(directory / "a.rvx"), input);
    EXPECT_EQ(readBytes(directory / "out.csv"), kOld);
    EXPECT_EQ(readBytes(directory / "out.rvx"), kOld);
    EXPECT_EQ(entries(directory),
              (std::set<std::string>{"a.rvx", "out.csv", "out.rvx", ".rvx-stdout", ".rvx-stderr",
                                     kTemporaryDirectory}));
  }

  // A target with two hard links is rewritten in place; when the disk
  // fills meanwhile, the complete new file stays under the staging name
  // that the failure names.
  const fs::path directory = scratch.file("linked");
  fs::create_directory(directory);
  writeBytes(directory / "a.rvx", input);
  writeBytes(directory / "out.csv", kOld);
  fs::create_hard_link(directory / "out.csv", directory / "link.csv");
  ASSERT_EQ(runRvx(words("export a.rvx -o new.csv"), directory).status, 0);
  const std::string exported = readBytes(directory / "new.csv");
  fs::remove(directory / "new.csv");
  const Outcome run =
      runRvx(words("export a.rvx -o out.csv -f"), directory, {0, "fail:write:3:ENOSPC"});
  EXPECT_EQ(run.status, 1);
  const std::string says =
      "rvx: out.csv: was rewritten in place only in part (it has 2 hard "
      "links); the complete new file stays under its staging name (";
  ASSERT_EQ(run.err.rfind(says, 0), 0u) << run.err;
  const std::string staged =
      run.err.substr(says.size(), run.err.find(')', says.size()) - says.size());
  EXPECT_TRUE(run.err.ends_with("): disk full\n")) << run.err;
  EXPECT_EQ(readBytes(directory / staged), exported) << staged;
  EXPECT_EQ(readBytes(directory / "a.rvx"), input);

  // A call that a signal interrupts is made again, and the output is whole.
  for (const char* fault : {"fail:open:2:EINTR", "fail:write:1:EINTR"}) {
    SCOPED_TRACE(fault);
    fs::remove(directory / "new.csv");
    const Outcome interrupted = runRvx(words("export a.rvx -o new.csv"), directory, {0, fault});
    EXPECT_EQ(interrupted.status, 0) << interrupted.err;
    EXPECT_EQ(readBytes(directory / "new.csv"), exported);
  }
}

}  // namespace
}  // namespace rvx::test
