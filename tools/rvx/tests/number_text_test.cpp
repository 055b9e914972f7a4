#include "shared/number_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace rvx {
namespace {

float readBack(const std::string& text) {
  float value = -1;
  EXPECT_TRUE(parseFloat(text, value)) << text;
  return value;
}

TEST(FloatText, EveryFloatReadsBackBitForBit) {
  // Random bit patterns cover normals, subnormals, both zeros and the
  // extremes; NaNs keep their bits too.
  std::mt19937 random(7);
  for (int i = 0; i < 200000; ++i) {
    uint32_t bits = random();
    if (i % 16 == 0) bits |= 0x7F800001u;  // a NaN with some payload and sign
    const float value = std::bit_cast<float>(bits);
    const std::string text = floatText(value);
    ASSERT_EQ(std::bit_cast<uint32_t>(readBack(text)), bits) << text;
  }
  for (float value :
       {0.0f, -0.0f, std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::min(),
        std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(),
        std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()}) {
    EXPECT_EQ(std::bit_cast<uint32_t>(readBack(floatText(value))), std::bit_cast<uint32_t>(value));
  }
}

TEST(FloatText, IsTheShortestText) {
  EXPECT_EQ(floatText(0.1f), "0.1");
  EXPECT_EQ(floatText(-0.0f), "-0");
  EXPECT_EQ(floatText(1.0f), "1");
  EXPECT_EQ(floatText(12.34f), "12.34");
  EXPECT_EQ(floatText(1e-45f), "1e-45");
  EXPECT_EQ(floatText(3.4028235e38f), "3.4028235e+38");
  EXPECT_EQ(floatText(123456792.0f), "123456792");
  EXPECT_EQ(floatText(std::numeric_limits<float>::quiet_NaN()), "nan");
  EXPECT_EQ(floatText(-std::numeric_limits<float>::quiet_NaN()), "-nan");
  EXPECT_EQ(floatText(std::bit_cast<float>(0x7FC00123u)), "nan(0x7fc00123)");
  EXPECT_EQ(floatText(std::bit_cast<float>(0xFF800001u)), "nan(0xff800001)");
  EXPECT_EQ(floatText(-std::numeric_limits<float>::infinity()), "-inf");
}

TEST(FloatText, ParsingAcceptsCommonFormsAndRefusesTheRest) {
  EXPECT_EQ(readBack(" +2.5 "), 2.5f);
  EXPECT_EQ(readBack("1E3"), 1000.0f);
  EXPECT_TRUE(std::isnan(readBack("NaN")));
  EXPECT_EQ(readBack("-Infinity"), -std::numeric_limits<float>::infinity());
  // Below the smallest subnormal: a zero of its sign.
  EXPECT_EQ(std::bit_cast<uint32_t>(readBack("-1e-60")), std::bit_cast<uint32_t>(-0.0f));
  EXPECT_EQ(std::bit_cast<uint32_t>(readBack("1e-400")), 0u);
  float value = 0;
  EXPECT_EQ(std::bit_cast<uint32_t>(readBack("NAN(0X7FC00123)")), 0x7FC00123u);
  for (const char* bad :
       {"", " ", "1e39", "-1e400", "1,5", "0x10", "++1", "+-1", "1.5.2", "abc", "1 2", "nan(123)",
        "nan(0x3f800000)", "-nan(0x7fc00123)", "nan(0x7fc00123"}) {
    EXPECT_FALSE(parseFloat(bad, value)) << bad;
    // Only a magnitude beyond the largest float is told apart from no number.
    const std::string text = bad;
    EXPECT_EQ(beyondFloat(bad), text == "1e39" || text == "-1e400") << bad;
  }
  EXPECT_TRUE(beyondFloat(" +3.40282357e38 "));
  // Bits that are no NaN's, or no bits at all, are no number; a magnitude
  // beyond a double's is beyond a float's too, one below the smallest is not.
  for (const char* bad : {"nan(0x)", "nan(0xzz)", "nan(0x7f800000)", "nana"})
    EXPECT_FALSE(parseFloat(bad, value)) << bad;
  const std::string huge = "1" + std::string(400, '0');
  EXPECT_FALSE(parseFloat(huge, value));
  EXPECT_TRUE(beyondFloat(huge));
  EXPECT_FALSE(beyondFloat("1e-50"));
}

TEST(SecondsText, IsExactDecimalSeconds) {
  EXPECT_EQ(secondsText(0), "0");
  EXPECT_EQ(secondsText(1500), "0.0015");
  EXPECT_EQ(secondsText(2000000), "2");
  EXPECT_EQ(secondsText(9999000), "9.999");
  EXPECT_EQ(secondsText(-250), "-0.00025");
  EXPECT_EQ(secondsText(1), "0.000001");
  // Read as decimals: whole microseconds, give or take what printing a
  // double adds; anything finer is a fraction.
  const struct {
    const char* text;
    int64_t microseconds;
    bool whole;
  } kSeconds[] = {{"0.0015", 1500, true},
                  {"1e-3", 1000, true},
                  {"-2.5E+1", -25000000, true},
                  {"0.30000000000000004", 300000, true},
                  {"0.0000015", 2, false},
                  {"0.0000014", 1, false},
                  {"7.9999999999", 8000000, true},
                  {"0", 0, true},
                  // Whole within a thousandth of a microsecond only.
                  {"0.00000001", 0, false},
                  {"0.000000001", 0, false},
                  {"0.0000009", 1, false},
                  {"0.00000099", 1, false},
                  {"9223372036854.775807", INT64_MAX, true}};
  for (const auto& c : kSeconds) {
    const auto seconds = parseSeconds(c.text);
    ASSERT_TRUE(seconds) << c.text;
    EXPECT_EQ(seconds->microseconds, c.microseconds) << c.text;
    EXPECT_EQ(seconds->whole, c.whole) << c.text;
  }
  // Every text it writes reads back to the same microseconds.
  for (int64_t us : {int64_t{0}, int64_t{1}, int64_t{999999}, int64_t{123456789012}}) {
    EXPECT_EQ(parseSeconds(secondsText(us))->microseconds, us);
  }
  // Nor is a time beyond 64 bits of microseconds, however it is written.
  for (const char* bad :
       {"1s", "", ".", "1e", "inf", "nan", "1e400", "--1", "1e401", "9223372036854.775808",
        "18446744073709.551616", "18446744073709.5516155", "99999999999999999999999"})
    EXPECT_FALSE(parseSeconds(bad)) << bad;
}

TEST(ShortestDouble, PrintsAsTheFloatText) {
  EXPECT_EQ(shortestDouble(0.1f), 0.1);
  EXPECT_EQ(static_cast<float>(shortestDouble(0.1f)), 0.1f);
  EXPECT_EQ(shortestDouble(-3.25f), -3.25);
  EXPECT_EQ(shortestDouble(-std::numeric_limits<float>::infinity()),
            -std::numeric_limits<double>::infinity());
}

}  // namespace
}  // namespace rvx
