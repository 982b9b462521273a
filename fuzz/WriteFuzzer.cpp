// Writing what was read, in its own format and in another one, and reading it back: the
// same cells, except where the format itself cannot hold them (see cannotRoundTrip).
#include "fuzz/FuzzChecks.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        zarvel::fuzz::checkWrite(data, size);
    } catch (const zarvel::fuzz::CheckFailure& failure) {
        std::fprintf(stderr, "property broken: %s\n", failure.what());
        std::abort();
    }
    return 0;
}
