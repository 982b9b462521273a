#include "cli/FileAccess.h"

#include "cli/CliError.h"
#include "core/ByteBuffer.h"
#include "core/CSVWriter.h"
#include "core/SafeSave.h"

#include <cerrno>
#include <new>

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
                return cell + " holds a backslash, which cannot be written while the backslash is both the quote "
                              "character and the escape";
            return cell + " cannot be written without a quote character, and the output format has none";
        }
        std::string operator()(const CSVError::NotText&) const { return "the file does not hold text"; }
        std::string operator()(const CSVError::FileTooLarge&) const {
            return "the file is too large (4 GiB or more as UTF-8 text)";
        }
    };
    return std::visit(Describer{}, error.value);
}

ReadResult readTable(const std::string& path, const ReadOptions& options) {
    SharedBytes bytes;
    int error = 0;
    try {
        // Refusing an oversized file before reading it spares reading gigabytes for nothing.
        if (!readWholeFile(path, bytes, error, CSVReader::sizeLimit)) {
            if (error == EFBIG) throw CSVError::fileTooLarge();
            throw CliError::failure(path + ": " + SafeSave::describeSystemError(error));
        }
        return CSVReader::read(bytes, options);
    } catch (const CSVError& e) {
        throw CliError::failure(path + ": " + describe(e));
    } catch (const std::bad_alloc&) {
        throw CliError::failure(path + ": not enough memory to read the file");
    }
}

void writeTable(const std::string& path, const CSVTable& table, const FileFormat& format) {
    SafeSave::Options options;
    options.cleanUpOnSignals = true;
    std::optional<SafeSave::Error> error;
    try {
        error = SafeSave::save(path, [&](SafeSave::Sink& sink) {
            CSVWriter::write(table, format, [&sink](std::string_view block) { sink.write(block); });
        }, options);
    } catch (const CSVError& e) {
        throw CliError::failure(path + ": " + describe(e));
    } catch (const std::bad_alloc&) {
        throw CliError::failure(path + ": not enough memory to write the file");
    }
    if (error) throw CliError::failure(path + ": cannot write the file: " + error->reason());
}

} // namespace zarvel::FileAccess
