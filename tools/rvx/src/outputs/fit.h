// What the layout of a new recording can hold, asked before anything is
// written. import and demo describe the recording they are about to make;
// what its layout cannot hold is refused with a message that says why,
// rather than stored mangled.
//
// The current layout is judged by its limits. The compact layout is asked
// through the library itself: the recording is made once, without records,
// in a scratch directory and read back, so that every rule of the compact
// header and of its RVI file counts, and only those.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shared/library.h"

namespace rvx {

// A recording about to be made: its header and channels as a reader will
// report them, records aside. Empty texts stay empty; an empty date or time
// ("D.M.YYYY"; "H:MM" or "H:MM:SS") is the moment of recording.
struct PlannedRecording {
  bool compact = false;                   // the compact layout with its RVI file
  int32_t language = kNoSummaryLanguage;  // labels of the RVI file
  RecordingInfo info;
  std::optional<uint32_t> triggerRecord;
};

// Throws a usage error that names the first thing `output` cannot hold as
// planned, and why. Returns warnings about what is recorded but not kept:
// the compact layout keeps no channel names and filters.
std::vector<std::string> checkFit(const PlannedRecording& plan, const std::string& output);

// Gives the file being created the header and the channels of the plan.
void applyPlan(CreateSession& session, const PlannedRecording& plan);

// A date "D.M.YYYY" that the calendar has, and a time "H:MM" or "H:MM:SS"
// that the clock has.
bool isDate(std::string_view text);
bool isTime(std::string_view text);

}  // namespace rvx
