// The small argument languages of rvx.
#include <gtest/gtest.h>

#include "shared/arguments.h"

namespace rvx {
namespace {

TEST(RecordRange, BothEndsIncludedAndEitherOptional) {
  constexpr uint64_t kOpen = UINT64_MAX;  // no last record given
  const struct {
    const char* text;
    uint64_t first, last;
  } cases[] = {{"10:19", 10, 19}, {"5:", 5, kOpen}, {":3", 0, 3}, {"7", 7, 7}};
  for (const auto& c : cases) {
    const auto range = parseRecordRange(c.text);
    ASSERT_TRUE(range) << c.text;
    EXPECT_EQ(range->first, c.first) << c.text;
    EXPECT_EQ(range->last.value_or(kOpen), c.last) << c.text;
  }
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

  using enum TimeUnit;
  const std::pair<const char*, std::optional<TimeUnit>> kTimeHeadings[] = {
      {"time [s]", Seconds},        {"Time", Seconds},
      {"Zeit [s]", Seconds},        {"t [ms]", Milliseconds},
      {"time [min]", std::nullopt}, {"T1", std::nullopt}};
  for (const auto& [text, unit] : kTimeHeadings) EXPECT_EQ(timeHeading(text), unit) << text;
}

}  // namespace
}  // namespace rvx
