#pragma once

// What every fuzzer does with a finding: one line on stderr that says what
// broke and on which input, then abort, so that libFuzzer keeps the input.

#include <cstdio>
#include <cstdlib>
#include <string>

namespace zelt::fuzz {

[[noreturn]] inline void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "FINDING: %s: %s\n", what, detail.c_str());
    std::abort();
}

inline void Check(bool condition, const char* what, const std::string& detail = std::string()) {
    if (!condition) {
        Fail(what, detail);
    }
}

}  // namespace zelt::fuzz
