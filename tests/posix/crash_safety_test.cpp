// Crash safety: a recording process killed with SIGKILL at random moments
// (while it creates the file, defines channels, appends records or updates
// the header), a few hundred times. After each kill every record whose
// KDRVX_AddRecord returned 0 is on disk as written, the file opens through
// the read path and reads those records back, and `rvx repair` recounts the
// whole records and computes their statistics as the final update would. A modification killed while it writes
// its header back never damages the data area.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "format/layout.h"
#include "kdrvx/kdrvx.h"
#include "support/write_support.h"

namespace kdrvx::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kIterations = 300;
constexpr auto kTimeBudget = std::chrono::seconds(40);
constexpr uint32_t kChannelsDefined = 0xFFFFFFFF;
constexpr uint32_t kUpdateEvery = 97;

// The value of channel k in record r (from 0): exact in single precision,
// negative for odd channels, so that the statistics have something to do.
float valueOf(uint32_t r, uint32_t k) {
  const auto v = static_cast<float>((r * 7 + k * 13) % 4099) * 0.25f;
  return k % 2 ? -v : v;
}

// The recording process: create, channels, then records until killed.
// Reports kChannelsDefined once the channels are there, then the number of
// each record acknowledged.
[[noreturn]] void record(std::u16string path, uint32_t channels, int report) {
  if (KDRVX_Create(writable(path), 1, 1) != KDRVX_OK) _exit(1);
  for (uint32_t k = 0; k < channels; ++k) {
    const std::u16string variable = u"p" + widen(std::to_string(k + 1));
    if (KDRVX_AddChannel(c(variable)) != k) _exit(2);
  }
  if (write(report, &kChannelsDefined, sizeof kChannelsDefined) != sizeof kChannelsDefined) _exit(3);
  std::vector<float> values(channels);
  for (uint32_t r = 0;; ++r) {
    for (uint32_t k = 0; k < channels; ++k) values[k] = valueOf(r, k);
    if (KDRVX_AddRecord(values.data()) != KDRVX_OK) _exit(4);
    const uint32_t acknowledged = r + 1;
    if (write(report, &acknowledged, sizeof acknowledged) != sizeof acknowledged) _exit(5);
    if (acknowledged % kUpdateEvery == 0 && KDRVX_Update() != KDRVX_OK) _exit(6);
  }
}

struct Outcome {
  bool channelsDefined = false;
  uint32_t acknowledged = 0;
};

// Starts `work` in a child and kills it `delay` after it has defined its
// channels, or, with `early`, `delay` after it was started. Returns what
// it reported.
template <typename Work>
Outcome killAfter(std::chrono::microseconds delay, bool early, Work work) {
  int pipeEnds[2];
  EXPECT_EQ(pipe(pipeEnds), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(pipeEnds[0]);
    work(pipeEnds[1]);
  }
  close(pipeEnds[1]);
  Outcome outcome;
  uint32_t message;
  // Counting from the channels keeps the moments of the kills spread over
  // the recording however slowly a loaded machine starts the process.
  while (!early && !outcome.channelsDefined &&
         read(pipeEnds[0], &message, sizeof message) == sizeof message) {
    outcome.channelsDefined = message == kChannelsDefined;
  }
  std::this_thread::sleep_for(delay);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  while (read(pipeEnds[0], &message, sizeof message) == sizeof message) {
    if (message == kChannelsDefined) outcome.channelsDefined = true;
    else outcome.acknowledged = message;
  }
  close(pipeEnds[0]);
  return outcome;
}

// Runs `rvx repair` on the file in place; true when it succeeded.
bool repair(const std::filesystem::path& file) {
  const std::string command =
      std::string("'") + KDRVX_RVX_TOOL + "' repair '" + file.string() + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

class CrashSafety : public WriteTest {};

TEST_F(CrashSafety, AcknowledgedRecordsSurviveAKillAtAnyMoment) {
  std::mt19937 random(20240307);
  const auto start = Clock::now();
  int iterations = 0, withRecords = 0;
  for (; iterations < kIterations && Clock::now() - start < kTimeBudget; ++iterations) {
    const uint32_t channels = 1 + random() % 6;
    // Mostly during the recording; now and then while creating.
    const bool early = random() % 8 == 0;
    const auto delay = std::chrono::microseconds(early ? random() % 800 : random() % 10000);
    const std::string name = "run" + std::to_string(iterations % 4) + ".rvx";
    std::filesystem::remove(dir.file(name));
    const std::u16string path = dir.wide(name);
    const Outcome outcome =
        killAfter(delay, early, [&](int report) { record(path, channels, report); });
    SCOPED_TRACE(testing::Message() << "iteration " << iterations << ", " << channels
                                    << " channels, " << outcome.acknowledged << " acknowledged");
    if (!outcome.channelsDefined) continue;

    // On disk: the header, then at least the acknowledged records intact.
    const std::string disk = readBytes(dir.file(name));
    const uint32_t header = format::headerLength(channels);
    ASSERT_GE(disk.size(), header + uint64_t{outcome.acknowledged} * 4 * channels);
    const auto whole = static_cast<uint32_t>((disk.size() - header) / (4 * channels));
    for (uint32_t i = 0; i < whole * channels; ++i) {
      float value;
      std::memcpy(&value, disk.data() + header + 4 * i, 4);
      ASSERT_EQ(value, valueOf(i / channels, i % channels)) << "value " << i;
    }

    // Through the read path: every whole record.
    ASSERT_EQ(KDRVX_OpenRead(c(path)), 0u);
    ASSERT_EQ(KDRVX_GetNoChannels(), channels);
    std::vector<float> values(channels);
    uint32_t read = 0;
    for (uint32_t status = KDRVX_ReadFirstRecord(values.data()); status == 0;
         status = KDRVX_ReadNextRecord(values.data())) {
      ASSERT_EQ(values[0], valueOf(read, 0));
      ++read;
    }
    EXPECT_EQ(read, whole);
    ASSERT_EQ(KDRVX_CloseRead(), 0u);
    if (outcome.acknowledged > 0) ++withRecords;

    // Repaired: the count of whole records and their statistics, as the
    // final update computes them.
    ASSERT_TRUE(repair(dir.file(name)));
    ASSERT_EQ(KDRVX_OpenRead(c(path)), 0u);
    EXPECT_EQ(KDRVX_GetNoRecords(), whole);
    if (whole > 0) {
      EXPECT_EQ(KDRVX_GetFlagStatistics(), 3u);
    }
    for (uint32_t k = 0; k < channels && whole > 0; ++k) {
      float lo = valueOf(0, k), hi = lo;
      double sum = 0, squares = 0;
      for (uint32_t r = 0; r < whole; ++r) {
        const float v = valueOf(r, k);
        lo = std::min(lo, v), hi = std::max(hi, v), sum += v, squares += double{v * v};
      }
      const auto rms = static_cast<float>(std::sqrt(double{static_cast<float>(squares / whole)}));
      const auto channel = static_cast<int16_t>(k);
      EXPECT_EQ(std::vector<float>({KDRVX_GetChannelMinValue(channel),
                                    KDRVX_GetChannelMaxValue(channel),
                                    KDRVX_GetChannelMeanValue(channel),
                                    KDRVX_GetChannelRMSValue(channel)}),
                std::vector<float>({lo, hi, static_cast<float>(sum / whole), rms}))
          << k;
    }
    ASSERT_EQ(KDRVX_CloseRead(), 0u);
  }
  EXPECT_GE(iterations, 20);  // a loaded machine manages fewer in the time budget
  EXPECT_GE(withRecords, 1);
}

// The data area of a finished file stays as it was however often a
// modification is killed while it runs; the header stays one that the
// read path accepts.
TEST_F(CrashSafety, AKilledModificationLeavesTheDataAlone) {
  const uint32_t channels = 3, records = 2000;
  const std::u16string path = create("mod.rvx", {u"p1", u"p2", u"T1"});
  std::vector<float> values(channels);
  for (uint32_t r = 0; r < records; ++r) {
    for (uint32_t k = 0; k < channels; ++k) values[k] = valueOf(r, k);
    ASSERT_EQ(KDRVX_AddRecord(values.data()), 0u);
  }
  ASSERT_EQ(KDRVX_CloseCreate(), 0u);
  const std::string before = bytes("mod.rvx");
  const uint32_t header = format::headerLength(channels);

  std::mt19937 random(4711);
  const auto start = Clock::now();
  int iterations = 0;
  for (; iterations < kIterations && Clock::now() - start < kTimeBudget / 2; ++iterations) {
    SCOPED_TRACE(iterations);
    killAfter(std::chrono::microseconds(random() % 3000), true, [&](int) {
      const std::u16string comment(1 + iterations % 291, static_cast<char16_t>(u'a' + iterations % 26));
      KDRVX_CHAR current[292];
      for (;;) {
        if (KDRVX_OpenModify(c(path)) != KDRVX_OK) _exit(1);
        KDRVX_ModifyComment(current, c(comment));
        KDRVX_CloseModify();
      }
    });
    const std::string after = bytes("mod.rvx");
    ASSERT_EQ(after.size(), before.size());
    ASSERT_EQ(after.compare(header, std::string::npos, before, header, std::string::npos), 0);
    ASSERT_EQ(KDRVX_OpenRead(c(path)), 0u);
    EXPECT_EQ(KDRVX_GetNoChannels(), channels);
    EXPECT_EQ(KDRVX_GetNoRecords(), records);
    ASSERT_EQ(KDRVX_CloseRead(), 0u);
  }
  EXPECT_GE(iterations, 20);
}

}  // namespace
}  // namespace kdrvx::test
