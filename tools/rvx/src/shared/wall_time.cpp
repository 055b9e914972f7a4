#include <algorithm>
#include "shared/wall_time.h"

#include <cstdlib>
#include <ctime>
#include <fstream>

#include "shared/number_text.h"
#include "shared/tool_error.h"

namespace rvx {

int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

CivilDate civilFromDays(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t shifted = (5 * dayOfYear + 2) / 153;
  CivilDate date;
  date.day = dayOfYear - (153 * shifted + 2) / 5 + 1;
  date.month = shifted < 10 ? shifted + 3 : shifted - 9;
  date.year = yearOfEra + era * 400 + (date.month <= 2 ? 1 : 0);
  return date;
}

namespace {

int64_t floorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

// Reads text from the front of a view, a piece at a time.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}
  bool done() const { return text_.empty(); }
  char peek() const { return text_.empty() ? '\0' : text_.front(); }
  bool take(char c) {
    if (peek() != c) return false;
    text_.remove_prefix(1);
    return true;
  }
  // A number of `least` to `most` digits.
  std::optional<int64_t> digits(size_t least, size_t most) {
    size_t n = 0;
    int64_t value = 0;
    while (n < most && n < text_.size() && text_[n] >= '0' && text_[n] <= '9') {
      value = value * 10 + (text_[n] - '0');
      ++n;
    }
    if (n < least) return std::nullopt;
    text_.remove_prefix(n);
    return value;
  }
  size_t digitCount() const {
    size_t n = 0;
    while (n < text_.size() && text_[n] >= '0' && text_[n] <= '9') ++n;
    return n;
  }

 private:
  std::string_view text_;
};

bool leapYear(int64_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int64_t daysInMonth(int64_t year, int64_t month) {
  constexpr int64_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && leapYear(year) ? 29 : kDays[month - 1];
}

struct Ymd {
  int64_t year = 0, month = 0, day = 0;
};

// "YYYY-MM-DD", "DD.MM.YYYY" or "DD/MM/YYYY" (day and month of one or two
// digits in the latter two).
std::optional<Ymd> scanDate(Scanner& in) {
  if (in.digitCount() == 4) {
    Ymd date;
    date.year = *in.digits(4, 4);
    if (!in.take('-')) return std::nullopt;
    const auto month = in.digits(2, 2);
    if (!month || !in.take('-')) return std::nullopt;
    const auto day = in.digits(2, 2);
    if (!day) return std::nullopt;
    date.month = *month, date.day = *day;
    return date;
  }
  const auto day = in.digits(1, 2);
  if (!day) return std::nullopt;
  const char separator = in.peek();
  if (separator != '.' && separator != '/') return std::nullopt;
  in.take(separator);
  const auto month = in.digits(1, 2);
  if (!month || !in.take(separator)) return std::nullopt;
  const auto year = in.digits(4, 4);
  if (!year) return std::nullopt;
  return Ymd{*year, *month, *day};
}

// "Z", "+01:00", "+0100" or "+01".
std::optional<int32_t> scanOffset(Scanner& in) {
  if (in.take('Z')) return 0;
  const char sign = in.peek();
  if (sign != '+' && sign != '-') return std::nullopt;
  in.take(sign);
  const auto hours = in.digits(2, 2);
  if (!hours) return std::nullopt;
  int64_t minutes = 0;
  if (in.take(':')) {
    const auto m = in.digits(2, 2);
    if (!m) return std::nullopt;
    minutes = *m;
  } else if (in.digitCount() == 2) {
    minutes = *in.digits(2, 2);
  }
  if (*hours > 23 || minutes > 59) return std::nullopt;
  const auto seconds = static_cast<int32_t>(*hours * 3600 + minutes * 60);
  return sign == '-' ? -seconds : seconds;
}

}  // namespace

std::optional<Timestamp> parseTimestamp(std::string_view text) {
  Scanner in(trimBlanks(text));
  const auto date = scanDate(in);
  if (!date || !(in.take('T') || in.take(' '))) return std::nullopt;
  while (in.take(' ')) {
  }
  const auto hour = in.digits(1, 2);
  if (!hour || !in.take(':')) return std::nullopt;
  const auto minute = in.digits(2, 2);
  if (!minute) return std::nullopt;
  int64_t second = 0;
  int64_t nanoseconds = 0;
  if (in.take(':')) {
    const auto s = in.digits(2, 2);
    if (!s) return std::nullopt;
    second = *s;
    if (in.take('.') || in.take(',')) {
      const size_t count = in.digitCount();
      if (count == 0 || count > 9) return std::nullopt;
      nanoseconds = *in.digits(count, count);
      for (size_t k = count; k < 9; ++k) nanoseconds *= 10;
    }
  }
  Timestamp stamp;
  if (!in.done()) {
    stamp.offset = scanOffset(in);
    if (!stamp.offset || !in.done()) return std::nullopt;
  }
  if (date->month < 1 || date->month > 12 || date->day < 1 ||
      date->day > daysInMonth(date->year, date->month) || *hour > 23 || *minute > 59 ||
      second > 59) {
    return std::nullopt;
  }
  stamp.wallSeconds = daysFromCivil(date->year, date->month, date->day) * kSecondsPerDay +
                      *hour * 3600 + *minute * 60 + second;
  stamp.nanoseconds = static_cast<int32_t>(nanoseconds);
  return stamp;
}

bool isTimestamp(std::string_view field) {
  if (field.size() >= 2 && field.front() == '"' && field.back() == '"')
    field = field.substr(1, field.size() - 2);
  return parseTimestamp(field).has_value();
}

namespace {

char* twoDigits(char* out, int64_t value) {
  *out++ = static_cast<char>('0' + value / 10);
  *out++ = static_cast<char>('0' + value % 10);
  return out;
}

char* fourDigits(char* out, int64_t value) {
  out = twoDigits(out, value / 100);
  return twoDigits(out, value % 100);
}

struct Clock {
  CivilDate date;
  int64_t hour = 0, minute = 0, second = 0;
};

Clock clockOf(int64_t wallSeconds) {
  const int64_t days = floorDiv(wallSeconds, kSecondsPerDay);
  const int64_t inDay = wallSeconds - days * kSecondsPerDay;
  return {civilFromDays(days), inDay / 3600, inDay / 60 % 60, inDay % 60};
}

}  // namespace

std::string isoText(int64_t wallSeconds) {
  char text[kMaxTimestampText];
  return std::string(text, writeTimestamp(text, wallSeconds, 0, 0));
}

std::string dateText(int64_t wallSeconds) {
  const Clock clock = clockOf(wallSeconds);
  char text[16];
  char* p = twoDigits(text, clock.date.day);
  *p++ = '.';
  p = twoDigits(p, clock.date.month);
  *p++ = '.';
  p = fourDigits(p, clock.date.year);
  return std::string(text, p);
}

std::string timeText(int64_t wallSeconds) {
  const Clock clock = clockOf(wallSeconds);
  char text[16];
  char* p = twoDigits(text, clock.hour);
  *p++ = ':';
  p = twoDigits(p, clock.minute);
  *p++ = ':';
  p = twoDigits(p, clock.second);
  return std::string(text, p);
}

int timestampDecimals(int64_t interval) {
  int decimals = 6;
  while (decimals > 0 && interval % 10 == 0) interval /= 10, --decimals;
  return decimals;
}

char* writeTimestamp(char* out, int64_t wallSeconds, int64_t microseconds, int decimals) {
  const Clock clock = clockOf(wallSeconds);
  out = fourDigits(out, clock.date.year);
  *out++ = '-';
  out = twoDigits(out, clock.date.month);
  *out++ = '-';
  out = twoDigits(out, clock.date.day);
  *out++ = 'T';
  out = twoDigits(out, clock.hour);
  *out++ = ':';
  out = twoDigits(out, clock.minute);
  *out++ = ':';
  out = twoDigits(out, clock.second);
  if (decimals > 0) {
    *out++ = '.';
    int64_t divisor = 100000;
    for (int k = 0; k < decimals; ++k, divisor /= 10) {
      *out++ = static_cast<char>('0' + microseconds / divisor % 10);
    }
  }
  return out;
}

char* writeOffset(char* out, int32_t offset) {
  *out++ = offset < 0 ? '-' : '+';
  const int32_t magnitude = offset < 0 ? -offset : offset;
  out = twoDigits(out, magnitude / 3600);
  *out++ = ':';
  return twoDigits(out, magnitude / 60 % 60);
}

namespace {

#ifndef _WIN32
// A zone name as the database files it: letters, digits, '_', '-', '+'
// and '/' between parts, nothing that leaves its folder.
bool plausibleZoneName(const std::string& name) {
  if (name.empty() || name.front() == '/' || name.find("..") != name.npos) return false;
  for (char c : name) {
    const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                         (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '+' || c == '/';
    if (!allowed) return false;
  }
  return true;
}

// Whether the system's zone database holds `name` (a TZif file).
bool zoneInDatabase(const std::string& name) {
  const char* directory = std::getenv("TZDIR");
  for (const std::string& folder :
       {std::string(directory ? directory : ""), std::string("/usr/share/zoneinfo")}) {
    if (folder.empty()) continue;
    std::ifstream file(folder + "/" + name, std::ios::binary);
    char magic[4] = {};
    if (file.read(magic, 4) && std::string_view(magic, 4) == "TZif") return true;
  }
  return false;
}

// TZ set to a zone from construction to destruction, then as it was.
class ZoneSwitch {
 public:
  explicit ZoneSwitch(const std::string& zone) {
    if (zone.empty()) return;
    const char* old = std::getenv("TZ");
    if (old) old_ = old;
    switched_ = true;
    setenv("TZ", zone.c_str(), 1);
    tzset();
  }
  ~ZoneSwitch() {
    if (!switched_) return;
    if (old_) {
      setenv("TZ", old_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  ZoneSwitch(const ZoneSwitch&) = delete;
  ZoneSwitch& operator=(const ZoneSwitch&) = delete;

 private:
  bool switched_ = false;
  std::optional<std::string> old_;
};
#endif

// An offset as the zone texts write it.
std::optional<int32_t> fixedOffset(const std::string& text) {
  if (text == "UTC" || text == "utc" || text == "Z") return 0;
  Scanner in(text);
  if (in.peek() != '+' && in.peek() != '-') return std::nullopt;
  const auto offset = scanOffset(in);
  return offset && in.done() ? offset : std::nullopt;
}

// Offsets stay as they are for this long at least, so that one lookup at
// either end of a stretch tells whether it holds a change.
constexpr int64_t kStretch = 900;

}  // namespace

TimeZone::TimeZone(const std::string& text) : name_(text) {
  fixed_ = fixedOffset(text);
  if (fixed_ || text == "local") return;
#ifdef _WIN32
  throw usageError("--tz " + text +
                   ": Windows gives rvx no database of zone names; give UTC, an offset such as "
                   "+01:00, or local");
#else
  if (!plausibleZoneName(text) || !zoneInDatabase(text)) {
    throw usageError("--tz: unknown time zone '" + text +
                     "'; give UTC, an offset such as +01:00 or -0530, local, or a zone name such "
                     "as Europe/Berlin");
  }
  zone_ = text;
#endif
}

TimeZone::~TimeZone() = default;

int32_t TimeZone::lookUp(int64_t utcSeconds) {
  const auto instant = static_cast<std::time_t>(utcSeconds);
  std::tm local{};
#ifdef _WIN32
  const bool found = _localtime64_s(&local, &instant) == 0;
#else
  const ZoneSwitch zone(zone_);
  const bool found = localtime_r(&instant, &local) != nullptr;
#endif
  if (!found) {
    throw ToolError("the system gives no local time of " + name_ + " for " + isoText(utcSeconds) +
                    " UTC");
  }
  const int64_t wall =
      daysFromCivil(local.tm_year + 1900LL, local.tm_mon + 1, local.tm_mday) * kSecondsPerDay +
      local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  return static_cast<int32_t>(wall - utcSeconds);
}

int32_t TimeZone::offsetAt(int64_t utcSeconds) {
  if (fixed_) return *fixed_;
  if (utcSeconds >= cacheBegin_ && utcSeconds < cacheEnd_) return cached_;
  const int64_t begin = floorDiv(utcSeconds, kStretch) * kStretch;
  const int64_t end = begin + kStretch;
  const int32_t first = lookUp(begin), last = lookUp(end - 1);
  if (first == last) {
    cacheBegin_ = begin, cacheEnd_ = end, cached_ = first;
    return first;
  }
  // The second at which the offset changes within the stretch.
  int64_t before = begin, after = end - 1;
  while (after - before > 1) {
    const int64_t middle = before + (after - before) / 2;
    (lookUp(middle) == first ? before : after) = middle;
  }
  if (utcSeconds < after) {
    cacheBegin_ = begin, cacheEnd_ = after, cached_ = first;
  } else {
    cacheBegin_ = after, cacheEnd_ = end, cached_ = last;
  }
  return cached_;
}

std::vector<int64_t> TimeZone::instantsOf(int64_t wallSeconds) {
  if (fixed_) return {wallSeconds - *fixed_};
  // The offsets a day before and a day after: a wall time lies in one of
  // them, in both when it is shown twice, in neither when it is skipped.
  std::vector<int64_t> instants;
  for (const int64_t probe : {wallSeconds - kSecondsPerDay, wallSeconds + kSecondsPerDay}) {
    const int64_t candidate = wallSeconds - offsetAt(probe);
    if (candidate + offsetAt(candidate) != wallSeconds) continue;
    if (instants.empty() || candidate != instants.front()) instants.push_back(candidate);
  }
  std::sort(instants.begin(), instants.end());
  return instants;
}

}  // namespace rvx
