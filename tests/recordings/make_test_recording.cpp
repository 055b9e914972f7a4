// make_test_recording: the test recordings of this library for programs
// that are not C++ (the Python tests, the fuzz-corpus script), described
// in JSON on standard input.
//
//   make_test_recording [-o FILE]       one file to FILE or standard output
//   make_test_recording -d DIRECTORY    {"NAME": DESCRIPTION, ...}: each file
//                                       as DIRECTORY/NAME
//
// A description is one part or an array of parts, whose bytes follow each
// other in the file:
//   {"header": RECORDING}                  the header of the recording's "layout"
//   {"floats": [[1.5, 2], ...]}            float records, row by row as given
//   {"floats": ROWS, "rates": [1, 2]}      sparse WIN 2.x records from whole rows
//   {"decimals": [[[1234, 2], ...], ...]}  DOS records: mantissa, count of decimals
//   {"rvi": RECORDING, "language": "de"}   its RVI text, "de", "en" or "fr"
//   {"text": "..."}                        a text as it is
// "rvi" and "text" take "encoding": "8-bit" (the default), "utf-16" or
// "utf-16-bom". A RECORDING has the fields of TestRecording and its
// "channels" those of TestChannel, in snake case ("scan_rate", "ind_rate",
// "minimum", ...); "layout" is one of dos4, dosq, dosp, win2, win3, win6 and
// current, and WIN 2.x takes its comment as "comment_lines". Letters and
// version bytes are numbers or one-character strings. Unknown names are
// refused.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "recordings.h"

namespace {

using nlohmann::json;
using namespace kdrvx::test;

[[noreturn]] void refuse(const std::string& what) { throw std::runtime_error(what); }

std::u16string utf16(const json& value) {
  if (!value.is_string()) refuse("not a text: " + value.dump());
  const std::string utf8 = value.get<std::string>();
  std::u16string out;
  for (size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (size_t k = 1; k < length && i + k < utf8.size(); ++k)
      code = code << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    if (code >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
    i += length;
  }
  return out;
}

// A letter or a version byte: a number, or a string of one character ("" is 0).
char16_t character(const json& value) {
  if (value.is_number_integer()) return static_cast<char16_t>(value.get<uint32_t>());
  const std::u16string text = utf16(value);
  if (text.size() > 1) refuse("not one character: " + value.dump());
  return text.empty() ? 0 : text[0];
}

template <typename Target>
void fill(Target& target, const json& fields,
          const std::map<std::string, std::function<void(Target&, const json&)>>& setters) {
  if (!fields.is_object()) refuse("not an object: " + fields.dump());
  for (const auto& [name, value] : fields.items()) {
    const auto setter = setters.find(name);
    if (setter == setters.end()) refuse("unknown field \"" + name + "\"");
    setter->second(target, value);
  }
}

template <typename Target, typename Field>
std::function<void(Target&, const json&)> number(Field Target::*field) {
  return [field](Target& target, const json& value) { target.*field = value.get<Field>(); };
}

template <typename Target>
std::function<void(Target&, const json&)> text(std::u16string Target::*field) {
  return [field](Target& target, const json& value) { target.*field = utf16(value); };
}

template <typename Target, typename Field>
std::function<void(Target&, const json&)> letter(Field Target::*field) {
  return [field](Target& target, const json& value) { target.*field = static_cast<Field>(character(value)); };
}

TestChannel channel(const json& fields) {
  using C = TestChannel;
  static const std::map<std::string, std::function<void(C&, const json&)>> setters = {
      {"letter", letter(&C::letter)},          {"prefix", letter(&C::prefix)},
      {"index", number(&C::index)},            {"code", number(&C::code)},
      {"unit", text(&C::unit)},                {"ind_rate", number(&C::indRate)},
      {"minimum", number(&C::min)},            {"maximum", number(&C::max)},
      {"mean", number(&C::mean)},              {"rms", number(&C::rms)},
      {"sdev", number(&C::sdev)},              {"multichannel", number(&C::multiChannel)},
      {"isds", number(&C::isds)},              {"linearisation", number(&C::linearisation)},
      {"name", text(&C::name)},                {"number", text(&C::number)},
      {"signal_type", text(&C::signalType)},   {"zero_point", text(&C::zeroPoint)},
      {"cal_parameter", text(&C::calParameter)}, {"filter", text(&C::filter)},
      {"lintab", text(&C::lintab)}};
  TestChannel c;
  fill(c, fields, setters);
  return c;
}

Layout layout(const json& value) {
  static const std::map<std::string, Layout> names = {
      {"dos4", Layout::DosBefore50}, {"dosq", Layout::DosKindQ}, {"dosp", Layout::DosKindP},
      {"win2", Layout::Win2},        {"win3", Layout::Win3},     {"win6", Layout::Win6},
      {"current", Layout::Current}};
  const auto found = names.find(value.get<std::string>());
  if (found == names.end()) refuse("unknown layout " + value.dump());
  return found->second;
}

TestRecording testRecording(const json& fields) {
  using R = TestRecording;
  static const std::map<std::string, std::function<void(R&, const json&)>> setters = {
      {"layout", [](R& r, const json& value) { r.layout = layout(value); }},
      {"version", letter(&R::version)},           {"original_flag", letter(&R::originalFlag)},
      {"year", number(&R::year)},                 {"month", number(&R::month)},
      {"day", number(&R::day)},                   {"hour", number(&R::hour)},
      {"minute", number(&R::minute)},             {"second", number(&R::second)},
      {"records", number(&R::records)},           {"trigger_record", number(&R::triggerRecord)},
      {"scan_rate", number(&R::scanRate)},        {"flags", number(&R::flags)},
      {"flag_statistics", number(&R::flagStatistics)}, {"header_size", number(&R::headerSize)},
      {"data_offset", number(&R::dataOffset)},    {"comment", text(&R::comment)},
      {"company", text(&R::company)},             {"instrument", text(&R::instrument)},
      {"snr_instrument", text(&R::snrInstrument)}, {"name_measurement", text(&R::nameMeasurement)},
      {"trigger_setting", text(&R::triggerSetting)},
      {"comment_lines",
       [](R& r, const json& lines) {
         if (!lines.is_array() || lines.size() > 4) refuse("comment_lines: up to four texts");
         for (size_t line = 0; line < lines.size(); ++line) r.commentLines[line] = utf16(lines[line]);
       }},
      {"channels",
       [](R& r, const json& channels) {
         for (const json& entry : channels) r.channels.push_back(channel(entry));
       }}};
  TestRecording r;
  fill(r, fields, setters);
  return r;
}

RviEncoding encoding(const json& part) {
  const std::string name = part.value("encoding", "8-bit");
  if (name == "8-bit") return RviEncoding::Latin1;
  if (name == "utf-16") return RviEncoding::Utf16;
  if (name == "utf-16-bom") return RviEncoding::Utf16WithBom;
  refuse("unknown encoding \"" + name + "\"");
}

RviLanguage language(const json& part) {
  const std::string name = part.at("language").get<std::string>();
  if (name == "de") return RviLanguage::German;
  if (name == "en") return RviLanguage::English;
  if (name == "fr") return RviLanguage::French;
  refuse("unknown language \"" + name + "\"");
}

// Whether the part has no other keys than these.
bool only(const json& part, std::initializer_list<std::string> keys) {
  for (const auto& item : part.items())
    if (std::find(keys.begin(), keys.end(), item.key()) == keys.end()) return false;
  return true;
}

std::string bytesOf(const json& part) {
  if (part.contains("header") && only(part, {"header"})) return header(testRecording(part["header"]));
  if (part.contains("floats") && only(part, {"floats", "rates"})) {
    const auto rows = part["floats"].get<std::vector<std::vector<float>>>();
    if (!part.contains("rates")) return floatRecords(rows);
    std::vector<TestChannel> channels;
    for (uint32_t rate : part["rates"].get<std::vector<uint32_t>>()) channels.emplace_back().indRate = rate;
    return sparseRecords(channels, rows);
  }
  if (part.contains("decimals") && only(part, {"decimals"})) {
    std::vector<std::vector<DosValue>> rows;
    for (const json& row : part["decimals"]) {
      rows.emplace_back();
      for (const json& value : row) rows.back().push_back({value.at(0).get<int16_t>(), value.at(1).get<uint16_t>()});
    }
    return dosRecords(rows);
  }
  if (part.contains("rvi") && only(part, {"rvi", "language", "encoding"}))
    return encodeRvi(rviText(testRecording(part["rvi"]), language(part)), encoding(part));
  if (part.contains("text") && only(part, {"text", "encoding"}))
    return encodeRvi(utf16(part["text"]), encoding(part));
  refuse("not a part: " + part.dump());
}

std::string file(const json& description) {
  if (!description.is_array()) return bytesOf(description);
  std::string bytes;
  for (const json& part : description) bytes += bytesOf(part);
  return bytes;
}

void write(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) refuse("cannot write " + path.string());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string option = argc == 3 ? argv[1] : "";
  if (argc != 1 && option != "-o" && option != "-d") {
    std::fprintf(stderr, "usage: make_test_recording [-o FILE | -d DIRECTORY] < DESCRIPTION.json\n");
    return 2;
  }
  try {
    std::string input{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    const json description = json::parse(input);
    if (option == "-d") {
      std::filesystem::create_directories(argv[2]);
      for (const auto& [name, entry] : description.items()) write(std::filesystem::path(argv[2]) / name, file(entry));
    } else if (option == "-o") {
      write(argv[2], file(description));
    } else {
#ifdef _WIN32
      _setmode(_fileno(stdout), _O_BINARY);
#endif
      const std::string bytes = file(description);
      std::fwrite(bytes.data(), 1, bytes.size(), stdout);
      if (std::fflush(stdout) != 0) refuse("cannot write the standard output");
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "make_test_recording: %s\n", error.what());
    return 2;
  }
  return 0;
}
