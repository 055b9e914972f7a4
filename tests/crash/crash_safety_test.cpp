// Crash safety: a host of the shared library (crash_host) recording or
// modifying a file is killed at random moments (SIGKILL on POSIX,
// TerminateProcess on Windows) a fixed number of times per scenario. After
// each kill of a recording every record acknowledged to the host is on disk
// as written, the file opens through the read path and reads every whole
// record back, and `rvx repair` recounts the whole records and computes
// their statistics as the final update would: rvx's repair subcommand runs
// in this process after every kill, and the rvx program after every few.
// A modification killed while it writes its header back never damages the
// data area.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "commands/subcommand.h"
#include "crash/crash_work.h"
#include "crash/recording_values.h"
#include "format/layout.h"
#include "kdrvx/kdrvx.h"
#include "shared/tool_error.h"
#include "support/test_support.h"

namespace kdrvx::test {
namespace {

namespace fs = std::filesystem;

// A started process. The host's standard output comes through a pipe; a
// program's goes nowhere.
class Process {
 public:
  // The host, crash_host with `arguments`: on Windows the program, on POSIX
  // a fork of this process that does the same work, sparing the start of a
  // program at every kill.
  explicit Process(const std::vector<std::string>& arguments);
  Process(const fs::path& program, const std::vector<std::string>& arguments);
  ~Process() { end(); }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool started() const;
  // Up to `capacity` bytes of the output; 0 once every writer has gone.
  size_t read(char* buffer, size_t capacity);
  // Its exit status, once it has ended: -1 when it did not exit of itself.
  int wait();
  int kill();  // ends the process at once; then as wait()

 private:
  void end();
#ifdef _WIN32
  void start(const fs::path& program, const std::vector<std::string>& arguments, bool keepOutput);
  PROCESS_INFORMATION info_{};
  HANDLE output_ = nullptr;
#else
  pid_t pid_ = -1;
  int output_ = -1;
#endif
  bool waited_ = false;
  int status_ = -1;
};

#ifdef _WIN32

// The programs lie beside the test program in the Windows build.
fs::path besideThisProgram(const char* name) {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  return fs::path(std::wstring(self, length)).parent_path() / name;
}
const fs::path kTool = besideThisProgram(KDRVX_RVX_TOOL);

Process::Process(const std::vector<std::string>& arguments) {
  start(besideThisProgram(KDRVX_CRASH_HOST), arguments, true);
}

Process::Process(const fs::path& program, const std::vector<std::string>& arguments) {
  start(program, arguments, false);
}

void Process::start(const fs::path& program, const std::vector<std::string>& arguments,
                    bool keepOutput) {
  std::wstring commandLine = L"\"" + program.wstring() + L"\"";
  for (const auto& argument : arguments)
    commandLine += L" \"" + fs::path(argument).wstring() + L"\"";
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE write = nullptr;
  if (keepOutput) {
    // Room for every report a host makes before the kill: it must never
    // wait for the reader.
    if (!CreatePipe(&output_, &write, &inherited, 1 << 22)) return;
    SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
  } else {
    write = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                        OPEN_EXISTING, 0, nullptr);
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write;
  startup.hStdError = write;
  // A loaded emulator now and then refuses a process for a moment: the
  // start is tried again before the test counts it as failed.
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (CreateProcessW(program.wstring().c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                       nullptr, nullptr, &startup, &info_))
      break;
    info_ = {};
    Sleep(200);
  }
  CloseHandle(write);
}

bool Process::started() const { return info_.hProcess != nullptr; }

size_t Process::read(char* buffer, size_t capacity) {
  DWORD got = 0;
  if (!ReadFile(output_, buffer, static_cast<DWORD>(capacity), &got, nullptr)) return 0;
  return got;
}

// The exit status that TerminateProcess gives.
constexpr UINT kKilled = 99;

int Process::kill() {
  if (started() && !waited_) TerminateProcess(info_.hProcess, kKilled);
  return wait();
}

int Process::wait() {
  if (!started() || waited_) return status_;
  WaitForSingleObject(info_.hProcess, INFINITE);
  DWORD status = kKilled;
  GetExitCodeProcess(info_.hProcess, &status);
  waited_ = true;
  status_ = status == kKilled ? -1 : static_cast<int>(status);
  return status_;
}

void Process::end() {
  kill();
  if (info_.hProcess) {
    CloseHandle(info_.hProcess);
    CloseHandle(info_.hThread);
  }
  if (output_) CloseHandle(output_);
}

#else

const fs::path kTool = KDRVX_RVX_TOOL;

// The command line `texts` as argv, ending in a null pointer.
std::vector<char*> argumentVector(std::vector<std::string>& texts) {
  std::vector<char*> argv;
  for (auto& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  return argv;
}

Process::Process(const std::vector<std::string>& arguments) {
  std::vector<std::string> texts{"crash_host"};
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv = argumentVector(texts);
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    close(pipeEnds[0]);
    if (dup2(pipeEnds[1], STDOUT_FILENO) < 0) _exit(1);
    _exit(kdrvxCrashHost(static_cast<int>(texts.size()), argv.data()));
  }
  close(pipeEnds[1]);
  output_ = pipeEnds[0];
}

Process::Process(const fs::path& program, const std::vector<std::string>& arguments) {
  std::vector<std::string> texts{program.string()};
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv = argumentVector(texts);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
}

bool Process::started() const { return pid_ > 0; }

size_t Process::read(char* buffer, size_t capacity) {
  const ssize_t got = ::read(output_, buffer, capacity);
  return got > 0 ? static_cast<size_t>(got) : 0;
}

int Process::kill() {
  if (started() && !waited_) ::kill(pid_, SIGKILL);
  return wait();
}

int Process::wait() {
  if (!started() || waited_) return status_;
  int status = 0;
  waitpid(pid_, &status, 0);
  waited_ = true;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return status_;
}

void Process::end() {
  kill();
  if (output_ >= 0) close(output_);
}

#endif

// Fixed counts, whatever the machine's load: the moments of the kills are
// random, their number is not. Under Wine a process start costs tens of
// milliseconds, so the Windows build kills fewer times. Every kill is
// checked on disk, through the read path and with rvx's repair in this
// process; every kToolEvery-th also with the rvx program.
#ifdef _WIN32
constexpr int kKills = 60;
constexpr int kToolEvery = 10;
constexpr auto kEarlyWindow = std::chrono::milliseconds(200);
#else
constexpr int kKills = 500;
constexpr int kToolEvery = 25;
constexpr auto kEarlyWindow = std::chrono::microseconds(800);
#endif
constexpr auto kRecordingWindow = std::chrono::microseconds(5000);
constexpr auto kModificationWindow = std::chrono::microseconds(3000);

struct Outcome {
  bool ready = false;
  uint32_t acknowledged = 0;
};

// Reads the host's reports up to its ready report, or all of them.
class Reports {
 public:
  explicit Reports(Process& process) : process_(process) {}
  void untilReady() {
    while (!outcome_.ready && take()) {
    }
  }
  Outcome all() {
    while (take()) {
    }
    return outcome_;
  }

 private:
  // Takes what has arrived; false at the end of the output.
  bool take() {
    const size_t got = process_.read(buffer_ + pending_, sizeof buffer_ - pending_);
    if (got == 0) return false;
    pending_ += got;
    const size_t whole = pending_ / 4 * 4;
    for (size_t at = 0; at < whole; at += 4) {
      uint32_t message;
      std::memcpy(&message, buffer_ + at, 4);
      if (message == KDRVX_CRASH_READY)
        outcome_.ready = true;
      else
        outcome_.acknowledged = message;
    }
    std::memmove(buffer_, buffer_ + whole, pending_ - whole);
    pending_ -= whole;
    return true;
  }
  Process& process_;
  char buffer_[1 << 16];
  size_t pending_ = 0;
  Outcome outcome_;
};

// Starts the host with `arguments` and kills it `delay` after it reported
// that it is at work, or, with `early`, `delay` after it was started.
// Counting from the report keeps the kills spread over the work however
// slowly a loaded machine starts the process.
Outcome killHost(const std::vector<std::string>& arguments, std::chrono::microseconds delay,
                 bool early) {
  Process host(arguments);
  EXPECT_TRUE(host.started());
  Reports reports(host);
  if (!early) reports.untilReady();
  std::this_thread::sleep_for(delay);
  // The host works until it is killed; it ends of itself only when a step
  // failed, and its status names the step (see crash_work.c).
  EXPECT_EQ(host.kill(), -1) << "the host stopped of itself";
  return reports.all();
}

// `rvx repair FILE` through the rvx program.
bool repairWithTool(const fs::path& file) {
  Process tool(kTool, {"repair", file.string()});
  return tool.wait() == 0;
}

// `rvx repair FILE` through rvx's own repair subcommand in this process:
// the same code without the cost of a process start. What it says is
// dropped; why it failed becomes the test's failure.
bool repairInProcess(const fs::path& file) {
  const auto all = rvx::subcommands();
  const auto repair = std::find_if(all.begin(), all.end(), [](const rvx::Subcommand* command) {
    return std::string(command->name) == "repair";
  });
  if (repair == all.end()) return false;
  CLI::App command;
  const rvx::Run run = (*repair)->addOptions(command);
  command.parse(std::vector<std::string>{file.string()});
  std::ostringstream said;
  std::streambuf* const output = std::cout.rdbuf(said.rdbuf());
  int status = -1;
  try {
    status = run();
  } catch (const rvx::ToolError& error) {
    ADD_FAILURE() << "rvx repair: " << error.what();
  }
  std::cout.rdbuf(output);
  return status == 0;
}

// The statistics that the final update gives the first `records` records
// of channel k: minimum, maximum, mean, RMS.
std::vector<float> statisticsOf(uint32_t records, uint32_t k) {
  float lo = kdrvxCrashValue(0, k), hi = lo;
  double sum = 0, squares = 0;
  for (uint32_t r = 0; r < records; ++r) {
    const float v = kdrvxCrashValue(r, k);
    lo = std::min(lo, v), hi = std::max(hi, v), sum += v, squares += double{v * v};
  }
  const auto rms = static_cast<float>(std::sqrt(double{static_cast<float>(squares / records)}));
  return {lo, hi, static_cast<float>(sum / records), rms};
}

// How the killed host appends its records: one KDRVX_AddRecord each, or
// KDRVX_AddRecords with blocks of 1 to `block` records.
struct Appending {
  const char* name;
  uint32_t block;
};
void PrintTo(const Appending& appending, std::ostream* out) { *out << appending.name; }

class CrashSafety : public ::testing::TestWithParam<Appending> {
 protected:
  void TearDown() override { KDRVX_CloseRead(); }  // after a failed check
  // The file on disk after a kill: the header, then at least the
  // acknowledged records intact. Returns the count of whole records.
  uint32_t checkBytes(const fs::path& file, uint32_t channels, uint32_t acknowledged) {
    const std::string disk = readBytes(file);
    const uint32_t header = format::headerLength(channels);
    EXPECT_GE(disk.size(), header + uint64_t{acknowledged} * 4 * channels);
    if (disk.size() < header) return 0;
    const auto whole = static_cast<uint32_t>((disk.size() - header) / (4 * channels));
    for (uint32_t i = 0; i < whole * channels; ++i) {
      float value;
      std::memcpy(&value, disk.data() + header + 4 * i, 4);
      if (value != kdrvxCrashValue(i / channels, i % channels)) {
        ADD_FAILURE() << "value " << i << " is " << value;
        break;
      }
    }
    return whole;
  }

  // Through the read path: the channels and every whole record, read in
  // blocks.
  void checkReadable(const std::u16string& path, uint32_t channels, uint32_t whole) {
    ASSERT_EQ(KDRVX_OpenRead(c(path)), 0u);
    EXPECT_EQ(KDRVX_GetNoChannels(), channels);
    constexpr uint32_t kBlock = 4096;
    std::vector<float> values(kBlock * channels);
    uint32_t read = 0;
    for (int64_t got; (got = KDRVX_ReadRecords(read, kBlock, values.data())) > 0;) {
      for (uint32_t i = 0; i < got * channels; ++i) {
        const uint32_t record = read + i / channels, k = i % channels;
        ASSERT_EQ(values[i], kdrvxCrashValue(record, k))
            << "record " << record << ", channel " << k;
      }
      read += static_cast<uint32_t>(got);
    }
    EXPECT_EQ(read, whole);
    EXPECT_EQ(KDRVX_CloseRead(), 0u);
  }

  // Repaired: the count of whole records and their statistics, as the
  // final update computes them.
  void checkRepaired(const fs::path& file, const std::u16string& path, uint32_t channels,
                     uint32_t whole, bool withTool) {
    ASSERT_TRUE(withTool ? repairWithTool(file) : repairInProcess(file));
    ASSERT_EQ(KDRVX_OpenRead(c(path)), 0u);
    EXPECT_EQ(KDRVX_GetNoRecords(), whole);
    if (whole > 0) {
      EXPECT_EQ(KDRVX_GetFlagStatistics(), 3u);
    }
    for (uint32_t k = 0; k < channels && whole > 0; ++k) {
      const auto channel = static_cast<int16_t>(k);
      EXPECT_EQ(std::vector<float>(
                    {KDRVX_GetChannelMinValue(channel), KDRVX_GetChannelMaxValue(channel),
                     KDRVX_GetChannelMeanValue(channel), KDRVX_GetChannelRMSValue(channel)}),
                statisticsOf(whole, k))
          << "channel " << k;
    }
    EXPECT_EQ(KDRVX_CloseRead(), 0u);
  }

  ScratchDir dir;
};

// Record writer rules W3 and W6: a killed recording never claims a record it
// does not hold, and its repair gives the statistics single appends give.
TEST_P(CrashSafety, AcknowledgedRecordsSurviveAKillAtAnyMoment) {
  std::mt19937 random(20240307 + GetParam().block);
  int withRecords = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    const uint32_t channels = 1 + random() % 6;
    // Mostly during the recording; now and then while the host starts.
    const bool early = random() % 8 == 0;
    const auto window = std::chrono::duration_cast<std::chrono::microseconds>(
        early ? kEarlyWindow : kRecordingWindow);
    const auto delay = std::chrono::microseconds(random() % window.count());
    const std::string name = "run" + std::to_string(kill % 4) + ".rvx";
    fs::remove(dir.file(name));
    const Outcome outcome = killHost({"record", dir.file(name).string(), std::to_string(channels),
                                      std::to_string(GetParam().block)},
                                     delay, early);
    SCOPED_TRACE(testing::Message() << "kill " << kill << ", " << channels << " channels, "
                                    << outcome.acknowledged << " acknowledged");
    if (!outcome.ready) continue;
    const uint32_t whole = checkBytes(dir.file(name), channels, outcome.acknowledged);
    checkReadable(dir.wide(name), channels, whole);
    checkRepaired(dir.file(name), dir.wide(name), channels, whole, kill % kToolEvery == 0);
    if (HasFailure()) return;
    withRecords += outcome.acknowledged > 0;
  }
  EXPECT_GE(withRecords, kKills / 2);
}

INSTANTIATE_TEST_SUITE_P(Appending, CrashSafety,
                         testing::Values(Appending{"AddRecord", 0}, Appending{"AddRecords", 1024}),
                         [](const auto& test) { return std::string(test.param.name); });

// The data area of a finished file stays as it was however often a
// modification is killed while it runs; the header stays one that the
// read path accepts. No record writer rule: the modification appends
// nothing.
TEST(CrashSafetyOfModification, AKilledModificationLeavesTheDataAlone) {
  ScratchDir dir;
  const uint32_t channels = 3, records = 2000;
  std::u16string path = dir.wide("mod.rvx");
  ASSERT_EQ(KDRVX_Create(reinterpret_cast<KDRVX_CHAR*>(path.data()), 1, 1), KDRVX_OK);
  for (const char16_t* variable : {u"p1", u"p2", u"T1"})
    ASSERT_LT(KDRVX_AddChannel(reinterpret_cast<const KDRVX_CHAR*>(variable)), 48u);
  std::vector<float> values(channels);
  for (uint32_t r = 0; r < records; ++r) {
    for (uint32_t k = 0; k < channels; ++k) values[k] = kdrvxCrashValue(r, k);
    ASSERT_EQ(KDRVX_AddRecord(values.data()), 0u);
  }
  ASSERT_EQ(KDRVX_CloseCreate(), 0u);
  const std::string before = readBytes(dir.file("mod.rvx"));
  const uint32_t header = format::headerLength(channels);

  std::mt19937 random(4711);
  for (int kill = 0; kill < kKills; ++kill) {
    SCOPED_TRACE(kill);
    killHost({"modify", dir.file("mod.rvx").string(), std::to_string(kill)},
             std::chrono::microseconds(random() % kModificationWindow.count()), false);
    const std::string after = readBytes(dir.file("mod.rvx"));
    ASSERT_EQ(after.size(), before.size());
    ASSERT_EQ(after.compare(header, std::string::npos, before, header, std::string::npos), 0);
    ASSERT_EQ(KDRVX_OpenRead(c(path)), 0u);
    EXPECT_EQ(KDRVX_GetNoChannels(), channels);
    EXPECT_EQ(KDRVX_GetNoRecords(), records);
    ASSERT_EQ(KDRVX_CloseRead(), 0u);
  }
}

}  // namespace
}  // namespace kdrvx::test
