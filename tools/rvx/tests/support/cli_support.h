// Recordings for the tests of rvx: made through the library's create path,
// or in the older layouts that only the import reads (by the test
// recordings of tests/recordings), with an RVI text beside them; and a way
// to run rvx as a process.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "kdrvx/kdrvx.h"
#include "support/test_support.h"

namespace rvx::test {

using kdrvx::test::readBytes;
using kdrvx::test::writeBytes;

// What a search of rvx's output gives when the text is not there.
constexpr auto npos = std::string::npos;

struct Channel {
  std::string variable;
  std::string unit;
  std::string name;
  uint16_t bits = 0;  // multichannel
};

struct Recording {
  std::vector<Channel> channels;
  std::vector<std::vector<float>> records;
  int64_t interval = 1000;  // microseconds
  std::string company = "ACME Corp";
  std::string comment = "first line\r\nsecond line";
  std::string nameMeasurement = "Run 7";
  uint32_t triggerRecord = 0;
  std::string date = "4.12.2023", time = "14:05:09";  // "HH:MM" keeps no seconds
};

// Records of `channels` values with a seeded mix of magnitudes, signs and
// subnormals (no NaN).
std::vector<std::vector<float>> randomRecords(size_t count, size_t channels, uint32_t seed);

enum class Close { Complete, Simple };
// Creates the file through the library; the compact layout with an RVI file
// in `language` when `legacy` is set. Close::Simple leaves the header that
// the first record wrote, as an interrupted recording does.
void createRecording(const std::filesystem::path& path, const Recording& recording,
                     bool legacy = false, int32_t language = 4, Close close = Close::Complete);

// What the library reads from a file: header values, channel texts and all
// records, for comparing two files.
struct ReadBack {
  uint32_t version = 0, records = 0, flagStatistics = 0, triggerRecord = 0;
  int64_t interval = 0;
  std::u16string date, time, comment, company, instrument, serialNumber, nameMeasurement,
      triggerSetting;
  struct ChannelBack {
    std::u16string variable, unit, name, number, signalType, zeroPoint, calParameter, filter;
    uint32_t indRate = 0;
    int32_t bits = 0;
    bool isds = false;
    float minimum = 0, maximum = 0, mean = 0, rms = 0;
  };
  std::vector<ChannelBack> channels;
  std::vector<uint32_t> values;  // bit patterns of all records, row by row
};
ReadBack readBack(const std::filesystem::path& path);

// The older layouts, with records of the kind the layout stores, and an
// English RVI text beside them when `rvi` is set.
enum class OldLayout { DosBefore5, DosQ, DosP, Win2Sparse, Win2Decimal, Win3, Win6 };
struct OldFile {
  std::filesystem::path path;
  std::vector<std::vector<float>> expected;  // the values the readers deliver
};
OldFile writeOldLayout(const std::filesystem::path& directory, OldLayout layout, bool rvi = true);
const char* layoutTag(OldLayout layout);

struct Outcome {
  int status = -1;
  std::string out, err;
};
// What a run of rvx meets: a file-size limit in bytes (0: none), and a
// fault at an exact point (support/fault_hook.cpp): "kill:write:N" or
// "kill:rename:N" (SIGKILL before the N-th write to a file or rename),
// "full:write:N" (a full disk from the N-th write on).
struct Fault {
  uint64_t fileSizeLimit = 0;
  std::string hook;
};
// The folder below a run's directory that rvx gets as TMPDIR (its name holds
// no ".rvx", of which the library would take the first for an RVI name).
inline constexpr const char* kTemporaryDirectory = ".tmp";
// A program (rvx or a test program) running in `directory` from
// construction, its output and errors into files named after `tag`, so that
// several run at once; finish() waits for its end. One not finished is
// killed when it goes.
class Background {
 public:
  Background(const std::string& program, const std::vector<std::string>& arguments,
             const std::filesystem::path& directory, const std::string& tag,
             const Fault& fault = {});
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;
  Outcome finish();
  // Ends it at once, as a crash or a power cut would; finish() still waits.
  void kill();
  // What it has written to its output so far.
  std::string outputSoFar() const;

 private:
  std::filesystem::path out_, err_;
  int pid_ = -1;
};

// Runs the rvx executable with `arguments` in `directory`.
Outcome runRvx(const std::vector<std::string>& arguments, const std::filesystem::path& directory,
               const Fault& fault = {});

// A test that runs rvx in a scratch directory of its own.
class RvxTest : public ::testing::Test {
 protected:
  Outcome rvx(const std::vector<std::string>& arguments) {
    return runRvx(arguments, scratch.path());
  }
  std::string at(const std::string& name) const { return scratch.file(name).string(); }
  bool exists(const std::string& name) const { return std::filesystem::exists(scratch.file(name)); }
  // Runs rvx and expects `status` and `says` on stderr.
  void expectRun(const std::vector<std::string>& arguments, int status, const std::string& says) {
    const Outcome run = rvx(arguments);
    EXPECT_EQ(run.status, status) << run.err;
    EXPECT_NE(run.err.find(says), std::string::npos) << "expected '" << says << "' in\n" << run.err;
  }
  kdrvx::test::ScratchDir scratch;
};

std::u16string u16(const std::string& utf8);

// What read_export.py finds in an exported MATLAB ("mat") or HDF5 ("hdf5")
// file: its variables or datasets, their values and attributes, as JSON.
nlohmann::json readExport(const std::string& kind, const std::string& path);
inline const KDRVX_CHAR* wide(const std::u16string& text) {
  return reinterpret_cast<const KDRVX_CHAR*>(text.c_str());
}

}  // namespace rvx::test
