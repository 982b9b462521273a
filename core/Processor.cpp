#include "core/Processor.h"

#include <atomic>

namespace zarvel::Processor {

namespace {
std::atomic<bool> allowed{true};

bool supported() {
#if defined(__x86_64__) && defined(__GNUC__)
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt") &&
           __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
#else
    return false;
#endif
}
} // namespace

bool hasWideVectors() {
    static const bool wide = supported();
    return wide && allowed.load(std::memory_order_relaxed);
}

void allowWideVectors(bool allow) {
    allowed.store(allow, std::memory_order_relaxed);
}

} // namespace zarvel::Processor
