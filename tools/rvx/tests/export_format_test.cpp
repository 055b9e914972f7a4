// The choice of export format and the names of channels in MATLAB and HDF5.
#include "outputs/export_format.h"

#include <gtest/gtest.h>

#include "shared/tool_error.h"

namespace rvx {
namespace {

TEST(ExportFormat, FollowsTheOptionElseTheExtension) {
  const struct {
    const char* format;
    const char* output;
    ExportFormat expected;
  } cases[] = {
      {"", "run.mat", ExportFormat::Mat},    {"", "run.H5", ExportFormat::Hdf5},
      {"", "run.hdf5", ExportFormat::Hdf5},  {"", "run.csv", ExportFormat::Csv},
      {"", "run.txt", ExportFormat::Csv},    {"", "", ExportFormat::Csv},
      {"csv", "run.mat", ExportFormat::Csv}, {"MAT", "run", ExportFormat::Mat},
      {"hdf5", "-", ExportFormat::Hdf5},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(exportFormat(c.format, c.output), c.expected) << c.format << " " << c.output;
  }
  EXPECT_THROW(exportFormat("xlsx", "run.mat"), ToolError);
}

TEST(ExportFormat, FieldNamesAreValidAndUnique) {
  const std::vector<std::string> names = fieldNames(
      {"p1", "ch_3", "p1", "time", "Ä1", "dp 2", std::string(70, 'x'), std::string(70, 'x')},
      {"time", "recording"});
  const std::vector<std::string> expected = {"p1",
                                             "ch_3",
                                             "p1_2",
                                             "time_2",
                                             "ch_1",
                                             "dp_2",
                                             std::string(63, 'x'),
                                             std::string(61, 'x') + "_2"};
  EXPECT_EQ(names, expected);
}

}  // namespace
}  // namespace rvx
