// kdrvx_follow_latency: how long a record takes from the writer's append to
// a follower. A writer records live at a fixed rate (1 kHz for 10 s by
// default) and notes when each KDRVX_AddRecord returned; a follower in
// another process waits with KDRVX_ReaderWait at the library's polling
// interval, reads what arrived and notes when each record reached it. The
// two clocks are the same monotonic clock of the system. Prints the median,
// the 99th percentile and the largest latency, against the polling interval.
//
//   kdrvx_follow_latency [DIRECTORY] [RATE_HZ] [SECONDS]
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "kdrvx/kdrvx.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

std::u16string wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

const KDRVX_CHAR* c(const std::u16string& text) {
  return reinterpret_cast<const KDRVX_CHAR*>(text.c_str());
}

constexpr uint32_t kChannels = 8;

// The writer: one record per period, each time noted when the append returned.
bool record(const std::string& path, uint32_t count, std::chrono::nanoseconds period,
            int64_t* appended) {
  std::u16string name = wide(path);
  if (KDRVX_CreateLive(reinterpret_cast<KDRVX_CHAR*>(name.data()), 1, 1, 0, 255) != KDRVX_OK)
    return false;
  for (uint32_t k = 0; k < kChannels; ++k) {
    const std::u16string variable = u"p" + wide(std::to_string(k + 1));
    KDRVX_AddChannel(c(variable));
  }
  float values[kChannels];
  Clock::time_point next = Clock::now();
  for (uint32_t r = 0; r < count; ++r) {
    std::this_thread::sleep_until(next);
    next += period;
    std::fill(values, values + kChannels, static_cast<float>(r));
    if (KDRVX_AddRecord(values) != KDRVX_OK) return false;
    appended[r] = nowNs();
  }
  return KDRVX_CloseCreate() == KDRVX_OK;
}

// The follower: waits in slices as a host does, notes each record's arrival.
bool follow(const std::string& path, uint32_t count, int64_t* arrived) {
  const std::u16string name = wide(path);
  KDRVX_Reader* reader = nullptr;
  while (KDRVX_ReaderOpenLive(c(name), 250, &reader) != KDRVX_OK) {
  }
  std::vector<float> block;
  uint64_t known = 0;
  KDRVX_LiveState state{};
  state.size = sizeof state;
  for (;;) {
    if (KDRVX_ReaderWait(reader, known, 250, &state) != KDRVX_OK) break;
    if (state.records > known) {
      const auto fresh = static_cast<uint32_t>(state.records - known);
      block.resize(static_cast<size_t>(fresh) * kChannels);
      const int64_t got = KDRVX_ReaderRead(reader, static_cast<int64_t>(known), fresh, block.data());
      const int64_t when = nowNs();
      for (int64_t i = 0; i < got && known + i < count; ++i) arrived[known + i] = when;
      known += static_cast<uint64_t>(std::max<int64_t>(got, 0));
    }
    if (state.state != KDRVX_LIVE_RECORDING && state.records == known) break;
  }
  KDRVX_ReaderClose(reader);
  return known == count;
}

double milliseconds(int64_t ns) { return static_cast<double>(ns) / 1e6; }

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path directory =
      argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path();
  const double rate = argc > 2 ? std::atof(argv[2]) : 1000.0;
  const double seconds = argc > 3 ? std::atof(argv[3]) : 10.0;
  const auto count = static_cast<uint32_t>(rate * seconds);
  const std::string path = (directory / ("follow-latency-" + std::to_string(getpid()) + ".rvx"));
  std::filesystem::remove(path);

  // Both processes note their times where the other can see them.
  const size_t bytes = sizeof(int64_t) * 2 * count;
  void* shared = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) return 1;
  auto* appended = static_cast<int64_t*>(shared);
  int64_t* arrived = appended + count;

  const pid_t follower = fork();
  if (follower == 0) _exit(follow(path, count, arrived) ? 0 : 1);
  const bool recorded = record(path, count, std::chrono::nanoseconds(int64_t(1e9 / rate)), appended);
  int status = 0;
  struct rusage usage {};
  wait4(follower, &status, 0, &usage);
  std::filesystem::remove(path);
  if (!recorded || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "the recording or its follower failed\n");
    return 1;
  }

  std::vector<int64_t> latency(count);
  for (uint32_t r = 0; r < count; ++r) latency[r] = std::max<int64_t>(arrived[r] - appended[r], 0);
  std::sort(latency.begin(), latency.end());
  const auto at = [&](double q) { return latency[static_cast<size_t>(q * (count - 1))]; };
  std::printf("follow latency, %u records at %.0f Hz, polling every %u ms\n", count, rate,
              KDRVX_LIVE_POLL_MILLISECONDS);
  std::printf("  median %.2f ms   99th percentile %.2f ms   largest %.2f ms\n",
              milliseconds(at(0.5)), milliseconds(at(0.99)), milliseconds(latency.back()));
  // A poll at a random moment of the interval: half of it on average.
  std::printf("  median / half the polling interval = %.2f\n",
              milliseconds(at(0.5)) / (KDRVX_LIVE_POLL_MILLISECONDS / 2.0));
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::printf("  the follower's processor time: %.1f%% of one core\n", 100.0 * cpu / seconds);
  return 0;
}
