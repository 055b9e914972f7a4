// A writer that records while rvx follow watches: creates PATH with
// KDRVX_CreateLive and appends RECORDS records in bursts of BURST, PAUSE
// milliseconds apart, then closes the recording.
//
//   rvx_live_writer PATH RECORDS BURST PAUSE [--delay MS] [--hold-after N]
//
// --delay waits before the file is created (so that a follower is there
// first); --hold-after stops after N records and waits, the recording open,
// to be killed.
//
// Record i holds p1 = i (bar), T2 = 20 + i mod 10 (°C), dp1 = -i / 3
// (mbar) and the multichannel M1 (8 bits) = i mod 256, so that a test knows
// every value and every statistic.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "kdrvx/kdrvx.h"

namespace {

std::vector<KDRVX_CHAR> text(const char* ascii) {
  std::vector<KDRVX_CHAR> units(ascii, ascii + std::strlen(ascii));
  units.push_back(0);
  return units;
}

// Units outside ASCII, as UTF-16.
std::vector<KDRVX_CHAR> text(std::u16string_view units) {
  std::vector<KDRVX_CHAR> result(units.begin(), units.end());
  result.push_back(0);
  return result;
}

void require(uint32_t status, const char* what) {
  if (status == 0) return;
  std::fprintf(stderr, "live writer: %s: status 0x%08X\n", what, static_cast<unsigned>(status));
  std::exit(1);
}

void pause(long milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

struct Arguments {
  const char* path = nullptr;
  long records = 0, burst = 1, pauseMs = 0, delayMs = 0;
  long holdAfter = -1;  // none
};

Arguments parse(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s PATH RECORDS BURST PAUSE [--delay MS] [--hold-after N]\n",
                 argv[0]);
    std::exit(2);
  }
  Arguments arguments;
  arguments.path = argv[1];
  arguments.records = std::atol(argv[2]);
  arguments.burst = std::max(1L, std::atol(argv[3]));
  arguments.pauseMs = std::atol(argv[4]);
  for (int i = 5; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--delay") arguments.delayMs = std::atol(argv[i + 1]);
    if (option == "--hold-after") arguments.holdAfter = std::atol(argv[i + 1]);
  }
  return arguments;
}

void addChannel(const char* variable, std::u16string_view unit, uint16_t bits = 0) {
  const uint32_t index = KDRVX_AddChannel(text(variable).data());
  if (index >= 48) require(index, "channel");
  const auto channel = static_cast<int16_t>(index);
  require(KDRVX_SetChannelUnit(channel, text(unit).data()), "unit");
  if (bits != 0) require(KDRVX_SetChannelMultiChannel(channel, bits), "multichannel");
}

}  // namespace

int main(int argc, char** argv) {
  const Arguments arguments = parse(argc, argv);
  pause(arguments.delayMs);
  std::vector<KDRVX_CHAR> path = text(arguments.path);
  require(KDRVX_CreateLive(path.data(), 0, 1, 0, 4), "create");
  require(KDRVX_SetScanRate(1000), "scan interval");
  addChannel("p1", u"bar");
  addChannel("T2", u"\u00b0C");
  addChannel("dp1", u"mbar");
  addChannel("M1", u"", 8);

  std::vector<float> block;
  for (long first = 0; first < arguments.records; first += arguments.burst) {
    long end = std::min(arguments.records, first + arguments.burst);
    if (arguments.holdAfter >= 0) end = std::min(end, arguments.holdAfter);
    block.clear();
    for (long i = first; i < end; ++i) {
      const uint32_t bits = static_cast<uint32_t>(i % 256);
      float multichannel = 0;
      std::memcpy(&multichannel, &bits, sizeof multichannel);
      block.insert(block.end(), {static_cast<float>(i), static_cast<float>(20 + i % 10),
                                 -static_cast<float>(i) / 3.0f, multichannel});
    }
    if (end > first) {
      require(KDRVX_AddRecords(block.data(), static_cast<uint32_t>(end - first)), "records");
    }
    while (end == arguments.holdAfter) pause(1000);
    pause(arguments.pauseMs);
  }
  require(KDRVX_CloseCreate(), "close");
  return 0;
}
