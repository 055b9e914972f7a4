#include "outputs/fit.h"

#include <bit>
#include <memory>

#include "files/output_file.h"
#include "shared/fields.h"
#include "shared/tool_error.h"
#include "shared/utf.h"

namespace rvx {

namespace {

// The problems of a plan, as many as a plan of the most channels has.
std::vector<KDRVX_PlanProblem> planProblems(const KDRVX_Plan& plan, uint32_t& status,
                                            KDRVX_RecordingInfo& back) {
  std::vector<KDRVX_PlanProblem> problems(16);
  uint32_t count = 0;
  for (;;) {
    for (KDRVX_PlanProblem& problem : problems) problem.size = sizeof problem;
    status = KDRVX_CheckPlan(&plan, &back, nullptr, problems.data(),
                             static_cast<uint32_t>(problems.size()), &count);
    if (count <= problems.size()) break;
    problems.resize(count);
  }
  problems.resize(count);
  return problems;
}

// "the comment", "channel p1 unit": the value a problem is about.
std::string problemSubject(const KDRVX_PlanProblem& problem, const PlannedRecording& plan) {
  const std::string name = fieldName(problem.field);
  const auto channel = static_cast<size_t>(problem.channel);
  if (problem.channel < 0 || problem.field == KDRVX_FIELD_CHANNELS ||
      channel >= plan.info.channels.size()) {
    return "the " + name;
  }
  return "channel " + plan.info.channels[channel].variable + " " + name;
}

std::string problemText(const KDRVX_PlanProblem& problem) {
  return toUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(problem.text)));
}

}  // namespace

LibraryPlan::LibraryPlan(const PlannedRecording& plan, const std::string& output) {
  const RecordingInfo& info = plan.info;
  plan_.size = sizeof plan_;
  plan_.legacyLayout = plan.compact ? 1 : 0;
  plan_.original = info.original ? 1 : 0;
  plan_.language = plan.language;
  // The path as the create will be given it: on Windows with '\\' for '/',
  // which the RVI file shows as a directory, not a character of the name.
  texts_.push_back(std::make_unique<std::u16string>(widePath(withoutLongPathPrefix(output))));
  plan_.path = chars(*texts_.back());
  for (const HeaderField& field : headerFields()) plan_.*field.planned = text(info.*field.text);
  if (!info.date.empty()) plan_.date = text(info.date);
  if (!info.time.empty()) plan_.time = text(info.time);
  plan_.scanRate = info.scanInterval;
  plan_.noTriggerRecord = plan.triggerRecord.value_or(0);
  for (const ChannelInfo& channel : info.channels) {
    KDRVX_PlannedChannel planned{};
    planned.size = sizeof planned;
    // A channel text not given is not set, and not compared.
    for (const ChannelField& field : channelFields()) {
      const std::string& value = channel.*field.text;
      if (!value.empty()) planned.*field.planned = text(value);
    }
    planned.indRate = 1;  // every record holds every channel
    planned.multiChannelBits = static_cast<uint16_t>(channel.multiChannelBits);
    channels_.push_back(planned);
  }
  plan_.noChannels = static_cast<uint32_t>(channels_.size());
  plan_.channels = channels_.data();
}

const KDRVX_CHAR* LibraryPlan::text(const std::string& utf8) {
  texts_.push_back(std::make_unique<std::u16string>(wide(utf8)));
  return chars(*texts_.back());
}

std::vector<std::string> checkFit(const PlannedRecording& plan, const std::string& output) {
  const LibraryPlan library(plan, output);
  uint32_t status = 0;
  KDRVX_RecordingInfo back{};
  back.size = sizeof back;
  const std::vector<KDRVX_PlanProblem> problems = planProblems(library.get(), status, back);
  std::vector<std::string> warnings;
  for (const KDRVX_PlanProblem& problem : problems) {
    const std::string what = problemSubject(problem, plan) + ": " + problemText(problem);
    const bool keptInterval = plan.intervalOfSource && problem.field == KDRVX_FIELD_SCAN_RATE &&
                              problem.status == 0 && back.scanRate == plan.info.scanInterval;
    if (keptInterval) {
      warnings.push_back("the scan interval is " + std::to_string(back.scanRate) +
                         " µs, as the metadata gives it: the new recording keeps it, and its "
                         "records have no times");
    } else if (problem.kind == KDRVX_PLAN_REFUSED) {
      throw usageError(output + ": " + what);
    } else {
      warnings.push_back(what);
    }
  }
  // A failure without a problem named: the library could not judge the plan.
  if (problems.empty() && status != 0) require(status, output);
  return warnings;
}

void requireBitFields(const LibraryPlan& plan, const float* records, uint32_t count, uint64_t first,
                      const std::string& output) {
  uint64_t record = 0;
  int16_t channel = 0;
  const uint32_t status = KDRVX_CheckPlanRecords(&plan.get(), records, count, &record, &channel);
  if (status == 0) return;
  if (status != KDRVX_ERR_RVX_MULTICHANNEL_BITS) require(status, output);
  const auto& planned = plan.get().channels[channel];
  const std::string variable =
      toUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(planned.variable)));
  const float value = records[record * plan.get().noChannels + static_cast<uint64_t>(channel)];
  throw ToolError(output + ": record " + std::to_string(first + record) + ": the value " +
                  std::to_string(std::bit_cast<uint32_t>(value)) + " of the multichannel " +
                  variable + " sets bits beyond its " + std::to_string(planned.multiChannelBits));
}

void applyPlan(CreateSession& session, const PlannedRecording& plan) {
  for (const HeaderField& text : headerFields()) {
    const std::string& value = plan.info.*text.text;
    if (!value.empty()) session.check(session.set(text.setter, value), text.what);
  }
  if (!plan.info.date.empty()) session.check(session.set(KDRVX_SetDate, plan.info.date), "date");
  if (!plan.info.time.empty()) session.check(session.set(KDRVX_SetTime, plan.info.time), "time");
  if (plan.triggerRecord) {
    session.check(KDRVX_SetNoTriggerRecord(*plan.triggerRecord), "trigger record");
  }
  session.check(KDRVX_SetScanRate(plan.info.scanInterval), "scan interval");
  for (const ChannelInfo& channel : plan.info.channels) {
    const int k = session.addChannel(channel.variable);
    const auto index = static_cast<int16_t>(k);
    const std::string what = "channel " + channel.variable;
    for (const ChannelField& text : channelFields()) {
      if (!text.setter) continue;
      const std::string& value = channel.*text.text;
      if (!value.empty()) session.check(session.set(text.setter, k, value), what + " " + text.what);
    }
    // Every record holds every channel.
    session.check(KDRVX_SetChannelIndRate(index, 1), what);
    if (channel.multiChannelBits != 0) {
      session.check(
          KDRVX_SetChannelMultiChannel(index, static_cast<uint16_t>(channel.multiChannelBits)),
          what);
    }
  }
}

}  // namespace rvx
