// What a harness does with a broken promise (harness.h). It needs nothing of
// the library, so that rvx's harnesses use it too.
#include <cstdio>
#include <cstdlib>

#include "harness.h"

namespace kdrvx::fuzz {
namespace {

void abortWith(const char* description) {
  std::fprintf(stderr, "broken promise: %s\n", description);
  std::abort();
}

FailureHandler failureHandler = abortWith;

}  // namespace

void setFailureHandler(FailureHandler handler) {
  failureHandler = handler != nullptr ? handler : abortWith;
}

void check(bool condition, const char* description) {
  if (!condition) failureHandler(description);
}

}  // namespace kdrvx::fuzz
