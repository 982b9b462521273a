// CliError: a failure the command line reports as one line on standard error.
#pragma once

#include <stdexcept>
#include <string>

namespace zarvel {

struct CliError : std::runtime_error {
    // Exit statuses: wrong use of the command (bad or missing options), or a file problem.
    static constexpr int usageStatus = 2;
    static constexpr int failureStatus = 1;

    int status;

    CliError(int status, const std::string& message) : std::runtime_error(message), status(status) {}
    static CliError usage(const std::string& message) { return CliError(usageStatus, message); }
    static CliError failure(const std::string& message) { return CliError(failureStatus, message); }
};

} // namespace zarvel
