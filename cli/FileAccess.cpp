#include "cli/FileAccess.h"

#include "cli/CliError.h"
#include "core/ByteBuffer.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace zarvel::FileAccess {
namespace {

// Lowercase first letter, so that system messages read as the tail of our sentence.
std::string lowerFirst(std::string text) {
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

// The temporary file of a write in progress, removed if the user interrupts us.
char pendingTemporary[PATH_MAX + 1];
volatile std::sig_atomic_t hasPendingTemporary = 0;

extern "C" void removeTemporaryAndDie(int signal) {
    if (hasPendingTemporary) ::unlink(pendingTemporary);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

class TemporaryGuard {
public:
    explicit TemporaryGuard(const std::string& path) {
        std::memcpy(pendingTemporary, path.c_str(), path.size() + 1);
        hasPendingTemporary = 1;
        for (size_t i = 0; i < std::size(signals); ++i)
            previous_[i] = std::signal(signals[i], removeTemporaryAndDie);
    }
    ~TemporaryGuard() {
        for (size_t i = 0; i < std::size(signals); ++i)
            std::signal(signals[i], previous_[i]);
        hasPendingTemporary = 0;
    }
    TemporaryGuard(const TemporaryGuard&) = delete;
    TemporaryGuard& operator=(const TemporaryGuard&) = delete;

private:
    static constexpr int signals[] = {SIGINT, SIGTERM, SIGHUP};
    void (*previous_[3])(int) = {};
};

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

} // namespace

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

std::string describeSystemError(int error) {
    switch (error) {
    case ENOENT:
        return "no such file or directory";
    case ENOTDIR:
        return "a part of the path is not a directory";
    case EACCES:
    case EPERM:
        return "permission denied";
    case EISDIR:
        return "it is a directory, not a regular file";
    case notRegularFileError:
        return "it is not a regular file";
    case EFBIG:
    case EOVERFLOW:
        return "the file is too large";
    case ENOMEM:
        return "not enough memory";
    case ENOSPC:
    case EDQUOT:
        return "the disk is full";
    case EROFS:
        return "the file system is read-only";
    case ENAMETOOLONG:
        return "the name is too long";
    default:
        return lowerFirst(std::strerror(error));
    }
}

ReadResult readTable(const std::string& path, const ReadOptions& options) {
    SharedBytes bytes;
    int error = 0;
    try {
        // Refusing an oversized file before reading it spares reading gigabytes for nothing.
        if (!readWholeFile(path, bytes, error, CSVReader::sizeLimit)) {
            if (error == EFBIG) throw CSVError::fileTooLarge();
            throw CliError::failure(path + ": " + describeSystemError(error));
        }
        return CSVReader::read(bytes, options);
    } catch (const CSVError& e) {
        throw CliError::failure(path + ": " + describe(e));
    } catch (const std::bad_alloc&) {
        throw CliError::failure(path + ": not enough memory to read the file");
    }
}

void writeAtomically(const std::string& path, std::string_view bytes) {
    auto fail = [&path](int error) {
        return CliError::failure(path + ": cannot write the file: " + describeSystemError(error));
    };

    // Write through a symbolic link to the file it names, so the link survives.
    std::string target = path;
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists) {
        // Renaming over a device, a pipe or a folder would replace it, not write into it.
        if (S_ISDIR(existing.st_mode)) throw fail(EISDIR);
        if (!S_ISREG(existing.st_mode)) throw fail(notRegularFileError);
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    } else if (errno != ENOENT) {
        throw fail(errno);
    }
    if (target.empty() || target.back() == '/') throw fail(EISDIR);

    std::string temporary = directoryOf(target) + "/." + baseNameOf(target) + ".zarvel-XXXXXX";
    if (temporary.size() > PATH_MAX) throw fail(ENAMETOOLONG);
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) throw fail(errno);
    TemporaryGuard guard(temporary);

    int error = 0;
    const mode_t mode = exists ? (existing.st_mode & 07777) : (0666 & ~currentUmask());
    if (!writeAll(fd, bytes) || ::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        throw fail(error);
    }

    // The new name must reach the disk as well as the bytes.
    const int directory = ::open(directoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
}

} // namespace zarvel::FileAccess
