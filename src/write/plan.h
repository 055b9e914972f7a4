// The check of a planned recording: the create context's own setters run on
// headers of the check's own, the header image (and the RVI text of the
// compact layout) that closing would write is read back as an open reads
// it, and every value is compared with what a reader would report.
#pragma once

#include <cstdint>

#include "kdrvx/kdrvx.h"

namespace kdrvx::write {

uint32_t checkPlan(const KDRVX_Plan* plan, KDRVX_RecordingInfo* info, KDRVX_ChannelInfo* channels,
                   KDRVX_PlanProblem* problems, uint32_t problemCapacity, uint32_t* problemCount);

}  // namespace kdrvx::write
