#pragma once

// Checks of REQUIRES contracts, compiled into debug and sanitizer builds
// (QLT_CHECK_CONTRACTS) and to nothing elsewhere. A broken contract prints
// what was required and where, then aborts.
#ifdef QLT_CHECK_CONTRACTS
#define QLT_REQUIRE(condition, what) \
  ((condition) ? static_cast<void>(0) : ::qlt::contractViolated(what, __FILE__, __LINE__))
#else
#define QLT_REQUIRE(condition, what) static_cast<void>(0)
#endif

namespace qlt {

[[noreturn]] void contractViolated(const char* what, const char* file, int line);

}  // namespace qlt
