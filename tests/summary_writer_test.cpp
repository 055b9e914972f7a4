// The RVI summary file: its bytes on disk for headers built in memory, its
// name derived from the RVX path, and the label tables it is written with.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "format/labels.h"
#include "format/summary_writer.h"
#include "support/test_support.h"

namespace kdrvx::format {
namespace {

namespace fs = std::filesystem;

template <size_t N>
void set(char16_t (&field)[N], const std::u16string& text) {
  ASSERT_LT(text.size(), N);
  std::memcpy(field, text.c_str(), (text.size() + 1) * sizeof(char16_t));
}

std::vector<std::string> splitLines(const std::string& bytes) {
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(bytes.substr(at, end - at));
  return lines;
}

class SummaryFile : public ::testing::Test {
 protected:
  // A small header: one channel dp2 with every text set, 7.3.2024 9:05.
  SummaryFile() {
    std::memset(header.get(), 0, sizeof(RVX_HEADER));
    set(header->Company, u"ACME Caf\u00E9 \u0141");  // U+0141 keeps its low byte 'A'
    set(header->Instrument, u"KD 8"), set(header->SnrInstrument, u"123");
    set(header->NameMeasurement, u"Run 1"), set(header->TriggerSetting, u"p1 > 2 bar");
    set(header->Comment, u"Test run");
    header->Day = 7, header->Month = 3, header->Year = 2024, header->Hour = 9, header->Minute = 5;
    header->ScanRate = 10, header->NoRecords = 101, header->NoChannels = 1;
    MGR_DEF& ch = header->Channel[0];
    ch.VariablePrefix = u'd', ch.VariableLetter = u'p', ch.VariableIndex = 2;
    ch.ChannelIndRate = 5, ch.ISDS = 1, ch.Linearisation = 1;
    set(ch.ChannelUnit, u"bar"), set(ch.ChannelName, u"not written");
    set(ch.ChannelNumber, u"1"), set(ch.ChannelSignalType, u"0-10 V");
    set(ch.ChannelCalParameter, u"0..10 bar"), set(ch.ChannelZeroPoint, u"0.0");
    set(ch.ChannelFilter, u"not written"), set(ch.ChannelLintab, u"0 0;10 10");
  }

  // The RVI text beside an RVX file named `rvxPath`; `path` becomes the RVI
  // name, or stays as it was when none can be made (empty text).
  std::string render(const std::u16string& rvxPath, int32_t language = 1) {
    std::memset(path, 0, sizeof path);
    std::memcpy(path, rvxPath.c_str(), rvxPath.size() * sizeof(char16_t));
    if (!makeSummaryName(path)) return {};
    return renderSummary(path, *header, labelTableForLanguage(language));
  }
  std::string summary(int32_t language = 1) { return render(dir.wide("run.RVX"), language); }
  std::vector<std::string> commentLines(const std::u16string& comment) {
    set(header->Comment, comment);
    header->NoChannels = 0;
    auto lines = splitLines(summary());
    return {lines.begin() + 14, lines.end() - 4};  // up to the three empty lines
  }

  test::ScratchDir dir;
  std::unique_ptr<RVX_HEADER> header = std::make_unique<RVX_HEADER>();
  char16_t path[kCreatePathCapacity];
};

TEST_F(SummaryFile, GermanFileByteForByte) {
  EXPECT_EQ(summary(0),
            "Firma           :  ACME Caf\xE9 A\r\nMessger\xE4t       :  KD 8\r\n"
            "Seriennummer    :  123\r\n\r\nName Messung    :  Run 1\r\n"
            "Verzeichnis     :  " + dir.path().string() + "\r\nDateiname       :  run.RVI\r\n"
            "Messung vom     :  7.3.2024 9:05\r\nAbtastrate      :  10 ms\r\n"
            "Speicherzeit    :  1.000 sec\r\nAnzahl S\xE4tze    :  101\r\n"
            "Kan\xE4le          :  dp2 \r\nTrigger         :  p1 > 2 bar\r\n"
            "Kommentar       :  \r\nTest run\r\n\r\n"
            "\r\nMessgroesse              :  dp2 \r\nMa\xDF" "einheit               :  bar\r\n"
            "Messbezeichnung          :  \r\nMesskanal                :  1\r\n"
            "ISDS                     :  ja\r\nIndivid. Abtastrate      :  ja (50 ms)\r\n"
            "Signaltyp                :  0-10 V\r\nMe\xDF" "bereich/Kalibrierwert :  0..10 bar\r\n"
            "Nullpunktabgleich        :  0.0\r\nFiltereinstellung        :  \r\n"
            "Linearisierung           :  ja  0 0;10 10\r\n"
            "\r\n\r\nerstellt mit  KDRVXLibrary V2.7\r\n");
}

TEST_F(SummaryFile, FrenchFileByteForByte) {
  header->Channel[0].ISDS = 0;
  EXPECT_EQ(summary(2),
            "Soci\xE9t\xE9         :  ACME Caf\xE9 A\r\nAppareil        :  KD 8\r\n"
            "Num\xE9ro de s\xE9rie :  123\r\n\r\nNom de la mesure:  Run 1\r\n"
            "Repertoire      :  " + dir.path().string() + "\r\nNom de fichier  :  run.RVI\r\n"
            "Mesure de       :  7.3.2024 9:05\r\nVitesse d'\xE9" "chant.:  10 ms\r\n"
            "Temps m\xE9moire   :  1.000 sec\r\nNombre donn\xE9" "es  :  101\r\n"
            "Voies           :  dp2 \r\nTrigger         :  p1 > 2 bar\r\n"
            "Commentaire     :  \r\nTest run\r\n\r\n"
            "\r\nGrandeur mesur\xE9" "e         :  dp2 \r\nUnit\xE9 de mesure          :  bar\r\n"
            "D\xE9signation de mesure    :  \r\nVoie des mesure          :  1\r\n"
            "ISDS                     :  non\r\nIndivid.temps            :  oui (50 ms)\r\n"
            "Type signal              :  0-10 V\r\nEtendue de mesure valuer :  0..10 bar\r\n"
            "Alignement zero          :  0.0\r\nR\xE9glage de filtre        :  \r\n"
            "Lin\xE9" "arisation            :  oui  0 0;10 10\r\n"
            "\r\n\r\nfournit  KDRVXLibrary V2.7\r\n");
}

TEST_F(SummaryFile, EnglishFileByteForByte) {
  header->ScanRate = 2000;
  header->Channel[0].ISDS = 0;
  header->Channel[0].Linearisation = 0;
  const std::string expected =
      "Company         :  ACME Caf\xE9 A\r\nInstrument      :  KD 8\r\n"
      "Serialnumber    :  123\r\n\r\nName Measurement:  Run 1\r\n"
      "Directory       :  " + dir.path().string() + "\r\nFilename        :  run.RVI\r\n"
      "Measurement from:  7.3.2024 9:05\r\nScanning rate   :  2 sec\r\n"
      "Storing time    :  3.333 min\r\nData records    :  101\r\n"
      "Channels        :  dp2 \r\nTrigger         :  p1 > 2 bar\r\n"
      "Commentary      :  \r\nTest run\r\n\r\n"
      "\r\nVariable                 :  dp2 \r\nUnit                     :  bar\r\n"
      "Name of channel          :  \r\nChannel                  :  1\r\n"
      "ISDS                     :  no\r\nIndivid. Scan.rate       :  yes (10 sec)\r\n"
      "Signal type              :  0-10 V\r\nMeas.Range/calibr.value  :  0..10 bar\r\n"
      "Zero point alignment     :  0.0\r\nFilter settings          :  \r\n"
      "Linearisation            :  no\r\n"
      "\r\n\r\ncreated with  KDRVXLibrary V2.7\r\n";
  EXPECT_EQ(summary(1), expected);
  EXPECT_EQ(summary(4), expected);  // the fourth table is the English one
}

struct RateCase {
  uint8_t flags;
  uint32_t scanRate, records;
  const char *rate, *storing, *individual;
};

TEST_F(SummaryFile, ScanRateStoringTimeAndIndividualRateRows) {
  const RateCase cases[] = {
      {0, 10, 0, "10 ms", "0.000 sec", "yes (50 ms)"},
      {0, 10, 1, "10 ms", "0.000 sec", "yes (50 ms)"},
      {0, 1500, 3, "1500 ms", "3.000 sec", "yes (7500 ms)"},
      {0, 2000, 31, "2 sec", "1.000 min", "yes (10 sec)"},
      {0, 120000, 31, "2 min", "1.000 h", "yes (10 min)"},
      {0, 0, 5, "0 min", "0.000 h", "yes (0 min)"},
      {1, 500, 4, "500 \xB5sec", "1.500 ms", "yes (2500 \xB5sec)"},
      {1, 60000, 2, "60000 \xB5sec", "60.000 ms", "yes (300000 \xB5sec)"},
      {0, 0xFFFFFFF6u, 3, "-10 ms", "-0.020 sec", "yes (-50 ms)"},
      // Single precision: 16777219 records become 16777220.0f.
      {0, 1, 16777219, "1 ms", "16777.221 sec", "yes (5 ms)"},
      // Too long for 19 characters in fixed point: exponent notation.
      {0, 1999999999, 4000000000u, "1999999999 ms", "8.000e+15 sec", "yes (1410065403 ms)"},
  };
  for (const RateCase& row : cases) {
    SCOPED_TRACE(row.rate);
    header->Flags = row.flags, header->ScanRate = row.scanRate, header->NoRecords = row.records;
    auto lines = splitLines(summary());
    EXPECT_EQ(lines[8], std::string("Scanning rate   :  ") + row.rate);
    EXPECT_EQ(lines[9], std::string("Storing time    :  ") + row.storing);
    EXPECT_EQ(lines[10], "Data records    :  " + std::to_string(static_cast<int32_t>(row.records)));
    EXPECT_EQ(lines[22], std::string("Individ. Scan.rate       :  ") + row.individual);
  }
}

TEST_F(SummaryFile, ChannelListAndBlocksInChannelOrder) {
  header->NoChannels = 3;
  header->Channel[1].VariableLetter = u'T', header->Channel[1].VariableIndex = 12;
  header->Channel[2].VariablePrefix = u'A', header->Channel[2].VariableLetter = u'x';
  header->Channel[2].VariableIndex = -1, header->Channel[2].Linearisation = 7;
  auto lines = splitLines(summary(4));  // the fourth table: English
  EXPECT_EQ(lines[11], "Channels        :  dp2 T12 Ax-1 ");
  ASSERT_EQ(lines.size(), 16u + 3 * 12 + 3);
  EXPECT_EQ(lines[29], "Variable                 :  T12 ");
  EXPECT_EQ(lines[33], "ISDS                     :  no");
  EXPECT_EQ(lines[34], "Individ. Scan.rate       :  no");
  EXPECT_EQ(lines[39], "Linearisation            :  no");
  EXPECT_EQ(lines[41], "Variable                 :  Ax-1 ");
  EXPECT_EQ(lines[51], "Linearisation            :  yes  ");  // flag set, table empty
}

TEST_F(SummaryFile, OverlongChannelListIsCutBeforeItsLineEnd) {
  header->NoChannels = 255;  // only 48 records exist
  for (MGR_DEF& ch : header->Channel)
    ch.VariablePrefix = u'd', ch.VariableLetter = u'p', ch.VariableIndex = -128;
  auto lines = splitLines(summary());
  ASSERT_EQ(lines.size(), 16u + 48 * 12 + 3);
  EXPECT_EQ(lines[11].size(), 298u);  // 300 bytes with the CR LF
  EXPECT_EQ(lines[11].substr(0, 33), "Channels        :  dp-128 dp-128 ");
}

TEST_F(SummaryFile, NoChannelsEndsAfterTheCommentBlock) {
  header->NoChannels = 0;
  auto lines = splitLines(summary());
  EXPECT_EQ(lines[11], "Channels        :  ");
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 14, lines.end()),
            (std::vector<std::string>{"Test run", "", "", "", "created with  KDRVXLibrary V2.7"}));
}

TEST_F(SummaryFile, CommentWrapping) {
  using Lines = std::vector<std::string>;
  const std::string x73(73, 'x'), x27(27, 'x');
  EXPECT_EQ(commentLines(test::widen(x73 + x27)), (Lines{x73, x27}));
  // A blank at the first position does not count as a break.
  EXPECT_EQ(commentLines(test::widen(" " + x73 + x27)), (Lines{" " + x73.substr(1), "x" + x27}));
  // The last break character within 74 characters wins, the 74th included.
  const std::string a60(60, 'a');
  EXPECT_EQ(commentLines(test::widen(a60 + " b, " + std::string(9, 'c') + ".dd")),
            (Lines{a60 + " b, " + std::string(9, 'c') + ".", "dd"}));
  EXPECT_EQ(commentLines(test::widen(a60 + "," + std::string(20, 'e'))),
            (Lines{a60 + ",", std::string(20, 'e')}));
  // Exactly 73 characters are broken as well; without a break they stay one line.
  EXPECT_EQ(commentLines(test::widen(a60 + " " + std::string(12, 'f'))),
            (Lines{a60 + " ", std::string(12, 'f')}));
  EXPECT_EQ(commentLines(test::widen(x73)), (Lines{x73}));
  // CR LF ends a line; a lone LF is an ordinary character; an empty comment has no line.
  EXPECT_EQ(commentLines(u"first\r\n\r\nsecond\nthird\r\n"), (Lines{"first", "", "second\nthird"}));
  EXPECT_EQ(commentLines(u""), Lines{});
  // The 8-bit text decides: U+010D becomes the byte 13, a CR, and ends the line.
  EXPECT_EQ(commentLines(u"ab\u010DXcd"), (Lines{"ab", "cd"}));
  // A full field without terminator: 292 characters, nothing read beyond it.
  for (auto& unit : header->Comment) unit = u'z';
  set(header->Company, u". beyond the comment");
  auto lines = splitLines(summary());
  EXPECT_EQ(Lines(lines.begin() + 14, lines.begin() + 19),
            (Lines{std::string(73, 'z'), std::string(73, 'z'), std::string(73, 'z'),
                   std::string(73, 'z'), ""}));
}

TEST_F(SummaryFile, NameFromTheFirstUpperElseLowerExtensionAndItsSplit) {
  std::vector<std::string> lines = splitLines(render(test::widePath(dir.file("a.rvx.d") / "b.RVX.old")));
  EXPECT_EQ(std::u16string(path), test::widePath(dir.file("a.rvx.d") / "b.RVI"));
  EXPECT_EQ(lines[6], "Filename        :  b.RVI");

  // The first ".RVX" in a folder name cuts the rest of the path away.
  lines = splitLines(render(test::widePath(dir.file("data.RVX.d") / "run.rvx")));
  EXPECT_EQ(std::u16string(path), dir.wide("data.RVI"));
  EXPECT_EQ(lines[5], "Directory       :  " + dir.path().string());
  EXPECT_EQ(lines[6], "Filename        :  data.RVI");

  // The split looks at the 8-bit name: U+013A and U+015C are written as ':'
  // and '\\', and the last of them splits.
  lines = splitLines(render(test::widePath(dir.path() / u"a\u015Cb\u013Ac.RVX")));
  EXPECT_EQ(lines[5], "Directory       :  " + (dir.path() / "a").string() + "\\b");
  EXPECT_EQ(lines[6], "Filename        :  c.RVI");

  // A bare file name: empty directory.
  lines = splitLines(render(u"run.rvx"));
  EXPECT_EQ(std::u16string(path), u"run.RVI");
  EXPECT_EQ(lines[5], "Directory       :  ");
  EXPECT_EQ(lines[6], "Filename        :  run.RVI");

  // No extension in either case, or one in mixed case: no name, path unchanged.
  EXPECT_EQ(render(u"run.Rvx"), "");
  EXPECT_EQ(std::u16string(path), u"run.Rvx");
}

TEST(LabelTables, LanguagesAndEntriesNotWrittenToTheFile) {
  const LabelTable& english = labelTableForLanguage(1);
  for (int32_t language : {3, 4, 255, -1})
    EXPECT_EQ(std::memcmp(&labelTableForLanguage(language), &english, sizeof english), 0);
  EXPECT_STREQ(labelTableForLanguage(2).entry[41], "Frequ. de mesure individ.");
  EXPECT_STREQ(labelTableForLanguage(0).entry[43], "Me\xDF" "bereich/Kalibrierwert");
  EXPECT_STREQ(english.entry[26], "No direction");
}

}  // namespace
}  // namespace kdrvx::format
