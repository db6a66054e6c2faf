// A property that must hold for every input; a broken one stops the fuzzer with the input kept.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition) \
    ((condition) ? (void)0 : (std::fprintf(stderr, "property broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__), std::abort()))
