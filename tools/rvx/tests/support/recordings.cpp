#include "recordings.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

#include "format/layout.h"

namespace rvx::test {

namespace {

using kdrvx::format::RVX_HEADER_W3;

// Little-endian byte image of an older header under construction.
class Bytes {
 public:
  explicit Bytes(size_t size) : data_(size, 0) {}
  void u8(size_t at, uint32_t value) { grow(at + 1), data_[at] = static_cast<char>(value); }
  void u16(size_t at, uint32_t value) { u8(at, value & 0xFF), u8(at + 1, value >> 8); }
  void u32(size_t at, uint32_t value) { u16(at, value & 0xFFFF), u16(at + 2, value >> 16); }
  void f32(size_t at, float value) { u32(at, std::bit_cast<uint32_t>(value)); }
  void text(size_t at, const std::string& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) u8(at + i, static_cast<unsigned char>(bytes[i]));
  }
  void wideText(size_t at, const std::u16string& units) {
    for (size_t i = 0; i < units.size(); ++i) u16(at + 2 * i, units[i]);
  }
  void append(const Bytes& more) { data_ += more.data_; }
  size_t size() const { return data_.size(); }
  const std::string& data() const { return data_; }

 private:
  void grow(size_t size) {
    if (data_.size() < size) data_.resize(size, 0);
  }
  std::string data_;
};

void write(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The channels of every older file: p1, T2 and, where a prefix fits, dp3.
struct OldChannel {
  char letter;
  uint8_t code;  // index, with 0x80 for the prefix 'd'
  const char* unit;  // 8-bit
  uint32_t rate;
};
const OldChannel kOld[] = {{'p', 1, "bar", 1}, {'T', 2, "\xB0" "C", 2}, {'p', 0x80 | 3, "mbar", 3}};
constexpr uint32_t kOldRecords = 6;

float decimalValue(int16_t mantissa, uint16_t decimals) {
  float value = static_cast<float>(mantissa);
  for (uint16_t i = 0; i < decimals; ++i) value /= 10.0f;
  return value;
}

// Decimal records: mantissa and count of decimals per channel.
Bytes decimalRecords(size_t channels, std::vector<std::vector<float>>& expected) {
  Bytes bytes(0);
  for (uint32_t m = 0; m < kOldRecords; ++m) {
    std::vector<float> record;
    for (size_t k = 0; k < channels; ++k) {
      const auto mantissa = static_cast<int16_t>(1234 - 517 * static_cast<int>(m) + 31 * static_cast<int>(k));
      const auto decimals = static_cast<uint16_t>((m + k) % 4);
      const size_t at = bytes.size();
      bytes.u16(at, static_cast<uint16_t>(mantissa));
      bytes.u16(at + 2, decimals);
      record.push_back(decimalValue(mantissa, decimals));
    }
    expected.push_back(record);
  }
  return bytes;
}

float oldValue(uint32_t m, size_t k) { return static_cast<float>(m) * 1.25f - static_cast<float>(k) * 0.1f; }

Bytes floatRecords(size_t channels, std::vector<std::vector<float>>& expected) {
  Bytes bytes(0);
  for (uint32_t m = 0; m < kOldRecords; ++m) {
    std::vector<float> record;
    for (size_t k = 0; k < channels; ++k) {
      bytes.f32(bytes.size(), oldValue(m, k));
      record.push_back(oldValue(m, k));
    }
    expected.push_back(record);
  }
  return bytes;
}

// WIN 2.x 'R': record m (from 1) holds channel k when its rate is 1 or
// m mod rate is 1; the readers keep the previous value of the others.
Bytes sparseRecords(std::vector<std::vector<float>>& expected) {
  Bytes bytes(0);
  std::vector<float> current(std::size(kOld), 0.0f);
  for (uint32_t m = 1; m <= kOldRecords; ++m) {
    for (size_t k = 0; k < std::size(kOld); ++k) {
      const uint32_t rate = kOld[k].rate;
      if (rate == 1 || m % rate == 1) {
        current[k] = oldValue(m, k);
        bytes.f32(bytes.size(), current[k]);
      }
    }
    expected.push_back(current);
  }
  return bytes;
}

void writeRvi(const std::filesystem::path& rvx, const std::vector<std::string>& variables) {
  std::filesystem::path rvi = rvx;
  rvi.replace_extension(".RVI");
  write(rvi, rviText(variables, kOldRecords));
}

}  // namespace

std::u16string u16(const std::string& utf8) {
  return std::filesystem::path(utf8).u16string();
}

std::vector<std::vector<float>> randomRecords(size_t count, size_t channels, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<std::vector<float>> records(count, std::vector<float>(channels));
  for (auto& record : records) {
    for (float& value : record) {
      switch (random() % 4) {
        case 0: value = static_cast<float>(static_cast<int>(random() % 2001) - 1000) / 8.0f; break;
        case 1: value = std::uniform_real_distribution<float>(-1e6f, 1e6f)(random); break;
        case 2: value = std::bit_cast<float>(static_cast<uint32_t>(random() % 0x00800000u)); break;  // subnormal
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
  ASSERT_EQ(KDRVX_CreateExt(reinterpret_cast<KDRVX_CHAR*>(name.data()), 1, 1, legacy ? 1 : 0, language), 0u);
  ASSERT_EQ(KDRVX_SetCompany(wide(u16(recording.company))), 0u);
  ASSERT_EQ(KDRVX_SetComment(wide(u16(recording.comment))), 0u);
  ASSERT_EQ(KDRVX_SetNameMeasurement(wide(u16(recording.nameMeasurement))), 0u);
  ASSERT_EQ(KDRVX_SetInstrument(wide(u"Logger 2000")), 0u);
  ASSERT_EQ(KDRVX_SetDate(wide(u"4.12.2023")), 0u);
  ASSERT_EQ(KDRVX_SetTime(wide(u"14:05:09")), 0u);
  ASSERT_EQ(KDRVX_SetScanRate(recording.interval), 0u);
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
    const uint32_t result = r == 0 ? KDRVX_ReadFirstRecord(record.data()) : KDRVX_ReadNextRecord(record.data());
    if (result != 0) break;
    for (uint32_t k = 0; k < n; ++k) back.values.push_back(std::bit_cast<uint32_t>(record[k]));
  }
  EXPECT_EQ(KDRVX_CloseRead(), 0u);
  return back;
}

std::string rviText(const std::vector<std::string>& variables, uint32_t records) {
  std::string text =
      "Company         :  Old Works\r\n"
      "Instrument      :  Logger 1990\r\n"
      "Serialnumber    :  SN-17\r\n\r\n"
      "Name Measurement:  Old run\r\n"
      "Directory       :  \r\n"
      "Filename        :  old.RVI\r\n"
      "Measurement from:  3.7.2004 9:05\r\n"
      "Scanning rate   :  10 ms\r\n"
      "Storing time    :  0.050 sec\r\n"
      "Data records    :  " + std::to_string(records) + "\r\n"
      "Channels        :  ";
  for (const std::string& variable : variables) text += variable + " ";
  text += "\r\nTrigger         :  manual\r\n"
          "Commentary      :  \r\n"
          "from the RVI\r\n\r\n";
  for (size_t k = 0; k < variables.size(); ++k) {
    const std::string number = std::to_string(k + 1);
    text += "\r\n"
            "Variable                 :  " + variables[k] + " \r\n"
            "Unit                     :  x\r\n"
            "Name of channel          :  Sensor " + number + "\r\n"
            "Channel                  :  " + number + "\r\n"
            "ISDS                     :  " + (k == 0 ? "yes" : "no") + "\r\n"
            "Individ. Scan.rate       :  no\r\n"
            "Signal type              :  4-20 mA\r\n"
            "Meas.Range/calibr.value  :  0..1" + number + " bar\r\n"
            "Zero point alignment     :  0.5\r\n"
            "Filter settings          :  " + number + "0 Hz\r\n"
            "Linearisation            :  no\r\n";
  }
  text += "\r\n\r\ncreated with  KDRVXLibrary V2.7\r\n";
  return text;
}

const char* layoutTag(OldLayout layout) {
  switch (layout) {
    case OldLayout::DosBefore5: return "dos4";
    case OldLayout::DosQ: return "dosq";
    case OldLayout::DosP: return "dosp";
    case OldLayout::Win2Sparse: return "win2r";
    case OldLayout::Win2Decimal: return "win2d";
    case OldLayout::Win3: return "win3";
    case OldLayout::Win6: return "win6";
  }
  return "old";
}

OldFile writeOldLayout(const std::filesystem::path& directory, OldLayout layout, bool rvi) {
  OldFile file;
  file.path = directory / (std::string(layoutTag(layout)) + ".rvx");
  std::vector<std::string> variables = {"p1", "T2", "dp3"};
  Bytes header(0);
  Bytes records(0);
  switch (layout) {
    case OldLayout::DosBefore5: {
      // Scan rate, entries of letter and code, '.', one byte more.
      header.u32(0, 10);
      for (size_t k = 0; k < 2; ++k) {
        header.u8(4 + 4 * k, static_cast<uint8_t>(kOld[k].letter));
        header.u8(5 + 4 * k, kOld[k].code);
      }
      header.u8(12, '.');
      header.u8(13, 0);
      records = decimalRecords(2, file.expected);
      variables.resize(2);
      break;
    }
    case OldLayout::DosQ: {
      header.u8(4, 'Q');
      header.u16(6, 512);
      header.u32(14, kOldRecords);
      header.u8(24, 2);
      header.u8(511, 0);
      records = decimalRecords(2, file.expected);
      variables = {"X1", "X2"};  // kind Q stores no variables
      break;
    }
    case OldLayout::DosP: {
      header.u8(4, 'P');
      header.u16(5, 512);
      header.u32(13, kOldRecords);
      header.u32(19, 20);  // milliseconds; its low byte keeps the u16 at 18 non-zero
      header.u8(23, 3);
      for (size_t k = 0; k < 3; ++k) {
        header.u8(323 + 8 * k, static_cast<uint8_t>(k == 2 ? 'd' : kOld[k].letter));
        header.u8(324 + 8 * k, kOld[k].code & 0x3F);
      }
      header.u8(511, 0);
      records = floatRecords(3, file.expected);
      variables = {"p1", "T2", "d3"};
      break;
    }
    case OldLayout::Win2Sparse:
    case OldLayout::Win2Decimal: {
      const bool sparse = layout == OldLayout::Win2Sparse;
      const size_t n = 3;
      header.u8(4, sparse ? 'R' : 0);
      header.u8(5, sparse ? 'W' : 0);
      header.u16(6, static_cast<uint32_t>(320 + 24 * n));
      header.u16(8, 1999);
      header.u8(10, 12), header.u8(11, 31), header.u8(12, 23), header.u8(13, 59);
      header.u32(14, kOldRecords);
      header.u32(20, 100);
      header.u8(24, n);
      header.u8(25, 1);
      header.text(28, "abc");
      header.text(174, "x");
      for (size_t k = 0; k < n; ++k) {
        const size_t at = 320 + 24 * k;
        header.u16(at, sparse ? kOld[k].rate : 1);
        header.u8(at + 4, static_cast<uint8_t>(kOld[k].letter));
        header.u8(at + 5, kOld[k].code);
        header.text(at + 6, kOld[k].unit);
        header.f32(at + 16, -1.0f);
        header.f32(at + 20, 10.0f);
      }
      records = sparse ? sparseRecords(file.expected) : decimalRecords(n, file.expected);
      break;
    }
    case OldLayout::Win3: {
      RVX_HEADER_W3 w3{};
      const size_t n = 3;
      w3.Version = '4';
      w3.OriginalFlag = 'W';
      w3.HeaderSize = static_cast<uint16_t>(kdrvx::format::compactHeaderLength(n));
      w3.Year = 2001, w3.Month = 2, w3.Day = 3, w3.Hour = 4, w3.Minute = 5;
      w3.NoRecords = kOldRecords;
      w3.NoTriggerRecord = 2;
      w3.ScanRate = 250;
      w3.Flags = 1;  // microseconds
      w3.NoChannels = n;
      w3.FlagStatistics = 1;
      std::strcpy(w3.Comment, "comment of the header");
      for (size_t k = 0; k < n; ++k) {
        w3.Channel[k].ChannelIndRate = 1;
        w3.Channel[k].VariableLetter = static_cast<uint8_t>(kOld[k].letter);
        w3.Channel[k].VariableCode = kOld[k].code;
        std::strcpy(w3.Channel[k].ChannelUnit, kOld[k].unit);
      }
      header.text(0, std::string(reinterpret_cast<const char*>(&w3), w3.HeaderSize));
      records = floatRecords(n, file.expected);
      break;
    }
    case OldLayout::Win6: {
      const size_t n = 3;
      header.u8(4, 96);
      header.u8(5, 'X');
      header.u16(8, static_cast<uint32_t>(620 + 40 * n));
      header.u16(10, 2002), header.u8(12, 6), header.u8(13, 7), header.u8(14, 8), header.u8(15, 9);
      header.u32(16, kOldRecords);
      header.u32(28, 40);
      header.u8(32, n);
      header.wideText(36, u"UTF-16 comment \u03A9");
      for (size_t k = 0; k < n; ++k) {
        const size_t at = 620 + 40 * k;
        header.u16(at, 1);
        header.u16(at + 4, static_cast<uint8_t>(kOld[k].letter));
        header.u8(at + 6, kOld[k].code);
        header.wideText(at + 8, k == 1 ? std::u16string(u"\u00B0C") : u16(kOld[k].unit));
      }
      header.u8(620 + 40 * n - 1, 0);
      records = floatRecords(n, file.expected);
      break;
    }
  }
  Bytes all = header;
  all.append(records);
  write(file.path, all.data());
  if (rvi) writeRvi(file.path, variables);
  return file;
}

Outcome runRvx(const std::vector<std::string>& arguments, const std::filesystem::path& directory) {
  const std::filesystem::path out = directory / ".rvx-stdout";
  const std::filesystem::path err = directory / ".rvx-stderr";
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(directory.c_str()) != 0) _exit(126);
    const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(outFd, 1);
    dup2(errFd, 2);
    std::vector<char*> argv;
    std::string program = RVX_EXECUTABLE;
    argv.push_back(program.data());
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  Outcome run;
  int status = 0;
  waitpid(child, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  auto slurp = [](const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  run.out = slurp(out);
  run.err = slurp(err);
  return run;
}

}  // namespace rvx::test
