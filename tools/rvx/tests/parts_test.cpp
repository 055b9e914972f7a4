// The small pure parts of rvx: argument languages, layout detection and the
// library's statistics arithmetic.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "arguments.h"
#include "statistics.h"

namespace rvx {
namespace {

TEST(RecordRange, BothEndsIncludedAndEitherOptional) {
  auto range = parseRecordRange("10:19");
  ASSERT_TRUE(range);
  EXPECT_EQ(range->first, 10u);
  EXPECT_EQ(*range->last, 19u);
  range = parseRecordRange("5:");
  ASSERT_TRUE(range);
  EXPECT_EQ(range->first, 5u);
  EXPECT_FALSE(range->last);
  range = parseRecordRange(":3");
  ASSERT_TRUE(range);
  EXPECT_EQ(range->first, 0u);
  EXPECT_EQ(*range->last, 3u);
  range = parseRecordRange("7");
  ASSERT_TRUE(range);
  EXPECT_EQ(range->first, 7u);
  EXPECT_EQ(*range->last, 7u);
  for (const char* bad : {"", ":", "3:2", "-1:4", "a:b", "1:2:3", "1.5:2"}) {
    EXPECT_FALSE(parseRecordRange(bad)) << bad;
  }
}

TEST(Arguments, LanguageMultichannelAndHeadings) {
  EXPECT_EQ(parseLanguage("de"), 0);
  EXPECT_EQ(parseLanguage("FR"), 2);
  EXPECT_EQ(parseLanguage("en"), 4);
  EXPECT_FALSE(parseLanguage("it"));

  const auto declaration = parseMultiChannelDeclaration("M1:8");
  ASSERT_TRUE(declaration);
  EXPECT_EQ(declaration->variable, "M1");
  EXPECT_EQ(declaration->bits, 8);
  EXPECT_FALSE(parseMultiChannelDeclaration("M1:33"));
  EXPECT_FALSE(parseMultiChannelDeclaration("M1:0"));
  EXPECT_FALSE(parseMultiChannelDeclaration("M1"));

  auto heading = splitHeading(" dp1 [mbar] ");
  EXPECT_EQ(heading.variable, "dp1");
  EXPECT_EQ(heading.unit, "mbar");
  heading = splitHeading("T2");
  EXPECT_EQ(heading.variable, "T2");
  EXPECT_EQ(heading.unit, "");
  heading = splitHeading("T1 [°C]");
  EXPECT_EQ(heading.unit, "°C");

  EXPECT_TRUE(isTimeHeading("time [s]"));
  EXPECT_TRUE(isTimeHeading("Time"));
  EXPECT_FALSE(isTimeHeading("time [ms]"));
  EXPECT_FALSE(isTimeHeading("T1"));
}

TEST(RecordStatistics, TheLibrarysArithmetic) {
  RecordStatistics statistics(2);
  const float records[] = {1.0f, NAN, 2.0f, 5.0f, 3.0f, -1.0f};
  statistics.add(records, 3);
  EXPECT_EQ(statistics.count(), 3u);
  EXPECT_EQ(statistics.minimum(0), 1.0f);
  EXPECT_EQ(statistics.maximum(0), 3.0f);
  EXPECT_EQ(statistics.mean(0), 2.0f);
  // Root of the mean square, rounded to float before the root.
  EXPECT_EQ(statistics.rms(0), static_cast<float>(std::sqrt(static_cast<double>(static_cast<float>(14.0 / 3)))));
  // A NaN in the first record stays the minimum and maximum: the strict
  // comparisons never move past it.
  EXPECT_TRUE(std::isnan(statistics.minimum(1)));
  EXPECT_TRUE(std::isnan(statistics.maximum(1)));

  // A value below the minimum never also raises the maximum.
  RecordStatistics falling(1);
  for (float value : {5.0f, 4.0f, 6.0f, 3.0f}) falling.add(&value);
  EXPECT_EQ(falling.minimum(0), 3.0f);
  EXPECT_EQ(falling.maximum(0), 6.0f);

  // Squares in single precision: 4097 squared (16785409) is no float, so
  // the float square differs from the double one.
  RecordStatistics squares(1);
  const float big = 4097.0f;
  squares.add(&big);
  EXPECT_EQ(squares.rms(0), static_cast<float>(std::sqrt(static_cast<double>(big * big))));
}

}  // namespace
}  // namespace rvx
