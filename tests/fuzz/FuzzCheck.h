#pragma once
// A broken invariant stops the run with a crash, so that libFuzzer keeps the input.
#include <cstdio>
#include <cstdlib>
#define FUZZ_CHECK(cond) \
    ((cond) ? void(0) : (std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #cond), std::abort()))
