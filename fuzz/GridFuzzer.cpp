// Bytes as key presses, selection moves and geometry changes: the selection and every
// window stay inside the grid.
#include "fuzz/GridFuzzChecks.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        zarvel::fuzz::checkGrid(data, size);
    } catch (const zarvel::fuzz::CheckFailure& failure) {
        std::fprintf(stderr, "property broken: %s\n", failure.what());
        std::abort();
    }
    return 0;
}
