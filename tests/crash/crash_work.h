/* The work of crash_host, the host of the shared library (the DLL on
   Windows) that the crash-safety test kills: it records or modifies a file
   until it is killed, and reports on its standard output, as 32-bit
   numbers, when it is at work (KDRVX_CRASH_READY) and each count of records
   acknowledged.

     crash_host record FILE CHANNELS BLOCK   BLOCK 0: KDRVX_AddRecord per
                                             record; otherwise KDRVX_AddRecords
                                             with blocks of 1 to BLOCK records
     crash_host modify FILE N                rewrites the comment (its length
                                             and letter taken from N) forever

   FILE is ASCII. `argv` is that command line; the result is the exit status
   that names the step that failed (it returns only then). */
#ifndef KDRVX_TESTS_CRASH_CRASH_WORK_H
#define KDRVX_TESTS_CRASH_CRASH_WORK_H

#ifdef __cplusplus
extern "C" {
#endif

int kdrvxCrashHost(int argc, char **argv);

#ifdef __cplusplus
}
#endif

#endif
