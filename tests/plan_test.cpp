// KDRVX_CheckPlan at the public interface: a clean plan reads back as a real
// recording made with the same values does, and every value that the create
// context refuses, or that its layout stores as another, is named.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "support/test_support.h"
#include "support/write_support.h"

namespace kdrvx::test {
namespace {

const KDRVX_CHAR* k(const char16_t* literal) {
  return reinterpret_cast<const KDRVX_CHAR*>(literal);
}

// A struct of the interface, zero but for its size.
template <typename Sized>
Sized sized() {
  Sized value{};
  value.size = sizeof value;
  return value;
}

struct Checked {
  uint32_t status = 0;
  uint32_t count = 0;
  std::vector<KDRVX_PlanProblem> problems;
  KDRVX_RecordingInfo info = sized<KDRVX_RecordingInfo>();
  std::vector<KDRVX_ChannelInfo> channels;
};

struct Plan {
  KDRVX_Plan plan = sized<KDRVX_Plan>();
  std::vector<KDRVX_PlannedChannel> channels;

  // One channel unless `first` is null.
  explicit Plan(bool legacy, int32_t language = 255, const char16_t* first = u"p1") {
    plan.legacyLayout = legacy;
    plan.original = 1;
    plan.language = language;
    plan.scanRate = 2500;
    if (first != nullptr) add(first);
  }
  KDRVX_PlannedChannel& add(const char16_t* variable) {
    KDRVX_PlannedChannel& channel = channels.emplace_back(sized<KDRVX_PlannedChannel>());
    channel.variable = k(variable);
    return channel;
  }
  Checked check(uint32_t capacity = 8) {
    plan.channels = channels.data();
    plan.noChannels = static_cast<uint32_t>(channels.size());
    Checked out;
    out.problems.assign(capacity, sized<KDRVX_PlanProblem>());
    out.channels.assign(channels.size(), sized<KDRVX_ChannelInfo>());
    out.status = KDRVX_CheckPlan(&plan, &out.info, out.channels.data(), out.problems.data(),
                                 capacity, &out.count);
    return out;
  }
};

// The same values through the create context, read back by a reader.
void record(const Plan& p, std::u16string path, KDRVX_RecordingInfo& info,
            std::vector<KDRVX_ChannelInfo>& channels) {
  const KDRVX_Plan& plan = p.plan;
  ASSERT_EQ(KDRVX_CreateExt(writable(path), 1, plan.original, plan.legacyLayout, plan.language),
            0u);
  using HeaderSetter = uint32_t (*)(const KDRVX_CHAR*);
  const std::pair<HeaderSetter, const KDRVX_CHAR*> texts[] = {{KDRVX_SetComment, plan.comment},
                                                              {KDRVX_SetCompany, plan.company},
                                                              {KDRVX_SetDate, plan.date},
                                                              {KDRVX_SetTime, plan.time}};
  for (const auto& [set, text] : texts) {
    if (text != nullptr) {
      ASSERT_EQ(set(text), 0u);
    }
  }
  KDRVX_SetScanRate(plan.scanRate);
  KDRVX_SetNoTriggerRecord(plan.noTriggerRecord);
  for (const KDRVX_PlannedChannel& c : p.channels) {
    const auto n = static_cast<int16_t>(KDRVX_AddChannel(c.variable));
    using ChannelSetter = uint32_t (*)(int16_t, const KDRVX_CHAR*);
    const std::pair<ChannelSetter, const KDRVX_CHAR*> channelTexts[] = {
        {KDRVX_SetChannelUnit, c.unit},
        {KDRVX_SetChannelName, c.name},
        {KDRVX_SetChannelNumber, c.number},
        {KDRVX_SetChannelFilter, c.filter}};
    for (const auto& [set, text] : channelTexts) {
      if (text != nullptr) {
        ASSERT_EQ(set(n, text), 0u);
      }
    }
    KDRVX_SetChannelIndRate(n, c.indRate != 0 ? c.indRate : 1);
    KDRVX_SetChannelISDS(n, c.isds);
    if (c.multiChannelBits != 0) KDRVX_SetChannelMultiChannel(n, c.multiChannelBits);
  }
  ASSERT_EQ(KDRVX_CloseCreate(), 0u);
  KDRVX_Reader* reader = nullptr;
  ASSERT_EQ(KDRVX_ReaderOpen(c(path), &reader), 0u);
  KDRVX_ReaderInfo(reader, &info);
  for (size_t n = 0; n < channels.size(); ++n)
    KDRVX_ReaderChannel(reader, static_cast<int16_t>(n), &channels[n]);
  KDRVX_ReaderClose(reader);
}

class CheckPlan : public WriteTest {};

TEST_F(CheckPlan, CleanPlansOfBothLayoutsReadBackAsTheirRecordings) {
  for (bool legacy : {false, true}) {
    Plan p(legacy, legacy ? 4 : 255, nullptr);
    const std::u16string path = dir.wide(legacy ? "clean.rvx" : "clean_current.rvx");
    p.plan.path = c(path);
    p.plan.comment = k(u"Gr\u00fc\u00dfe");
    p.plan.company = k(u"ACME");
    p.plan.noTriggerRecord = 17;
    if (!legacy) {
      p.plan.date = k(u"07.03.2024");
      p.plan.time = k(u"09:05:33");
    }
    KDRVX_PlannedChannel& p1 = p.add(u"p1");
    p1.unit = k(u"bar");
    p1.number = k(u"7");
    p1.isds = 1;
    KDRVX_PlannedChannel& t2 = p.add(u"dT2");
    t2.unit = k(u"\u00b0C");
    if (!legacy) {
      t2.name = k(u"\u03a9 sensor");
      t2.filter = k(u"10 Hz");
      t2.multiChannelBits = 8;
    }
    const Checked checked = p.check();
    EXPECT_EQ(checked.status, 0u);
    EXPECT_EQ(checked.count, 0u);

    KDRVX_RecordingInfo info = sized<KDRVX_RecordingInfo>();
    std::vector<KDRVX_ChannelInfo> channels(2, sized<KDRVX_ChannelInfo>());
    record(p, path, info, channels);
    KDRVX_RecordingInfo planned = checked.info;
    if (legacy) {  // the moment of recording: not compared
      std::memcpy(planned.date, info.date, sizeof info.date);
      std::memcpy(planned.time, info.time, sizeof info.time);
    }
    EXPECT_EQ(std::memcmp(&planned, &info, sizeof info), 0) << "legacy " << legacy;
    EXPECT_EQ(std::memcmp(checked.channels.data(), channels.data(), 2 * sizeof channels[0]), 0);
  }
}

struct Expected {
  uint32_t kind, field;
  int32_t channel;
  uint32_t status;
  int32_t position;
  std::u16string text;
};

void expectProblem(Plan& p, const Expected& e, uint32_t returned) {
  const Checked checked = p.check();
  EXPECT_EQ(checked.status, returned) << narrow(e.text);
  ASSERT_EQ(checked.count, 1u) << narrow(e.text);
  const KDRVX_PlanProblem& got = checked.problems[0];
  EXPECT_EQ(std::vector<int64_t>({got.kind, got.field, got.channel, got.status, got.position}),
            std::vector<int64_t>({e.kind, e.field, e.channel, e.status, e.position}))
      << narrow(e.text);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(got.text)), e.text);
}

TEST_F(CheckPlan, VariablesAndNumbersThatReadBackAsOthers) {
  constexpr uint32_t kLength = KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  const std::pair<const char16_t*, const char16_t*> variables[] = {
      {u"p128", u"p-128"}, {u"X65535", u"X-1"}, {u"p1.2", u"p1"}, {u"p01", u"p1"}, {u"p1a", u"p1"}};
  for (const auto& [variable, back] : variables) {
    Plan p(false, 255, variable);
    expectProblem(p,
                  {KDRVX_PLAN_REFUSED, KDRVX_FIELD_CHANNEL_VARIABLE, 0, 0, -1,
                   u"reads back as " + std::u16string(back)},
                  kLength);
  }
  for (int64_t interval : {int64_t{1} << 32, (int64_t{1} << 32) * 1000}) {
    Plan p(false);
    p.plan.scanRate = interval;
    expectProblem(
        p, {KDRVX_PLAN_REFUSED, KDRVX_FIELD_SCAN_RATE, -1, 0, -1, u"reads back as 0 \u00b5s"},
        kLength);
  }
  Plan none(false, 255, nullptr);
  expectProblem(none,
                {KDRVX_PLAN_REFUSED, KDRVX_FIELD_CHANNELS, -1, 0, -1,
                 u"a recording without channels does not open: give at least one"},
                kLength);
  // A plan whose only channel is refused is refused for that channel alone.
  Plan unnamed(false, 255, u"ch_0");
  const Checked refused = unnamed.check();
  ASSERT_EQ(refused.count, 1u);
  EXPECT_EQ(refused.problems[0].field, KDRVX_FIELD_CHANNEL_VARIABLE);
  Plan trigger(false);
  trigger.plan.noTriggerRecord = 100000001;
  expectProblem(trigger,
                {KDRVX_PLAN_REFUSED, KDRVX_FIELD_TRIGGER_RECORD, -1, 0, -1, u"reads back as 0"},
                kLength);
}

TEST_F(CheckPlan, WhatTheCompactLayoutAndItsSummaryCannotHold) {
  constexpr uint32_t kLength = KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  const std::u16string latin1 = u"the compact layout holds 8-bit text (Latin-1) only: ";
  Plan comment(true);
  comment.plan.comment = k(u"ab\u03a9");
  expectProblem(
      comment,
      {KDRVX_PLAN_REFUSED, KDRVX_FIELD_COMMENT, -1, 0, 2, latin1 + u"'\u03a9' at character 3"},
      kLength);
  Plan company(true, 4);
  company.plan.company = k(u"\U0001F600x\u0100");  // a surrogate pair counts as one character
  expectProblem(
      company,
      {KDRVX_PLAN_REFUSED, KDRVX_FIELD_COMPANY, -1, 0, 0, latin1 + u"'\U0001F600' at character 1"},
      kLength);
  Plan bits(true);
  bits.channels[0].multiChannelBits = 8;
  expectProblem(bits,
                {KDRVX_PLAN_REFUSED, KDRVX_FIELD_CHANNEL_MULTICHANNEL, 0, 0, -1,
                 u"the compact layout has no multichannels: its bit fields would read back "
                 u"as numbers"},
                kLength);
  Plan seconds(true);
  seconds.plan.time = k(u"09:05:33");
  expectProblem(seconds,
                {KDRVX_PLAN_REFUSED, KDRVX_FIELD_TIME, -1, 0, -1,
                 u"the compact layout keeps no seconds: reads back as 09:05"},
                kLength);
  Plan copy(true);
  copy.plan.original = 0;
  expectProblem(
      copy,
      {KDRVX_PLAN_REFUSED, KDRVX_FIELD_ORIGINAL, -1, 0, -1, u"reads back as an original recording"},
      kLength);
  Plan name(true, 4);
  name.channels[0].filter = k(u"10 Hz");
  expectProblem(name,
                {KDRVX_PLAN_DROPPED, KDRVX_FIELD_CHANNEL_FILTER, 0, 0, -1,
                 u"the compact layout keeps it nowhere: it reads back empty"},
                KDRVX_ERR_RVX_CHANNEL_ADD);

  Plan folder(true, 4);
  folder.plan.path = k(u"\\x.rvx\\a.rvx");  // a folder named like a recording
  expectProblem(folder,
                {KDRVX_PLAN_REFUSED, KDRVX_FIELD_PATH, -1, 0, -1,
                 u"its RVI file is written as '\\x.RVI' but looked for as '\\x.rvx\\a.RVI'"},
                kLength);
}

// The RVI file shows its own path in a directory line and a file-name line,
// one byte per unit: each line is judged on its own, by the split the
// writer makes ('\\' and ':' in both builds).
TEST_F(CheckPlan, PathsTheRviFileCannotShowNameTheLineAndTheCharacter) {
  constexpr uint32_t kLength = KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  const std::u16string holds = u" line holds 8-bit text (Latin-1) only: ";
  const struct {
    const char16_t* path;
    int32_t position;
    std::u16string text;
  } kCases[] = {
      {u"C:\\d\u00e9j\u00e0\\\U00010000.rvx", 8,  // D800 DC00: a low byte 0
       u"the RVI file's file-name" + holds + u"'\U00010000' at character 1 of '\U00010000.RVI'"},
      {u"C:\\Mess\\\u20acuro\\Mess.rvx", 8,
       u"the RVI file's directory" + holds + u"'\u20ac' at character 9 of 'C:\\Mess\\\u20acuro'"},
      // U+015C shows as '\\' and splits the lines where the path has no
      // separator.
      {u"x\u015cy.rvx", 1,
       u"the RVI file's directory" + holds + u"'\u015c' at character 2 of 'x\u015c'"},
  };
  for (const auto& c : kCases) {
    Plan plan(true, 0);
    plan.plan.path = k(c.path);
    expectProblem(plan, {KDRVX_PLAN_REFUSED, KDRVX_FIELD_PATH, -1, 0, c.position, c.text}, kLength);
  }
  // Both lines at fault: two problems, the directory's first; Latin-1 and
  // a drive pass.
  Plan both(true, 0);
  both.plan.path = k(u"\u20acuro\\Mess\u20ac.rvx");
  const Checked checked = both.check();
  EXPECT_EQ(checked.status, kLength);
  ASSERT_EQ(checked.count, 2u);
  EXPECT_EQ(checked.problems[0].position, 0);
  EXPECT_EQ(checked.problems[1].position, 9);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(checked.problems[1].text)),
            u"the RVI file's file-name" + holds + u"'\u20ac' at character 5 of 'Mess\u20ac.RVI'");
  Plan latin1(true, 0);
  latin1.plan.path = k(u"C:\\M\u00fcller\\Pr\u00fcfung \u00ff.rvx");
  EXPECT_EQ(latin1.check().status, 0u);
}

TEST_F(CheckPlan, SetterRefusalsCarryTheirStatusInFieldOrder) {
  Plan p(true, 255, nullptr);
  p.plan.company = k(u"0123456789012345678901234567890123456789012345678901234567890123456789");
  p.plan.date = k(u"x");
  p.add(u"p1").unit = k(u"0123456789ab");
  p.add(u"p1");
  p.add(u"p2").multiChannelBits = 40;
  for (int n = 3; n <= 25; ++n) p.add(u"T9");  // duplicates do not count toward the 24
  // The setters would trace these refusals and keep them as the last
  // error: the check does neither.
  KDRVX_SetComment(k(u"x"));  // no file under creation: a failure to keep
  const uint32_t kept = KDRVX_GetLastError();
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS | KDRVX_DEBUG_CALLS);
  const Checked all = p.check(8);
  EXPECT_TRUE(capture.lines().empty());
  EXPECT_EQ(KDRVX_GetLastError(), kept);
  EXPECT_EQ(all.status, KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  ASSERT_GE(all.count, 6u);
  const uint32_t statuses[] = {KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH, KDRVX_ERR_RVX_DATE,
                               KDRVX_ERR_RVX_CHN_UNIT, KDRVX_ERR_RVX_CHN_VAR_EXISTS,
                               KDRVX_ERR_RVX_MULTICHANNEL_BITS};
  for (size_t n = 0; n < std::size(statuses); ++n) EXPECT_EQ(all.problems[n].status, statuses[n]);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(all.problems[0].text)),
            u"holds at most 63 characters; this one has 70");

  // Room for fewer problems than found: the count says how many there are.
  const Checked one = p.check(1);
  EXPECT_EQ(one.count, all.count);
  EXPECT_EQ(one.problems[0].status, statuses[0]);

  Plan many(true, 255, nullptr);
  for (const char16_t* v :
       {u"a1", u"a2", u"a3", u"a4", u"a5", u"a6", u"a7", u"a8", u"a9", u"b1", u"b2", u"b3", u"b4",
        u"b5", u"b6", u"b7", u"b8", u"b9", u"c1", u"c2", u"c3", u"c4", u"c5", u"c6", u"c7"})
    many.add(v);
  expectProblem(many,
                {KDRVX_PLAN_REFUSED, KDRVX_FIELD_CHANNELS, 24, KDRVX_ERR_RVX_NUMBER_OF_CHANNELS, -1,
                 u"the compact layout holds at most 24 channels; this plan has 25"},
                KDRVX_ERR_RVX_NUMBER_OF_CHANNELS);
}

TEST_F(CheckPlan, UnusableArguments) {
  constexpr uint32_t kLength = KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  Plan p(false);
  p.plan.channels = p.channels.data();
  p.plan.noChannels = 1;
  KDRVX_RecordingInfo small{};
  small.size = 2;
  KDRVX_PlanProblem problem = sized<KDRVX_PlanProblem>();
  EXPECT_EQ(KDRVX_CheckPlan(nullptr, nullptr, nullptr, nullptr, 0, nullptr), kLength);
  EXPECT_EQ(KDRVX_CheckPlan(&p.plan, &small, nullptr, nullptr, 0, nullptr), kLength);
  EXPECT_EQ(KDRVX_CheckPlan(&p.plan, nullptr, nullptr, nullptr, 1, nullptr), kLength);
  EXPECT_EQ(KDRVX_CheckPlan(&p.plan, nullptr, nullptr, &problem, 1, nullptr), 0u);
  p.plan.channels = nullptr;
  EXPECT_EQ(KDRVX_CheckPlan(&p.plan, nullptr, nullptr, nullptr, 0, nullptr), kLength);
  p.plan.size = 2;
  EXPECT_EQ(KDRVX_CheckPlan(&p.plan, nullptr, nullptr, nullptr, 0, nullptr), kLength);
}

}  // namespace
}  // namespace kdrvx::test
