// The hot paths allocate nothing: adding records one by one and in blocks,
// reading them one by one and in blocks.
// This program replaces the global operator new to count every allocation
// made while a count is running, which is why it is an executable of its
// own; the library is linked statically, so its allocations (std::string,
// std::vector, new) all come through here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "support/read_support.h"
#include "support/test_support.h"
#include "support/write_support.h"

namespace {

bool gCounting = false;
unsigned long gAllocations = 0;

void* allocate(std::size_t size) noexcept {
  if (gCounting) ++gAllocations;
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

// The replacements below pair operator new with malloc and operator delete
// with free; the compiler, which sees delete meet free, would call that a
// mismatch.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
  if (void* p = allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* p = allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace kdrvx::test {
namespace {

// Counts the allocations made while it exists.
class AllocationCount {
 public:
  AllocationCount() {
    gAllocations = 0;
    gCounting = true;
  }
  ~AllocationCount() { gCounting = false; }
  AllocationCount(const AllocationCount&) = delete;
  AllocationCount& operator=(const AllocationCount&) = delete;
  unsigned long allocations() const { return gAllocations; }
};

// A sink that counts trace lines without storing them.
unsigned long gTraceLines = 0;
void countLine(const KDRVX_CHAR*, void*) { ++gTraceLines; }

constexpr size_t kChannels = 8;
constexpr int kCalls = 10000;
constexpr int kBlock = 100;

// The count itself works: a string too long for its own storage allocates.
TEST(HotPathAllocations, CountingSeesAnAllocation) {
  AllocationCount count;
  const std::string text(100, 'x');
  EXPECT_GE(count.allocations(), 1u);
}

class RecordAllocations : public WriteTest {
 protected:
  void TearDown() override {
    KDRVX_SetDebugMask(0);
    KDRVX_SetTraceSink(nullptr, nullptr);
    WriteTest::TearDown();
  }
};

TEST_F(RecordAllocations, NoneWhileAddingRecords) {
  const std::vector<std::u16string> variables = {u"p1", u"p2", u"T1", u"T2",
                                                 u"dp1", u"dp2", u"U1", u"I1"};
  create("r.rvx", variables);
  std::vector<float> records(kChannels * kCalls);
  for (size_t i = 0; i < records.size(); ++i) records[i] = static_cast<float>(i % 977) - 400.5f;
  // The first record writes the header as well; it is not counted.
  ASSERT_EQ(KDRVX_AddRecord(records.data()), KDRVX_OK);

  // Half of the records with every trace bit set: the entry line and the
  // detail lines of each record are built in fixed buffers. The host sink
  // only counts them. The last 2 x 100 records go in two blocks, one with
  // the traces on, one without.
  KDRVX_SetTraceSink(countLine, nullptr);
  gTraceLines = 0;
  int failed = 0;
  unsigned long allocations;
  {
    AllocationCount count;
    for (int i = 1; i < kCalls - 2 * kBlock; ++i) {
      if (i == kCalls / 2)
        KDRVX_SetDebugMask(static_cast<int16_t>(KDRVX_DEBUG_CALLS | KDRVX_DEBUG_DETAILS));
      failed += KDRVX_AddRecord(&records[i * kChannels]) != KDRVX_OK;
    }
    failed += KDRVX_AddRecords(&records[(kCalls - 2 * kBlock) * kChannels], kBlock) != KDRVX_OK;
    KDRVX_SetDebugMask(0);
    failed += KDRVX_AddRecords(&records[(kCalls - kBlock) * kChannels], kBlock) != KDRVX_OK;
    allocations = count.allocations();
  }
  KDRVX_SetDebugMask(0);
  EXPECT_EQ(allocations, 0u);
  EXPECT_EQ(failed, 0);
  EXPECT_GE(gTraceLines, static_cast<unsigned long>((kCalls / 2 - kBlock) * (kChannels + 1)));
  const auto h = finished("r.rvx");
  EXPECT_EQ(h.NoRecords, static_cast<uint32_t>(kCalls));
  EXPECT_EQ(h.Channel[0].MinValue, -400.5f);
  EXPECT_EQ(bytes("r.rvx").size(), format::headerLength(kChannels) + sizeof(float) * records.size());
}

class ReadAllocations : public ReadTest {};

TEST_F(ReadAllocations, NoneWhileReadingRecords) {
  std::vector<std::vector<float>> records(2 * kCalls + 1, std::vector<float>(kChannels));
  for (size_t r = 0; r < records.size(); ++r)
    for (size_t k = 0; k < kChannels; ++k) records[r][k] = static_cast<float>(r) + 0.25f * k;
  ASSERT_EQ(open(currentHeader(recording('s', kChannels)) + floatRecords(records)), KDRVX_OK);
  std::vector<float> record(kChannels);
  std::vector<float> block(kChannels * kCalls);
  ASSERT_EQ(KDRVX_ReadFirstRecord(record.data()), 0u);

  // Every trace bit is set, and a host sink takes the lines: the record
  // readers write none, and they must not allocate with tracing on either.
  KDRVX_SetTraceSink(countLine, nullptr);
  KDRVX_SetDebugMask(
      static_cast<int16_t>(KDRVX_DEBUG_ERRORS | KDRVX_DEBUG_CALLS | KDRVX_DEBUG_DETAILS));
  int failedReads = 0;
  int64_t blockRecords = 0;
  unsigned long allocations;
  {
    AllocationCount count;
    for (int i = 0; i < kCalls; ++i) failedReads += KDRVX_ReadNextRecord(record.data()) != 0;
    blockRecords = KDRVX_ReadRecords(kCalls + 1, kCalls, block.data());
    allocations = count.allocations();
  }
  KDRVX_SetDebugMask(0);
  KDRVX_SetTraceSink(nullptr, nullptr);

  EXPECT_EQ(allocations, 0u);
  EXPECT_EQ(failedReads, 0);
  EXPECT_EQ(blockRecords, kCalls);
  EXPECT_EQ(record[0], static_cast<float>(kCalls));
  EXPECT_EQ(block[0], static_cast<float>(kCalls + 1));
  EXPECT_EQ(block.back(), records.back().back());
}

}  // namespace
}  // namespace kdrvx::test
