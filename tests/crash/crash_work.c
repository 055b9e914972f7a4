/* What crash_host does (see crash_work.h); on POSIX the crash-safety test
   does it in a forked child of its own instead. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "crash_work.h"
#include "kdrvx/kdrvx.h"
#include "recording_values.h"

enum { kMaxPath = 4096, kMaxBlock = 4096, kMaxChannels = 6 };
enum Failure { kUsage = 10, kCreate, kAddChannel, kReport, kAddRecords, kUpdate, kOpenModify };

static void report(uint32_t message) {
#ifdef _WIN32
  DWORD written = 0;
  if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), &message, sizeof message, &written, NULL) ||
      written != sizeof message)
    exit(kReport);
#else
  if (write(STDOUT_FILENO, &message, sizeof message) != (ssize_t)sizeof message) exit(kReport);
#endif
}

/* The ASCII text widened into `wide`; 0 when it is not ASCII or too long. */
static int widen(const char *text, KDRVX_CHAR *wide, size_t capacity) {
  size_t i = 0;
  for (; text[i] != 0; ++i) {
    if ((unsigned char)text[i] > 0x7F || i + 1 >= capacity) return 0;
    wide[i] = (KDRVX_CHAR)text[i];
  }
  wide[i] = 0;
  return 1;
}

static float values[kMaxBlock * kMaxChannels];

static int record(KDRVX_CHAR *path, uint32_t channels, uint32_t block) {
  uint32_t done = 0;
  if (KDRVX_Create(path, 1, 1) != KDRVX_OK) return kCreate;
  for (uint32_t k = 0; k < channels; ++k) {
    KDRVX_CHAR variable[8];
    char name[8];
    snprintf(name, sizeof name, "p%u", (unsigned)(k + 1));
    widen(name, variable, 8);
    if (KDRVX_AddChannel(variable) != k) return kAddChannel;
  }
  report(KDRVX_CRASH_READY);
  for (;;) {
    /* Blocks of every size from 1 to BLOCK in turn, so that kills meet
       small and large writes. */
    const uint32_t count = block == 0 ? 1 : 1 + done % block;
    for (uint32_t i = 0; i < count * channels; ++i)
      values[i] = kdrvxCrashValue(done + i / channels, i % channels);
    const uint32_t status = block == 0 ? KDRVX_AddRecord(values) : KDRVX_AddRecords(values, count);
    if (status != KDRVX_OK) return kAddRecords;
    const uint32_t before = done;
    done += count;
    report(done);
    if (done / KDRVX_CRASH_UPDATE_EVERY != before / KDRVX_CRASH_UPDATE_EVERY &&
        KDRVX_Update() != KDRVX_OK)
      return kUpdate;
  }
}

static int modify(const KDRVX_CHAR *path, uint32_t n) {
  KDRVX_CHAR comment[KDRVX_COMMENT_CAPACITY];
  KDRVX_CHAR current[KDRVX_COMMENT_CAPACITY];
  const uint32_t length = 1 + n % (KDRVX_COMMENT_CAPACITY - 1);
  for (uint32_t i = 0; i < length; ++i) comment[i] = (KDRVX_CHAR)('a' + n % 26);
  comment[length] = 0;
  if (KDRVX_OpenModify(path) != KDRVX_OK) return kOpenModify;
  KDRVX_CloseModify();
  report(KDRVX_CRASH_READY);
  for (;;) {
    if (KDRVX_OpenModify(path) != KDRVX_OK) return kOpenModify;
    KDRVX_ModifyComment(current, comment);
    KDRVX_CloseModify();
  }
}

int kdrvxCrashHost(int argc, char **argv) {
  static KDRVX_CHAR path[kMaxPath];
  if (argc != 4 && argc != 5) return kUsage;
  if (!widen(argv[2], path, kMaxPath)) return kUsage;
  if (strcmp(argv[1], "record") == 0 && argc == 5) {
    const uint32_t channels = (uint32_t)strtoul(argv[3], NULL, 10);
    const uint32_t block = (uint32_t)strtoul(argv[4], NULL, 10);
    if (channels < 1 || channels > kMaxChannels || block > kMaxBlock) return kUsage;
    return record(path, channels, block);
  }
  if (strcmp(argv[1], "modify") == 0 && argc == 4)
    return modify(path, (uint32_t)strtoul(argv[3], NULL, 10));
  return kUsage;
}
