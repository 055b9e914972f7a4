/* Prints the channels and the first record of a recording.
   usage: read_recording FILE.rvx */
#include <kdrvx/kdrvx.h>
#include <stdio.h>

/* Text crosses the interface as UTF-16; this program takes ASCII paths. */
static int fromAscii(const char *ascii, KDRVX_CHAR *text, size_t capacity) {
  for (size_t i = 0; i < capacity; ++i) {
    if ((unsigned char)ascii[i] > 127) return 0;
    text[i] = (KDRVX_CHAR)ascii[i];
    if (ascii[i] == 0) return 1;
  }
  return 0;
}

static void printAscii(FILE *out, const KDRVX_CHAR *text) {
  for (; *text != 0; ++text) fputc(*text < 128 ? (char)*text : '?', out);
}

int main(int argc, char **argv) {
  KDRVX_CHAR path[1024];
  if (argc != 2 || !fromAscii(argv[1], path, 1024)) {
    fprintf(stderr, "usage: read_recording FILE.rvx (an ASCII path)\n");
    return 2;
  }
  uint32_t status = KDRVX_OpenRead(path);
  if (status != KDRVX_OK) {
    KDRVX_CHAR reason[128];
    KDRVX_GetErrorString(reason, 128, status);
    fprintf(stderr, "%s: ", argv[1]);
    printAscii(stderr, reason);
    fprintf(stderr, " (0x%08X)\n", (unsigned)status);
    return 1;
  }
  uint32_t channels = KDRVX_GetNoChannels();
  printf("%u records of %u channels\n", (unsigned)KDRVX_GetNoRecords(), (unsigned)channels);
  float record[48]; /* a recording has at most 48 channels */
  int haveRecord = channels <= 48 && KDRVX_ReadFirstRecord(record) == 0;
  for (uint32_t i = 0; i < channels; ++i) {
    /* The variable may fill its field without a terminator: one unit more. */
    KDRVX_CHAR variable[KDRVX_CHANNEL_VARIABLE_CAPACITY + 1] = {0};
    KDRVX_GetChannelVariable(variable, (int16_t)i, KDRVX_CHANNEL_VARIABLE_CAPACITY);
    printAscii(stdout, variable);
    if (haveRecord) printf(" = %g", record[i]);
    putchar('\n');
  }
  KDRVX_CloseRead();
  return 0;
}
