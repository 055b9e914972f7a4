#include "plots/plot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <sstream>

namespace rvx {
namespace {

TEST(ColumnEnvelope, KeepsMinimumAndMaximumOfEachColumn) {
  // 10 records on 4 columns: columns of 3, 2, 3, 2 records.
  ColumnEnvelope envelope(10, 4);
  ASSERT_EQ(envelope.columns(), 4u);
  const float values[10] = {5, -1, 2, 7, 7, 0, 9, -3, 4, 4};
  for (uint64_t i = 0; i < 10; ++i) envelope.add(i, values[i]);
  uint64_t covered = 0;
  for (uint32_t c = 0; c < envelope.columns(); ++c) {
    EXPECT_EQ(envelope.firstRecord(c), covered);
    covered = envelope.endRecord(c);
  }
  EXPECT_EQ(covered, 10u);
  EXPECT_EQ(envelope.minimum(0), -1);
  EXPECT_EQ(envelope.maximum(0), 5);
  EXPECT_FALSE(envelope.minimumFirst(0));  // 5 came before -1
  EXPECT_EQ(envelope.minimum(1), 7);
  EXPECT_EQ(envelope.maximum(1), 7);
  EXPECT_EQ(envelope.minimum(2), -3);
  EXPECT_EQ(envelope.maximum(2), 9);
  EXPECT_EQ(envelope.minimum(3), 4);
}

TEST(ColumnEnvelope, EveryRecordLandsInTheColumnThatCoversIt) {
  for (uint64_t records : {1ull, 7ull, 899ull, 900ull, 901ull, 123457ull}) {
    ColumnEnvelope envelope(records, 900);
    EXPECT_EQ(envelope.columns(), std::min<uint64_t>(records, 900));
    for (uint64_t i = 0; i < records; ++i) envelope.add(i, static_cast<float>(i));
    for (uint32_t c = 0; c < envelope.columns(); ++c) {
      ASSERT_TRUE(envelope.filled(c));
      EXPECT_EQ(envelope.minimum(c), static_cast<float>(envelope.firstRecord(c)));
      EXPECT_EQ(envelope.maximum(c), static_cast<float>(envelope.endRecord(c) - 1));
    }
  }
}

TEST(ColumnEnvelope, MarksValuesThatCannotBeDrawnAndKeepsBits) {
  ColumnEnvelope envelope(6, 3);
  envelope.add(0, NAN);
  envelope.add(1, -INFINITY);
  envelope.add(2, INFINITY);
  envelope.add(3, 1.5f);
  envelope.addBits(4, 0b0110);
  envelope.addBits(5, 0b0011);
  EXPECT_FALSE(envelope.filled(0));
  EXPECT_EQ(envelope.marks(0), kNaNMark | kMinusInfMark);
  EXPECT_EQ(envelope.marks(1), kPlusInfMark);
  EXPECT_EQ(envelope.minimum(1), 1.5f);
  EXPECT_EQ(envelope.markedRecords(kNaNMark), 1u);
  EXPECT_TRUE(envelope.filled(2));
  EXPECT_EQ(envelope.bitsSet(2), 0b0111u);
  EXPECT_EQ(envelope.bitsClear(2) & 0b1111u, 0b1101u);  // bit 1 never clear
}

TEST(NiceTicks, StepsOfOneTwoOrFive) {
  EXPECT_EQ(niceTicks(0, 10, 5), (std::vector<double>{0, 2, 4, 6, 8, 10}));
  EXPECT_EQ(niceTicks(-0.35, 0.35, 4), (std::vector<double>{-0.2, 0, 0.2}));
  EXPECT_EQ(niceTicks(1, 1, 4), std::vector<double>{});
  const auto ticks = niceTicks(0, 9.999, 8);
  EXPECT_EQ(ticks.front(), 0);
  EXPECT_EQ(ticks.back(), 8);
}

TEST(TickLabels, NeighboursDiffer) {
  EXPECT_EQ(tickLabels(niceTicks(0, 10, 5)),
            (std::vector<std::string>{"0", "2", "4", "6", "8", "10"}));
  EXPECT_EQ(tickLabels({0.25, 0.3, 0.35}), (std::vector<std::string>{"0.25", "0.30", "0.35"}));
  for (const auto& [low, high] : {std::pair{101324.4, 101325.6}, std::pair{1e12 - 3e5, 1e12 + 3e5},
                                  std::pair{1.5e-7, 1.5003e-7}, std::pair{-0.002, 0.001}}) {
    const std::vector<std::string> labels = tickLabels(niceTicks(low, high, 5));
    ASSERT_GE(labels.size(), 3u) << low;
    for (size_t i = 1; i < labels.size(); ++i) EXPECT_NE(labels[i - 1], labels[i]) << low;
  }
}

TEST(PlotSvg, SizeDoesNotGrowWithTheRecordCount) {
  std::vector<PlotChannel> channels;
  channels.push_back({"p1 [bar] <&>", 0, ColumnEnvelope(1000000, 300)});
  for (uint64_t i = 0; i < 1000000; ++i)
    channels[0].envelope.add(i, std::sin(static_cast<float>(i) * 1e-3f));
  std::ostringstream svg;
  writeSvg(svg, drawPlot("title \"x\"", PlotTime{0, 0.001, {}}, channels, PlotLayout{300, 100}));
  const std::string text = svg.str();
  EXPECT_LT(text.size(), 20000u);
  EXPECT_NE(text.find("p1 [bar] &lt;&amp;&gt;"), std::string::npos);
  EXPECT_NE(text.find("title &quot;x&quot;"), std::string::npos);
  EXPECT_EQ(text.find("<&>"), std::string::npos);
}

std::vector<const Shape*> shapes(const Drawing& drawing, const std::string& role) {
  std::vector<const Shape*> found;
  for (const Shape& shape : drawing.shapes)
    if (shape.role == role) found.push_back(&shape);
  return found;
}

// An overlay of as many channels as a recording holds: each channel's line
// and legend entry in a colour and stroke that no other has.
TEST(PlotDrawing, OverlayGivesEveryChannelAStrokeOfItsOwn) {
  std::vector<PlotChannel> channels;
  for (int k = 0; k < 48; ++k) {
    channels.push_back({"c" + std::to_string(k), 0, ColumnEnvelope(10, 100)});
    for (uint64_t i = 0; i < 10; ++i) channels.back().envelope.add(i, static_cast<float>(i * k));
  }
  const Drawing drawing =
      drawPlot("t", PlotTime{0, 0.001, {}}, channels, PlotLayout{400, 100, true});
  for (const char* role : {"data", "legend-stroke"}) {
    std::set<std::pair<uint32_t, std::vector<double>>> strokes;
    for (const Shape* shape : shapes(drawing, role)) strokes.insert({shape->stroke, shape->dashes});
    EXPECT_EQ(strokes.size(), 48u) << role;
  }
}

// A value that has no neighbour to draw a line to shows as a point: the
// only record of a plot, or a value between NaN.
TEST(PlotDrawing, ALoneValueIsAPoint) {
  std::vector<PlotChannel> one;
  one.push_back({"p1", 0, ColumnEnvelope(1, 300)});
  one[0].envelope.add(0, 2.5f);
  const Drawing single = drawPlot("t", PlotTime{7, 0.001, {}}, one, PlotLayout{300, 100});
  ASSERT_EQ(shapes(single, "point").size(), 1u);
  const Shape& frame = *shapes(single, "frame").front();
  const Shape& point = *shapes(single, "point").front();
  EXPECT_NEAR(point.x + point.width / 2, frame.x + frame.width / 2, 0.5);  // in the middle
  ASSERT_EQ(shapes(single, "x-tick").size(), 1u);
  EXPECT_EQ(shapes(single, "x-tick").front()->text, "0.007");

  std::vector<PlotChannel> gaps;
  gaps.push_back({"p1", 0, ColumnEnvelope(5, 300)});
  const float values[] = {NAN, 1, NAN, 2, 3};
  for (uint64_t i = 0; i < 5; ++i) gaps[0].envelope.add(i, values[i]);
  const Drawing drawing = drawPlot("t", PlotTime{0, 0.001, {}}, gaps, PlotLayout{300, 100});
  EXPECT_EQ(shapes(drawing, "point").size(), 1u);                // record 1
  EXPECT_EQ(shapes(drawing, "data").front()->lines.size(), 1u);  // records 3 and 4
}

}  // namespace
}  // namespace rvx
