#include "cli/FileAccess.h"

#include "cli/CliError.h"
#include "core/ByteBuffer.h"
#include "core/CSVWriter.h"
#include "core/SafeSave.h"

#include <cerrno>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace zarvel::FileAccess {

std::string describe(const CSVError& error) {
    struct Describer {
        std::string operator()(const CSVError::Undecodable& e) const {
            return "the file is not valid text in " + std::string(displayName(e.encoding));
        }
        std::string operator()(const CSVError::Unrepresentable& e) const {
            using Reason = CSVError::Unrepresentable::Reason;
            if (e.reason == Reason::character || !e.cell)
                return "some characters cannot be written in " + std::string(displayName(e.encoding));
            // Rows and columns as the file has them, counted from 1.
            const std::string cell = "the cell at row " + std::to_string(e.cell->row + 1) + ", column " +
                                     std::to_string(e.cell->column + 1);
            if (e.reason == Reason::noEscape)
                return cell +
                       " holds a backslash, which cannot be written while the backslash is both the quote "
                       "character and the escape";
            return cell + " cannot be written without a quote character, and the output format has none";
        }
        std::string operator()(const CSVError::NotText&) const { return "the file does not hold text"; }
        std::string operator()(const CSVError::Cancelled&) const { return "the read was cancelled"; }
        std::string operator()(const CSVError::SourceChanged&) const {
            return "another program changed the file while it was being read or written; nothing was written";
        }
        std::string operator()(const CSVError::FileTooLarge&) const {
            return "the file is too large (more than 4,294,967,295 fields)";
        }
    };
    return std::visit(Describer{}, error.value);
}

std::string displayName(const std::string& path, bool output) {
    if (path != standardStream) return path;
    return output ? "standard output" : "standard input";
}

namespace {

// Standard input whole, whatever it is: its size is known only for a redirected
// regular file, so the buffer grows by doubling otherwise. Returns an errno value.
int readStandardInput(SharedBytes& out) {
    std::string bytes;
    struct stat st {};
    if (::fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        bytes.reserve(static_cast<size_t>(st.st_size) + 1);
    }
    size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            bytes.resize(filled + 65536); // at least doubles the capacity when it grows
            bytes.resize(bytes.capacity());
        }
        const ssize_t n = ::read(STDIN_FILENO, bytes.data() + filled, bytes.size() - filled);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        filled += static_cast<size_t>(n);
    }
    bytes.resize(filled);
    bytes.shrink_to_fit();
    out = SharedBytes::fromString(std::move(bytes));
    return 0;
}

} // namespace

ReadResult readTable(const std::string& path, const ReadOptions& options) {
    const std::string name = displayName(path, false);
    SharedBytes bytes;
    int error = 0;
    try {
        const bool read = path == standardStream ? (error = readStandardInput(bytes)) == 0
                                                 : readWholeFile(path, bytes, error);
        if (!read) {
            if (error == EFBIG) throw CSVError::fileTooLarge();
            throw CliError::failure(name + ": " + SafeSave::describeSystemError(error));
        }
        return CSVReader::read(std::move(bytes), options);
    } catch (const CSVError& e) {
        throw CliError::failure(name + ": " + describe(e));
    } catch (const std::bad_alloc&) {
        throw CliError::failure(name + ": not enough memory to read the file");
    }
}

void writeStandardOutput(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            throw CliError::failure("standard output: cannot write: " + SafeSave::describeSystemError(errno));
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

void writeTable(const std::string& path, const CSVTable& table, const FileFormat& format) {
    if (path == standardStream) {
        try {
            CSVWriter::write(table, format, [](std::string_view block) { writeStandardOutput(block); });
        } catch (const CSVError& e) {
            throw CliError::failure("standard output: " + describe(e));
        } catch (const std::bad_alloc&) {
            throw CliError::failure("standard output: not enough memory to write the file");
        }
        return;
    }
    SafeSave::Options options;
    options.cleanUpOnSignals = true;
    std::optional<SafeSave::Error> error;
    try {
        error = SafeSave::save(
            path,
            [&](SafeSave::Sink& sink) {
                CSVWriter::write(table, format, [&sink](std::string_view block) { sink.write(block); });
            },
            options);
    } catch (const CSVError& e) {
        throw CliError::failure(path + ": " + describe(e));
    } catch (const std::bad_alloc&) {
        throw CliError::failure(path + ": not enough memory to write the file");
    }
    if (error) throw CliError::failure(path + ": cannot write the file: " + error->reason());
}

} // namespace zarvel::FileAccess
