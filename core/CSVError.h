// CSVError: the errors of reading and writing. The only exception the core throws.
// It carries no message text: callers word it for the user.
#pragma once

#include "core/CellPosition.h"
#include "core/TextEncoding.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <variant>

namespace zarvel {

struct CSVError : std::exception {
    struct Undecodable {
        TextEncoding encoding;
        bool operator==(const Undecodable&) const = default;
    };
    struct Unrepresentable {
        // Why the table cannot be written in the format.
        enum class Reason : uint8_t {
            // A character has no code in the encoding.
            character,
            // The cell holds the delimiter, a line break, or text that would read back as
            // something else (a sep= line, a byte order mark, a vanished empty last row),
            // and the format has no quote character that could protect it.
            needsQuote,
            // The cell holds the backslash while the backslash is both quote and escape:
            // there is no way to spell it.
            noEscape,
        };
        TextEncoding encoding;
        Reason reason = Reason::character;
        // The first cell that cannot be written (stored row, column); absent for characters.
        std::optional<CellPosition> cell;
        bool operator==(const Unrepresentable&) const = default;
    };
    struct NotText {
        bool operator==(const NotText&) const = default;
    };
    // More than 4,294,967,295 fields, or a file that cannot be held in memory.
    struct FileTooLarge {
        bool operator==(const FileTooLarge&) const = default;
    };
    // The reader was asked to stop (ReadProgress::cancel) before it finished.
    struct Cancelled {
        bool operator==(const Cancelled&) const = default;
    };
    // Another program shortened or rewrote the file while it was open, so the bytes it
    // held can no longer be read (a read that saw the change, or a write that would
    // copy unedited rows from it).
    struct SourceChanged {
        bool operator==(const SourceChanged&) const = default;
    };
    using Case = std::variant<Undecodable, Unrepresentable, NotText, FileTooLarge, Cancelled, SourceChanged>;

    Case value;

    explicit CSVError(Case c) : value(c) {}
    static CSVError undecodable(TextEncoding e) { return CSVError(Undecodable{e}); }
    static CSVError unrepresentable(TextEncoding e) {
        return CSVError(Unrepresentable{e, Unrepresentable::Reason::character, std::nullopt});
    }
    static CSVError unrepresentable(TextEncoding e, Unrepresentable::Reason reason, CellPosition cell) {
        return CSVError(Unrepresentable{e, reason, cell});
    }
    static CSVError notText() { return CSVError(NotText{}); }
    static CSVError fileTooLarge() { return CSVError(FileTooLarge{}); }
    static CSVError cancelled() { return CSVError(Cancelled{}); }
    static CSVError sourceChanged() { return CSVError(SourceChanged{}); }

    bool operator==(const CSVError& other) const { return value == other.value; }
    const char* what() const noexcept override { return "CSVError"; }
};

} // namespace zarvel
