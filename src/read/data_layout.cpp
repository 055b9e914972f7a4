// Where and how the records of the file open for reading are stored, for
// hosts that read the data area themselves or choose a reader by kind.
#include "format/layouts.h"
#include "kdrvx/kdrvx.h"
#include "library/trace.h"
#include "read/read.h"
#include "read/read_context.h"

namespace kdrvx::read {

static_assert(static_cast<uint32_t>(format::RecordKind::Floats) == KDRVX_RECORD_KIND_FLOATS &&
                  static_cast<uint32_t>(format::RecordKind::Decimals) == KDRVX_RECORD_KIND_DOS &&
                  static_cast<uint32_t>(format::RecordKind::Sparse) == KDRVX_RECORD_KIND_SPARSE,
              "the record kinds are reported with the values of the interface");

uint32_t getDataLayout(uint64_t* dataOffset, uint32_t* recordSize, uint32_t* kind) {
  const ReadContext& read = context();
  if (!read.open) {
    trace::failure(KDRVX_ERR_RVX_NOT_OPEN_READ);
    return KDRVX_ERR_RVX_NOT_OPEN_READ;
  }
  if (dataOffset != nullptr) *dataOffset = read.recording.dataOffset;
  if (recordSize != nullptr) *recordSize = static_cast<uint32_t>(read.recording.recordSize);
  if (kind != nullptr) *kind = static_cast<uint32_t>(format::recordKindOf(read.recording.header));
  return KDRVX_OK;
}

}  // namespace kdrvx::read
