// Reading any bytes, detected and with forced options: no crash, no hang, an index inside
// the text, every cell decodable, a report that agrees with the table.
#include "fuzz/FuzzChecks.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        zarvel::fuzz::checkRead(data, size);
    } catch (const zarvel::fuzz::CheckFailure& failure) {
        std::fprintf(stderr, "property broken: %s\n", failure.what());
        std::abort();
    }
    return 0;
}
