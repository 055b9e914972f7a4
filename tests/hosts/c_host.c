/* A host written in C: the public header compiles as C, and the library is
   called through it. Exits with 0 when every check holds. */
#include <stdio.h>
#include <string.h>

#include "host_check.h"
#include "kdrvx/kdrvx.h"

static int sameText(const KDRVX_CHAR *text, const char *ascii) {
  size_t i = 0;
  for (; ascii[i] != 0; ++i)
    if (text[i] != (KDRVX_CHAR)(unsigned char)ascii[i]) return 0;
  return text[i] == 0;
}

static int lines = 0;
static void countLines(const KDRVX_CHAR *line, void *context) {
  (void)line;
  *(int *)context += 1;
}

int main(void) {
  KDRVX_CHAR text[64];
  char version[64];
  snprintf(version, sizeof version, "KDrvxLibrary version %d.%d.%d Build 061", KDRVX_VERSION_MAJOR,
           KDRVX_VERSION_MINOR, KDRVX_VERSION_PATCH);
  CHECK(KDRVX_LibVersion(text, 64) == KDRVX_OK);
  CHECK(sameText(text, version));
  CHECK(KDRVX_GetErrorString(text, 64, KDRVX_ERR_RVX_DATE) == 0);
  CHECK(sameText(text, "Invalid date format"));
  CHECK(KDRVX_GetErrorString(text, 64, 0) == KDRVX_ERR_RVX_INVALID_ERROR_CODE);
  CHECK(KDRVX_GetLastError() == KDRVX_ERR_RVX_INVALID_ERROR_CODE);

  KDRVX_SetTraceSink(countLines, &lines);
  CHECK(KDRVX_SetDebugMask(KDRVX_DEBUG_CALLS) == 0);
  CHECK(lines == 2);
  KDRVX_SetTraceSink(NULL, NULL);
  CHECK(KDRVX_SetDebugMask(0) == 0);
  CHECK(lines == 2);

  if (failures == 0) printf("C host: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
