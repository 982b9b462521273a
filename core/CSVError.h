// CSVError: the errors of reading and writing. The only exception the core throws.
// It carries no message text: callers word it for the user.
#pragma once

#include "core/TextEncoding.h"

#include <exception>
#include <variant>

namespace zarvel {

struct CSVError : std::exception {
    struct Undecodable {
        TextEncoding encoding;
        bool operator==(const Undecodable&) const = default;
    };
    struct Unrepresentable {
        TextEncoding encoding;
        bool operator==(const Unrepresentable&) const = default;
    };
    struct NotText {
        bool operator==(const NotText&) const = default;
    };
    struct FileTooLarge {
        bool operator==(const FileTooLarge&) const = default;
    };
    using Case = std::variant<Undecodable, Unrepresentable, NotText, FileTooLarge>;

    Case value;

    explicit CSVError(Case c) : value(c) {}
    static CSVError undecodable(TextEncoding e) { return CSVError(Undecodable{e}); }
    static CSVError unrepresentable(TextEncoding e) { return CSVError(Unrepresentable{e}); }
    static CSVError notText() { return CSVError(NotText{}); }
    static CSVError fileTooLarge() { return CSVError(FileTooLarge{}); }

    bool operator==(const CSVError& other) const { return value == other.value; }
    const char* what() const noexcept override { return "CSVError"; }
};

} // namespace zarvel
