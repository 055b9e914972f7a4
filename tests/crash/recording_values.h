/* What the killed host records and reports, shared by the host (C) and the
   test that checks what a kill left on disk (C++). */
#ifndef KDRVX_TESTS_CRASH_RECORDING_VALUES_H
#define KDRVX_TESTS_CRASH_RECORDING_VALUES_H

#include <stdint.h>

/* The report that the host is at work: the channels are defined, or the
   file to modify is open. Every other report is a count of acknowledged
   records. */
#define KDRVX_CRASH_READY 0xFFFFFFFFu

/* The recording host calls KDRVX_Update whenever its count passes a
   multiple of this. */
#define KDRVX_CRASH_UPDATE_EVERY 97u

/* The value of channel k in record r (from 0): exact in single precision,
   negative for odd channels, so that the statistics have something to do. */
static inline float kdrvxCrashValue(uint32_t r, uint32_t k) {
  const float v = (float)((r * 7 + k * 13) % 4099) * 0.25f;
  return k % 2 ? -v : v;
}

#endif
