/* Prints the mean of every channel of each recording named: all of them
   open at once, each read in blocks through a reader of its own.
   usage: channel_means FILE.rvx... */
#include <kdrvx/kdrvx.h>
#include <stdio.h>
#include <stdlib.h>

#define BLOCK 4096 /* records per read */

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

static void printMeans(const char *name, KDRVX_Reader *reader) {
  KDRVX_RecordingInfo info = {.size = sizeof info};
  KDRVX_ReaderInfo(reader, &info);
  uint32_t channels = info.noChannels; /* at most 48 */
  float *block = malloc(sizeof(float) * BLOCK * (channels > 0 ? channels : 1));
  double sum[48] = {0};
  int64_t records = 0, got;
  /* Every record kind arrives as floats; a reader reads from any record. */
  while (block != NULL && (got = KDRVX_ReaderRead(reader, records, BLOCK, block)) > 0) {
    for (int64_t r = 0; r < got; ++r)
      for (uint32_t k = 0; k < channels; ++k) sum[k] += block[r * channels + k];
    records += got;
  }
  free(block);
  printf("%s: %u records\n", name, (unsigned)records);
  for (uint32_t k = 0; k < channels; ++k) {
    KDRVX_ChannelInfo channel = {.size = sizeof channel};
    KDRVX_ReaderChannel(reader, (int16_t)k, &channel);
    printf("  ");
    printAscii(stdout, channel.variable);
    printf(" [");
    printAscii(stdout, channel.unit);
    printf("] %g\n", records > 0 ? sum[k] / (double)records : 0.0);
  }
}

int main(int argc, char **argv) {
  int files = argc - 1;
  KDRVX_Reader **readers = calloc(files > 0 ? (size_t)files : 1, sizeof *readers);
  int failed = readers == NULL;
  for (int f = 0; f < files && !failed; ++f) {
    KDRVX_CHAR path[1024];
    uint32_t status = fromAscii(argv[f + 1], path, 1024) ? KDRVX_ReaderOpen(path, &readers[f])
                                                         : KDRVX_ERR_RVX_OPEN_READ;
    if (status != KDRVX_OK) {
      fprintf(stderr, "%s: cannot be read (0x%08X)\n", argv[f + 1], (unsigned)status);
      failed = 1;
    }
  }
  for (int f = 0; f < files && !failed; ++f) printMeans(argv[f + 1], readers[f]);
  for (int f = 0; f < files && readers != NULL; ++f) KDRVX_ReaderClose(readers[f]);
  free(readers);
  return failed;
}
