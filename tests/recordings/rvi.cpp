// RVI texts in German, English and French, and their encodings on disk.
#include <cstdio>
#include <string>

#include "recordings.h"

namespace kdrvx::test {
namespace {

struct Labels {
  const char16_t *company, *instrument, *serialNumber, *nameMeasurement, *directory, *fileName,
      *date, *scanRate, *storingTime, *records, *channels, *trigger, *comment;
  const char16_t *variable, *unit, *name, *number, *isds, *indRate, *signalType, *calParameter,
      *zeroPoint, *filter, *linearisation, *lintab;
  const char16_t *no, *yes, *createdWith;
};

constexpr Labels kGerman = {
    u"Firma", u"Messger\u00E4t", u"Seriennummer", u"Name Messung", u"Verzeichnis", u"Dateiname",
    u"Messung vom", u"Abtastrate", u"Speicherzeit", u"Anzahl S\u00E4tze", u"Kan\u00E4le", u"Trigger",
    u"Kommentar",
    u"Messgroesse", u"Ma\u00DFeinheit", u"Messbezeichnung", u"Messkanal", u"ISDS",
    u"Individ. Abtastrate", u"Signaltyp", u"Me\u00DFbereich/Kalibrierwert", u"Nullpunktabgleich",
    u"Filtereinstellung", u"Linearisierung", u"Linearisierungstabelle",
    u"nein", u"ja", u"erstellt mit"};

constexpr Labels kEnglish = {
    u"Company", u"Instrument", u"Serialnumber", u"Name Measurement", u"Directory", u"Filename",
    u"Measurement from", u"Scanning rate", u"Storing time", u"Data records", u"Channels", u"Trigger",
    u"Commentary",
    u"Variable", u"Unit", u"Name of channel", u"Channel", u"ISDS", u"Individ. Scan.rate",
    u"Signal type", u"Meas.Range/calibr.value", u"Zero point alignment", u"Filter settings",
    u"Linearisation", u"Linearisation table",
    u"no", u"yes", u"created with"};

constexpr Labels kFrench = {
    u"Soci\u00E9t\u00E9", u"Appareil", u"Num\u00E9ro de s\u00E9rie", u"Nom de la mesure", u"Repertoire",
    u"Nom de fichier", u"Mesure de", u"Vitesse d'\u00E9chant.", u"Temps m\u00E9moire",
    u"Nombre donn\u00E9es", u"Voies", u"Trigger", u"Commentaire",
    u"Grandeur mesur\u00E9e", u"Unit\u00E9 de mesure", u"D\u00E9signation de mesure", u"Voie des mesure",
    u"ISDS", u"Individ.temps", u"Type signal", u"Etendue de mesure valuer", u"Alignement zero",
    u"R\u00E9glage de filtre", u"Lin\u00E9arisation", u"Table de linearisation",
    u"non", u"oui", u"fournit"};

std::u16string widened(const std::string& text) {
  std::u16string out;
  for (unsigned char byte : text) out += static_cast<char16_t>(byte);
  return out;
}

std::u16string number(long value) { return widened(std::to_string(value)); }

// A time with three decimals, as "%1.3f" prints it.
std::u16string fixed3(float value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%1.3f", static_cast<double>(value));
  return widened(buffer);
}

// "label:  value" with the label padded to `width` characters.
std::u16string line(const char16_t* label, size_t width, const std::u16string& value) {
  std::u16string text = label;
  if (text.size() < width) text.append(width - text.size(), u' ');
  return text + u":  " + value + u"\r\n";
}

std::u16string identifier(const TestChannel& c) {
  std::u16string text;
  if (c.prefix != 0) text += c.prefix;
  return text + c.letter + widened(std::to_string(c.index));
}

// The scan rate as the instrument's software showed it, the storing time
// of the records, and the unit and rate that individual rates are shown in.
struct ScanText {
  std::u16string rate, storingTime, unit;
  long reducedRate;
};

ScanText scanText(const TestRecording& r) {
  const long rate = static_cast<int32_t>(r.scanRate);
  const float records = r.records == 0 ? 0.0f : static_cast<float>(r.records) - 1.0f;
  const float stored = static_cast<float>(rate) * records / 1000.0f;
  if (r.flags & 1) return {number(rate) + u" \u00B5sec", fixed3(stored) + u" ms", u"\u00B5sec", rate};
  if (rate % 1000 != 0) return {number(rate) + u" ms", fixed3(stored) + u" sec", u"ms", rate};
  if (rate / 1000 % 60 != 0)
    return {number(rate / 1000) + u" sec", fixed3(stored / 60.0f) + u" min", u"sec", rate / 1000};
  return {number(rate / 60000) + u" min", fixed3(stored / 60.0f / 60.0f) + u" h", u"min", rate / 60000};
}

}  // namespace

std::u16string rviText(const TestRecording& r, RviLanguage language) {
  const Labels& l = language == RviLanguage::German    ? kGerman
                    : language == RviLanguage::English ? kEnglish
                                                       : kFrench;
  const ScanText scan = scanText(r);
  std::u16string channels;
  for (const TestChannel& c : r.channels) channels += identifier(c) + u" ";

  std::u16string text = line(l.company, 16, r.company) + line(l.instrument, 16, r.instrument);
  text += line(l.serialNumber, 16, r.snrInstrument) + u"\r\n";
  text += line(l.nameMeasurement, 16, r.nameMeasurement) + line(l.directory, 16, u"");
  text += line(l.fileName, 16, u"");
  text += line(l.date, 16, number(r.day) + u"." + number(r.month) + u"." + number(r.year) + u" " +
                               number(r.hour) + (r.minute < 10 ? u":0" : u":") + number(r.minute));
  text += line(l.scanRate, 16, scan.rate) + line(l.storingTime, 16, scan.storingTime);
  text += line(l.records, 16, number(static_cast<int32_t>(r.records)));
  text += line(l.channels, 16, channels) + line(l.trigger, 16, r.triggerSetting);
  text += line(l.comment, 16, u"");
  if (!r.comment.empty()) text += r.comment + u"\r\n";
  text += u"\r\n";
  for (const TestChannel& c : r.channels) {
    text += u"\r\n" + line(l.variable, 25, identifier(c) + u" ") + line(l.unit, 25, c.unit);
    text += line(l.name, 25, c.name) + line(l.number, 25, c.number);
    text += line(l.isds, 25, c.isds ? l.yes : l.no);
    const std::u16string rate =
        c.indRate > 1 ? l.yes + (u" (" + number(static_cast<int32_t>(c.indRate) * scan.reducedRate) + u" " +
                                 scan.unit + u")")
                      : l.no;
    text += line(l.indRate, 25, rate) + line(l.signalType, 25, c.signalType);
    text += line(l.calParameter, 25, c.calParameter) + line(l.zeroPoint, 25, c.zeroPoint);
    text += line(l.filter, 25, c.filter);
    text += line(l.linearisation, 25, c.linearisation ? l.yes + (u"  " + c.lintab) : l.no);
    if (c.linearisation && !c.lintab.empty()) text += line(l.lintab, 25, c.lintab);
  }
  return text + u"\r\n\r\n" + l.createdWith + u"  KDRVXLibrary V2.7\r\n";
}

std::string encodeRvi(const std::u16string& text, RviEncoding encoding) {
  ByteImage image;
  if (encoding == RviEncoding::Latin1) image.text8(0, text);
  if (encoding == RviEncoding::Utf16WithBom) image.u16(0, 0xFEFF).text16(2, text);
  if (encoding == RviEncoding::Utf16) image.text16(0, text);
  return image.bytes();
}

}  // namespace kdrvx::test
