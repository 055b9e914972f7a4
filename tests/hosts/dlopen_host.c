/* A host that does what measuring software does on Linux: loads the shared
   library by path at run time and calls the frame exports by name. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "export_names.h"
#include "kdrvx/kdrvx.h"

typedef uint32_t (*SetDebugMaskFn)(int16_t);
typedef uint32_t (*GetLastErrorFn)(void);
typedef uint32_t (*LibVersionFn)(KDRVX_CHAR *, uint16_t);
typedef uint32_t (*GetErrorStringFn)(KDRVX_CHAR *, uint16_t, uint32_t);
typedef void (*DeleteFileFn)(const KDRVX_CHAR *);
typedef void (*SetTraceSinkFn)(KDRVX_TraceSink, void *);

/* ISO C has no cast from an object pointer to a function pointer; copy the
   address instead, as POSIX allows. */
#define LOAD(function, name)                    \
  do {                                          \
    void *address = dlsym(library, name);       \
    memcpy(&function, &address, sizeof address); \
  } while (0)

static int traced = 0;
static void sink(const KDRVX_CHAR *line, void *context) {
  (void)context;
  if (line[0] == 'K') ++traced;
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: dlopen_host LIBRARY\n");
    return 2;
  }
  void *library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
    return 1;
  }
  int notFound = 0;
  for (const char *const *name = kExportNames; *name != 0; ++name) {
    if (dlsym(library, *name) == NULL) {
      fprintf(stderr, "dlsym(%s) failed\n", *name);
      ++notFound;
    }
  }
  if (notFound != 0) return 1;

  SetDebugMaskFn setDebugMask;
  LOAD(setDebugMask, "KDRVX_SetDebugMask");
  GetLastErrorFn getLastError;
  LOAD(getLastError, "KDRVX_GetLastError");
  LibVersionFn libVersion;
  LOAD(libVersion, "KDRVX_LibVersion");
  GetErrorStringFn getErrorString;
  LOAD(getErrorString, "KDRVX_GetErrorString");
  DeleteFileFn deleteFile;
  LOAD(deleteFile, "KDRVX_DeleteFile");
  SetTraceSinkFn setTraceSink;
  LOAD(setTraceSink, "KDRVX_SetTraceSink");
  if (!setDebugMask || !getLastError || !libVersion || !getErrorString || !deleteFile ||
      !setTraceSink) {
    fprintf(stderr, "a frame export is missing\n");
    return 1;
  }
  /* Internal symbols stay hidden. */
  if (dlsym(library, "_ZN5kdrvx7library5stateEv") != NULL) {
    fprintf(stderr, "an internal symbol is exported\n");
    return 1;
  }

  KDRVX_CHAR text[40];
  int failures = 0;
  if (libVersion(text, 10) != 0 || text[9] != 0 || text[8] != 'r') ++failures;
  if (getErrorString(text, 40, 0xE1000019u) != 0 || text[0] != 'I') ++failures;
  if (getErrorString(text, 40, 0) != 0xE1000022u || getLastError() != 0xE1000022u) ++failures;
  setTraceSink(sink, NULL);
  setDebugMask(0);
  KDRVX_CHAR missing[] = {'/', 'n', 'o', '/', 's', 'u', 'c', 'h', 0};
  deleteFile(missing); /* traced whatever the mask: not a 'K' line */
  setTraceSink(NULL, NULL);
  if (traced != 1) ++failures;
  dlclose(library);
  if (failures != 0) {
    fprintf(stderr, "%d checks failed\n", failures);
    return 1;
  }
  printf("dlopen host: all checks passed\n");
  return 0;
}
