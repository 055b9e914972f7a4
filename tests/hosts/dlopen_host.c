/* A host that does what measuring software does on Linux: loads the shared
   library by path at run time, looks up every export by name and calls
   one through its pointer (c_host calls the others). */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "export_names.h"
#include "kdrvx/kdrvx.h"

typedef uint32_t (*LibVersionFn)(KDRVX_CHAR *, uint16_t);

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
  int failures = 0;
  for (const char *const *name = kExportNames; *name != 0; ++name) {
    if (dlsym(library, *name) == NULL) {
      fprintf(stderr, "dlsym(%s) failed\n", *name);
      ++failures;
    }
  }
  /* Internal symbols stay hidden. */
  if (dlsym(library, "_ZN5kdrvx7library5stateEv") != NULL) {
    fprintf(stderr, "an internal symbol is exported\n");
    ++failures;
  }
  /* ISO C has no cast from an object pointer to a function pointer; copy the
     address instead, as POSIX allows. */
  LibVersionFn libVersion;
  void *address = dlsym(library, "KDRVX_LibVersion");
  memcpy(&libVersion, &address, sizeof address);
  KDRVX_CHAR text[40];
  if (address == NULL || libVersion(text, 10) != 0 || text[9] != 0 || text[8] != 'r') {
    fprintf(stderr, "KDRVX_LibVersion through its pointer failed\n");
    ++failures;
  }
  dlclose(library);
  if (failures == 0) printf("dlopen host: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
