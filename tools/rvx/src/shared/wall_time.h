// Wall-clock time for import and export: timestamps as text and back, the
// calendar arithmetic behind them, and the time zones of --tz. A recording
// keeps its start as wall-clock time without a zone (seconds from
// 1970-01-01 00:00:00 in no zone, as the library reports it); a zone turns
// that into an instant (seconds since the epoch, UTC) and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include <string_view>

namespace rvx {

inline constexpr int64_t kSecondsPerDay = 86400;
inline constexpr int64_t kNanosecondsPerSecond = 1000000000;

// Days since 1970-01-01 of a day of the proleptic Gregorian calendar, and back.
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day);
struct CivilDate {
  int64_t year = 1970, month = 1, day = 1;
};
CivilDate civilFromDays(int64_t days);

// A timestamp as a CSV writes it: ISO 8601 ("2026-12-07T10:15:30.125", or
// with a space for the T), German ("07.12.2026 10:15:30,125") or French
// ("07/12/2026 10:15:30,125"); the seconds may be left out, the fraction
// follows '.' or ',' (up to nine digits), and a UTC offset ("Z", "+01:00",
// "+0100", "+01") may end it.
struct Timestamp {
  int64_t wallSeconds = 0;        // as written, in the zone of its offset
  int32_t nanoseconds = 0;        // the fraction of the second
  std::optional<int32_t> offset;  // seconds east of UTC, when it has one
};
std::optional<Timestamp> parseTimestamp(std::string_view text);

// Whether `field` is a timestamp with a comma before its fraction, a comma
// that says nothing of the decimal separator of the file's numbers.
bool isTimestamp(std::string_view field);

// "2026-12-07T10:15:30", the ISO 8601 text of wall-clock seconds.
std::string isoText(int64_t wallSeconds);
// "07.12.2026" and "10:15:30", as the library's setters take and its reader
// shows a date and a time.
std::string dateText(int64_t wallSeconds);
std::string timeText(int64_t wallSeconds);

// Room that writeTimestamp needs.
inline constexpr size_t kMaxTimestampText = 40;
// Decimals of the seconds that times `interval` microseconds apart need:
// 1000 gives 3, 250 gives 5, 1000000 gives 0.
int timestampDecimals(int64_t interval);
// Writes "YYYY-MM-DDThh:mm:ss" and, with `decimals`, '.' and that many
// digits of `microseconds` (0 to 999999); returns the end.
char* writeTimestamp(char* out, int64_t wallSeconds, int64_t microseconds, int decimals);
// "+01:00", "-05:30", "+00:00"; returns the end.
char* writeOffset(char* out, int32_t offset);

// A time zone of --tz: "UTC" or "Z", a fixed offset ("+01:00", "-05:30",
// "+0100"), "local" (the system's zone) or, on POSIX systems, an IANA name
// such as "Europe/Berlin" from the system's zone database. Single-threaded:
// a named zone is looked up with the C library's own (TZ set for the call
// and restored), and the offset found is kept until the next possible change
// so that a conversion per record costs no lookup.
class TimeZone {
 public:
  // Throws a usage error naming `text` for a zone it does not know.
  explicit TimeZone(const std::string& text);
  ~TimeZone();
  TimeZone(const TimeZone&) = delete;
  TimeZone& operator=(const TimeZone&) = delete;

  const std::string& name() const { return name_; }
  // Seconds east of UTC at the instant `utcSeconds`.
  int32_t offsetAt(int64_t utcSeconds);
  // The instants of a wall-clock time of this zone, earlier first: two for
  // a time that the end of summer time shows twice, none for one that its
  // start skips.
  std::vector<int64_t> instantsOf(int64_t wallSeconds);

 private:
  int32_t lookUp(int64_t utcSeconds);

  std::string name_;
  std::optional<int32_t> fixed_;
  std::string zone_;  // the TZ value for a named zone, "" for the system's
  // The offset known to hold for instants in [cacheBegin_, cacheEnd_).
  int64_t cacheBegin_ = 0, cacheEnd_ = 0;
  int32_t cached_ = 0;
};

// The help text of --tz, which import and export share.
inline constexpr const char* kTimeZoneHelp =
    "Time zone: UTC, an offset such as +01:00 or -0530, local (the system's), or a zone name such "
    "as Europe/Berlin (not on Windows)";

}  // namespace rvx
