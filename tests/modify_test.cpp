// Modification in place: only the two texts change on disk, the header is
// written back as long as it is, and records can be appended.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "support/write_support.h"

namespace kdrvx::test {
namespace {

using Lines = std::vector<std::string>;

class Modify : public WriteTest {
 protected:
  // A finished file with `channels` channels and `records` records of
  // values counting up from 1.
  std::u16string recorded(const std::string& name, int channels, int records) {
    std::vector<std::u16string> variables;
    for (int i = 0; i < channels; ++i) variables.push_back(u"p" + widen(std::to_string(i + 1)));
    std::u16string path = create(name, variables);
    KDRVX_SetComment(c(u"old comment"));
    KDRVX_SetNameMeasurement(c(u"run 1"));
    std::vector<float> record(channels);
    for (int r = 0; r < records; ++r) {
      for (int i = 0; i < channels; ++i) record[i] = static_cast<float>(r * channels + i + 1);
      KDRVX_AddRecord(record.data());
    }
    EXPECT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
    return path;
  }
};

TEST_F(Modify, RoundTripChangesOnlyTheTwoTexts) {
  const std::u16string path = recorded("m.rvx", 2, 3);
  const std::string before = bytes("m.rvx");
  ASSERT_EQ(KDRVX_OpenModify(c(path)), KDRVX_OK);
  EXPECT_EQ(KDRVX_OpenModify(c(path)), KDRVX_ERR_RVX_STILL_OPEN_MODIFY);  // the first stays usable
  std::u16string comment(292, u'#'), name(24, u'#');
  ASSERT_EQ(KDRVX_ModifyComment(writable(comment), c(u"new comment")), KDRVX_OK);
  EXPECT_EQ(std::u16string(comment.c_str()), u"old comment");
  ASSERT_EQ(KDRVX_ModifyNameMeasurement(writable(name), c(u"run 2")), KDRVX_OK);
  EXPECT_EQ(std::u16string(name.c_str()), u"run 1");
  EXPECT_EQ(KDRVX_ModifyComment(writable(comment), nullptr), KDRVX_OK);  // only hands it over
  EXPECT_EQ(std::u16string(comment.c_str()), u"new comment");
  ASSERT_EQ(KDRVX_CloseModify(), KDRVX_OK);

  const std::string after = bytes("m.rvx");
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < after.size(); ++i) {
    if ((i < 48 || i >= 632) && (i < 920 || i >= 968)) {
      ASSERT_EQ(after[i], before[i]) << "byte " << i;
    }
  }
  const auto h = header("m.rvx");
  EXPECT_EQ(textOf(h.Comment), u"new comment");
  EXPECT_EQ(textOf(h.NameMeasurement), u"run 2");
}

TEST_F(Modify, LimitsGuardsAndRefusedFiles) {
  const std::u16string path = recorded("m.rvx", 1, 0);
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS);
  std::u16string buffer(292, u'#');
  EXPECT_EQ(KDRVX_ModifyComment(writable(buffer), nullptr), KDRVX_ERR_RVX_NOT_OPEN_MODIFY);
  EXPECT_EQ(KDRVX_ModifyNameMeasurement(writable(buffer), nullptr), KDRVX_ERR_RVX_NOT_OPEN_MODIFY);
  EXPECT_EQ(KDRVX_CloseModify(), KDRVX_ERR_RVX_NOT_OPEN_MODIFY);
  EXPECT_EQ(KDRVX_OpenModify(c(dir.wide("none.rvx"))), KDRVX_ERR_RVX_OPEN_MODIFY);
  EXPECT_EQ(capture.narrowLines(), Lines({"KDrvxLibrary: ERR_RVX_NOT_OPEN_MODIFY", "KDrvxLibrary: ERR_RVX_NOT_OPEN_MODIFY",
                                          "KDrvxLibrary: ERR_RVX_NOT_OPEN_MODIFY", "KDrvxLibrary: Error 0x00000002"}));

  ASSERT_EQ(KDRVX_OpenModify(c(path)), KDRVX_OK);
  EXPECT_EQ(KDRVX_ModifyComment(writable(buffer), c(std::u16string(291, u'a'))), KDRVX_OK);
  EXPECT_EQ(KDRVX_ModifyComment(writable(buffer), c(std::u16string(292, u'b'))), KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  EXPECT_EQ(std::u16string(buffer.c_str()), std::u16string(291, u'a'));
  EXPECT_EQ(KDRVX_ModifyNameMeasurement(writable(buffer), c(std::u16string(23, u'n'))), KDRVX_OK);
  EXPECT_EQ(KDRVX_ModifyNameMeasurement(writable(buffer), c(std::u16string(24, u'n'))),
            KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  ASSERT_EQ(KDRVX_CloseModify(), KDRVX_OK);
  EXPECT_EQ(textOf(header("m.rvx").NameMeasurement), std::u16string(23, u'n'));

  // A header that the import refuses is never opened.
  std::string disk = bytes("m.rvx");
  disk[4] = 't';
  writeBytes(dir.file("t.rvx"), disk);
  EXPECT_EQ(KDRVX_OpenModify(c(dir.wide("t.rvx"))), KDRVX_ERR_RVX_NEWER_VERSION);
  EXPECT_EQ(KDRVX_CloseModify(), KDRVX_ERR_RVX_NOT_OPEN_MODIFY);
}

TEST_F(Modify, HeaderOf47ChannelsIsWrittenBackWhole) {
  // The first appended record writes the header, the second moves the
  // maximum of the last channel, which only the close brings to the file.
  // Writing more than 67300 bytes would stretch the file to 68700 bytes;
  // writing HeaderSize (1764) bytes would leave the old maximum.
  const std::u16string path = recorded("w.rvx", 47, 0);
  ASSERT_EQ(KDRVX_OpenModify(c(path)), KDRVX_OK);
  const std::vector<float> first(47, 1.0f), second(47, 2.0f);
  ASSERT_EQ(KDRVX_AddRecord(first.data()), KDRVX_OK);
  ASSERT_EQ(KDRVX_AddRecord(second.data()), KDRVX_OK);
  ASSERT_EQ(KDRVX_CloseModify(), KDRVX_OK);
  EXPECT_EQ(bytes("w.rvx").size(), 67300u + 2 * 188);
  const auto h = header("w.rvx");
  EXPECT_EQ(std::vector<float>({float(h.NoRecords), float(h.HeaderSize), h.Channel[46].MinValue, h.Channel[46].MaxValue}),
            std::vector<float>({2, 1764, 1, 2}));
}

TEST_F(Modify, RecordsAreAppendedWithoutAFileUnderCreation) {
  const std::u16string path = recorded("a.rvx", 1, 2);
  ASSERT_EQ(KDRVX_OpenModify(c(path)), KDRVX_OK);
  const float nine[] = {9}, minus[] = {-1};
  ASSERT_EQ(KDRVX_AddRecord(nine), KDRVX_OK);
  create("b.rvx", {u"T1"});  // with a file under creation, records go there
  ASSERT_EQ(KDRVX_AddRecord(minus), KDRVX_OK);
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
  ASSERT_EQ(KDRVX_AddRecord(minus), KDRVX_OK);
  ASSERT_EQ(KDRVX_CloseModify(), KDRVX_OK);
  const std::string disk = bytes("a.rvx");
  ASSERT_EQ(disk.size(), 2900u + 4 * 4);
  float values[4];
  std::memcpy(values, disk.data() + 2900, sizeof values);
  EXPECT_EQ(std::vector<float>(values, values + 4), std::vector<float>({1, 2, 9, -1}));
  const auto h = header("a.rvx");
  EXPECT_EQ(h.NoRecords, 4u);
  // Minimum and maximum follow; the mean is not recomputed here.
  EXPECT_EQ(std::vector<float>({h.Channel[0].MinValue, h.Channel[0].MaxValue, h.Channel[0].MeanValue}),
            std::vector<float>({-1, 9, 1.5f}));
  EXPECT_EQ(header("b.rvx").NoRecords, 1u);
}

}  // namespace
}  // namespace kdrvx::test
