// KDRVX_Repair: a current-layout recording that stopped before its final
// header gets the count of the whole records its data holds and their
// statistics, as the record writer computes them. The source is read,
// never written; the repaired copy goes to a new file, its header first as
// the source holds it, then the data bytes unchanged (a partial record at
// the end included), and last the repaired header over the first. The
// header's claims are measured by the format's rules (format/claims.h), the
// reader's own; nothing here traces or touches the module state.
#include "modify/repair.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "format/claims.h"
#include "format/import.h"
#include "format/layout.h"
#include "format/statistics.h"
#include "kdrvx/kdrvx.h"
#include "library/sized.h"
#include "platform/platform.h"

namespace kdrvx::modify {
namespace {

using format::RVX_HEADER;
namespace statistics = format::statistics;

// Records are recounted and copied in blocks of about this many values.
constexpr uint32_t kBlockValues = 64 * 1024;
// Findings that leave no header to repair: its own geometry is not true.
constexpr uint32_t kUnrepairable = KDRVX_FINDING_ENDS_IN_HEADER | KDRVX_FINDING_DATA_IN_HEADER;

struct Buffers {
  RVX_HEADER raw;        // the header bytes as the source holds them
  RVX_HEADER converted;  // the same, imported
  statistics::Recount recount;
};

// Whether a status stands for a file call the system refused, whose reason
// the report then carries.
bool systemRefusal(uint32_t status) {
  return status == KDRVX_ERR_RVX_OPEN_READ || status == KDRVX_ERR_RVX_CREATE ||
         status == KDRVX_ERR_RVX_SHARING_VIOLATION;
}

// The source opened for reading, shared as a reader shares it.
uint32_t openSource(platform::File& file, const char16_t* path) {
  if (file.open(path, platform::OpenMode::ReadShared)) return KDRVX_OK;
  return platform::lastError() == platform::kErrorSharingViolation ? KDRVX_ERR_RVX_SHARING_VIOLATION
                                                                   : KDRVX_ERR_RVX_OPEN_READ;
}

// The repaired copy while it is written: removed unless it is finished.
class Target {
 public:
  explicit Target(const char16_t* path) : path_(path) {}
  ~Target() {
    if (!opened_ || finished_) return;
    file_.close();
    platform::removeFile(path_);
  }
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;

  uint32_t create() {
    if (path_ == nullptr) return KDRVX_OK;
    if (file_.open(path_, platform::OpenMode::CreateNew)) {
      opened_ = true;
      return KDRVX_OK;
    }
    return platform::lastError() == platform::kErrorFileExists ? KDRVX_ERR_RVX_ALREADY_EXISTS
                                                               : KDRVX_ERR_RVX_CREATE;
  }
  bool write(const void* bytes, uint32_t count) { return !opened_ || file_.write(bytes, count); }
  bool writeAt(int64_t offset, const void* bytes, uint32_t count) {
    return !opened_ || (file_.seekFromStart(offset) && file_.write(bytes, count));
  }
  void finish() {
    file_.close();
    finished_ = true;
  }

 private:
  const char16_t* path_;
  platform::File file_;
  bool opened_ = false;
  bool finished_ = false;
};

// Reads the `records` whole records from the source's position into the
// recount, copying them to the target, then the `trailing` bytes after
// them. The status of the first failure, or 0.
uint32_t recountAndCopy(platform::File& source, Target& target, uint64_t records, uint64_t trailing,
                        uint32_t channels, statistics::Recount& recount, KDRVX_Progress progress,
                        void* context) {
  const uint32_t perBlock = std::max<uint32_t>(1, kBlockValues / channels);
  const uint32_t recordBytes = format::recordSize(channels);
  std::unique_ptr<float[]> block(new (std::nothrow) float[size_t{perBlock} * channels]);
  if (!block) return KDRVX_ERR_RVX_OPEN_READ;
  uint64_t done = 0;
  while (done < records) {
    const auto count = static_cast<uint32_t>(std::min<uint64_t>(perBlock, records - done));
    const uint32_t bytes = count * recordBytes;
    if (source.read(block.get(), bytes) != bytes) return KDRVX_ERR_RVX_OPEN_READ;
    if (!target.write(block.get(), bytes)) return KDRVX_ERR_RVX_CREATE;
    statistics::follow(recount, block.get(), count, channels);
    done += count;
    if (progress != nullptr) progress(done, records, context);
  }
  // A partial record is shorter than one record, which the block holds.
  const auto rest = static_cast<uint32_t>(trailing);
  if (rest != 0 && source.read(block.get(), rest) != rest) return KDRVX_ERR_RVX_OPEN_READ;
  if (rest != 0 && !target.write(block.get(), rest)) return KDRVX_ERR_RVX_CREATE;
  return KDRVX_OK;
}

// The header with the recounted records: the count, and for at least one
// record their statistics with flag 3, as KDRVX_CloseCreate stores them.
void storeRecount(const statistics::Recount& recount, uint64_t records, uint32_t channels,
                  RVX_HEADER& header) {
  header.NoRecords = static_cast<uint32_t>(records);
  if (records == 0) return;
  for (uint32_t k = 0; k < channels; ++k) {
    format::MGR_DEF& channel = header.Channel[k];
    channel.MinValue = recount.running.minimum[k];
    channel.MaxValue = recount.running.maximum[k];
    channel.MeanValue = statistics::meanOf(recount, k);
    channel.RMSValue = statistics::rmsOf(recount, k);
  }
  header.FlagStatistics = 3;
}

}  // namespace

uint32_t repair(const char16_t* source, const char16_t* target, KDRVX_RepairReport* report,
                KDRVX_Progress progress, void* context) {
  if (source == nullptr || report == nullptr || report->size < library::kSmallestSized)
    return KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  KDRVX_RepairReport whole{};
  whole.size = sizeof whole;
  const auto refuse = [&](uint32_t refusal, uint32_t status) {
    whole.refusal = refusal;
    if (systemRefusal(status)) whole.systemError = platform::lastError();
    library::deliver(whole, report, KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
    return status;
  };

  std::unique_ptr<Buffers> buffers(new (std::nothrow) Buffers);
  if (!buffers) return refuse(KDRVX_FINDING_NOT_OPENED, KDRVX_ERR_RVX_OPEN_READ);
  platform::File in;
  if (const uint32_t status = openSource(in, source))
    return refuse(KDRVX_FINDING_NOT_OPENED, status);
  const int64_t length = in.lengthAtOpen();
  if (length < 0) return refuse(KDRVX_FINDING_NOT_OPENED, KDRVX_ERR_RVX_OPEN_READ);
  RVX_HEADER& raw = buffers->raw;
  const uint32_t bytesRead = in.read(&raw, sizeof raw);
  std::memset(reinterpret_cast<unsigned char*>(&raw) + bytesRead, 0, sizeof raw - bytesRead);
  RVX_HEADER& converted = buffers->converted;
  std::memcpy(&converted, &raw, sizeof raw);
  const format::ImportResult imported =
      format::importHeader(converted, static_cast<uint64_t>(length));
  if (imported.layout != nullptr)
    whole.layout = format::layoutCode(*imported.layout, imported.sourceVersion);
  if (imported.status != KDRVX_OK) return refuse(KDRVX_FINDING_NOT_OPENED, imported.status);
  if (imported.layout->id != format::LayoutId::Current)
    return refuse(0, KDRVX_ERR_RVX_MODIFY_NOT_POSSIBLE);

  format::OpenFacts facts;
  facts.fileLength = static_cast<uint64_t>(length);
  facts.dataOffset = static_cast<uint64_t>(imported.dataOffset);
  const format::Claims claims =
      format::measureClaims(*imported.layout, imported.sourceVersion, converted, facts);
  whole.oldRecords = claims.headerRecords;
  whole.newRecords = claims.heldRecords;
  whole.trailingBytes = claims.trailingBytes;
  if (claims.findings & kUnrepairable)
    return refuse(claims.findings & kUnrepairable, KDRVX_ERR_RVX_MODIFY_NOT_POSSIBLE);
  if (claims.heldRecords > UINT32_MAX) return refuse(0, KDRVX_ERR_RVX_MODIFY_NOT_POSSIBLE);

  // The header as long as it is on disk: its geometry is true here.
  const auto headerLength = static_cast<uint32_t>(claims.headerLength);
  const uint32_t channels = converted.NoChannels;
  Target out(target);
  if (const uint32_t status = out.create()) return refuse(0, status);
  if (!in.seekFromStart(headerLength)) return refuse(0, KDRVX_ERR_RVX_OPEN_READ);
  if (!out.write(&raw, headerLength)) return refuse(0, KDRVX_ERR_RVX_CREATE);
  if (const uint32_t status = recountAndCopy(in, out, claims.heldRecords, claims.trailingBytes,
                                             channels, buffers->recount, progress, context))
    return refuse(0, status);

  // Every header byte but the count and the statistics stays as it was.
  std::memcpy(&converted, &raw, headerLength);
  storeRecount(buffers->recount, claims.heldRecords, channels, converted);
  whole.changed = std::memcmp(&converted, &raw, headerLength) != 0 ? 1 : 0;
  if (!out.writeAt(0, &converted, headerLength)) return refuse(0, KDRVX_ERR_RVX_CREATE);
  out.finish();
  library::deliver(whole, report, KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  return KDRVX_OK;
}

}  // namespace kdrvx::modify
