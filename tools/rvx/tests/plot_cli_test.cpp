// rvx plot, and the time window of export, run as processes. The plots are
// read back by a parser of their own (support/plot_reader.py: XML for SVG,
// chunks, CRCs and image data for PNG), and judged by their parts: ticks,
// lanes, marks, where things lie on the time axis.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>

#include "support/cli_support.h"

namespace rvx::test {
namespace {

using Json = nlohmann::json;

std::vector<Json> elements(const Json& svg, const std::string& role) {
  std::vector<Json> found;
  for (const Json& element : svg["elements"]) {
    if (element.value("class", "") == role) found.push_back(element);
  }
  return found;
}

double number(const Json& element, const char* attribute) {
  return std::stod(element.at(attribute).get<std::string>());
}

std::vector<std::string> texts(const Json& svg, const std::string& role) {
  std::vector<std::string> found;
  for (const Json& element : elements(svg, role)) found.push_back(element["text"]);
  return found;
}

// The points of a path: "M x,y L x,y ...".
std::vector<std::pair<double, double>> points(const Json& path) {
  std::vector<std::pair<double, double>> found;
  const std::string d = path["d"];
  for (size_t at = 0; (at = d.find_first_of("ML", at)) != std::string::npos;) {
    size_t end = 0;
    const double x = std::stod(d.substr(at + 1), &end);
    at += 1 + end + 1;  // the comma
    const double y = std::stod(d.substr(at), &end);
    found.emplace_back(x, y);
    at += end;
  }
  return found;
}

// Where a time lies: the line through the first and last tick of the time axis.
struct TimeScale {
  double x0 = 0, t0 = 0, pixelsPerSecond = 0;
  double x(double t) const { return x0 + (t - t0) * pixelsPerSecond; }
};
TimeScale timeScale(const Json& svg) {
  const std::vector<Json> ticks = elements(svg, "x-tick");
  if (ticks.size() < 2) return {};
  const double t0 = std::stod(ticks.front()["text"].get<std::string>());
  const double t1 = std::stod(ticks.back()["text"].get<std::string>());
  const double x0 = number(ticks.front(), "x"), x1 = number(ticks.back(), "x");
  return {x0, t0, (x1 - x0) / (t1 - t0)};
}

// A mark covers time `t` when its rectangle spans the pixel.
bool covers(const std::vector<Json>& marks, double x) {
  return std::any_of(marks.begin(), marks.end(), [x](const Json& mark) {
    return number(mark, "x") - 0.5 <= x && x <= number(mark, "x") + number(mark, "width") + 0.5;
  });
}

// Smallest and largest x of a path.
std::pair<double, double> xExtent(const Json& path) {
  const auto found = points(path);
  const auto [low, high] = std::minmax_element(
      found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  return {low->first, high->first};
}

class Plot : public RvxTest {
 protected:
  void SetUp() override {
    // 1000 records, 1 ms apart: a pressure of 101325 +- 0.5, a temperature
    // with NaN at 0.2 s, +inf at 0.7 s and -inf at 0.9 s, and three bits:
    // bit 0 always set, bit 1 never, bit 2 every other record.
    std::string csv = "time,p1 [mbar],T1 [°C],M1\n";
    char line[128];
    for (int i = 0; i < 1000; ++i) {
      const char* special = i == 200 ? "nan" : i == 700 ? "inf" : i == 900 ? "-inf" : nullptr;
      std::snprintf(line, sizeof line, "%.3f,%.9g,%s,%d\n", i / 1000.0,
                    101325 + 0.5 * std::sin(i * 0.01),
                    special ? special : std::to_string(20 + i * 0.01).c_str(), 1 | (i & 1) << 2);
      csv += line;
    }
    writeBytes(scratch.file("in.csv"), csv);
    ASSERT_EQ(rvx({"import", "in.csv", "-o", "rec.rvx", "--trigger-record", "300", "--multichannel",
                   "M1:3"})
                  .status,
              0);
  }
  // Plots `file` with `options` into `output` and reads the plot back.
  Json plot(const std::string& file, std::vector<std::string> options,
            const std::string& output = "out.svg") {
    options.insert(options.begin(), {"plot", file, "-o", output, "-f"});
    const Outcome run = rvx(options);
    EXPECT_EQ(run.status, 0) << run.err;
    return read(output);
  }
  Json read(const std::string& name) {
    const std::filesystem::path json = scratch.file(name + ".json");
    const std::string command = std::string(RVX_PYTHON) + " " + RVX_PLOT_READER + " '" +
                                scratch.file(name).string() + "' > '" + json.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << name << " does not read back";
    return Json::parse(readBytes(json), nullptr, false);
  }
};

TEST_F(Plot, PanelsShowValuesBitsMarksAndTheTrigger) {
  const Json svg = plot("rec.rvx", {});
  const std::vector<Json> frames = elements(svg, "frame");
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(texts(svg, "time-label"), std::vector<std::string>{"time [s]"});
  const TimeScale scale = timeScale(svg);
  ASSERT_GT(scale.pixelsPerSecond, 0);

  // A small variation on a large offset reads on distinct ticks.
  std::set<std::string> labels;
  const double top = number(frames[0], "y"), bottom = top + number(frames[0], "height");
  for (const Json& tick : elements(svg, "y-tick")) {
    if (number(tick, "y") < top || number(tick, "y") > bottom + 5) continue;
    labels.insert(tick["text"].get<std::string>());
    EXPECT_NEAR(std::stod(tick["text"].get<std::string>()), 101325, 0.6);
  }
  EXPECT_GE(labels.size(), 4u);

  EXPECT_TRUE(covers(elements(svg, "nan"), scale.x(0.2)));
  EXPECT_TRUE(covers(elements(svg, "plus-inf"), scale.x(0.7)));
  EXPECT_TRUE(covers(elements(svg, "minus-inf"), scale.x(0.9)));
  EXPECT_FALSE(covers(elements(svg, "nan"), scale.x(0.5)));
  EXPECT_EQ(texts(svg, "label")[1], "T1 [°C] (1 NaN, 1 +inf, 1 -inf)");

  const std::vector<Json> triggers = elements(svg, "trigger");
  EXPECT_EQ(triggers.size(), frames.size());
  for (const Json& trigger : triggers) EXPECT_NEAR(points(trigger)[0].first, scale.x(0.3), 1);

  // Bit 0 set throughout (high), bit 1 clear throughout (low), bit 2 toggling.
  const std::vector<Json> lanes = elements(svg, "lane");
  ASSERT_EQ(lanes.size(), 3u);
  std::vector<std::set<double>> levels(3);
  for (size_t bit = 0; bit < 3; ++bit) {
    for (const auto& point : points(lanes[bit])) levels[bit].insert(point.second);
  }
  ASSERT_EQ(levels[0].size(), 1u);
  ASSERT_EQ(levels[1].size(), 1u);
  ASSERT_EQ(levels[2].size(), 2u);
  const double swing = *levels[2].rbegin() - *levels[2].begin();
  EXPECT_GT(*levels[1].begin() - *levels[0].begin(), 2 * swing);  // high in lane 0, low in lane 1
  EXPECT_EQ(texts(svg, "lane-label"), (std::vector<std::string>{"bit 0", "bit 1", "bit 2"}));
}

TEST_F(Plot, TimeWindowOverlayAndPng) {
  const std::vector<std::string> options = {"--overlay", "--channels", "p1,T1",   "--from", "0.25",
                                            "--to",      "0.5",        "--width", "600"};
  const Json svg = plot("rec.rvx", options);
  const std::vector<Json> frames = elements(svg, "frame");
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(number(frames[0], "width"), 600);
  EXPECT_EQ(texts(svg, "legend"), (std::vector<std::string>{"p1 [mbar]", "T1 [°C]"}));
  const std::vector<Json> data = elements(svg, "data");
  ASSERT_EQ(data.size(), 2u);
  EXPECT_NE(data[0]["stroke"], data[1]["stroke"]);
  for (const std::string& label : texts(svg, "x-tick")) {
    EXPECT_GE(std::stod(label), 0.25);
    EXPECT_LE(std::stod(label), 0.5);
  }
  // The window fills the panel, and the trigger lies where 0.3 s is.
  const double left = number(frames[0], "x"), right = left + number(frames[0], "width");
  for (const Json& path : data) {
    EXPECT_NEAR(xExtent(path).first, left, 0.5);
    EXPECT_NEAR(xExtent(path).second, right, 0.5);
  }
  EXPECT_NEAR(points(elements(svg, "trigger").at(0))[0].first, timeScale(svg).x(0.3), 1);

  const Json png = plot("rec.rvx", options, "out.png");
  EXPECT_EQ(png["width"], svg["width"]);
  EXPECT_EQ(png["height"], svg["height"]);
  EXPECT_EQ(rvx({"plot", "rec.rvx", "-o", "out.gif", "--format", "gif"}).status, 2);
  EXPECT_FALSE(std::filesystem::exists(scratch.file("out.gif")));
  // --format decides over the extension.
  ASSERT_EQ(rvx({"plot", "rec.rvx", "-o", "svg.png", "--format", "svg"}).status, 0);
  EXPECT_EQ(readBytes(scratch.file("svg.png")).substr(0, 5), "<?xml");
  ASSERT_EQ(rvx({"plot", "rec.rvx", "-o", "png.svg", "--format", "png"}).status, 0);
  EXPECT_EQ(readBytes(scratch.file("png.svg")).substr(0, 8), "\x89PNG\r\n\x1a\n");

  const Outcome csv =
      rvx({"export", "rec.rvx", "--channels", "p1", "--from", "0.25", "--to", "0.5"});
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 1 + 251);
  EXPECT_EQ(csv.out.substr(csv.out.find('\n') + 1, 5), "0.25,");
  EXPECT_NE(csv.out.find("\n0.5,"), std::string::npos);
}

// The time axis follows the records read: a window of every layout, and
// files whose header counts more records than their data holds.
TEST_F(Plot, TimeAxisFollowsTheRecordsRead) {
  for (OldLayout layout :
       {OldLayout::DosBefore5, OldLayout::DosQ, OldLayout::DosP, OldLayout::Win2Sparse,
        OldLayout::Win2Decimal, OldLayout::Win3, OldLayout::Win6}) {
    SCOPED_TRACE(layoutTag(layout));
    const OldFile old = writeOldLayout(scratch.path(), layout);
    const Json svg = plot(old.path.filename().string(), {"--records", "1:4"});
    const std::vector<Json> frames = elements(svg, "frame"), data = elements(svg, "data");
    ASSERT_EQ(data.size(), old.expected[0].size());
    const double left = number(frames[0], "x"), right = left + number(frames[0], "width");
    EXPECT_NEAR(xExtent(data[0]).first, left, 0.5);
    EXPECT_NEAR(xExtent(data[0]).second, right, 0.5);
  }

  Recording recording;
  recording.channels = {{"p1", "bar", ""}, {"T2", "K", ""}};
  recording.records = randomRecords(1000, 2, 3);
  createRecording(scratch.file("cut.rvx"), recording);
  const std::filesystem::path sparse = writeOldLayout(scratch.path(), OldLayout::Win2Sparse).path;
  // The current layout's length tells its records; the sparse records end on reading.
  const struct {
    std::string file;
    uint64_t cut;
    const char* says;
    double lastTime;
  } kCases[] = {
      {"cut.rvx", 400 * 8, "the header counts 1000 records, the data holds only 600", 0.599},
      {sparse.filename().string(), 14, "the header counts 6 records, the data holds only 3", 0.2}};
  for (const auto& damaged : kCases) {
    SCOPED_TRACE(damaged.file);
    const std::filesystem::path path = scratch.file(damaged.file);
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - damaged.cut);
    const Outcome run = rvx({"plot", damaged.file, "-o", "cut.svg", "-f"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find(damaged.says), std::string::npos) << run.err;
    const Json svg = read("cut.svg");
    const Json frame = elements(svg, "frame").at(0);
    EXPECT_NEAR(xExtent(elements(svg, "data").at(0)).second,
                number(frame, "x") + number(frame, "width"), 0.5);
    EXPECT_LE(std::stod(texts(svg, "x-tick").back()), damaged.lastTime + 1e-9);
  }
}

// Panels of a channel without numbers, of a constant and of one whose last
// record is NaN; a title with characters XML must escape or cannot hold;
// the same panels as PNG; a window that starts after the trigger; and a
// recording without records.
TEST_F(Plot, PanelsOfOddValuesAndTitlesInSvgAndPng) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  Recording odd;
  odd.channels = {{"p1", "", ""}, {"p2", "", ""}, {"p3", "", ""}};
  odd.records = {{kNaN, 0.0f, 1.0f}, {kNaN, 0.0f, 2.0f}, {kNaN, 0.0f, kNaN}};
  odd.nameMeasurement = "Bob's\x01\t\r\nrun";
  createRecording(scratch.file("odd.rvx"), odd);
  const Json svg = plot("odd.rvx", {});
  const std::vector<std::string> titles = texts(svg, "title");
  ASSERT_EQ(titles.size(), 1u);
  // The control character becomes a blank; the parser reads CR LF as LF.
  EXPECT_EQ(titles[0].rfind("odd.rvx - Bob's \t\nrun (", 0), 0u) << titles[0];

  const std::vector<Json> frames = elements(svg, "frame");
  ASSERT_EQ(frames.size(), 3u);
  const auto inside = [&](size_t panel, double y) {
    const double top = number(frames[panel], "y");
    return top < y && y < top + number(frames[panel], "height");
  };
  const std::vector<Json> empty = elements(svg, "no-values");
  ASSERT_EQ(empty.size(), 1u);
  EXPECT_TRUE(inside(0, number(empty[0], "y")));
  // p1 draws no line; the constant p2 a level one inside its frame.
  const std::vector<Json> data = elements(svg, "data");
  ASSERT_EQ(data.size(), 2u);
  std::set<double> levels;
  for (const auto& point : points(data[0])) levels.insert(point.second);
  ASSERT_EQ(levels.size(), 1u);
  EXPECT_TRUE(inside(1, *levels.begin()));
  // p3's NaN mark reaches the frame's right edge.
  const std::vector<Json> nan = elements(svg, "nan");
  ASSERT_FALSE(nan.empty());
  EXPECT_NEAR(number(nan.back(), "x") + number(nan.back(), "width"),
              number(frames[2], "x") + number(frames[2], "width"), 0.5);

  const Json png = plot("odd.rvx", {}, "odd.png");
  EXPECT_EQ(png["width"], svg["width"]);
  EXPECT_EQ(png["height"], svg["height"]);

  EXPECT_TRUE(elements(plot("rec.rvx", {"--from", "0.5"}), "trigger").empty());

  // A recording without records still plots: its panels say so.
  odd.records.clear();
  createRecording(scratch.file("none.rvx"), odd);
  const Json none = plot("none.rvx", {});
  EXPECT_EQ(elements(none, "frame").size(), 3u);
  EXPECT_EQ(elements(none, "no-values").size(), 3u);
  EXPECT_TRUE(elements(none, "data").empty());
}

}  // namespace
}  // namespace rvx::test
