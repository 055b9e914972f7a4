/* The checks of the C hosts: a failed condition is reported with its place
   and counted; main returns whether any failed. */
#ifndef KDRVX_TESTS_HOST_CHECK_H
#define KDRVX_TESTS_HOST_CHECK_H

#include <stdio.h>

static int failures = 0;

#define CHECK(condition)                                              \
  do {                                                                \
    if (!(condition)) {                                               \
      fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                     \
    }                                                                 \
  } while (0)

#endif
