// The one-pass summary parser against the parser it replaced
// (tests/reference): both fill copies of the same header from the same text,
// and every byte of the two results must agree. The texts are the fuzz
// regression inputs, the fuzz seeds that the corpus script makes from the
// test recordings, and summaries that the test recordings write for every
// language and several channel counts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "format/summary_parser.h"
#include "harness_support.h"
#include "recordings.h"
#include "reference/summary_parser_reference.h"
#include "support/test_support.h"

namespace kdrvx::test {
namespace {

using format::RVX_HEADER;

// Runs both parsers over `text` (zero-terminated) on copies of `header` and
// requires the same bytes.
void expectSameAsReference(const RVX_HEADER& header, const std::vector<char16_t>& text) {
  auto library = std::make_unique<RVX_HEADER>(header);
  auto reference = std::make_unique<RVX_HEADER>(header);
  format::readSummaryMetadata({text.data(), text.size()}, *library);
  reference::readSummaryMetadata(text.data(), *reference);
  const auto* a = reinterpret_cast<const unsigned char*>(library.get());
  const auto* b = reinterpret_cast<const unsigned char*>(reference.get());
  const auto* differs = std::mismatch(a, a + sizeof(RVX_HEADER), b).first;
  EXPECT_EQ(differs, a + sizeof(RVX_HEADER)) << "first difference at offset " << differs - a;
}

// Runs every summary_parser input of `directory` through both parsers;
// returns how many there were.
size_t compareInputsIn(const std::filesystem::path& directory) {
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    SCOPED_TRACE(entry.path().string());
    const std::string bytes = readBytes(entry.path());
    const fuzz::SummaryInput input =
        fuzz::decodeSummaryInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (input.header) expectSameAsReference(*input.header, input.text);
    ++count;
  }
  return count;
}

TEST(SummaryParserDifferential, FuzzRegressionInputs) {
  EXPECT_GT(compareInputsIn(std::filesystem::path(KDRVX_REGRESSION_DIR) / "summary_parser"), 0u);
}

#ifdef KDRVX_FUZZ_CORPUS_SCRIPT
TEST(SummaryParserDifferential, FuzzSeeds) {
  const ScratchDir dir;
  std::string command;
  const std::string parts[] = {KDRVX_PYTHON, KDRVX_FUZZ_CORPUS_SCRIPT, KDRVX_MAKE_TEST_RECORDING,
                               dir.path().string()};
  for (const std::string& part : parts) command += "'" + part + "' ";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  // Every layout with a summary file, with texts in three languages.
  EXPECT_GT(compareInputsIn(dir.path() / "summary_parser"), 50u);
}
#endif

// A header of `channels` channels whose variables take each path of the
// variable rule, with a date and record count the text must supply.
std::unique_ptr<RVX_HEADER> headerOf(size_t channels) {
  auto h = std::make_unique<RVX_HEADER>();
  std::memset(h.get(), 0, sizeof *h);
  h->NoChannels = static_cast<uint8_t>(channels);
  h->Version = 64;
  for (size_t k = 0; k < format::kMaxChannels; ++k) {
    const char16_t letters[] = {245, u'3', u'p'};
    h->Channel[k].VariableLetter = letters[k % 3];
  }
  return h;
}

TEST(SummaryParserDifferential, WhatTheTestRecordingsWrite) {
  for (const RviLanguage language :
       {RviLanguage::German, RviLanguage::English, RviLanguage::French}) {
    for (const size_t channels : {1u, 2u, 7u, 24u, 48u}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(language)) + "/" + std::to_string(channels));
      TestRecording r = recording('A', channels);
      r.company = u"ACME", r.instrument = u"Logger", r.nameMeasurement = u"Run";
      r.triggerSetting = u"KEY", r.comment = u"one\r\ntwo\r\nthree";
      for (size_t k = 0; k < channels; ++k) {
        TestChannel& c = r.channels[k];
        const std::u16string n(k + 1, u'x');
        c.name = u"name " + n, c.number = u"7", c.signalType = u"4-20 mA";
        c.calParameter = u"0..10 bar", c.zeroPoint = n, c.filter = u"10 Hz";
        c.isds = k % 2 == 0, c.linearisation = k % 3 == 0, c.lintab = u"0,0;1," + n;
      }
      const std::u16string text = rviText(r, language);
      std::vector<char16_t> units(text.begin(), text.end());
      units.push_back(0);
      expectSameAsReference(*headerOf(channels), units);
      // Cut anywhere, the text still reads alike.
      for (size_t cut = 1; cut < text.size(); cut += 97) {
        std::vector<char16_t> part(text.begin(), text.begin() + static_cast<ptrdiff_t>(cut));
        part.push_back(0);
        expectSameAsReference(*headerOf(channels), part);
      }
    }
  }
}

}  // namespace
}  // namespace kdrvx::test
