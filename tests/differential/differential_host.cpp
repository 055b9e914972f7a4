// A host of the public C interface that drives the library with a seeded
// random sequence of calls and writes a transcript of everything it sees:
// each call with its arguments, its result, the last error after it, every
// trace line it wrote, every buffer it filled, and at the end the bytes of
// every file in the working directory. The Linux library and the Windows DLL
// given the same seed must write the same transcript, byte for byte.
//
//   differential_host CALLS SEED...
//
// Runs each seed in a new directory SEED of the current directory and
// writes its transcript to SEED.txt, in binary, so that both builds end
// their lines alike.
//
// What the platforms must answer differently is kept out by rule, never by
// seed. The rules, one place for all of them:
//   R1 File names: only names of letters, digits and '_' from a fixed pool
//      (two of them non-ASCII, all valid UTF-16), plus, for the create
//      functions and the pure name functions alone, names with the
//      characters that the create path cleaning replaces on every platform
//      ('"' '<' '>' '?' '|', and ':' after the second unit) and a path of
//      260 units, which they refuse. Paths through a directory ('/') only
//      for the functions that open or delete, which take '/' as a separator
//      on every platform (the create path cleaning replaces it on Windows
//      alone). Never '\', '*', a trailing dot or blank, a reserved device
//      name, two names that differ in case only, or a name the operating
//      system would refuse for its length.
//   R2 The clock: a create or reset stamps the header with the time of day,
//      so the generator sets a date and a time right after each, and an
//      older layout's implausible date is replaced by the file's time, so
//      the dates it stores there are plausible and no raw block is written
//      over the first 32 bytes of a file.
//   R3 Random names: the staging names carry random characters; the
//      transcript shows them with those characters masked.
//   R4 Sharing: a file that the create or modify context holds is not opened
//      for reading (the read open waits 2 s and tries again, on both
//      platforms alike), and the live functions are given no time to wait.
//   R5 The read-only attribute, which POSIX stands in for by a mode without
//      write bits: no file is made read-only.
//   R6 The default trace sink (the debugger output on Windows, nothing
//      elsewhere) is not observed: a sink of this program is installed, and
//      while none is, no trace line is expected.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "kdrvx/kdrvx.h"

namespace {

using Text = std::basic_string<KDRVX_CHAR>;

// splitmix64: the same numbers from the same seed in every build.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(next() % n); }
  int32_t between(int32_t low, int32_t high) {
    return low + static_cast<int32_t>(below(static_cast<uint32_t>(high - low + 1)));
  }
  bool chance(uint32_t percent) { return below(100) < percent; }
  template <typename T, size_t N>
  const T& pick(const T (&items)[N]) {
    return items[below(N)];
  }

 private:
  uint64_t state_;
};

Text widen(const char* ascii) {
  Text text;
  for (; *ascii != 0; ++ascii) text.push_back(static_cast<KDRVX_CHAR>(static_cast<unsigned char>(*ascii)));
  return text;
}

// Transcript text: printable ASCII as it is, everything else escaped, so
// that a line is a line and both builds write the same bytes.
std::string show(const KDRVX_CHAR* text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    const unsigned unit = static_cast<uint16_t>(text[i]);
    if (unit >= 0x20 && unit < 0x7F && unit != '\\') {
      out.push_back(static_cast<char>(unit));
    } else {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04X", unit);
      out += code;
    }
  }
  return out;
}

std::string show(const KDRVX_CHAR* text) {
  if (text == nullptr) return "(null)";
  size_t length = 0;
  while (text[length] != 0) ++length;
  return "\"" + show(text, length) + "\"";
}

std::string hex32(uint32_t value) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%08" PRIX32, value);
  return digits;
}

std::string number(int64_t value) { return std::to_string(value); }

// A float by its bits, never by the C runtime's formatting.
std::string showFloat(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return "f:" + hex32(bits);
}

std::string showDouble(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  char digits[24];
  std::snprintf(digits, sizeof digits, "d:%016" PRIX64, bits);
  return digits;
}

class Transcript {
 public:
  explicit Transcript(FILE* file) : file_(file) {}
  // A call: its number, then everything it produces on lines of that number.
  void call(const std::string& what) {
    ++number_;
    write(" " + what);
  }
  void line(const std::string& text) { write("   " + text); }
  unsigned number() const { return number_; }

 private:
  void write(const std::string& text) {
    std::fprintf(file_, "%u%s\n", number_, text.c_str());
  }
  FILE* file_;
  unsigned number_ = 0;
};

void collectTrace(const KDRVX_CHAR* line, void* context) {
  std::string text = show(line);
  text = text.substr(1, text.size() - 2);
  static_cast<Transcript*>(context)->line("| " + text);
}

// A path of 260 units, which the create functions refuse on every platform
// before the operating system sees it.
const char16_t kLongName[] =
    u"llllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllll"
    u"llllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllll"
    u"llllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllllll.rvx";
static_assert(sizeof kLongName / sizeof kLongName[0] == 261, "260 units and the terminator");

// R1: the pool of names, and names that only the create functions are
// given: they clean them in place, to the same names on every platform.
const char16_t* const kNames[] = {
    u"a.rvx", u"b.rvx", u"c.rvx", u"d.RVX", u"e1.rvx", u"run_2.rvx", u"\u00e9t\u00e9.rvx",
    u"\u03a9.rvx", u"missing.rvx", u"noext"};
// Paths through a directory that the host makes ("sub"), one that is not
// there, and the directory itself (R1).
const char16_t* const kPaths[] = {u"sub", u"sub/a.rvx", u"nodir/a.rvx"};
const char16_t* const kCleanedNames[] = {u"f?1.rvx", u"g<2>.rvx", u"h|\"3.rvx", u"ij:k.rvx",
                                         kLongName};

Text nameText(const char16_t* name) {
  Text text;
  for (; *name != 0; ++name) text.push_back(static_cast<KDRVX_CHAR>(*name));
  return text;
}

const char* const kVariables[] = {"p1", "T2", "dp12", "A3", "dp1", "p2", "T0", "T256", "abc1",
                                  "12", "T", "", "p 7", "x48", "Tq9", "-1"};
const char* const kDates[] = {"5.3.2024", "31.12.1999", "1.1.2030", "29.2.2000", "7.07.2012"};
const char* const kBadDates[] = {"5.3", "0.3.2024", " 5.3.2024", "x", "", "5..2024"};
const char* const kTimes[] = {"7", "23:59:59", "12:30", "0:00:00", "12:30:", "08:15:30"};
const char* const kBadTimes[] = {"24:00", "12:60", "12:30:75", "-1", "ab"};
const uint16_t kSymbols[] = {'a', 'Z', '0', ' ', '.', '%', ';', 0xE9, 0xB5, 0x3A9, 0x20AC,
                             0xD83D, 0xDE00, 0xFFFF, 0x7F, 0x9};
const uint32_t kCodes[] = {0, 0xE1000001, 0xE1000005, 0xE1000018, 0xE1000026, 0xE1000027,
                           0xE1000028, 0xE0000000, 0xFFFFFFFF, 0xE100001E, 0xE1000020};
const int32_t kLanguages[] = {0, 2, 4, 255, 7, -1};
const int16_t kMasks[] = {0, 4, 8, static_cast<int16_t>(0x8000), static_cast<int16_t>(0x800C), 12,
                          -1, 0x0F00};

// The header's capacities, to draw text lengths around them.
const uint32_t kLimits[] = {KDRVX_COMMENT_LIMIT, KDRVX_COMPANY_LIMIT, KDRVX_INSTRUMENT_LIMIT,
                            KDRVX_SNR_INSTRUMENT_LIMIT, KDRVX_NAME_MEASUREMENT_LIMIT,
                            KDRVX_CHANNEL_UNIT_LIMIT, KDRVX_CHANNEL_NUMBER_LIMIT,
                            KDRVX_CHANNEL_LINTAB_LIMIT};

class Session {
 public:
  Session(uint64_t seed, Transcript& out) : random_(seed), out_(out) {}

  void run(unsigned calls) {
    KDRVX_CHAR version[64];
    KDRVX_LibVersion(version, 64);  // clears the last error
    std::error_code error;
    std::filesystem::create_directory("sub", error);
    KDRVX_SetTraceSink(collectTrace, &out_);
    out_.call("SetDebugMask(every bit)");
    status(KDRVX_SetDebugMask(KDRVX_DEBUG_ERRORS | KDRVX_DEBUG_CALLS | static_cast<int16_t>(KDRVX_DEBUG_DETAILS)));
    while (out_.number() < calls) step();
    finish();
  }

 private:
  // ---- arguments ----------------------------------------------------------
  Text anyText() {
    uint32_t length;
    switch (random_.below(4)) {
      case 0: length = random_.below(6); break;
      case 1: { const uint32_t limit = random_.pick(kLimits); length = limit - 1 + random_.below(3); break; }
      case 2: length = random_.below(300); break;
      default: length = 0; break;
    }
    Text text;
    const bool plain = random_.chance(60);
    for (uint32_t i = 0; i < length; ++i)
      text.push_back(plain ? static_cast<KDRVX_CHAR>('a' + random_.below(26))
                           : static_cast<KDRVX_CHAR>(random_.pick(kSymbols)));
    return text;
  }

  // A name of the pool (R1), or one of the files made so far.
  Text anyName() {
    if (!made_.empty() && random_.chance(75)) return made_[random_.below(made_.size())];
    return nameText(random_.pick(kNames));
  }

  // A name of the pool or a path through a directory, for the functions
  // that only open or delete what is there (R1).
  Text anyPath() {
    if (random_.chance(10)) return nameText(random_.pick(kPaths));
    return anyName();
  }

  int16_t anyChannel() {
    const int32_t channels = static_cast<int32_t>(channels_);
    switch (random_.below(8)) {
      case 0: return -1;
      case 1: return static_cast<int16_t>(channels);
      case 2: return static_cast<int16_t>(random_.between(-32768, 32767));
      default: return static_cast<int16_t>(channels == 0 ? 0 : random_.below(channels));
    }
  }

  float anyValue() {
    switch (random_.below(12)) {
      case 0: return std::nanf("");
      case 1: return -std::nanf("");
      case 2: return INFINITY;
      case 3: return -INFINITY;
      case 4: return 0.0f;
      case 5: return -0.0f;
      case 6: { uint32_t bits = random_.below(1u << 16); float v; std::memcpy(&v, &bits, 4); return v; }
      case 7: { uint32_t bits = static_cast<uint32_t>(random_.next()); float v; std::memcpy(&v, &bits, 4); return v; }
      case 8: return static_cast<float>(random_.between(-1000000, 1000000)) / 1024.0f;
      default: return static_cast<float>(random_.between(-100000, 100000)) / 7.0f;
    }
  }

  // Room for the most channels a file can have, whichever file the records
  // go to.
  std::vector<float> randomRecords(uint32_t count) {
    std::vector<float> values(static_cast<size_t>(std::max(count, 1u)) * 48);
    for (float& value : values) value = anyValue();
    return values;
  }

  bool isWriterHeld(const Text& name) const {
    return (createOpen_ && name == createName_) || (modifyOpen_ && name == modifyName_);
  }

  void remember(const Text& name) {
    if (std::find(made_.begin(), made_.end(), name) == made_.end()) made_.push_back(name);
  }

  // ---- the transcript -----------------------------------------------------
  void status(uint32_t result) {
    out_.line("= " + hex32(result) + " last " + hex32(KDRVX_GetLastError()));
  }
  void value(const std::string& result) {
    out_.line("= " + result + " last " + hex32(KDRVX_GetLastError()));
  }

  // ---- one step -----------------------------------------------------------
  void step() {
    switch (random_.below(10)) {
      case 0: library(); break;
      case 1: case 2: case 3: create(); break;
      case 4: case 5: read(); break;
      case 6: readers(); break;
      case 7: modify(); break;
      case 8: extensions(); break;
      default: records(); break;
    }
  }

  void library() {
    switch (random_.below(6)) {
      case 0: {
        const int16_t mask = random_.pick(kMasks);
        out_.call("SetDebugMask(" + number(mask) + ")");
        status(KDRVX_SetDebugMask(mask));
        break;
      }
      case 1: {
        KDRVX_CHAR text[48];
        std::fill(std::begin(text), std::end(text), KDRVX_CHAR('#'));
        const uint16_t capacity = static_cast<uint16_t>(random_.below(41));
        out_.call("LibVersion(" + number(capacity) + ")");
        status(KDRVX_LibVersion(text, capacity));
        out_.line("text " + show(text, 48));
        break;
      }
      case 2: {
        KDRVX_CHAR text[120];
        std::fill(std::begin(text), std::end(text), KDRVX_CHAR('#'));
        const uint32_t code = random_.chance(70) ? 0xE1000000u + random_.below(0x2A) : random_.pick(kCodes);
        const uint16_t capacity = static_cast<uint16_t>(random_.below(110));
        out_.call("GetErrorString(" + number(capacity) + ", " + hex32(code) + ")");
        status(KDRVX_GetErrorString(text, capacity, code));
        out_.line("text " + show(text, 120));
        break;
      }
      case 3: {
        const Text name = anyPath();
        if (isWriterHeld(name) && random_.chance(70)) break;
        out_.call("DeleteFile(" + show(name.c_str()) + ")");
        KDRVX_DeleteFile(name.c_str());
        out_.line("last " + hex32(KDRVX_GetLastError()));
        break;
      }
      case 4: {
        // R6: with no sink of ours, nothing is observed until it is back.
        out_.call("SetTraceSink(null); GetNoChannels(); SetTraceSink(transcript)");
        KDRVX_SetTraceSink(nullptr, nullptr);
        const uint32_t channels = KDRVX_GetNoChannels();
        KDRVX_SetTraceSink(collectTrace, &out_);
        value(number(channels));
        break;
      }
      default: {
        const uint32_t layout = random_.below(10);
        KDRVX_CHAR text[40];
        std::fill(std::begin(text), std::end(text), KDRVX_CHAR('#'));
        const uint16_t capacity = static_cast<uint16_t>(random_.below(34));
        out_.call("GetLayoutName(" + number(layout) + ", " + number(capacity) + ")");
        status(KDRVX_GetLayoutName(layout, text, capacity));
        out_.line("text " + show(text, 40));
        break;
      }
    }
  }

  // R2: a date and a time that do not come from the clock.
  void stampHeader(bool legacy) {
    const char* date = random_.pick(kDates);
    const char* time = random_.pick(kTimes);
    const Text dateText = widen(date), timeText = widen(time);
    out_.call(std::string("SetDate(\"") + date + "\"); SetTime(\"" + time + "\")" +
              (legacy ? " legacy" : ""));
    const uint32_t first = KDRVX_SetDate(dateText.c_str());
    const uint32_t second = KDRVX_SetTime(timeText.c_str());
    out_.line("= " + hex32(first) + " " + hex32(second));
  }

  void openForCreate() {
    Text name = random_.chance(15) ? nameText(random_.pick(kCleanedNames)) : anyName();
    const bool overwrite = random_.chance(60);
    const bool original = random_.chance(50);
    const int kind = static_cast<int>(random_.below(3));
    const bool legacy = kind != 0 && random_.chance(35);
    const int32_t language = random_.pick(kLanguages);
    std::vector<KDRVX_CHAR> path(name.begin(), name.end());
    path.push_back(0);
    const std::string args = show(name.c_str()) + ", " + number(overwrite) + ", " + number(original);
    uint32_t result;
    if (kind == 0) {
      out_.call("Create(" + args + ")");
      result = KDRVX_Create(path.data(), overwrite, original);
    } else if (kind == 1) {
      out_.call("CreateExt(" + args + ", " + number(legacy) + ", " + number(language) + ")");
      result = KDRVX_CreateExt(path.data(), overwrite, original, legacy, language);
    } else {
      out_.call("CreateLive(" + args + ", " + number(legacy) + ", " + number(language) + ")");
      result = KDRVX_CreateLive(path.data(), overwrite, original, legacy, language);
    }
    status(result);
    out_.line("path " + show(path.data()));
    if (result != KDRVX_OK) return;
    createOpen_ = true;
    createLegacy_ = legacy;
    createName_ = Text(path.data());
    channels_ = 0;
    remember(createName_);
    stampHeader(legacy);
  }

  void create() {
    if (!createOpen_ && random_.chance(70)) return openForCreate();
    // Channels first, mostly: a file without them takes no records.
    switch (channels_ < 3 && random_.chance(50) ? 4 : random_.below(14)) {
      case 0: return openForCreate();
      case 1: {
        const Text text = anyText();
        const bool null = random_.chance(10);
        using Setter = uint32_t (*)(const KDRVX_CHAR*);
        static const Setter setters[] = {KDRVX_SetCompany, KDRVX_SetInstrument,
                                         KDRVX_SetSnrInstrument, KDRVX_SetNameMeasurement,
                                         KDRVX_SetTriggerSetting, KDRVX_SetComment};
        static const char* const names[] = {"SetCompany", "SetInstrument", "SetSnrInstrument",
                                            "SetNameMeasurement", "SetTriggerSetting", "SetComment"};
        const uint32_t which = random_.below(6);
        out_.call(std::string(names[which]) + "(" + (null ? "(null)" : show(text.c_str())) + ")");
        return status(setters[which](null ? nullptr : text.c_str()));
      }
      case 2: {
        // A date the parser refuses, which stores nothing, or an implausible
        // one that it accepts, only where no reader replaces it (R2).
        const bool refused = random_.chance(50) || createLegacy_;
        const Text text = widen(refused ? random_.pick(kBadDates) : "40.13.99");
        out_.call("SetDate(" + show(text.c_str()) + ")");
        status(KDRVX_SetDate(text.c_str()));
        const Text time = widen(random_.pick(kBadTimes));
        out_.call("SetTime(" + show(time.c_str()) + ")");
        return status(KDRVX_SetTime(time.c_str()));
      }
      case 3: {
        static const int64_t rates[] = {0, 1000, 1500, 2500, 1000000, 60000000, -1000, 7,
                                        INT64_C(4294967296000), 3600000000};
        const int64_t rate = random_.chance(70) ? random_.pick(rates)
                                                : static_cast<int64_t>(random_.next());
        out_.call("SetScanRate(" + number(rate) + ")");
        status(KDRVX_SetScanRate(rate));
        const uint32_t trigger = random_.below(6);
        out_.call("SetNoTriggerRecord(" + number(trigger) + ")");
        return status(KDRVX_SetNoTriggerRecord(trigger));
      }
      case 5:
        if (random_.chance(30)) return manyChannels();
        [[fallthrough]];
      case 4: {
        const bool null = random_.chance(5);
        const Text variable = widen(random_.pick(kVariables));
        out_.call("AddChannel(" + (null ? std::string("(null)") : show(variable.c_str())) + ")");
        const uint32_t result = KDRVX_AddChannel(null ? nullptr : variable.c_str());
        status(result);
        if (result < 48) channels_ = result + 1;
        return;
      }
      case 6: case 7: return channelSetter();
      case 8: {
        const int16_t channel = anyChannel();
        const uint16_t bits = static_cast<uint16_t>(random_.below(35));
        out_.call("SetChannelMultiChannel(" + number(channel) + ", " + number(bits) + ")");
        return status(KDRVX_SetChannelMultiChannel(channel, bits));
      }
      case 9: {
        out_.call("Update()");
        return status(KDRVX_Update());
      }
      case 10: {
        // R2: never over the header's first 32 bytes.
        static const int32_t offsets[] = {-1, 32, 100, 1500, 2900, 70000};
        int32_t offset = random_.pick(offsets);
        if (random_.chance(40)) offset = 32 + static_cast<int32_t>(random_.below(8000));
        const uint16_t count = static_cast<uint16_t>(random_.below(40));
        std::vector<uint8_t> data(count + 1u);
        for (uint8_t& byte : data) byte = static_cast<uint8_t>(random_.next());
        out_.call("WriteDataBlock(" + number(offset) + ", " + number(count) + ")");
        return status(KDRVX_WriteDataBlock(data.data(), offset, count));
      }
      case 11: {
        const bool simple = random_.chance(30);
        out_.call(simple ? "CloseCreateSimple()" : "CloseCreate()");
        const uint32_t result = simple ? KDRVX_CloseCreateSimple() : KDRVX_CloseCreate();
        status(result);
        if (result == KDRVX_OK || !createOpen_) createOpen_ = false;
        return;
      }
      case 12: {
        out_.call("Reset()");
        status(KDRVX_Reset());
        channels_ = 0;
        if (createOpen_) stampHeader(createLegacy_);
        return;
      }
      default: {
        const float bits = anyValue();
        out_.call("ConvertMultiChannelValue(" + showFloat(bits) + ")");
        return value(hex32(KDRVX_ConvertMultiChannelValue(bits)));
      }
    }
  }

  // Channels up to a count near the layouts' limits (24, 45 before the
  // header size wraps, 48), a call each.
  void manyChannels() {
    const uint32_t target = static_cast<uint32_t>(random_.between(20, 50));
    for (uint32_t k = channels_ + 1; k <= target; ++k) {
      const Text variable = widen(("x" + number(k)).c_str());
      out_.call("AddChannel(" + show(variable.c_str()) + ")");
      const uint32_t result = KDRVX_AddChannel(variable.c_str());
      status(result);
      if (result >= 48) return;
      channels_ = result + 1;
    }
  }

  void channelSetter() {
    const int16_t channel = anyChannel();
    const uint32_t which = random_.below(13);
    if (which < 9) {
      using Setter = uint32_t (*)(int16_t, const KDRVX_CHAR*);
      static const Setter setters[] = {
          KDRVX_SetChannelVariable, KDRVX_SetChannelUnit, KDRVX_SetChannelName,
          KDRVX_SetChannelNumber, KDRVX_SetChannelSignalType, KDRVX_SetChannelZeroPoint,
          KDRVX_SetChannelCalParameter, KDRVX_SetChannelFilter, KDRVX_SetChannelLintab};
      static const char* const names[] = {
          "SetChannelVariable", "SetChannelUnit", "SetChannelName", "SetChannelNumber",
          "SetChannelSignalType", "SetChannelZeroPoint", "SetChannelCalParameter",
          "SetChannelFilter", "SetChannelLintab"};
      const Text text = which == 0 ? widen(random_.pick(kVariables)) : anyText();
      const bool null = random_.chance(8);
      out_.call(std::string(names[which]) + "(" + number(channel) + ", " +
                (null ? "(null)" : show(text.c_str())) + ")");
      return status(setters[which](channel, null ? nullptr : text.c_str()));
    }
    if (which == 9) {
      const uint32_t divisor = random_.chance(70) ? random_.below(5) : static_cast<uint32_t>(random_.next());
      out_.call("SetChannelIndRate(" + number(channel) + ", " + number(divisor) + ")");
      return status(KDRVX_SetChannelIndRate(channel, divisor));
    }
    const int16_t flag = static_cast<int16_t>(random_.chance(70) ? random_.below(3) : random_.next());
    if (which == 10) {
      out_.call("SetChannelISDS(" + number(channel) + ", " + number(flag) + ")");
      return status(KDRVX_SetChannelISDS(channel, flag));
    }
    out_.call("SetChannelLinearisation(" + number(channel) + ", " + number(flag) + ")");
    return status(KDRVX_SetChannelLinearisation(channel, flag));
  }

  // Appends to the file under creation or, with none, the file open for
  // modification.
  void records() {
    if (!createOpen_ && !modifyOpen_ && random_.chance(80)) return create();
    const uint32_t count = random_.chance(50) ? 1 : random_.below(6);
    std::vector<float> values = randomRecords(count);
    std::string shown;
    for (size_t i = 0; i < values.size() && i < 8; ++i) shown += " " + showFloat(values[i]);
    if (count == 1 && random_.chance(60)) {
      out_.call("AddRecord(" + shown + ")");
      status(KDRVX_AddRecord(values.data()));
    } else {
      const bool null = random_.chance(5);
      out_.call("AddRecords(" + number(count) + ", " + (null ? "(null)" : shown) + ")");
      status(KDRVX_AddRecords(null ? nullptr : values.data(), count));
    }
  }

  // ---- reading ------------------------------------------------------------
  void read() {
    if (!readOpen_ || random_.chance(8)) {
      const Text name = anyPath();
      if (isWriterHeld(name)) return;  // R4
      out_.call("OpenRead(" + show(name.c_str()) + ")");
      const uint32_t result = KDRVX_OpenRead(name.c_str());
      status(result);
      if (result == KDRVX_OK) {
        readOpen_ = true;
      }
      return;
    }
    const int16_t channel = static_cast<int16_t>(random_.below(KDRVX_GetNoChannels() + 2)) - 1;
    const uint16_t capacity = static_cast<uint16_t>(random_.chance(50) ? random_.below(40) : 300);
    KDRVX_CHAR text[310];
    std::fill(std::begin(text), std::end(text), KDRVX_CHAR('#'));
    switch (random_.below(12)) {
      case 0: {
        out_.call("CloseRead()");
        status(KDRVX_CloseRead());
        readOpen_ = false;
        return;
      }
      case 1: {
        using Getter = uint32_t (*)(KDRVX_CHAR*, uint16_t);
        static const Getter getters[] = {KDRVX_GetComment, KDRVX_GetCompany, KDRVX_GetInstrument,
                                         KDRVX_GetSnrInstrument, KDRVX_GetNameMeasurement,
                                         KDRVX_GetTriggerSetting};
        static const char* const names[] = {"GetComment", "GetCompany", "GetInstrument",
                                            "GetSnrInstrument", "GetNameMeasurement",
                                            "GetTriggerSetting"};
        const uint32_t which = random_.below(6);
        out_.call(std::string(names[which]) + "(" + number(capacity) + ")");
        status(getters[which](text, capacity));
        return out_.line("text " + show(text, 310));
      }
      case 2: case 3: {
        using Getter = uint32_t (*)(KDRVX_CHAR*, int16_t, uint16_t);
        static const Getter getters[] = {
            KDRVX_GetChannelVariable, KDRVX_GetChannelUnit, KDRVX_GetChannelName,
            KDRVX_GetChannelNumber, KDRVX_GetChannelSignalType, KDRVX_GetChannelZeroPoint,
            KDRVX_GetChannelCalParameter, KDRVX_GetChannelFilter, KDRVX_GetChannelLintab};
        static const char* const names[] = {
            "GetChannelVariable", "GetChannelUnit", "GetChannelName", "GetChannelNumber",
            "GetChannelSignalType", "GetChannelZeroPoint", "GetChannelCalParameter",
            "GetChannelFilter", "GetChannelLintab"};
        const uint32_t which = random_.below(9);
        out_.call(std::string(names[which]) + "(" + number(channel) + ", " + number(capacity) + ")");
        status(getters[which](text, channel, capacity));
        return out_.line("text " + show(text, 310));
      }
      case 4: {
        uint8_t original = 0xAA;
        out_.call("CheckOriginalFlag; GetDate; GetTime");
        status(KDRVX_CheckOriginalFlag(&original));
        status(KDRVX_GetDate(text));
        status(KDRVX_GetTime(text + 20));
        return out_.line("original " + number(original) + " text " + show(text, 40));
      }
      case 5: {
        out_.call("GetVersion; GetNoRecords; GetScanRate; GetNoChannels; GetNoTriggerRecord; "
                  "GetFlagStatistics; IsAnyMultiChannelinRVX");
        const std::string values = number(KDRVX_GetVersion()) + " " + number(KDRVX_GetNoRecords()) +
                                   " " + number(KDRVX_GetScanRate()) + " " +
                                   number(KDRVX_GetNoChannels()) + " " +
                                   number(KDRVX_GetNoTriggerRecord()) + " " +
                                   number(KDRVX_GetFlagStatistics()) + " " +
                                   number(KDRVX_IsAnyMultiChannelinRVX());
        return value(values);
      }
      case 6: case 7: {
        out_.call("channel queries(" + number(channel) + ")");
        const std::string values =
            number(KDRVX_GetChannelIndRate(channel)) + " " +
            showFloat(KDRVX_GetChannelMinValue(channel)) + " " +
            showFloat(KDRVX_GetChannelMaxValue(channel)) + " " +
            showFloat(KDRVX_GetChannelMeanValue(channel)) + " " +
            showFloat(KDRVX_GetChannelRMSValue(channel)) + " " +
            showFloat(KDRVX_GetChannelSDevValue(channel)) + " " +
            number(KDRVX_GetNumberMultiChannelBits(channel)) + " " +
            number(KDRVX_IsChannelISDS(channel)) + " " +
            number(KDRVX_IsChannelLinearisation(channel)) + " " +
            number(KDRVX_IsChannelMultiChannel(channel));
        return value(values);
      }
      case 8: case 9: {
        const bool first = random_.chance(30);
        std::vector<float> record(64, -1.0f);
        out_.call(first ? "ReadFirstRecord" : "ReadNextRecord");
        status(first ? KDRVX_ReadFirstRecord(record.data()) : KDRVX_ReadNextRecord(record.data()));
        return out_.line("record" + floats(record.data(), std::min<uint32_t>(KDRVX_GetNoChannels(), 64)));
      }
      case 10: {
        const int64_t first = random_.chance(90) ? random_.below(6) : -1;
        const uint32_t count = random_.below(5);
        std::vector<float> buffer(48 * 5 + 1, -1.0f);
        out_.call("ReadRecords(" + number(first) + ", " + number(count) + ")");
        const int64_t result = KDRVX_ReadRecords(first, count, buffer.data());
        value(number(result));
        const uint32_t channels = std::min<uint32_t>(KDRVX_GetNoChannels(), 48);
        if (result > 0) out_.line("records" + floats(buffer.data(), static_cast<uint32_t>(result) * channels));
        return;
      }
      default: {
        uint64_t offset = 1;
        uint32_t size = 2, kind = 3;
        out_.call("GetDataLayout");
        status(KDRVX_GetDataLayout(&offset, &size, &kind));
        return out_.line(number(static_cast<int64_t>(offset)) + " " + number(size) + " " + number(kind));
      }
    }
  }

  static std::string floats(const float* values, uint32_t count) {
    std::string text;
    for (uint32_t i = 0; i < count; ++i) text += " " + showFloat(values[i]);
    return text;
  }

  // ---- readers and the extensions built on them ---------------------------
  void showInfo(const KDRVX_RecordingInfo& info) {
    out_.line("info " + number(info.version) + " " + number(info.noRecords) + " " +
              number(info.noChannels) + " " + number(info.noTriggerRecord) + " " +
              number(info.flagStatistics) + " " + number(info.scanRate) + " " +
              number(static_cast<int64_t>(info.dataOffset)) + " " + number(info.recordSize) +
              " " + number(info.recordKind) + " " + number(info.anyMultiChannel) + " " +
              number(info.original) + " " + number(info.startKnown) + " " +
              number(info.startSeconds));
    out_.line("texts " + show(info.date) + show(info.time) + show(info.comment) +
              show(info.company) + show(info.instrument) + show(info.snrInstrument) +
              show(info.nameMeasurement) + show(info.triggerSetting));
  }

  void showChannel(const KDRVX_ChannelInfo& info) {
    out_.line("channel " + number(info.indRate) + " " + showFloat(info.minValue) + " " +
              showFloat(info.maxValue) + " " + showFloat(info.meanValue) + " " +
              showFloat(info.rmsValue) + " " + showFloat(info.sdevValue) + " " +
              number(info.multiChannelBits) + " " + number(info.isds) + " " +
              number(info.linearisation) + " " + number(info.multiChannel));
    out_.line("texts " + show(info.variable) + show(info.unit) + show(info.name) +
              show(info.number) + show(info.signalType) + show(info.zeroPoint) +
              show(info.calParameter) + show(info.filter) + show(info.lintab) + show(info.label));
  }

  void showFindings(const KDRVX_Findings& findings) {
    out_.line("findings " + hex32(findings.findings) + " " + number(findings.layout) + " " +
              number(findings.triggerRecord) + " " +
              number(static_cast<int64_t>(findings.fileLength)) + " " +
              number(static_cast<int64_t>(findings.headerLength)) + " " +
              number(static_cast<int64_t>(findings.dataOffset)) + " " +
              number(static_cast<int64_t>(findings.headerRecords)) + " " +
              number(static_cast<int64_t>(findings.heldRecords)) + " " +
              number(static_cast<int64_t>(findings.trailingBytes)));
    for (uint32_t bit = 1; bit != 0; bit <<= 1) {
      if ((findings.findings & bit) == 0) continue;
      KDRVX_CHAR text[200];
      const uint32_t result = KDRVX_GetFindingText(&findings, bit, text, 200);
      out_.line("finding " + hex32(bit) + " " + hex32(result) + " " + show(text));
    }
  }

  void readers() {
    const uint32_t slot = random_.below(2);
    KDRVX_Reader*& reader = readers_[slot];
    const std::string which = "reader" + number(slot);
    switch (random_.below(reader == nullptr ? 2 : 9)) {
      case 0: case 1: {
        const Text name = anyPath();
        if (isWriterHeld(name)) return;  // R4
        if (reader != nullptr) {
          out_.call("ReaderClose(" + which + ")");
          KDRVX_ReaderClose(reader);
          closed_ = reader;  // kept to be refused later
          reader = nullptr;
        }
        if (random_.chance(70)) {
          out_.call("ReaderOpen(" + show(name.c_str()) + ") " + which);
          status(KDRVX_ReaderOpen(name.c_str(), &reader));
        } else {
          KDRVX_LiveState state{};
          state.size = sizeof state;
          out_.call("ReaderOpenLive(" + show(name.c_str()) + ", 0) " + which);
          status(KDRVX_ReaderOpenLive(name.c_str(), 0, &reader, &state));
          out_.line("state " + number(state.state) + " " + number(static_cast<int64_t>(state.records)) +
                    " " + number(static_cast<int64_t>(state.fileLength)));
        }
        out_.line(reader == nullptr ? "null" : "reader");
        return;
      }
      case 2: {
        KDRVX_RecordingInfo info{};
        info.size = sizeof info;
        out_.call("ReaderInfo(" + which + ")");
        status(KDRVX_ReaderInfo(reader, &info));
        return showInfo(info);
      }
      case 3: {
        KDRVX_ChannelInfo info{};
        info.size = sizeof info;
        const int16_t channel = static_cast<int16_t>(random_.below(6)) - 1;
        out_.call("ReaderChannel(" + which + ", " + number(channel) + ")");
        status(KDRVX_ReaderChannel(reader, channel, &info));
        return showChannel(info);
      }
      case 4: {
        const int64_t first = random_.chance(90) ? random_.below(6) : -3;
        const uint32_t count = random_.below(6);
        std::vector<float> buffer(48 * 6, -1.0f);
        out_.call("ReaderRead(" + which + ", " + number(first) + ", " + number(count) + ")");
        const int64_t result = KDRVX_ReaderRead(reader, first, count, buffer.data());
        value(number(result));
        KDRVX_RecordingInfo info{};
        info.size = sizeof info;
        KDRVX_ReaderInfo(reader, &info);
        if (result > 0)
          out_.line("records" + floats(buffer.data(), static_cast<uint32_t>(result) * std::min(info.noChannels, 48u)));
        return;
      }
      case 5: {
        KDRVX_Findings findings{};
        findings.size = sizeof findings;
        out_.call("ReaderFindings(" + which + ")");
        status(KDRVX_ReaderFindings(reader, &findings));
        return showFindings(findings);
      }
      case 6: {
        KDRVX_WindowStatistics statistics[4] = {};
        for (auto& entry : statistics) entry.size = sizeof entry;
        const uint64_t first = random_.below(4);
        const uint64_t count = random_.chance(50) ? ~0ull : random_.below(5);
        out_.call("ReaderStatistics(" + which + ", " + number(static_cast<int64_t>(first)) + ", " +
                  number(static_cast<int64_t>(count)) + ")");
        status(KDRVX_ReaderStatistics(reader, first, count, statistics, 4, nullptr, nullptr));
        for (const auto& entry : statistics) {
          std::string line = "window " + number(entry.multiChannelBits) + " " +
                             number(static_cast<int64_t>(entry.records)) + " " +
                             number(static_cast<int64_t>(entry.finiteValues)) + " " +
                             number(static_cast<int64_t>(entry.nanValues)) + " " +
                             number(static_cast<int64_t>(entry.infiniteValues)) + " " +
                             showDouble(entry.minValue) + " " + showDouble(entry.maxValue) + " " +
                             showDouble(entry.meanValue) + " " + showDouble(entry.rmsValue) + " " +
                             showDouble(entry.sdevValue);
          for (uint64_t bits : entry.bitsSet)
            if (bits != 0) line += " " + number(static_cast<int64_t>(bits));
          out_.line(line);
        }
        return;
      }
      case 7: {
        KDRVX_LiveState state{};
        state.size = sizeof state;
        if (random_.chance(50)) {
          out_.call("ReaderRefresh(" + which + ")");
          status(KDRVX_ReaderRefresh(reader, &state));
        } else {
          // One look, no waiting (R4).
          const uint64_t known = random_.below(4);
          out_.call("ReaderWait(" + which + ", " + number(static_cast<int64_t>(known)) + ", 0)");
          status(KDRVX_ReaderWait(reader, known, 0, &state));
        }
        return out_.line("state " + number(state.state) + " " +
                         number(static_cast<int64_t>(state.records)) + " " +
                         number(static_cast<int64_t>(state.fileLength)));
      }
      default: {
        // A handle that was closed is refused, never read through.
        KDRVX_RecordingInfo info{};
        info.size = sizeof info;
        out_.call("ReaderInfo(closed)");
        status(KDRVX_ReaderInfo(closed_ != nullptr ? closed_ : reinterpret_cast<KDRVX_Reader*>(&info), &info));
        out_.call("ReaderRead(closed)");
        return value(number(KDRVX_ReaderRead(closed_, 0, 1, nullptr)));
      }
    }
  }

  // ---- modification -------------------------------------------------------
  void modify() {
    if (!modifyOpen_ || random_.chance(10)) {
      const Text name = anyPath();
      if (isWriterHeld(name) || random_.chance(20)) return;
      out_.call("OpenModify(" + show(name.c_str()) + ")");
      const uint32_t result = KDRVX_OpenModify(name.c_str());
      status(result);
      if (result == KDRVX_OK) {
        modifyOpen_ = true;
        modifyName_ = name;
      }
      return;
    }
    KDRVX_CHAR current[KDRVX_COMMENT_CAPACITY + 8];
    std::fill(std::begin(current), std::end(current), KDRVX_CHAR('#'));
    const Text text = anyText();
    const bool null = random_.chance(5);
    switch (random_.below(4)) {
      case 0:
        out_.call("ModifyComment(" + (null ? std::string("(null)") : show(text.c_str())) + ")");
        status(KDRVX_ModifyComment(current, null ? nullptr : text.c_str()));
        return out_.line("current " + show(current, KDRVX_COMMENT_CAPACITY + 8));
      case 1:
        out_.call("ModifyNameMeasurement(" + (null ? std::string("(null)") : show(text.c_str())) + ")");
        status(KDRVX_ModifyNameMeasurement(current, null ? nullptr : text.c_str()));
        return out_.line("current " + show(current, KDRVX_NAME_MEASUREMENT_CAPACITY + 8));
      case 2:
        return records();
      default:
        out_.call("CloseModify()");
        status(KDRVX_CloseModify());
        modifyOpen_ = false;
        return;
    }
  }

  // ---- extensions that stand alone ------------------------------------------
  void extensions() {
    switch (random_.below(5)) {
      case 0: {
        const Text name = anyPath();
        if (isWriterHeld(name)) return;  // R4
        KDRVX_CheckReport report{};
        report.size = sizeof report;
        KDRVX_CheckChannel channels[3] = {};
        for (auto& entry : channels) entry.size = sizeof entry;
        out_.call("Check(" + show(name.c_str()) + ")");
        status(KDRVX_Check(name.c_str(), &report, channels, 3, nullptr, nullptr));
        out_.line("report " + hex32(report.openStatus) + " " + number(report.noChannels) + " " +
                  number(static_cast<int64_t>(report.recordsRead)));
        showFindings(report.claims);
        for (const auto& entry : channels)
          out_.line("checked " + hex32(entry.findings) + " " + hex32(entry.statisticsDiffer) + " " +
                    number(entry.duplicateOf) + " " + showFloat(entry.minValue) + " " +
                    showFloat(entry.maxValue) + " " + showFloat(entry.meanValue) + " " +
                    showFloat(entry.rmsValue) + " " +
                    number(static_cast<int64_t>(entry.strayRecords)) + " " +
                    number(static_cast<int64_t>(entry.firstStrayRecord)) + " " +
                    hex32(entry.firstStrayBits));
        return;
      }
      case 1: {
        const Text source = anyPath();
        if (isWriterHeld(source)) return;  // R4
        const bool dry = random_.chance(50);
        const Text target = nameText(u"repaired.rvx");
        KDRVX_RepairReport report{};
        report.size = sizeof report;
        out_.call("Repair(" + show(source.c_str()) + ", " + (dry ? "(null)" : show(target.c_str())) + ")");
        const uint32_t result = KDRVX_Repair(source.c_str(), dry ? nullptr : target.c_str(), &report, nullptr, nullptr);
        status(result);
        if (result == KDRVX_OK && !dry) remember(target);
        return out_.line("report " + number(report.changed) + " " + hex32(report.refusal) + " " +
                         number(report.layout) + " " +
                         number(static_cast<int64_t>(report.oldRecords)) + " " +
                         number(static_cast<int64_t>(report.newRecords)) + " " +
                         number(static_cast<int64_t>(report.trailingBytes)) + " " +
                         number(report.systemError));
      }
      case 2: return plan();
      case 3: {
        const Text name = random_.chance(30) ? nameText(random_.pick(kCleanedNames)) : anyName();
        const uint8_t created = static_cast<uint8_t>(random_.below(2));
        const uint16_t capacity = static_cast<uint16_t>(random_.chance(70) ? 260 : random_.below(12));
        KDRVX_CHAR text[270];
        std::fill(std::begin(text), std::end(text), KDRVX_CHAR('#'));
        out_.call("GetSummaryFileName(" + show(name.c_str()) + ", " + number(created) + ", " + number(capacity) + ")");
        status(KDRVX_GetSummaryFileName(name.c_str(), created, text, capacity));
        return out_.line("text " + show(text, 270));
      }
      default: {
        // R3: the random part of a staging name is masked.
        Text target = anyName();
        std::vector<KDRVX_CHAR> path(target.begin(), target.end());
        path.push_back(0);
        const uint32_t flags = random_.below(8);
        KDRVX_CHAR name[270] = {};
        out_.call("GetStagingName(" + show(target.c_str()) + ", " + number(flags) + ")");
        status(KDRVX_GetStagingName(path.data(), flags, name, 270));
        Text masked(name);
        const Text prefix = widen(".partial-");
        if (masked.compare(0, prefix.size(), prefix) == 0)
          for (size_t i = prefix.size(); i < masked.size() && masked[i] != '.'; ++i) masked[i] = '*';
        out_.line("target " + show(path.data()) + " name " + show(masked.c_str()));
        if (isWriterHeld(Text(path.data()))) return;
        // Judged only, or a copy of a file made earlier put in its place.
        const Text source = made_.empty() ? Text() : made_[random_.below(made_.size())];
        const bool staged = name[0] != 0 && !source.empty() && !isWriterHeld(source) &&
                            random_.chance(60) && copy(source, Text(name));
        KDRVX_Placement placement{};
        placement.size = sizeof placement;
        const uint32_t placeFlags = random_.below(2) | (random_.chance(20) ? KDRVX_PLACE_SUMMARY : 0u);
        out_.call("PlaceFile(" + (staged ? "copy of " + show(source.c_str()) : std::string("null")) +
                  ", " + show(path.data()) + ", " + number(placeFlags) + ")");
        const uint32_t result = KDRVX_PlaceFile(staged ? name : nullptr, path.data(), placeFlags, &placement);
        status(result);
        if (staged && result == KDRVX_OK) remember(Text(path.data()));
        return out_.line("placement " + number(placement.step) + " " + number(placement.systemError) +
                         " " + number(placement.links) + " " + show(placement.text));
      }
    }
  }

  // The host's own copy of a file, as a host writes the file it stages.
  static bool copy(const Text& from, const Text& to) {
    std::error_code error;
    return std::filesystem::copy_file(std::filesystem::path(from), std::filesystem::path(to), error);
  }

  void plan() {
    std::vector<Text> texts;
    texts.reserve(64);
    auto maybe = [&](uint32_t percent) -> const KDRVX_CHAR* {
      if (!random_.chance(percent)) return nullptr;
      texts.push_back(anyText());
      return texts.back().c_str();
    };
    const uint32_t count = random_.below(4);
    std::vector<KDRVX_PlannedChannel> channels(count);
    for (auto& channel : channels) {
      channel = KDRVX_PlannedChannel{};
      channel.size = sizeof channel;
      texts.push_back(widen(random_.pick(kVariables)));
      channel.variable = texts.back().c_str();
      channel.unit = maybe(50);
      channel.name = maybe(30);
      channel.lintab = maybe(20);
      channel.indRate = random_.below(3);
      channel.isds = static_cast<int16_t>(random_.below(3));
      channel.multiChannelBits = static_cast<uint16_t>(random_.chance(30) ? random_.below(34) : 0);
    }
    KDRVX_Plan plan{};
    plan.size = sizeof plan;
    plan.legacyLayout = static_cast<uint8_t>(random_.below(2));
    plan.original = static_cast<uint8_t>(random_.below(2));
    plan.language = random_.pick(kLanguages);
    texts.push_back(nameText(random_.pick(kNames)));
    plan.path = random_.chance(70) ? texts.back().c_str() : nullptr;
    plan.comment = maybe(50);
    plan.company = maybe(40);
    plan.nameMeasurement = maybe(40);
    texts.push_back(widen(random_.pick(kDates)));
    plan.date = texts.back().c_str();
    texts.push_back(widen(random_.pick(kTimes)));
    plan.time = texts.back().c_str();
    plan.scanRate = random_.chance(80) ? 1000 * random_.between(0, 5) + random_.below(2) * 500 : -1;
    plan.noTriggerRecord = random_.below(3);
    plan.noChannels = count;
    plan.channels = channels.data();

    KDRVX_RecordingInfo info{};
    info.size = sizeof info;
    std::vector<KDRVX_ChannelInfo> read(std::max(count, 1u));
    for (auto& entry : read) { entry = KDRVX_ChannelInfo{}; entry.size = sizeof entry; }
    KDRVX_PlanProblem problems[6] = {};
    for (auto& entry : problems) entry.size = sizeof entry;
    uint32_t found = 0;
    out_.call("CheckPlan(" + number(count) + " channels, layout " + number(plan.legacyLayout) + ")");
    status(KDRVX_CheckPlan(&plan, &info, read.data(), problems, 6, &found));
    showInfo(info);
    for (uint32_t i = 0; i < count; ++i) showChannel(read[i]);
    for (uint32_t i = 0; i < std::min(found, 6u); ++i)
      out_.line("problem " + number(problems[i].kind) + " " + number(problems[i].field) + " " +
                number(problems[i].channel) + " " + hex32(problems[i].status) + " " +
                number(problems[i].position) + " " + show(problems[i].text));
    out_.line("problems " + number(found));

    std::vector<float> values = randomRecords(2);
    uint64_t record = 99;
    int16_t channel = 99;
    out_.call("CheckPlanRecords(2)");
    status(KDRVX_CheckPlanRecords(&plan, values.data(), count == 0 ? 0 : 2, &record, &channel));
    out_.line("at " + number(static_cast<int64_t>(record)) + " " + number(channel));
  }

  // ---- the end: every context closed, every file shown --------------------
  void finish() {
    out_.call("CloseCreate(); CloseModify(); CloseRead(); ReaderClose(all)");
    const uint32_t created = KDRVX_CloseCreate();
    const uint32_t modified = KDRVX_CloseModify();
    const uint32_t read = KDRVX_CloseRead();
    for (KDRVX_Reader*& reader : readers_) {
      KDRVX_ReaderClose(reader);
      reader = nullptr;
    }
    out_.line("= " + hex32(created) + " " + hex32(modified) + " " + hex32(read));
    KDRVX_SetTraceSink(nullptr, nullptr);
    showFiles();
  }

  // Every file in the directory, sorted by name, byte by byte in lines of
  // 32 (runs of zero lines counted, not shown); staging names masked and,
  // where that makes names alike, sorted by their bytes (R3).
  void showFiles() {
    namespace fs = std::filesystem;
    struct Found {
      std::string name;
      bool readable;
      std::vector<uint8_t> bytes;
      bool operator<(const Found& other) const {
        return std::tie(name, readable, bytes) < std::tie(other.name, other.readable, other.bytes);
      }
    };
    std::vector<Found> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(fs::current_path())) {
      const std::u16string wide = entry.path().filename().u16string();
      Found found{show(reinterpret_cast<const KDRVX_CHAR*>(wide.c_str()), wide.size()), false, {}};
      if (found.name.rfind(".partial-", 0) == 0)
        for (size_t i = 9; i < found.name.size() && found.name[i] != '.'; ++i) found.name[i] = '*';
      if (entry.is_directory()) {
        found.name += "/";
        files.push_back(std::move(found));
        continue;
      }
      std::ifstream file(entry.path(), std::ios::binary);
      found.readable = static_cast<bool>(file);
      if (found.readable)
        found.bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
      files.push_back(std::move(found));
    }
    std::sort(files.begin(), files.end());
    for (const Found& file : files) {
      out_.call("file " + file.name);
      if (file.name.back() == '/') continue;
      if (!file.readable) {
        out_.line("unreadable");
        continue;
      }
      showBytes(file.bytes);
    }
  }

  void showBytes(const std::vector<uint8_t>& bytes) {
    out_.line("size " + number(static_cast<int64_t>(bytes.size())));
    size_t zeros = 0;
    for (size_t at = 0; at < bytes.size(); at += 32) {
      const size_t end = std::min(bytes.size(), at + 32);
      if (std::all_of(bytes.begin() + at, bytes.begin() + end, [](uint8_t b) { return b == 0; })) {
        ++zeros;
        continue;
      }
      if (zeros != 0) out_.line("zero lines " + number(static_cast<int64_t>(zeros)));
      zeros = 0;
      char line[80];
      int length = std::snprintf(line, sizeof line, "%06zX ", at);
      for (size_t i = at; i < end; ++i)
        length += std::snprintf(line + length, sizeof line - static_cast<size_t>(length), "%02X", bytes[i]);
      out_.line(line);
    }
    if (zeros != 0) out_.line("zero lines " + number(static_cast<int64_t>(zeros)));
  }

  Random random_;
  Transcript& out_;
  std::vector<Text> made_;  // every name a file was made at
  bool createOpen_ = false, createLegacy_ = false;
  bool readOpen_ = false, modifyOpen_ = false;
  Text createName_, modifyName_;
  uint32_t channels_ = 0;
  KDRVX_Reader* readers_[2] = {nullptr, nullptr};
  KDRVX_Reader* closed_ = nullptr;
};

}  // namespace

// Each seed runs in a fresh directory of its own, named after it, and
// writes its transcript beside that directory. Seeds share one process, so
// that an emulator starts once; each begins from the same module state:
// contexts, readers and sink closed by the seed before, the last error
// cleared, the debug mask set.
int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  if (argc < 3) {
    std::fprintf(stderr, "usage: differential_host CALLS SEED...\n");
    return 2;
  }
  const unsigned calls = static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10));
  const fs::path start = fs::current_path();
  for (int i = 2; i < argc; ++i) {
    const uint64_t seed = std::strtoull(argv[i], nullptr, 10);
    const std::string name = std::to_string(seed);
    std::error_code error;
    if (!fs::create_directory(start / name, error)) {
      std::fprintf(stderr, "%s: no fresh directory (%s)\n", name.c_str(), error.message().c_str());
      return 2;
    }
    FILE* file = std::fopen((name + ".txt").c_str(), "wb");
    if (file == nullptr) {
      std::perror((name + ".txt").c_str());
      return 2;
    }
    fs::current_path(start / name);
    Transcript transcript(file);
    transcript.call("seed " + name);
    Session(seed, transcript).run(calls);
    fs::current_path(start);
    if (std::fclose(file) != 0) return 2;
  }
  return 0;
}
