// What every fuzz target shares: a finding is a crash, so that libFuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "support/reader_paths.h"

namespace varimel::fuzz {

// A read that ended without one of the program's answers, or broke a promise of the reader,
// is reported as a crash.
inline void check(const test::ReadOutcome& outcome, bool statusMatters) {
    if (statusMatters && !test::isKnownStatus(outcome.status)) {
        std::fprintf(stderr, "unknown status %d\n", outcome.status);
        std::abort();
    }
    if (!outcome.broken.empty()) {
        std::fprintf(stderr, "%s\n", outcome.broken.c_str());
        std::abort();
    }
}

}  // namespace varimel::fuzz
