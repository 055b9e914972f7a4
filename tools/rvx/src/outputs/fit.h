// What the layout of a new recording can hold, asked before anything is
// written. import and demo describe the recording they are about to make,
// and the library checks the plan as its create context would store it and
// a reader would read it back; what the layout cannot hold is refused with
// the library's reason, rather than stored mangled.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
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
  // The scan interval is that of an existing recording (a metadata block
  // gave it): one that reads back as given is kept, even one that means
  // nothing for a new recording, such as 0.
  bool intervalOfSource = false;
};

// Throws a usage error that names the first value `output` cannot hold as
// planned, and why. Returns warnings about what is recorded but not kept.
std::vector<std::string> checkFit(const PlannedRecording& plan, const std::string& output);

// The plan as the library takes it, with the texts it points at.
class LibraryPlan {
 public:
  LibraryPlan(const PlannedRecording& plan, const std::string& output);
  LibraryPlan(const LibraryPlan&) = delete;
  LibraryPlan& operator=(const LibraryPlan&) = delete;
  const KDRVX_Plan& get() const { return plan_; }

 private:
  const KDRVX_CHAR* text(const std::string& utf8);

  std::vector<std::unique_ptr<std::u16string>> texts_;
  std::vector<KDRVX_PlannedChannel> channels_;
  KDRVX_Plan plan_{};
};

// Throws a ToolError naming the first of `count` records (`channels` floats
// each, the first of them record `first`) whose multichannel value sets bits
// beyond its channel's.
void requireBitFields(const LibraryPlan& plan, const float* records, uint32_t count, uint64_t first,
                      const std::string& output);

// Gives the file being created the header and the channels of the plan.
void applyPlan(CreateSession& session, const PlannedRecording& plan);

}  // namespace rvx
