// What the subcommands that write a recording anew from others share
// (convert, cut, select, merge): the header and channel values of a
// recording carried over to a new current-layout file through the create
// path, its date and time, and the records copied in blocks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "shared/library.h"
#include "shared/time_window.h"

namespace rvx {

// What a subcommand reports about the file it reads.
struct Warnings {
  std::string input;
  bool cutTexts = false;  // cut a text that the current layout cannot hold, rather than refuse
  std::vector<std::string> lines;
  void add(std::string line) { lines.push_back(std::move(line)); }
  // Each line on stderr, after "rvx: INPUT: warning: ".
  void print() const;
};

// Every text as the current layout takes it, before anything is written.
void fitTexts(RecordingInfo& info, Warnings& warnings);

// Day, month and year from "DD.MM.YYYY"; hour, minute and second from
// "HH:MM" or "HH:MM:SS". The header marks an hour, minute or second it does
// not know as it marks missing seconds. A second that is none (a header may
// hold 60) leaves the time in whole minutes, as the library reads it.
struct DateTime {
  static constexpr int64_t kUnknownTime = KDRVX_UNKNOWN_TIME;
  int64_t day = 0, month = 0, year = 0, hour = kUnknownTime, minute = kUnknownTime,
          second = kUnknownTime;

  // The setters take a known date and time only; an unknown one (day,
  // month or year 0, or no hour) goes into the header bytes as it is.
  bool dateKnown() const;
  bool timeKnown() const;
};
DateTime parseDateTime(const RecordingInfo& info);

// `when` moved on by whole seconds, the date rolling over; without seconds
// in the header, by whole minutes.
DateTime advance(const DateTime& when, int64_t seconds);

// The start of a window of a recording whose first record is `firstRecord`:
// the recording's start moved on by as much of the first record's time as
// the header holds (whole seconds, or whole minutes when it keeps no
// seconds), and the rest, which the new start lies before that record.
// An unknown start, or records without times, stay as they are (rest 0).
struct WindowStart {
  DateTime when;
  std::string date, time;        // `when` as the library's reader shows it
  int64_t restMicroseconds = 0;  // from the new start to the first record
  // "the window's first record lies 0.999 s after the new start time
  // 10:15:31 (the header holds whole seconds)", or "" without a rest.
  std::string restWarning() const;
};
WindowStart windowStart(const RecordingInfo& info, uint64_t firstRecord);

// Header values, the known date and time, and every channel of `info` with
// its texts and flags, into the new file.
void startCopy(CreateSession& session, const RecordingInfo& info, const DateTime& when,
               Warnings& warnings);

// Adds the records in `span` of `reader` (`limit` records to read at
// most), keeping the channels `keep` in that order. Returns the number of
// records added.
uint64_t copyRecords(CreateSession& session, Reader& reader, uint64_t limit, RecordSpan span,
                     const std::vector<int>& keep, const char* activity, Warnings& warnings);
// The same from `records`, which starts at the first record of `span` and
// reads `channels` values a record up to its end at most.
uint64_t copyRecords(CreateSession& session, RecordReader& records, RecordSpan span,
                     const std::vector<int>& keep, const char* activity, Warnings& warnings);

// Closes the file; a date or time that no setter took is written into the
// header bytes as the old file had it.
void closeKeepingUnknownDate(CreateSession& session, const DateTime& when,
                             const RecordingInfo& info, Warnings& warnings);

// The names a channel gets whose variable a new recording cannot hold as
// it is (none at all in some DOS files, exported as "ch_N", or one taken
// twice), in the order they are tried: X, Y and Z, each with a number from
// the channel's own (counted from 1) on, as many as the recording has
// `channels`, so that one of the X names is always free.
std::vector<std::string> standInNames(int channel, size_t channels);

// Every channel index of `info`, in order.
std::vector<int> allChannels(const RecordingInfo& info);

// The help text of --cut-texts, which every subcommand that copies a
// recording takes.
inline constexpr const char* kCutTextsHelp =
    "Cut a text longer than the current layout takes (with a warning) instead of refusing the "
    "file";

}  // namespace rvx
