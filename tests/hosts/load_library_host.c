/* A Windows host that does what measuring software does: loads
   KDRVXLibrary.dll by name, looks up every exported function with
   GetProcAddress and calls a few of them through the pointers. It also
   checks that trace lines reach OutputDebugStringW when the host has set no
   sink of its own. Exits with 0 when every check holds. */
#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "export_names.h"
#include "host_check.h"
#include "kdrvx/kdrvx.h"

typedef uint32_t (*SetDebugMaskFn)(int16_t);
typedef uint32_t (*GetLastErrorFn)(void);
typedef uint32_t (*LibVersionFn)(KDRVX_CHAR *, uint16_t);
typedef uint32_t (*GetErrorStringFn)(KDRVX_CHAR *, uint16_t, uint32_t);
typedef void (*DeleteFileFn)(const KDRVX_CHAR *);
typedef void (*SetTraceSinkFn)(KDRVX_TraceSink, void *);

/* OutputDebugString raises a debug-print exception that a debugger would
   catch; a vectored handler sees it first. */
static char debugOutput[4096];
static LONG CALLBACK catchDebugOutput(EXCEPTION_POINTERS *exception) {
  EXCEPTION_RECORD *record = exception->ExceptionRecord;
  size_t used = strlen(debugOutput);
  if (record->ExceptionCode == 0x40010006 /* DBG_PRINTEXCEPTION_C */ &&
      record->NumberParameters >= 2) {
    _snprintf(debugOutput + used, sizeof debugOutput - used - 1, "%s|",
              (const char *)record->ExceptionInformation[1]);
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  if (record->ExceptionCode == 0x4001000A /* DBG_PRINTEXCEPTION_WIDE_C */ &&
      record->NumberParameters >= 2) {
    _snprintf(debugOutput + used, sizeof debugOutput - used - 1, "%ls|",
              (const wchar_t *)record->ExceptionInformation[1]);
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

static int lines = 0;
static void countLines(const KDRVX_CHAR *line, void *context) {
  (void)line;
  (void)context;
  ++lines;
}

static FARPROC lookUp(HMODULE library, const char *name) {
  FARPROC address = GetProcAddress(library, name);
  if (address == NULL) {
    fprintf(stderr, "GetProcAddress(%s) failed\n", name);
    ++failures;
  }
  return address;
}

int main(void) {
  HMODULE library = LoadLibraryW(L"KDRVXLibrary.dll");
  if (library == NULL) {
    fprintf(stderr, "LoadLibraryW failed: %lu\n", GetLastError());
    return 1;
  }
  int count = 0;
  for (const char *const *name = kExportNames; *name != 0; ++name, ++count) lookUp(library, *name);
  printf("%d exported functions found by name\n", count);

  SetDebugMaskFn setDebugMask;
  GetLastErrorFn getLastError;
  LibVersionFn libVersion;
  GetErrorStringFn getErrorString;
  DeleteFileFn deleteFile;
  SetTraceSinkFn setTraceSink;
  FARPROC address;
#define LOAD(function, name) (address = lookUp(library, name), memcpy(&function, &address, sizeof address))
  LOAD(setDebugMask, "KDRVX_SetDebugMask");
  LOAD(getLastError, "KDRVX_GetLastError");
  LOAD(libVersion, "KDRVX_LibVersion");
  LOAD(getErrorString, "KDRVX_GetErrorString");
  LOAD(deleteFile, "KDRVX_DeleteFile");
  LOAD(setTraceSink, "KDRVX_SetTraceSink");
  if (failures != 0) return 1;

  wchar_t text[64];
  wchar_t version[64];
  swprintf(version, 64, L"KDrvxLibrary version %d.%d.%d Build 061", KDRVX_VERSION_MAJOR,
           KDRVX_VERSION_MINOR, KDRVX_VERSION_PATCH);
  CHECK(libVersion(text, 64) == 0);
  CHECK(wcscmp(text, version) == 0);
  CHECK(libVersion(text, 10) == 0 && wcscmp(text, L"KDrvxLibr") == 0);
  CHECK(getErrorString(text, 64, 0xE1000020u) == 0);
  CHECK(wcscmp(text, L"File is in use by other process (sharing violation).") == 0);
  CHECK(getErrorString(text, 64, 0) == 0xE1000022u && getLastError() == 0xE1000022u);

  /* With no sink of the host's, trace lines go to OutputDebugStringW. */
  PVOID handler = AddVectoredExceptionHandler(1, catchDebugOutput);
  setDebugMask(KDRVX_DEBUG_CALLS);
  deleteFile(L"C:\\no\\such\\file.rvx");
  setDebugMask(0);
  RemoveVectoredExceptionHandler(handler);
  CHECK(strcmp(debugOutput,
               "KDrvxLibrary: KDRVX_SetDebugMask()|size RVX_HEADER: 35100  size MGR_DEF: 1400|"
               "KDrvxLibrary: KDRVX_DeleteFile()|throw exception |C:\\no\\such\\file.rvx|"
               "KDrvxLibrary: KDRVX_SetDebugMask()|") == 0);
  if (failures != 0) fprintf(stderr, "debug output: %s\n", debugOutput);

  /* A sink of the host's takes the lines instead. */
  setTraceSink(countLines, NULL);
  setDebugMask(KDRVX_DEBUG_CALLS);
  setTraceSink(NULL, NULL);
  CHECK(lines == 2);

  FreeLibrary(library);
  if (failures == 0) printf("LoadLibraryW host: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
