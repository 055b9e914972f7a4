// The small argument languages of rvx.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "shared/arguments.h"
#include "shared/file_patterns.h"

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

// Wildcards as Windows expands them: which arguments were quoted, what a
// pattern matches, and the files it becomes.
TEST(FilePatterns, QuotedArgumentsMatchesAndExpansion) {
  EXPECT_EQ(quotedArguments(uR"("C:\rvx dir\rvx.exe" check *.rvx "a b*.rvx" x"*".rvx a\"b*)"),
            std::vector<bool>({true, false, false, true, true, false}));
  EXPECT_EQ(quotedArguments(uR"(rvx.exe  "say ""hi""" \\"a*" end)"),
            std::vector<bool>({false, true, true, false}));
  EXPECT_TRUE(matchesPattern(u"Run1.RVX", u"run?.rvx"));
  EXPECT_TRUE(matchesPattern(u"a.b.rvx", u"*.rvx"));
  EXPECT_TRUE(matchesPattern(u"x", u"*"));
  EXPECT_FALSE(matchesPattern(u"run10.rvx", u"run?.rvx"));
  EXPECT_FALSE(matchesPattern(u"a.rvx.csv", u"*.rvx"));

  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("rvx_patterns_" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir / "d.rvx");  // a folder does not match
  for (const char* name : {"b.rvx", "A.rvx", "c.csv"}) std::ofstream(dir / name) << "x";
  const std::string in = dir.string() + "/";
  EXPECT_EQ(
      expandFilePatterns(
          {{in + "*.rvx", false}, {in + "*.rvx", true}, {"-o*", false}, {in + "none*", false}}),
      std::vector<std::string>({in + "A.rvx", in + "b.rvx", in + "*.rvx", "-o*", in + "none*"}));
  std::filesystem::remove_all(dir);
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
