// Exported entry points of what a file claims against what it holds: the
// readers' findings and their words, the check and the repair of a
// recording, the planned records' bits and the name of the RVI file. None
// of them traces or touches the module state.
#include "kdrvx/kdrvx.h"
#include "library/text.h"
#include "modify/repair.h"
#include "read/check.h"
#include "read/findings.h"
#include "read/reader.h"
#include "write/planned_files.h"

using namespace kdrvx;

extern "C" {

KDRVX_API uint32_t KDRVX_ReaderFindings(const KDRVX_Reader* reader, KDRVX_Findings* findings) {
  return read::readerFindings(reader, findings);
}

KDRVX_API uint32_t KDRVX_GetFindingText(const KDRVX_Findings* findings, uint32_t finding,
                                        KDRVX_CHAR* text, uint16_t capacity) {
  return read::findingText(findings, finding, text, capacity);
}

KDRVX_API uint32_t KDRVX_GetLayoutName(uint32_t layout, KDRVX_CHAR* text, uint16_t capacity) {
  return read::layoutName(layout, text, capacity);
}

KDRVX_API uint32_t KDRVX_Check(const KDRVX_CHAR* path, KDRVX_CheckReport* report,
                               KDRVX_CheckChannel* channels, uint32_t channelCapacity,
                               KDRVX_Progress progress, void* context) {
  return read::check(fromCaller(path), report, channels, channelCapacity, progress, context);
}

KDRVX_API uint32_t KDRVX_Repair(const KDRVX_CHAR* source, const KDRVX_CHAR* target,
                                KDRVX_RepairReport* report, KDRVX_Progress progress,
                                void* context) {
  return modify::repair(fromCaller(source), fromCaller(target), report, progress, context);
}

KDRVX_API uint32_t KDRVX_CheckPlanRecords(const KDRVX_Plan* plan, const float* records,
                                          uint32_t count, uint64_t* record, int16_t* channel) {
  return write::checkPlanRecords(plan, records, count, record, channel);
}

KDRVX_API uint32_t KDRVX_GetSummaryFileName(const KDRVX_CHAR* path, uint8_t created,
                                            KDRVX_CHAR* name, uint16_t capacity) {
  const char16_t* given = fromCaller(path);
  return created != 0 ? write::summaryFileName(given, name, capacity)
                      : read::summaryFileName(given, name, capacity);
}

}  // extern "C"
