// Reads the descriptive text of an older recording back from its summary
// file. Summary files come from several generations of writers in German,
// English and French, so every value is found by searching the text for its
// label in any of the known wordings, never by line position.
//
// One pass over the text finds where every wording of every label occurs,
// and every colon; each label lookup is then a binary search among the
// occurrences of its wordings instead of a search through the text. The
// pass takes eight or sixteen characters at a time where the processor has
// vector instructions.
//
// The text is handled as a view that ends at its first zero. Every scan is
// bounded by that end: a search that finds nothing reports npos, a position
// is never moved beyond the end, and a character asked for at or beyond the
// end reads as 0, just like the terminator itself.
#include "format/summary_parser.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "format/header_values.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kdrvx::format {
namespace {

using Text = std::u16string_view;
constexpr size_t kNone = Text::npos;

// Search lists: the wordings of one label, in the order they are tried
// (German, English, French, then older wordings). The first wording that
// occurs anywhere in the searched range wins, even when a later one stands
// earlier, so a wording that begins with an earlier one ("Meas.Range/Cal.Value"
// after "Meas.Range") can never win. A wording that two languages share is
// listed once: repeating it would find nothing new.
constexpr Text kCompanyLabels[] = {u"Firma", u"Company", u"Soci\u00E9t\u00E9"};
constexpr Text kInstrumentLabels[] = {u"Messger\u00E4t", u"Instrument", u"Appareil"};
constexpr Text kSerialNumberLabels[] = {u"Seriennummer", u"Serialnumber",
                                        u"Num\u00E9ro de s\u00E9rie"};
constexpr Text kMeasurementNameLabels[] = {u"Name Messung", u"Name der Messung",
                                           u"Name Measurement", u"Nom de la mesure",
                                           u"Name Measuring"};
constexpr Text kDateLabels[] = {u"Messung vom", u"Measurement from", u"Mesure de"};
constexpr Text kRecordCountLabels[] = {u"Anzahl S\u00E4tze", u"Data records",
                                       u"Nombre donn\u00E9es"};
constexpr Text kTriggerLabels[] = {u"Trigger"};
constexpr Text kCommentLabels[] = {u"Kommentar", u"Commentary", u"Commentaire"};
constexpr Text kVariableLabels[] = {u"Messgroesse", u"Variable", u"Grandeur mesur\u00E9e"};
constexpr Text kChannelNameLabels[] = {u"Messbezeichnung", u"Name of channel",
                                       u"D\u00E9signation de mesure"};
constexpr Text kChannelNumberLabels[] = {u"Messkanal", u"Channel", u"Num\u00E9ro du canal"};
constexpr Text kIsdsLabels[] = {u"ISDS"};
constexpr Text kSignalTypeLabels[] = {u"Signaltyp", u"Signal type", u"Type of signal"};
constexpr Text kCalParameterLabels[] = {u"Me\u00DFbereich", u"Meas.Range", u"Meas.Range/Cal.Value"};
constexpr Text kZeroPointLabels[] = {u"Nullpunktabgleich", u"Zero point"};
constexpr Text kFilterLabels[] = {u"Filtereinstellung", u"Filter settings", u"Filtre settings",
                                  u"Filter setting"};
constexpr Text kLinearisationLabels[] = {u"Linearisierung", u"Linearisation",
                                         u"Lin\u00E9arisation"};
constexpr Text kLintabLabels[] = {u"Linearisierungstabelle", u"Linearisation table",
                                  u"Table de linearisation"};

// Every list, so that each wording has a number: its list's first number
// plus its place in the list.
constexpr std::span<const Text> kLabelLists[] = {
    kCompanyLabels,       kInstrumentLabels,   kSerialNumberLabels,  kMeasurementNameLabels,
    kDateLabels,          kRecordCountLabels,  kTriggerLabels,       kCommentLabels,
    kVariableLabels,      kChannelNameLabels,  kChannelNumberLabels, kIsdsLabels,
    kSignalTypeLabels,    kCalParameterLabels, kZeroPointLabels,     kFilterLabels,
    kLinearisationLabels, kLintabLabels};

constexpr size_t countWordings() {
  size_t count = 0;
  for (const auto list : kLabelLists) count += list.size();
  return count;
}
constexpr size_t kWordings = countWordings();

// Every wording begins with a capital A to Z: the pass looks only at those.
constexpr bool beginsWithCapital(Text wording) {
  return !wording.empty() && wording[0] >= u'A' && wording[0] <= u'Z';
}
constexpr bool allBeginWithCapitals() {
  for (const auto list : kLabelLists)
    for (const Text wording : list)
      if (!beginsWithCapital(wording)) return false;
  return true;
}
static_assert(allBeginWithCapitals(), "the pass finds wordings by their capital");

// Every wording has a second character, and there are few enough wordings
// for one bit each in a 64-bit set.
constexpr bool allHaveTwoCharacters() {
  for (const auto list : kLabelLists)
    for (const Text wording : list)
      if (wording.size() < 2) return false;
  return true;
}
static_assert(allHaveTwoCharacters() && kWordings <= 64, "wordings fit the candidate sets");

// The low six bits of a second character: the key of the candidate sets.
constexpr size_t secondKey(char16_t c) { return c & 63u; }

// The wordings by number, and for each capital and key of the character
// after it the set of wordings that may begin there. Most capitals in a
// summary file begin no wording; the set lets them cost one lookup.
struct WordingTable {
  std::array<Text, kWordings> wordings{};
  std::array<std::array<uint64_t, 64>, 26> candidates{};
};

constexpr WordingTable makeWordingTable() {
  WordingTable table;
  size_t number = 0;
  for (const auto list : kLabelLists) {
    for (const Text wording : list) {
      table.wordings[number] = wording;
      const size_t capital = static_cast<size_t>(wording[0] - u'A');
      table.candidates[capital][secondKey(wording[1])] |= uint64_t{1} << number;
      ++number;
    }
  }
  return table;
}
constexpr WordingTable kWordingTable = makeWordingTable();

// The number of the first wording of `labels`, one of kLabelLists.
size_t firstWordingOf(std::span<const Text> labels) {
  size_t number = 0;
  for (const auto list : kLabelLists) {
    if (list.data() == labels.data()) break;
    number += list.size();
  }
  return number;
}

// Where each wording occurs in a text, and where its colons are: positions in
// ascending order.
class LabelIndex {
 public:
  // Indexes `text` up to its first zero, and returns that length.
  size_t build(Text text) {
    std::vector<Occurrence> found;
    const size_t length = scan(text, found);
    // Group the occurrences by wording, keeping their order.
    std::array<uint32_t, kWordings + 1> counts{};
    for (const Occurrence& o : found) ++counts[o.wording + 1];
    for (size_t w = 0; w < kWordings; ++w) counts[w + 1] += counts[w];
    begin_ = counts;
    positions_.resize(found.size());
    for (const Occurrence& o : found) positions_[counts[o.wording]++] = o.position;
    return length;
  }

  // The first occurrence of wording `number` at or after `from`, or kNone.
  size_t occurrence(size_t number, size_t from) const {
    const auto first = positions_.begin() + begin_[number];
    const auto last = positions_.begin() + begin_[number + 1];
    const auto at = std::lower_bound(first, last, from);
    return at == last ? kNone : *at;
  }

  // The first colon at or after `from`, or kNone.
  size_t colon(size_t from) const {
    const auto at = std::lower_bound(colons_.begin(), colons_.end(), from);
    return at == colons_.end() ? kNone : *at;
  }

 private:
  struct Occurrence {
    uint32_t position;
    uint32_t wording;
  };

  // Looks at the character at `i` of `text` (of `length` characters): a
  // colon, or the capital of wordings that may begin there.
  void look(Text text, size_t i, std::vector<Occurrence>& found) {
    const char16_t c = text[i];
    if (c == u':') {
      colons_.push_back(static_cast<uint32_t>(i));
      return;
    }
    if (i + 1 >= text.size()) return;
    const auto capital = static_cast<size_t>(c - u'A');
    uint64_t candidates = kWordingTable.candidates[capital][secondKey(text[i + 1])];
    for (; candidates != 0; candidates &= candidates - 1) {
      const auto number = static_cast<uint32_t>(std::countr_zero(candidates));
      if (text.substr(i).starts_with(kWordingTable.wordings[number]))
        found.push_back({static_cast<uint32_t>(i), number});
    }
  }

  static bool interesting(char16_t c) { return c == u':' || static_cast<char16_t>(c - u'A') < 26; }

  // One pass: records the colons and the wordings, and returns the length of
  // the text up to its first zero.
  size_t scan(Text text, std::vector<Occurrence>& found) {
    size_t i = 0;
#if defined(__SSE2__)
    // Sixteen characters at a time: a bit per character that is a zero, a
    // colon or a capital.
    const __m128i zero = _mm_setzero_si128();
    const __m128i colon = _mm_set1_epi16(u':');
    const __m128i capitalA = _mm_set1_epi16(u'A');
    // Below 26 after subtracting 'A', compared with the sign bit flipped.
    const __m128i bias = _mm_set1_epi16(static_cast<int16_t>(0x8000));
    const __m128i limit = _mm_set1_epi16(static_cast<int16_t>(0x8000 + 26));
    const auto marks = [&](__m128i units, __m128i& zeros) {
      zeros = _mm_cmpeq_epi16(units, zero);
      const __m128i capital =
          _mm_cmplt_epi16(_mm_xor_si128(_mm_sub_epi16(units, capitalA), bias), limit);
      return _mm_or_si128(_mm_cmpeq_epi16(units, colon), capital);
    };
    for (; i + 16 <= text.size(); i += 16) {
      __m128i zerosLow;
      __m128i zerosHigh;
      const auto* units = reinterpret_cast<const __m128i*>(text.data() + i);
      const __m128i low = marks(_mm_loadu_si128(units), zerosLow);
      const __m128i high = marks(_mm_loadu_si128(units + 1), zerosHigh);
      auto bits = static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
      const auto zeroBits =
          static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(zerosLow, zerosHigh)));
      if (zeroBits != 0) {
        const auto end = static_cast<uint32_t>(std::countr_zero(zeroBits));
        bits &= (1u << end) - 1;
        for (; bits != 0; bits &= bits - 1) look(text, i + std::countr_zero(bits), found);
        return i + end;
      }
      for (; bits != 0; bits &= bits - 1) look(text, i + std::countr_zero(bits), found);
    }
#endif
    for (; i < text.size() && text[i] != 0; ++i)
      if (interesting(text[i])) look(text, i, found);
    return i;
  }

  std::array<uint32_t, kWordings + 1> begin_{};
  std::vector<uint32_t> positions_;
  std::vector<uint32_t> colons_;
};

// The words that switch a flag off; anything else, an empty word included,
// switches it on.
constexpr Text kNoWords[] = {u"nein", u"no", u"non"};

// A flag word is read up to this many characters.
constexpr size_t kMaxFlagWord = 8;

// The comment is read from the rest of its label line and the three lines
// after it; a linearisation table from the rest of its label line and one
// more line.
constexpr int kCommentPasses = 4;
constexpr int kLintabPasses = 2;

// Where a label was found: the position of its first character, and of the
// first colon at or after it. Either is kNone when absent.
struct Label {
  size_t position = kNone;
  size_t colon = kNone;

  bool occurs() const { return position != kNone; }
  // A label counts as found only when a colon follows it somewhere before
  // the end of the text.
  bool found() const { return colon != kNone; }
};

// A flag word: the characters [begin, end) of the text.
struct Word {
  size_t begin;
  size_t end;
};

class SummaryParser {
 public:
  SummaryParser(Text text, RVX_HEADER& header)
      : text_(text.substr(0, index_.build(text))), header_(header) {}

  void run() {
    readTextValue(header_.Company, locate(kCompanyLabels, 0));
    readTextValue(header_.Instrument, locate(kInstrumentLabels, 0));
    readTextValue(header_.SnrInstrument, locate(kSerialNumberLabels, 0));
    readTextValue(header_.NameMeasurement, locate(kMeasurementNameLabels, 0));
    if (!headerDateIsValid()) readDate();
    if (header_.NoRecords == 0) readRecordCount();
    readTextValue(header_.TriggerSetting, locate(kTriggerLabels, 0));

    const Label comment = locate(kCommentLabels, 0);
    if (!comment.found()) {
      // Without a comment label the text is taken not to describe the
      // channels: they keep what the header already held.
      header_.Comment[0] = 0;
      return;
    }
    readLines(header_.Comment, std::size(header_.Comment), skip(comment.colon, 2), kCommentPasses);

    // The channel blocks follow the comment; their search starts at the end
    // of the first line after the comment label and is carried from channel
    // to channel.
    size_t position = afterCarriageReturn(afterCarriageReturn(comment.position));
    // A damaged header may claim more channels than it has room for; the
    // records beyond the last one are not there to be filled.
    const size_t channels = std::min<size_t>(header_.NoChannels, kMaxChannels);
    for (size_t k = 0; k < channels; ++k) readChannel(header_.Channel[k], position);
  }

 private:
  size_t size() const { return text_.size(); }

  // The character at `i`; the end of the text and anything beyond read as 0.
  char16_t at(size_t i) const { return i < size() ? text_[i] : char16_t{0}; }

  // `i` moved on by `count` characters, but not beyond the end.
  size_t skip(size_t i, size_t count) const {
    return i >= size() ? size() : std::min(size(), i + count);
  }

  size_t skipBlanks(size_t i) const {
    while (i < size() && text_[i] == u' ') ++i;
    return i;
  }

  // Just after the next CR at or after `i`; the end of the text when there
  // is none.
  size_t afterCarriageReturn(size_t i) const {
    const size_t cr = i < size() ? text_.find(u'\r', i) : kNone;
    return cr == kNone ? size() : cr + 1;
  }

  // The first wording of `labels` that occurs at or after `from`, and the
  // colon after it.
  Label locate(std::span<const Text> labels, size_t from) const {
    Label label;
    if (from >= size()) return label;
    const size_t first = firstWordingOf(labels);
    for (size_t k = 0; k < labels.size(); ++k) {
      label.position = index_.occurrence(first + k, from);
      if (label.occurs()) {
        label.colon = index_.colon(label.position);
        return label;
      }
    }
    return label;
  }

  // The value after the label's colon: from two characters after the colon,
  // past blanks, up to the next CR or the end of the text, at most N - 1
  // characters; the field is always terminated, and emptied when the label
  // was not found. The character right after the colon is skipped whatever
  // it is: writers put a blank there.
  template <size_t N>
  void readTextValue(char16_t (&field)[N], const Label& label) {
    size_t length = 0;
    if (label.found()) {
      size_t i = skipBlanks(skip(label.colon, 2));
      while (i < size() && text_[i] != u'\r' && length < N - 1) field[length++] = text_[i++];
    }
    field[length] = 0;
  }

  // Reads `passes` consecutive lines from `i` into one field, joined with
  // nothing between them: each pass skips blanks, copies up to the next CR
  // and steps over the CR and its LF. All passes together fill at most
  // `capacity` - 1 characters.
  void readLines(char16_t* field, size_t capacity, size_t i, int passes) {
    size_t length = 0;
    for (int pass = 0; pass < passes; ++pass) {
      i = skipBlanks(i);
      while (i < size() && text_[i] != u'\r' && length < capacity - 1) field[length++] = text_[i++];
      i = skip(i, 2);
    }
    field[length] = 0;
  }

  // Decimal number at `i` as the wide-to-integer conversion of the runtime
  // reads it: leading white space (blank, tab to CR), an optional sign,
  // then digits; no digits give 0. A number beyond the signed 32-bit range is held at its limit,
  // as that conversion does. Callers keep the low bits their field can hold.
  int32_t number(size_t i) const {
    while (i < size() && (text_[i] == u' ' || (text_[i] >= u'\t' && text_[i] <= u'\r'))) ++i;
    bool negative = false;
    if (i < size() && (text_[i] == u'+' || text_[i] == u'-')) negative = text_[i++] == u'-';
    constexpr int64_t kLimit = int64_t{1} << 31;
    int64_t magnitude = 0;
    for (; i < size() && text_[i] >= u'0' && text_[i] <= u'9'; ++i) {
      magnitude = std::min(kLimit, magnitude * 10 + (text_[i] - u'0'));
    }
    const int64_t value = negative ? -magnitude : std::min(magnitude, kLimit - 1);
    return static_cast<int32_t>(value);
  }

  // The word after the colon of a flag label. Unlike text values, nothing
  // but blanks is skipped after the colon. A label without a colon gives an
  // empty word at the end of the text.
  Word flagWord(const Label& label) const {
    size_t i = label.found() ? label.colon + 1 : size();
    i = skipBlanks(i);
    Word word{i, i};
    while (word.end < size() && word.end - word.begin < kMaxFlagWord && text_[word.end] != u'\r' &&
           text_[word.end] != u' ') {
      ++word.end;
    }
    return word;
  }

  bool isNoWord(const Word& word) const {
    const Text text = text_.substr(word.begin, word.end - word.begin);
    return std::find(std::begin(kNoWords), std::end(kNoWords), text) != std::end(kNoWords);
  }

  bool headerDateIsValid() const {
    return header_.Day >= 1 && header_.Day <= 31 && header_.Month >= 1 && header_.Month <= 12 &&
           header_.Year >= 1980 && header_.Year <= 2030 && header_.Hour <= 23 &&
           header_.Minute <= 59;
  }

  // "day.month.year hour:minute". Each field is stored as soon as it is
  // read; when a separator is missing the fields after it keep their
  // values. Each separator is searched from the start of the number before
  // it. The seconds are not in the text and stay as they are.
  void readDate() {
    const Label label = locate(kDateLabels, 0);
    if (!label.found()) return;
    size_t i = skip(label.colon, 2);
    header_.Day = static_cast<uint8_t>(number(i));
    if ((i = nextAfter(u'.', i)) == kNone) return;
    header_.Month = static_cast<uint8_t>(number(i));
    if ((i = nextAfter(u'.', i)) == kNone) return;
    header_.Year = static_cast<uint16_t>(number(i));
    if ((i = nextAfter(u' ', i)) == kNone) return;
    header_.Hour = static_cast<uint8_t>(number(i));
    if ((i = nextAfter(u':', i)) == kNone) return;
    header_.Minute = static_cast<uint8_t>(number(i));
  }

  // Just after the next `separator` at or after `i`, or kNone.
  size_t nextAfter(char16_t separator, size_t i) const {
    const size_t found = i < size() ? text_.find(separator, i) : kNone;
    return found == kNone ? kNone : found + 1;
  }

  void readRecordCount() {
    const Label label = locate(kRecordCountLabels, 0);
    if (label.found()) header_.NoRecords = static_cast<uint32_t>(number(skip(label.colon, 2)));
  }

  // A text value of the channel, looked up from `position`, which moves to
  // the label when it is found.
  template <size_t N>
  void readChannelText(char16_t (&field)[N], std::span<const Text> labels, size_t& position) {
    const Label label = locate(labels, position);
    readTextValue(field, label);
    if (label.found()) position = label.position;
  }

  void readChannel(MGR_DEF& channel, size_t& position) {
    readVariable(channel, position);
    readChannelText(channel.ChannelName, kChannelNameLabels, position);
    readChannelText(channel.ChannelNumber, kChannelNumberLabels, position);

    const Label isds = locate(kIsdsLabels, position);
    if (isds.occurs()) {
      const Word word = flagWord(isds);
      channel.ISDS = isNoWord(word) ? 0 : 1;
      position = word.end;
    }

    readChannelText(channel.ChannelSignalType, kSignalTypeLabels, position);
    readChannelText(channel.ChannelCalParameter, kCalParameterLabels, position);
    readChannelText(channel.ChannelZeroPoint, kZeroPointLabels, position);
    readChannelText(channel.ChannelFilter, kFilterLabels, position);
    readLinearisation(channel, position);
  }

  // The variable is taken from the text only when the imported letter is
  // 245 or a digit '1' to '9'; otherwise the header's variable stands. With
  // 245 the text is read as prefix, letter and index ("dp12"); when that
  // leaves a digit as the letter, the variable has a single letter ("p1")
  // and is read again as letter and index. At most one blank before the
  // variable is passed over; the label position is only taken when the
  // text was used.
  void readVariable(MGR_DEF& channel, size_t& position) {
    const Label label = locate(kVariableLabels, position);
    if (!label.found()) return;
    size_t c = skip(label.colon, 2);
    if (at(c) == u' ') c = skip(c, 1);
    if (channel.VariableLetter == 245) {
      channel.VariablePrefix = at(c);
      channel.VariableLetter = at(c + 1);
      channel.VariableIndex = static_cast<int8_t>(number(c + 2));
      position = label.position;
    }
    if (channel.VariableLetter >= u'1' && channel.VariableLetter <= u'9') {
      channel.VariablePrefix = 0;
      channel.VariableLetter = at(c);
      channel.VariableIndex = static_cast<int8_t>(number(c + 1));
      position = label.position;
    }
  }

  // "no" gives a table of one blank. Any other word switches linearisation
  // on, and the table comes only from a line with a table label; without
  // one the table stays as it was.
  void readLinearisation(MGR_DEF& channel, size_t& position) {
    const Label label = locate(kLinearisationLabels, position);
    if (!label.occurs()) {
      channel.ChannelLintab[0] = 0;
      return;
    }
    const Word word = flagWord(label);
    position = word.begin;
    if (isNoWord(word)) {
      channel.Linearisation = 0;
      channel.ChannelLintab[0] = u' ';
      channel.ChannelLintab[1] = 0;
      return;
    }
    channel.Linearisation = 1;
    const Label table = locate(kLintabLabels, position);
    if (!table.found()) return;
    readLines(channel.ChannelLintab, std::size(channel.ChannelLintab), skip(table.colon, 2),
              kLintabPasses);
    position = table.position;
  }

  LabelIndex index_;  // built first: it finds where the text ends
  Text text_;
  RVX_HEADER& header_;
};

}  // namespace

void readSummaryMetadata(std::u16string_view text, RVX_HEADER& header) {
  SummaryParser(text, header).run();
}

uint32_t decodeSummaryText(const unsigned char* bytes, uint32_t count, char16_t* units) {
  const bool utf16 = count >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || bytes[1] == 0);
  const uint32_t length = utf16 ? count / 2 : count;  // an odd last byte is half a unit
  if (utf16) {
    std::memcpy(units, bytes, length * sizeof(char16_t));
  } else {
    uint32_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time, each widened to a unit by interleaving it
    // with a zero byte (little-endian).
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= count; i += 16) {
      const __m128i narrow = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
      auto* wide = reinterpret_cast<__m128i*>(units + i);
      _mm_storeu_si128(wide, _mm_unpacklo_epi8(narrow, zero));
      _mm_storeu_si128(wide + 1, _mm_unpackhi_epi8(narrow, zero));
    }
#endif
    for (; i < count; ++i) units[i] = bytes[i];
  }
  units[length] = 0;
  return length;
}

void emptySummaryFields(RVX_HEADER& header) {
  const auto empty = [](auto& field) { std::memset(field, 0, sizeof field); };
  empty(header.Company);
  empty(header.Instrument);
  empty(header.SnrInstrument);
  empty(header.NameMeasurement);
  empty(header.TriggerSetting);
  for (uint32_t k = 0; k < channelCount(header); ++k) {
    MGR_DEF& channel = header.Channel[k];
    empty(channel.ChannelName);
    empty(channel.ChannelNumber);
    empty(channel.ChannelSignalType);
    empty(channel.ChannelZeroPoint);
    empty(channel.ChannelCalParameter);
    empty(channel.ChannelFilter);
    empty(channel.ChannelLintab);
    channel.ISDS = 0;
    channel.Linearisation = 0;
  }
}

}  // namespace kdrvx::format
