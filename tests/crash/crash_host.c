/* crash_host: the process that the crash-safety test kills on Windows (see
   crash_work.h). */
#include "crash_work.h"

int main(int argc, char **argv) { return kdrvxCrashHost(argc, argv); }
