// The fuzzers' assertion: a broken property aborts, which libFuzzer records
// as a crash with the input that caused it.
#ifndef GCUPROTO_FUZZ_FUZZ_CHECK_H
#define GCUPROTO_FUZZ_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, ...)                                                       \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::fprintf(stderr, __VA_ARGS__);                                                 \
      std::fprintf(stderr, "\n");                                                        \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

#endif  // GCUPROTO_FUZZ_FUZZ_CHECK_H
