#include "platform/foundation/contract.h"

#include <cstdio>
#include <cstdlib>

namespace qlt {

void contractViolated(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: REQUIRES broken: %s\n", file, line, what);
  std::abort();
}

}  // namespace qlt
