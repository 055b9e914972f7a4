#include "support/cli_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <csignal>
#include <cstring>
#include <random>

#include "recordings.h"

namespace rvx::test {

namespace {

using kdrvx::test::DosValue;
using kdrvx::test::TestChannel;
using kdrvx::test::TestRecording;

constexpr uint32_t kOldRecords = 6;

// The recording of every older file: channels p1, T2 and, where a prefix
// fits, dp3, with the texts that only their RVI file holds.
TestRecording oldRecording(kdrvx::test::Layout layout, size_t channels) {
  TestRecording r;
  r.layout = layout;
  r.records = kOldRecords;
  r.company = u"Old Works", r.instrument = u"Logger 1990", r.snrInstrument = u"SN-17";
  r.nameMeasurement = u"Old run", r.triggerSetting = u"manual", r.comment = u"from the RVI";
  const struct {
    char16_t prefix, letter;
    uint8_t code;
    const char16_t* unit;
  } kOld[] = {{0, u'p', 1, u"bar"}, {0, u'T', 2, u"\u00B0C"}, {u'd', u'p', 0x83, u"mbar"}};
  for (size_t k = 0; k < channels; ++k) {
    TestChannel c;
    c.prefix = kOld[k].prefix, c.letter = kOld[k].letter, c.code = kOld[k].code,
    c.unit = kOld[k].unit;
    c.index = static_cast<int8_t>(k + 1), c.indRate = static_cast<uint32_t>(k + 1);
    const std::u16string number = u16(std::to_string(k + 1));
    c.name = u"Sensor " + number, c.number = number, c.isds = k == 0, c.signalType = u"4-20 mA";
    c.calParameter = u"0..1" + number + u" bar", c.zeroPoint = u"0.5", c.filter = number + u"0 Hz";
    r.channels.push_back(c);
  }
  return r;
}

float decimalValue(int16_t mantissa, uint16_t decimals) {
  float value = static_cast<float>(mantissa);
  for (uint16_t i = 0; i < decimals; ++i) value /= 10.0f;
  return value;
}

// Decimal records: mantissa and count of decimals per channel.
std::string decimalRecords(size_t channels, std::vector<std::vector<float>>& expected) {
  std::vector<std::vector<DosValue>> records;
  for (uint32_t m = 0; m < kOldRecords; ++m) {
    std::vector<float> record;
    records.emplace_back();
    for (size_t k = 0; k < channels; ++k) {
      const auto mantissa =
          static_cast<int16_t>(1234 - 517 * static_cast<int>(m) + 31 * static_cast<int>(k));
      const auto decimals = static_cast<uint16_t>((m + k) % 4);
      records.back().push_back({mantissa, decimals});
      record.push_back(decimalValue(mantissa, decimals));
    }
    expected.push_back(record);
  }
  return kdrvx::test::dosRecords(records);
}

float oldValue(uint32_t m, size_t k) {
  return static_cast<float>(m) * 1.25f - static_cast<float>(k) * 0.1f;
}

std::string floatRecords(size_t channels, std::vector<std::vector<float>>& expected) {
  for (uint32_t m = 0; m < kOldRecords; ++m) {
    std::vector<float> record;
    for (size_t k = 0; k < channels; ++k) record.push_back(oldValue(m, k));
    expected.push_back(record);
  }
  return kdrvx::test::floatRecords(expected);
}

// WIN 2.x 'R': record m (from 1) holds channel k when its rate is 1 or
// m mod rate is 1; the readers keep the previous value of the others.
std::string sparseRecords(const TestRecording& r, std::vector<std::vector<float>>& expected) {
  std::vector<std::vector<float>> whole;
  std::vector<float> current(r.channels.size(), 0.0f);
  for (uint32_t m = 1; m <= kOldRecords; ++m) {
    whole.emplace_back();
    for (size_t k = 0; k < r.channels.size(); ++k) {
      whole.back().push_back(oldValue(m, k));
      const uint32_t rate = r.channels[k].indRate;
      if (rate == 1 || m % rate == 1) current[k] = oldValue(m, k);
    }
    expected.push_back(current);
  }
  return kdrvx::test::sparseRecords(r.channels, whole);
}

}  // namespace

std::u16string u16(const std::string& utf8) { return std::filesystem::path(utf8).u16string(); }

std::vector<std::vector<float>> randomRecords(size_t count, size_t channels, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<std::vector<float>> records(count, std::vector<float>(channels));
  for (auto& record : records) {
    for (float& value : record) {
      switch (random() % 4) {
        case 0:
          value = static_cast<float>(static_cast<int>(random() % 2001) - 1000) / 8.0f;
          break;
        case 1:
          value = std::uniform_real_distribution<float>(-1e6f, 1e6f)(random);
          break;
        case 2:
          value = std::bit_cast<float>(static_cast<uint32_t>(random() % 0x00800000u));
          break;  // subnormal
        default: {
          // Any bit pattern but NaN.
          uint32_t bits = static_cast<uint32_t>(random());
          if ((bits & 0x7F800000u) == 0x7F800000u) bits &= 0xBF7FFFFFu;
          value = std::bit_cast<float>(bits);
        }
      }
    }
  }
  return records;
}

void createRecording(const std::filesystem::path& path, const Recording& recording, bool legacy,
                     int32_t language, Close close) {
  std::u16string name = path.u16string();
  name.push_back(0);
  ASSERT_EQ(
      KDRVX_CreateExt(reinterpret_cast<KDRVX_CHAR*>(name.data()), 1, 1, legacy ? 1 : 0, language),
      0u);
  ASSERT_EQ(KDRVX_SetCompany(wide(u16(recording.company))), 0u);
  ASSERT_EQ(KDRVX_SetComment(wide(u16(recording.comment))), 0u);
  ASSERT_EQ(KDRVX_SetNameMeasurement(wide(u16(recording.nameMeasurement))), 0u);
  ASSERT_EQ(KDRVX_SetInstrument(wide(u"Logger 2000")), 0u);
  ASSERT_EQ(KDRVX_SetDate(wide(u16(recording.date))), 0u);
  ASSERT_EQ(KDRVX_SetTime(wide(u16(recording.time))), 0u);
  ASSERT_EQ(KDRVX_SetScanRate(recording.interval), 0u);
  ASSERT_EQ(KDRVX_SetNoTriggerRecord(recording.triggerRecord), 0u);
  for (const Channel& channel : recording.channels) {
    const uint32_t index = KDRVX_AddChannel(wide(u16(channel.variable)));
    ASSERT_LT(index, 48u) << channel.variable;
    const auto k = static_cast<int16_t>(index);
    ASSERT_EQ(KDRVX_SetChannelUnit(k, wide(u16(channel.unit))), 0u);
    ASSERT_EQ(KDRVX_SetChannelName(k, wide(u16(channel.name))), 0u);
    if (channel.bits) {
      ASSERT_EQ(KDRVX_SetChannelMultiChannel(k, channel.bits), 0u);
    }
  }
  for (const auto& record : recording.records) ASSERT_EQ(KDRVX_AddRecord(record.data()), 0u);
  ASSERT_EQ(close == Close::Complete ? KDRVX_CloseCreate() : KDRVX_CloseCreateSimple(), 0u);
}

ReadBack readBack(const std::filesystem::path& path) {
  ReadBack back;
  const std::u16string name = path.u16string();
  EXPECT_EQ(KDRVX_OpenRead(wide(name)), 0u) << path;
  auto text = [](auto query) {
    std::u16string buffer(320, u'\0');
    query(reinterpret_cast<KDRVX_CHAR*>(buffer.data()), uint16_t{320});
    return std::u16string(buffer.c_str());
  };
  back.version = KDRVX_GetVersion();
  back.records = KDRVX_GetNoRecords();
  back.flagStatistics = KDRVX_GetFlagStatistics();
  back.triggerRecord = KDRVX_GetNoTriggerRecord();
  back.interval = KDRVX_GetScanRate();
  std::u16string date(16, u'\0'), time(16, u'\0');
  KDRVX_GetDate(reinterpret_cast<KDRVX_CHAR*>(date.data()));
  KDRVX_GetTime(reinterpret_cast<KDRVX_CHAR*>(time.data()));
  back.date = date.c_str();
  back.time = time.c_str();
  back.comment = text(KDRVX_GetComment);
  back.company = text(KDRVX_GetCompany);
  back.instrument = text(KDRVX_GetInstrument);
  back.serialNumber = text(KDRVX_GetSnrInstrument);
  back.nameMeasurement = text(KDRVX_GetNameMeasurement);
  back.triggerSetting = text(KDRVX_GetTriggerSetting);
  const uint32_t n = KDRVX_GetNoChannels();
  for (uint32_t k = 0; k < n; ++k) {
    const auto index = static_cast<int16_t>(k);
    auto channelText = [&](auto query) {
      std::u16string buffer(320, u'\0');
      query(reinterpret_cast<KDRVX_CHAR*>(buffer.data()), index, uint16_t{320});
      return std::u16string(buffer.c_str());
    };
    ReadBack::ChannelBack c;
    std::u16string variable(16, u'\0');
    KDRVX_GetChannelVariable(reinterpret_cast<KDRVX_CHAR*>(variable.data()), index, 15);
    c.variable = variable.c_str();
    c.unit = channelText(KDRVX_GetChannelUnit);
    c.name = channelText(KDRVX_GetChannelName);
    c.number = channelText(KDRVX_GetChannelNumber);
    c.signalType = channelText(KDRVX_GetChannelSignalType);
    c.zeroPoint = channelText(KDRVX_GetChannelZeroPoint);
    c.calParameter = channelText(KDRVX_GetChannelCalParameter);
    c.filter = channelText(KDRVX_GetChannelFilter);
    c.indRate = KDRVX_GetChannelIndRate(index);
    c.bits = KDRVX_GetNumberMultiChannelBits(index);
    c.isds = KDRVX_IsChannelISDS(index) != 0;
    c.minimum = KDRVX_GetChannelMinValue(index);
    c.maximum = KDRVX_GetChannelMaxValue(index);
    c.mean = KDRVX_GetChannelMeanValue(index);
    c.rms = KDRVX_GetChannelRMSValue(index);
    back.channels.push_back(c);
  }
  std::vector<float> record(n + 1, 0.0f);
  for (uint32_t r = 0; r < back.records; ++r) {
    const uint32_t result =
        r == 0 ? KDRVX_ReadFirstRecord(record.data()) : KDRVX_ReadNextRecord(record.data());
    if (result != 0) break;
    for (uint32_t k = 0; k < n; ++k) back.values.push_back(std::bit_cast<uint32_t>(record[k]));
  }
  EXPECT_EQ(KDRVX_CloseRead(), 0u);
  return back;
}

const char* layoutTag(OldLayout layout) {
  switch (layout) {
    case OldLayout::DosBefore5:
      return "dos4";
    case OldLayout::DosQ:
      return "dosq";
    case OldLayout::DosP:
      return "dosp";
    case OldLayout::Win2Sparse:
      return "win2r";
    case OldLayout::Win2Decimal:
      return "win2d";
    case OldLayout::Win3:
      return "win3";
    case OldLayout::Win6:
      return "win6";
  }
  return "old";
}

OldFile writeOldLayout(const std::filesystem::path& directory, OldLayout layout, bool rvi) {
  using kdrvx::test::Layout;
  OldFile file;
  file.path = directory / (std::string(layoutTag(layout)) + ".rvx");
  TestRecording r;
  std::string records;
  switch (layout) {
    case OldLayout::DosBefore5:
      r = oldRecording(Layout::DosBefore50, 2);
      records = decimalRecords(2, file.expected);
      break;
    case OldLayout::DosQ:
      r = oldRecording(Layout::DosKindQ, 2);
      for (TestChannel& c : r.channels)
        c.letter = u'X', c.prefix = 0;  // kind Q stores no variables
      records = decimalRecords(2, file.expected);
      break;
    case OldLayout::DosP:
      r = oldRecording(Layout::DosKindP, 3);
      r.channels[2].letter = u'd', r.channels[2].prefix = 0;
      r.scanRate = 20;  // milliseconds; its low byte keeps the u16 at 18 non-zero
      records = floatRecords(3, file.expected);
      break;
    case OldLayout::Win2Sparse:
    case OldLayout::Win2Decimal: {
      const bool sparse = layout == OldLayout::Win2Sparse;
      r = oldRecording(Layout::Win2, 3);
      r.version = sparse ? 'R' : 0, r.originalFlag = sparse ? 'W' : 0;
      r.year = 1999, r.month = 12, r.day = 31, r.hour = 23, r.minute = 59;
      r.scanRate = 100, r.flagStatistics = 1, r.commentLines = {u"abc", u"", u"x", u""};
      for (TestChannel& c : r.channels) {
        if (!sparse) c.indRate = 1;
        c.min = -1.0f, c.max = 10.0f;
      }
      records = sparse ? sparseRecords(r, file.expected) : decimalRecords(3, file.expected);
      break;
    }
    case OldLayout::Win3:
      r = oldRecording(Layout::Win3, 3);
      r.version = '4', r.year = 2001, r.month = 2, r.day = 3, r.hour = 4, r.minute = 5;
      r.triggerRecord = 2, r.scanRate = 250, r.flags = 1;  // microseconds
      r.flagStatistics = 1, r.comment = u"comment of the header";
      for (TestChannel& c : r.channels) c.indRate = 1;
      records = floatRecords(3, file.expected);
      break;
    case OldLayout::Win6:
      r = oldRecording(Layout::Win6, 3);
      r.version = 96, r.originalFlag = 'X', r.year = 2002, r.month = 6, r.day = 7, r.hour = 8;
      r.minute = 9, r.scanRate = 40, r.comment = u"UTF-16 comment \u03A9";
      for (TestChannel& c : r.channels) c.indRate = 1;
      records = floatRecords(3, file.expected);
      break;
  }
  writeBytes(file.path, kdrvx::test::header(r) + records);
  if (rvi) {
    std::filesystem::path rviPath = file.path;
    rviPath.replace_extension(".RVI");
    writeBytes(rviPath, kdrvx::test::encodeRvi(rviText(r, kdrvx::test::RviLanguage::English),
                                               kdrvx::test::RviEncoding::Latin1));
  }
  return file;
}

Background::Background(const std::string& program, const std::vector<std::string>& arguments,
                       const std::filesystem::path& directory, const std::string& tag,
                       const Fault& fault)
    : out_(directory / (".rvx-stdout" + tag)), err_(directory / (".rvx-stderr" + tag)) {
  // rvx's temporary directory lies in the test's own folder, so that what a
  // killed rvx leaves there goes with the folder.
  const std::filesystem::path temporary = directory / kTemporaryDirectory;
  std::filesystem::create_directories(temporary);
  pid_ = fork();
  if (pid_ == 0) {
    if (chdir(directory.c_str()) != 0) _exit(126);
    setenv("TMPDIR", temporary.c_str(), 1);
    const int outFd = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int errFd = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(outFd, 1);
    dup2(errFd, 2);
    if (fault.fileSizeLimit != 0) {
      const rlimit limit{fault.fileSizeLimit, fault.fileSizeLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (!fault.hook.empty()) {
      setenv("LD_PRELOAD", RVX_FAULT_HOOK, 1);
      setenv("RVX_FAULT", fault.hook.c_str(), 1);
      // The hook comes before AddressSanitizer's runtime in the sanitizer build.
      const std::string asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
      setenv("ASAN_OPTIONS", (asan + ":verify_asan_link_order=0").c_str(), 1);
    }
    std::vector<char*> argv;
    std::string name = program;
    argv.push_back(name.data());
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    execv(name.c_str(), argv.data());
    _exit(127);
  }
}

Background::~Background() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

Outcome Background::finish() {
  Outcome run;
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.out = readBytes(out_);
  run.err = readBytes(err_);
  return run;
}

void Background::kill() { ::kill(pid_, SIGKILL); }

std::string Background::outputSoFar() const { return readBytes(out_); }

Outcome runRvx(const std::vector<std::string>& arguments, const std::filesystem::path& directory,
               const Fault& fault) {
  return Background(RVX_EXECUTABLE, arguments, directory, "", fault).finish();
}

nlohmann::json readExport(const std::string& kind, const std::string& path) {
  const std::string command =
      std::string(RVX_PYTHON) + " " + RVX_READ_EXPORT + " " + kind + " '" + path + "'";
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[65536];
  while (size_t got = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, got);
  EXPECT_EQ(pclose(pipe), 0) << command;
  return nlohmann::json::parse(out.empty() ? "{}" : out);
}

}  // namespace rvx::test
