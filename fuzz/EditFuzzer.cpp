// Bytes as a sequence of table edits on a small table: every inverse restores exactly,
// undoing all restores the start, redoing all gives the edited table again.
#include "fuzz/FuzzChecks.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        zarvel::fuzz::checkEdits(data, size);
    } catch (const zarvel::fuzz::CheckFailure& failure) {
        std::fprintf(stderr, "property broken: %s\n", failure.what());
        std::abort();
    }
    return 0;
}
