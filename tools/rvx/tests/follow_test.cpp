// rvx follow as a process beside a writer that records live
// (support/live_writer.cpp): what it prints while the recording grows, how
// it ends, and what it does with a writer that is killed.
#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "shared/number_text.h"
#include "support/cli_support.h"

namespace rvx::test {
namespace {

class Follow : public RvxTest {
 protected:
  // The live writer in the background, with its arguments (PATH RECORDS
  // BURST PAUSE and options, support/live_writer.cpp).
  std::unique_ptr<Background> writer(const std::vector<std::string>& arguments) {
    return std::make_unique<Background>(RVX_LIVE_WRITER, arguments, scratch.path(), "-writer");
  }
  // rvx follow in the background, its output in files named after `tag`.
  std::unique_ptr<Background> follow(const std::vector<std::string>& arguments,
                                     const std::string& tag) {
    std::vector<std::string> command = {"follow"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return std::make_unique<Background>(RVX_EXECUTABLE, command, scratch.path(), tag);
  }
};

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> all;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) all.push_back(line);
  return all;
}

size_t occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST_F(Follow, PrintsWhatExportPrintsOfTheFinishedRecordingFromBeforeTheFileExists) {
  // The followers start first; the writer creates the file after them and
  // records 2000 records in 20 bursts.
  auto all = follow({"live.rvx", "--timeout", "20"}, "-all");
  auto window =
      follow({"live.rvx", "--channels", "T2,p1", "--from", "0.5", "--timeout", "20"}, "-window");
  auto stats = follow({"live.rvx", "--stats", "0.05", "--timeout", "20"}, "-stats");
  const Outcome written = writer({"live.rvx", "2000", "100", "20", "--delay", "200"})->finish();
  ASSERT_EQ(written.status, 0) << written.err;

  const Outcome followed = all->finish();
  ASSERT_EQ(followed.status, 0) << followed.err;
  EXPECT_EQ(followed.err, "");
  const Outcome exported = rvx({"export", "live.rvx"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(lines(exported.out).size(), 2001u);
  EXPECT_EQ(followed.out, exported.out);

  const Outcome followedWindow = window->finish();
  ASSERT_EQ(followedWindow.status, 0) << followedWindow.err;
  const Outcome exportedWindow =
      rvx({"export", "live.rvx", "--channels", "T2,p1", "--from", "0.5"});
  ASSERT_EQ(exportedWindow.status, 0) << exportedWindow.err;
  EXPECT_EQ(lines(exportedWindow.out).size(), 1501u);
  EXPECT_EQ(followedWindow.out, exportedWindow.out);

  // Each line but the last covers the records that arrived since the line
  // before it (p1 is the record's number, so its minimum and maximum tell
  // which); the last one all of them, with the statistics of the known
  // values (the multichannel M1 left out).
  const Outcome followedStats = stats->finish();
  ASSERT_EQ(followedStats.status, 0) << followedStats.err;
  const std::vector<std::string> statsLines = lines(followedStats.out);
  ASSERT_GE(statsLines.size(), 2u) << followedStats.out;
  uint64_t before = 0;
  for (size_t i = 0; i + 1 < statsLines.size(); ++i) {
    const std::string& line = statsLines[i];
    const uint64_t count = std::stoull(line);
    const std::string p1 = count == 0
                               ? "0 records: p1 min - max - mean -;"
                               : counted(count, "record") + ": p1 min " + std::to_string(before) +
                                     " max " + std::to_string(before + count - 1) + " mean ";
    EXPECT_EQ(line.substr(0, p1.size()), p1) << line;
    EXPECT_EQ(line.find("M1"), npos) << line;
    before += count;
  }
  EXPECT_LE(before, 2000u);
  const std::string last =
      "2000 records: p1 min 0 max 1999 mean 999.5; T2 min 20 max 29 mean "
      "24.5; dp1 min " +
      floatText(-1999.0f / 3.0f) + " max -0 mean -333.";
  EXPECT_EQ(statsLines.back().substr(0, last.size()), last);
}

TEST_F(Follow, ShowsEachBatchAtOnceAndWaitsOutAKilledWriterWhoseRecordsRepairRecovers) {
  auto follower = follow({"live.rvx", "--timeout", "3"}, "-follow");
  auto recording = writer({"live.rvx", "1000", "100", "10", "--hold-after", "450"});
  // The writer holds its 450 records open; the follower has shown them all
  // while it still runs, not in a buffer.
  std::string shown;
  for (int look = 0; look < 1000 && lines(shown).size() < 451; ++look) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    shown = follower->outputSoFar();
  }
  EXPECT_EQ(lines(shown).size(), 451u);
  // Another follower gives up while the writer still holds the file open.
  const Outcome impatient = follow({"live.rvx", "--timeout", "0.5"}, "-impatient")->finish();
  EXPECT_EQ(impatient.status, 3) << impatient.err;
  EXPECT_NE(impatient.err.find("live.rvx: no record arrived for 0.5 s (the writer still holds the "
                               "file)"),
            npos)
      << impatient.err;
  EXPECT_EQ(impatient.out, shown);
  recording->kill();
  recording->finish();

  const Outcome followed = follower->finish();
  EXPECT_EQ(followed.status, 3) << followed.err;
  EXPECT_EQ(occurrences(followed.err,
                        "warning: the writer stopped without closing the recording; "
                        "rvx repair live.rvx completes it"),
            1u)
      << followed.err;
  EXPECT_NE(followed.err.find("live.rvx: no record arrived for 3 s"), npos) << followed.err;
  EXPECT_EQ(followed.out, shown);

  ASSERT_EQ(rvx({"repair", "live.rvx"}).status, 0);
  const Outcome exported = rvx({"export", "live.rvx"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(followed.out, exported.out);
}

TEST_F(Follow, RefusesAFileThatIsNoRecordingAtOnceAndTimesOutWaitingForOne) {
  writeBytes(at("text.rvx"), "not a recording at all");
  const Outcome refused = rvx({"follow", "text.rvx", "--timeout", "20"});
  EXPECT_EQ(refused.status, 1) << refused.err;
  EXPECT_EQ(refused.out, "");

  const Outcome missing = rvx({"follow", "missing.rvx", "--timeout", "0.3"});
  EXPECT_EQ(missing.status, 3) << missing.err;
  EXPECT_NE(missing.err.find("missing.rvx: no record arrived for 0.3 s (the file does not exist)"),
            npos)
      << missing.err;
  EXPECT_EQ(missing.out, "");

  expectRun({"follow", "x.rvx", "--stats", "0"}, 2, "--stats: expected seconds above 0");
}

// A finished recording is followed at once: --stats gives the line of all
// its records, "-" for a channel without a number, and a start past its
// end leaves no record.
TEST_F(Follow, StatisticsOfAFinishedRecording) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  Recording done;
  done.channels = {{"p1", "bar", ""}, {"T1", "", ""}};
  done.records = {{1.5f, kNaN}, {2.0f, kNaN}, {3.0f, std::numeric_limits<float>::infinity()}};
  createRecording(at("done.rvx"), done);
  Outcome run = rvx({"follow", "done.rvx", "--stats", "1"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "3 records: p1 min 1.5 max 3 mean 2.1666667; T1 min - max - mean -\n");
  run = rvx({"follow", "done.rvx", "--stats", "1", "--from", "5"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "0 records: p1 min - max - mean -; T1 min - max - mean -\n");
}

}  // namespace
}  // namespace rvx::test
