// The running statistics of a recording in both vector paths: the AVX2
// tiles (where the processor has AVX2) and the baseline tiles give, bit for
// bit, what following the same records one at a time gives, NaN payloads
// included, whatever the number of channels and the sizes of the blocks.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "format/statistics.h"

namespace kdrvx::test {
namespace {

namespace statistics = format::statistics;

float fromBits(uint32_t bits) { return std::bit_cast<float>(bits); }

// Numbers of several magnitudes and signs, and now and then what the
// statistics must get right: quiet and signalling NaNs of many payloads and
// both signs, both infinities (whose sum is a NaN of its own), zeros of both
// signs, subnormals and values whose squares overflow.
std::vector<float> sampleValues(uint32_t records, uint32_t channels, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> number(-1000.0f, 1000.0f);
  std::uniform_int_distribution<uint32_t> kind(0, 99);
  std::vector<float> values(static_cast<size_t>(records) * channels);
  for (float& value : values) {
    switch (kind(random)) {
      case 0: value = fromBits(0x7FC00000u | (random() & 0x3FFFFFu)); break;
      case 1: value = fromBits(0xFF800001u | (random() & 0x3FFFFFu)); break;
      case 2: value = INFINITY; break;
      case 3: value = -INFINITY; break;
      case 4: value = -0.0f; break;
      case 5: value = 0.0f; break;
      case 6: value = fromBits(random() & 0x807FFFFFu); break;
      case 7: value = 3e38f; break;
      default: value = number(random) * std::ldexp(1.0f, static_cast<int>(kind(random) % 20) - 10);
    }
  }
  return values;
}

// The records followed in blocks of the given sizes (the first record
// starting the statistics), in the given vectors.
statistics::Running followInBlocks(const std::vector<float>& values, uint32_t channels,
                                   const std::vector<uint32_t>& blocks,
                                   statistics::Vectors vectors) {
  statistics::Running running{};
  statistics::start(running, values.data(), channels);
  uint32_t done = 1;
  for (uint32_t block : blocks) {
    statistics::followRecords(running, values.data() + static_cast<size_t>(done) * channels,
                              block, channels, vectors);
    done += block;
  }
  return running;
}

// Record after record, one call each: the definition the blocks must meet.
statistics::Running followOneAtATime(const std::vector<float>& values, uint32_t channels,
                                     uint32_t records) {
  statistics::Running running{};
  statistics::start(running, values.data(), channels);
  for (uint32_t r = 1; r < records; ++r)
    statistics::followRecords(running, values.data() + static_cast<size_t>(r) * channels, 1,
                              channels, statistics::Vectors::baseline);
  return running;
}

void expectSameBytes(const statistics::Running& expected, const statistics::Running& actual,
                     uint32_t channels, const char* what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(0, std::memcmp(expected.minimum, actual.minimum, channels * sizeof(float)));
  EXPECT_EQ(0, std::memcmp(expected.maximum, actual.maximum, channels * sizeof(float)));
  EXPECT_EQ(0, std::memcmp(expected.sumValues, actual.sumValues, channels * sizeof(double)));
  EXPECT_EQ(0, std::memcmp(expected.sumSquares, actual.sumSquares, channels * sizeof(double)));
}

TEST(RunningStatistics, BothVectorPathsGiveTheBytesOfSingleRecords) {
  const bool avx2 = statistics::hasAvx2();
  // Pairs of groups of eight, a group of eight, of four, a rest, and the
  // most channels there are; blocks shorter than a tile, of several tiles,
  // and with a tile's rest.
  const std::vector<uint32_t> blocks = {5, 64, 300, 4, 129, 1000};
  uint32_t records = 1;
  for (uint32_t block : blocks) records += block;
  for (uint32_t channels : {1u, 3u, 4u, 7u, 8u, 12u, 13u, 16u, 29u, 40u,
                            static_cast<uint32_t>(format::kMaxChannels)}) {
    SCOPED_TRACE(channels);
    const std::vector<float> values = sampleValues(records, channels, channels);
    const statistics::Running expected = followOneAtATime(values, channels, records);
    expectSameBytes(expected,
                    followInBlocks(values, channels, blocks, statistics::Vectors::baseline),
                    channels, "baseline");
    if (avx2)
      expectSameBytes(expected,
                      followInBlocks(values, channels, blocks, statistics::Vectors::avx2),
                      channels, "AVX2");
  }
  if (!avx2) GTEST_SKIP() << "no AVX2 on this processor: only the baseline path ran";
}

// A channel that sees a NaN value keeps the last one's payload in both
// sums, a signalling one quietened, and an infinity less an infinity is
// the processor's own NaN until a NaN value follows.
TEST(RunningStatistics, TheLastNaNValueSetsTheSumsInBothPaths) {
  constexpr uint32_t kChannels = 9;
  constexpr uint32_t kRecords = 200;
  std::vector<float> values(kChannels * kRecords, 1.5f);
  values[10 * kChannels + 0] = std::bit_cast<float>(0x7FC00011u);
  values[150 * kChannels + 0] = std::bit_cast<float>(0xFF800022u);  // signalling, negative
  values[20 * kChannels + 8] = INFINITY;
  values[30 * kChannels + 8] = -INFINITY;
  values[40 * kChannels + 4] = std::bit_cast<float>(0x7FC00033u);
  values[41 * kChannels + 4] = INFINITY;
  values[42 * kChannels + 4] = -INFINITY;
  std::vector<statistics::Vectors> paths = {statistics::Vectors::baseline};
  if (statistics::hasAvx2()) paths.push_back(statistics::Vectors::avx2);
  for (statistics::Vectors path : paths) {
    const statistics::Running running = followInBlocks(values, kChannels, {kRecords - 1}, path);
    EXPECT_EQ(std::bit_cast<uint64_t>(static_cast<double>(std::bit_cast<float>(0xFFC00022u))),
              std::bit_cast<uint64_t>(running.sumValues[0]));
    EXPECT_EQ(std::bit_cast<uint64_t>(running.sumValues[0]),
              std::bit_cast<uint64_t>(running.sumSquares[0]));
    EXPECT_EQ(std::bit_cast<uint64_t>(static_cast<double>(std::bit_cast<float>(0x7FC00033u))),
              std::bit_cast<uint64_t>(running.sumValues[4]));
    EXPECT_TRUE(std::isnan(running.sumValues[8]));
    EXPECT_EQ(INFINITY, running.sumSquares[8]);
    EXPECT_EQ(-INFINITY, running.minimum[8]);
    EXPECT_EQ(1.5f, running.minimum[0]);
  }
}

}  // namespace
}  // namespace kdrvx::test
