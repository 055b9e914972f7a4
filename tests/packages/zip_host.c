/* A Windows host built the way a user of the release ZIP builds one: the
   ZIP's header, linked against its import library for Microsoft's linker.
   It records three records of two channels, reads them back and prints what
   it read; check_windows_zip.py compares the output. */
#include <kdrvx/kdrvx.h>
#include <stdio.h>

static int failed(const char *what, uint32_t status) {
  if (status != KDRVX_OK) fprintf(stderr, "zip_host: %s: 0x%08X\n", what, (unsigned)status);
  return status != KDRVX_OK;
}

int main(void) {
  wchar_t path[] = L"zip_host.rvx";
  const float written[3][2] = {{1.5f, -2.0f}, {2.5f, 0.25f}, {3.5f, 8.0f}};
  if (failed("create", KDRVX_Create(path, 1, 1)) || failed("scan", KDRVX_SetScanRate(1000)) ||
      KDRVX_AddChannel(L"p1") != 0 || KDRVX_AddChannel(L"T2") != 1)
    return 1;
  for (int i = 0; i < 3; ++i)
    if (failed("record", KDRVX_AddRecord(written[i]))) return 1;
  if (failed("close", KDRVX_CloseCreate()) || failed("open", KDRVX_OpenRead(path))) return 1;

  printf("%u records of %u channels:", (unsigned)KDRVX_GetNoRecords(),
         (unsigned)KDRVX_GetNoChannels());
  for (int16_t channel = 0; channel < 2; ++channel) {
    wchar_t variable[KDRVX_CHANNEL_VARIABLE_CAPACITY + 1] = {0};
    KDRVX_GetChannelVariable(variable, channel, KDRVX_CHANNEL_VARIABLE_CAPACITY);
    printf(" %ls (maximum %g)", variable, KDRVX_GetChannelMaxValue(channel));
  }
  float record[2];
  for (uint32_t status = KDRVX_ReadFirstRecord(record); status == KDRVX_OK;
       status = KDRVX_ReadNextRecord(record))
    printf("\n%g %g", record[0], record[1]);
  printf("\n");
  return failed("close", KDRVX_CloseRead());
}
