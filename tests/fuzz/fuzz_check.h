#pragma once

#include <cstdio>
#include <cstdlib>

// A property that must hold for every input; a broken one aborts so that
// libFuzzer keeps the input and the replay test fails.
#define FUZZ_CHECK(condition)                                                              \
  do {                                                                                     \
    if (!(condition)) {                                                                    \
      std::fprintf(stderr, "%s:%d: fuzz property broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                        \
    }                                                                                      \
  } while (false)
