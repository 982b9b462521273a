// Faults a save can meet, for the tests of the command line's and the window's saving.
#pragma once

#include "core/SafeSave.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace zarvel::test {

// A write that accepts `budget` bytes and then fails, as a full disk would.
inline SafeSave::WriteHook diskFullAfter(size_t budget) {
    return [budget](int fd, const void* data, size_t size) mutable -> ssize_t {
        if (budget == 0) {
            errno = ENOSPC;
            return -1;
        }
        const ssize_t n = ::write(fd, data, std::min(size, budget));
        if (n > 0) budget -= static_cast<size_t>(n);
        return n;
    };
}

} // namespace zarvel::test
