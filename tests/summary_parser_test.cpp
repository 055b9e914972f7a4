// Reading header and channel texts back from RVI summaries: texts laid out
// as the writer lays them out in each language, older wordings, cut-off and
// random texts.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "format/summary_parser.h"
#include "recordings.h"

namespace kdrvx::format {
namespace {

using std::u16string;
using test::recording;
using test::RviLanguage;
using test::TestChannel;
using test::TestRecording;

// Two channels, dp1 with ISDS and T2 with a linearisation, as the writer
// in each language lays them out (the test recordings' RVI text).
u16string writerText(RviLanguage language) {
  TestRecording r = recording('A', 2);
  r.company = u"ACME", r.instrument = u"Logger 5", r.snrInstrument = u"SN-42";
  r.nameMeasurement = u"Run 7", r.triggerSetting = u"KEY", r.comment = u"Line one\r\nLine two";
  r.day = 3, r.month = 11, r.year = 2024, r.hour = 9, r.minute = 5, r.records = 101;
  for (int k = 0; k < 2; ++k) {
    TestChannel& c = r.channels[k];
    c.prefix = k ? 0 : u'd', c.letter = k ? u'T' : u'p', c.index = static_cast<int8_t>(k + 1);
    c.number = k ? u"2" : u"1", c.signalType = u"4-20 mA", c.calParameter = u"0-10 bar";
    c.zeroPoint = u"off", c.isds = !k, c.linearisation = k;
  }
  r.channels[1].lintab = u"0,0;1,2";
  return rviText(r, language);
}

// A header dated 4.12.2026 14:05 with 7 records and the texts "N" and "L" as
// every channel's name and table.
std::unique_ptr<RVX_HEADER> header(uint8_t channels) {
  auto h = std::make_unique<RVX_HEADER>();
  std::memset(h.get(), 0, sizeof *h);
  h->NoChannels = channels;
  h->Day = 4, h->Month = 12, h->Year = 2026, h->Hour = 14, h->Minute = 5, h->Second = 255;
  h->NoRecords = 7;
  for (auto& c : h->Channel) c.ChannelLintab[0] = u'L', c.ChannelName[0] = u'N';
  return h;
}

void parse(const u16string& text, RVX_HEADER& h) {
  readSummaryMetadata(text, h);
}

// name|number|signal type|range|zero point|filter|table
u16string texts(const MGR_DEF& c) {
  u16string out;
  for (const char16_t* field : {c.ChannelName, c.ChannelNumber, c.ChannelSignalType,
                                c.ChannelCalParameter, c.ChannelZeroPoint, c.ChannelFilter}) {
    out += u16string(field) + u"|";
  }
  return out + c.ChannelLintab;
}

int date(const RVX_HEADER& h) { return (h.Day * 100 + h.Month) * 10000 + h.Year; }

TEST(SummaryParser, ReadsWhatTheWriterWritesInEachLanguage) {
  for (const RviLanguage language : {RviLanguage::German, RviLanguage::English,
                                     RviLanguage::French}) {
    SCOPED_TRACE(static_cast<int>(language));
    auto h = header(2);
    h->Month = 0, h->NoRecords = 0;
    h->Channel[0].VariableLetter = 245;
    h->Channel[1].VariableLetter = u'3';
    parse(writerText(language), *h);
    EXPECT_EQ(u16string(h->Company) + u"|" + h->Instrument + u"|" + h->SnrInstrument + u"|" +
                  h->NameMeasurement + u"|" + h->TriggerSetting + u"|" + h->Comment,
              u"ACME|Logger 5|SN-42|Run 7|KEY|Line oneLine two");
    EXPECT_EQ(date(*h), 3112024);
    EXPECT_EQ(h->Hour * 100 + h->Minute, 905);
    EXPECT_EQ(h->NoRecords, 101u);
    const MGR_DEF& c0 = h->Channel[0];
    const MGR_DEF& c1 = h->Channel[1];
    EXPECT_EQ(u16string({c0.VariablePrefix, c0.VariableLetter, c1.VariableLetter}), u"dpT");
    EXPECT_EQ(c0.VariableIndex * 10 + c1.VariableIndex, 12);
    EXPECT_EQ(c1.VariablePrefix, 0);
    EXPECT_EQ(c0.ISDS * 10 + c1.ISDS, 10);
    EXPECT_EQ(c0.Linearisation * 10 + c1.Linearisation, 1);
    // The table line after T2's yes line supplies its table. The French
    // labels for number, signal type, range, zero point and filter are in
    // no search list.
    const bool french = language == RviLanguage::French;
    EXPECT_EQ(texts(c0), french ? u"|||||| " : u"|1|4-20 mA|0-10 bar|off|| ");
    EXPECT_EQ(texts(c1), french ? u"||||||0,0;1,2" : u"|2|4-20 mA|0-10 bar|off||0,0;1,2");
  }
}

TEST(SummaryParser, HeaderTextValues) {
  auto h = header(0);
  h->TriggerSetting[0] = u'T';
  parse(u"\uFEFFCompany:  B\r\nName Measuring:  early\r\nFirma:ACME\r\nName Messung:  late\r\n"
        u"Instrument:  " + u16string(70, u'i') + u"\r\nSerialnumber:12345678901234567890\r\n"
        u"Trigger",
        *h);
  EXPECT_EQ(u16string(h->Company), u"CME");  // first wording wins; the character after ':' goes
  EXPECT_EQ(u16string(h->NameMeasurement), u"late");
  EXPECT_EQ(u16string(h->Instrument), u16string(63, u'i'));
  EXPECT_EQ(u16string(h->SnrInstrument), u"234567890123456");
  EXPECT_EQ(u16string(h->TriggerSetting), u"");  // a label without a colon is missing
}

TEST(SummaryParser, CommentPasses) {
  auto h = header(0);
  parse(u"Kommentar:  \r\nab\r\n  cd\r\nef\r\ngh\r\n", *h);
  EXPECT_EQ(u16string(h->Comment), u"abcdef");
  parse(u"Commentary:  one\r\n \r\n\r\n\r\nfour\r\n", *h);
  EXPECT_EQ(u16string(h->Comment), u"one");
  const u16string x(100, u'x');
  parse(u"Kommentar:  " + x + u"\r\n" + x + u"\r\n" + x + u"\r\n", *h);
  EXPECT_EQ(u16string(h->Comment), u16string(291, u'x'));

  // Without a comment label the channels keep what they had.
  h = header(1);
  h->Comment[0] = u'C';
  parse(u"Comment:  c\r\n\r\nMessbezeichnung:  new\r\nISDS:  ja\r\n", *h);
  EXPECT_EQ(u16string(h->Comment) + h->Channel[0].ChannelName, u"N");
  EXPECT_EQ(h->Channel[0].ISDS, 0);
}

TEST(SummaryParser, ChannelSearchPositionIsCarriedAndEndsWithTheText) {
  auto h = header(2);
  // The line after the comment label still belongs to the comment. Channel
  // 0's block lacks a signal type, which is then taken from channel 1's
  // block, and every later lookup goes on from that label (so channel 1
  // finds the same zero point label once more).
  parse(u"Kommentar:\r\nMessbezeichnung:  X\r\n"
        u"Messbezeichnung:  N0\r\nMesskanal:  1\r\nNullpunktabgleich:  Z0\r\n"
        u"Messbezeichnung:  N1\r\nSignaltyp:  S1\r\nNullpunktabgleich:  Z1\r\n",
        *h);
  EXPECT_EQ(texts(h->Channel[0]), u"N0|1|S1||Z1||");
  EXPECT_EQ(texts(h->Channel[1]), u"||||Z1||");

  // Cut off inside a label: the channels beyond lose their texts and keep
  // their flags.
  h = header(3);
  for (auto& c : h->Channel) c.ISDS = 1, c.Linearisation = 1;
  parse(u"Kommentar:\r\n\r\nMessbezeichnung:  A\r\nISDS:  nein\r\nLinearisierung:  nein\r\n"
        u"\r\nMessbezeichnung",
        *h);
  EXPECT_EQ(texts(h->Channel[0]) + texts(h->Channel[1]) + texts(h->Channel[2]),
            u"A|||||| ||||||||||||");
  EXPECT_EQ(h->Channel[0].ISDS + h->Channel[0].Linearisation, 0);
  EXPECT_EQ(h->Channel[2].ISDS + h->Channel[2].Linearisation + h->Channel[1].ISDS, 3);
}

TEST(SummaryParser, FlagWordsAndLinearisationTable) {
  for (const auto& [rest, expected] : {std::pair<u16string, int>{u":  nein", 0}, {u":no", 0},
                                       {u": non\r", 0}, {u":  Nein", 1}, {u":  ja", 1},
                                       {u":  \r\n", 1}, {u"", 1}}) {
    auto h = header(1);
    h->Channel[0].ISDS = 7;
    parse(u"Kommentar:\r\n\r\nISDS" + rest, *h);
    EXPECT_EQ(h->Channel[0].ISDS, expected) << std::string(rest.begin(), rest.end());
  }
  auto h = header(3);
  h->Channel[0].Linearisation = 1;
  parse(u"Kommentar:\r\n\r\nLinearisierung:  nein\r\nLinearisierung:  ja  0,0;1,2\r\n"
        u"Linearisierung:  ja\r\nLinearisierungstabelle:  0,0;\r\n  1,2\r\nrest\r\n",
        *h);
  // Channel 1's line carries no table label: the next table label supplies
  // its table. Channel 2 then finds its linearisation label inside that
  // table label, and no table label follows: its table stays.
  EXPECT_EQ(h->Channel[0].Linearisation * 100 + h->Channel[1].Linearisation * 10 +
                h->Channel[2].Linearisation,
            11);
  EXPECT_EQ(u16string(h->Channel[0].ChannelLintab) + u"|" + h->Channel[1].ChannelLintab + u"|" +
                h->Channel[2].ChannelLintab,
            u" |0,0;1,2|L");
}

TEST(SummaryParser, DateAndRecordCountOnlyWhenTheHeaderLacksThem) {
  auto h = header(0);
  parse(u"Messung vom:  1.2.2000 3:04\r\nAnzahl S\u00E4tze:  99\r\n", *h);
  EXPECT_EQ(date(*h), 4122026);
  EXPECT_EQ(h->NoRecords, 7u);
  // Any field out of its range makes the header's date invalid.
  for (int field = 0; field < 8; ++field) {
    h = header(0);
    const int values[] = {0, 32, 0, 13, 1979, 2031, 24};
    if (field < 2) h->Day = static_cast<uint8_t>(values[field]);
    if (field == 2 || field == 3) h->Month = static_cast<uint8_t>(values[field]);
    if (field == 4 || field == 5) h->Year = static_cast<uint16_t>(values[field]);
    if (field == 6) h->Hour = 24;
    if (field == 7) h->Minute = 60;
    parse(u"Messung vom:  1.2.2000 3:04\r\n", *h);
    EXPECT_EQ(date(*h), 1022000) << field;
    EXPECT_EQ(h->Hour * 100 + h->Minute, 304) << field;
  }

  h = header(0);
  h->Month = 0, h->NoRecords = 0;
  parse(u"Data records:  -1\r\nMessung vom:  300.6.", *h);
  EXPECT_EQ(date(*h), 44060000);               // a day of 300 keeps its low 8 bits
  EXPECT_EQ(h->Hour * 100 + h->Minute, 1405);  // no blank after the year: the time stays
  EXPECT_EQ(h->NoRecords, 0xFFFFFFFFu);
  h->NoRecords = 0;
  parse(u"Data records:  99999999999", *h);
  EXPECT_EQ(h->NoRecords, 0x7FFFFFFFu);
}

// Whether the parser may change the byte at offset `o` of a header: date
// and time, record count, header texts; variable, channel texts and flags.
bool parserMayWrite(size_t o) {
  auto in = [&o](size_t begin, size_t end) { return o >= begin && o < end; };
  if (o < kHeaderFixedSize) {
    return in(offsetof(RVX_HEADER, Year), offsetof(RVX_HEADER, Second)) ||
           in(offsetof(RVX_HEADER, NoRecords), offsetof(RVX_HEADER, NoTriggerRecord)) ||
           in(offsetof(RVX_HEADER, Comment), offsetof(RVX_HEADER, Zero448));
  }
  o = (o - kHeaderFixedSize) % kChannelRecordSize;
  return in(offsetof(MGR_DEF, VariableLetter), offsetof(MGR_DEF, Reserved0B)) ||
         in(offsetof(MGR_DEF, ChannelName), offsetof(MGR_DEF, Zero200)) ||
         in(offsetof(MGR_DEF, ChannelLintab), offsetof(MGR_DEF, Reserved392));
}

// Random texts of label pieces, each in a buffer of its exact size: the
// parser touches no byte outside the fields it fills and terminates every
// field it fills within it.
TEST(SummaryParser, RandomTextsStayInsideTheTextAndTheFields) {
  const u16string pieces[] = {u"Kommentar", u"Messgroesse", u"Messbezeichnung", u"Messkanal",
                              u"ISDS", u"Linearisierung", u"Linearisierungstabelle",
                              u"Messung vom", u"Firma", u":", u"  ", u"\r\n", u"\r", u"nein",
                              u"12", u"dp1 ", u".", u"Messbezeichnung:  xxxxxxxxxxxxxxxxxxxxxxxxx",
                              u"Linearisierung:  nein\r\n", u"Linearisierungstabelle:  1\r\n"};
  std::mt19937 random(2024);
  for (int run = 0; run < 300; ++run) {
    u16string text;
    for (int n = random() % 300; n > 0; --n) text += pieces[random() % std::size(pieces)];
    if (run % 4 == 0) text += u"Kommentar:\r\n\r\nMessgroesse:";  // ends where a variable starts
    auto exact = std::make_unique<char16_t[]>(text.size() + 1);
    std::memcpy(exact.get(), text.c_str(), 2 * (text.size() + 1));
    auto h = header(0);
    std::memset(h.get(), 0xA5, sizeof *h);
    h->NoChannels = static_cast<uint8_t>(run % 2 ? 255 : 48);
    for (MGR_DEF& c : h->Channel) c.VariableLetter = run % 3 ? 245 : u'1';
    const auto before = std::make_unique<RVX_HEADER>(*h);
    readSummaryMetadata({exact.get(), text.size() + 1}, *h);
    const auto* a = reinterpret_cast<const unsigned char*>(before.get());
    const auto* b = reinterpret_cast<const unsigned char*>(h.get());
    for (size_t o = 0; o < sizeof(RVX_HEADER); ++o) {
      if (!parserMayWrite(o)) {
        ASSERT_EQ(a[o], b[o]) << "offset " << o;
      }
    }
    auto ends = [](const char16_t* field, size_t n) {
      return field[0] == 0xA5A5 || std::char_traits<char16_t>::find(field, n, 0) != nullptr;
    };
    ASSERT_TRUE(ends(h->Comment, 292) && ends(h->Company, 64) && ends(h->SnrInstrument, 16));
    for (const MGR_DEF& c : h->Channel) {
      ASSERT_TRUE(ends(c.ChannelName, 24) && ends(c.ChannelNumber, 4) &&
                  ends(c.ChannelLintab, 200));
    }
  }
}

}  // namespace
}  // namespace kdrvx::format
