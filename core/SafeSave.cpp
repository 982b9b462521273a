#include "core/SafeSave.h"

#include "core/ByteBuffer.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iterator>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zarvel::SafeSave {

// Hands the sink its file; the only way to make one.
struct Writer {
    static Sink sinkFor(int fd, const WriteHook& hook) { return Sink(fd, hook); }
    static int errorOf(const Sink& sink) { return sink.error_; }
};

namespace {

// The kernel gives up after 40 links in a path; so do we.
constexpr int maxLinkHops = 40;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closing is where some file systems report a failed write.
    [[nodiscard]] int close() {
        const int result = ::close(release());
        return result == 0 ? 0 : errno;
    }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

std::string lowerFirst(std::string text) {
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

Error failure(Error::Kind kind, int error, std::string path) {
    Error e;
    e.kind = kind;
    e.error = error;
    e.path = std::move(path);
    return e;
}

Error systemFailure(int error, std::string path) {
    return failure(Error::Kind::system, error, std::move(path));
}

bool isInGroup(gid_t group) {
    if (group == ::getegid()) return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0) return false;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    const int filled = ::getgroups(count, groups.data());
    for (int i = 0; i < filled; ++i)
        if (groups[static_cast<size_t>(i)] == group) return true;
    return false;
}

// Judged by the permission bits alone, so that a file marked read-only stays so even for
// root. Root may write another user's file as long as someone may: that is how an
// administrator edits a file and gives it back to its owner.
bool modeLetsUserWrite(const struct stat& st) {
    const uid_t user = ::geteuid();
    if (user == 0) return st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH);
    if (user == st.st_uid) return st.st_mode & S_IWUSR;
    if (isInGroup(st.st_gid)) return st.st_mode & S_IWGRP;
    return st.st_mode & S_IWOTH;
}

// A folder anyone may add names to but only their owners remove, like /tmp.
bool isSharedStickyFolder(const struct stat& folder) {
    return (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
}

std::optional<Error> checkExistingFile(const struct stat& st, const std::string& path) {
    if (S_ISDIR(st.st_mode)) return failure(Error::Kind::isDirectory, EISDIR, path);
    if (!S_ISREG(st.st_mode)) return failure(Error::Kind::notRegularFile, notRegularFileError, path);
    if (!modeLetsUserWrite(st)) {
        const bool nobodyMayWrite = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
        return failure(nobodyMayWrite ? Error::Kind::readOnlyFile : Error::Kind::notPermitted, EACCES, path);
    }
    return std::nullopt;
}

// Where the bytes will go: a name in an open folder, so that nothing can move the
// folder between the checks and the writing.
struct Target {
    FileDescriptor folder;
    std::string folderPath;
    std::string name;
    bool exists = false;
    struct stat st {};
    struct stat folderStat {};
};

std::optional<Error> readLinkAt(int folder, const std::string& name, std::string& out) {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = ::readlinkat(folder, name.c_str(), buffer.data(), buffer.size());
        if (n < 0) return systemFailure(errno, name);
        if (static_cast<size_t>(n) < buffer.size()) {
            out.assign(buffer.data(), static_cast<size_t>(n));
            return std::nullopt;
        }
        buffer.resize(buffer.size() * 2);
    }
}

// Follows symbolic links to the file they name, link by link, refusing a link that
// another user may have planted in a shared folder (the rule the kernel's
// protected_symlinks applies, which a system may have turned off).
std::optional<Error> resolve(const std::string& path, Target& target) {
    std::string current = path;
    for (int hop = 0;; ++hop) {
        if (current.empty()) return systemFailure(ENOENT, path);
        std::string folderPath = folderOf(current);
        std::string name = nameOf(current);
        if (name.empty() || name == "." || name == "..")
            return failure(Error::Kind::isDirectory, EISDIR, path);

        FileDescriptor folder(::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.get() < 0) {
            const int error = errno;
            if (error == ENOENT) return failure(Error::Kind::folderMissing, error, folderPath);
            if (error == EACCES) return failure(Error::Kind::folderNotWritable, error, folderPath);
            return systemFailure(error, path);
        }
        struct stat folderStat {};
        if (::fstat(folder.get(), &folderStat) != 0) return systemFailure(errno, path);

        struct stat st {};
        if (::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) return systemFailure(errno, path);
            target = Target{std::move(folder), std::move(folderPath), std::move(name), false, {}, folderStat};
            return std::nullopt;
        }
        if (!S_ISLNK(st.st_mode)) {
            if (auto error = checkExistingFile(st, path)) return error;
            target = Target{std::move(folder), std::move(folderPath), std::move(name), true, st, folderStat};
            return std::nullopt;
        }

        if (hop == maxLinkHops) return systemFailure(ELOOP, path);
        if (isSharedStickyFolder(folderStat) && st.st_uid != ::geteuid() && st.st_uid != folderStat.st_uid)
            return failure(Error::Kind::untrustedSymlink, EACCES, current);
        std::string link;
        if (auto error = readLinkAt(folder.get(), name, link)) return systemFailure(error->error, path);
        current = !link.empty() && link[0] == '/' ? link : joined(folderPath, link);
    }
}

// MARK: undoing a save interrupted by a signal

// Only calls that are safe in a signal handler from here to the handler.
int copyAll(int from, int to) {
    if (::lseek(from, 0, SEEK_SET) < 0 || ::lseek(to, 0, SEEK_SET) < 0) return errno;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n == 0) return 0;
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(to, buffer + done, static_cast<size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            done += w;
        }
    }
}

// Puts the copy's content back into the file written in place.
int restoreFrom(int copy, int file) {
    // A copy that cannot even be read must not cost the file its current content.
    if (::lseek(copy, 0, SEEK_SET) < 0 || ::ftruncate(file, 0) != 0) return errno;
    if (const int error = copyAll(copy, file)) return error;
    return ::fsync(file) == 0 ? 0 : errno;
}

volatile std::sig_atomic_t pendingActive = 0;
int pendingFolder = -1;
char pendingName[NAME_MAX + 1];
int pendingCopyOf = -1; // the file written in place whose old content the pending file holds
int pendingCopy = -1;

extern "C" void undoPendingSaveAndDie(int signal) {
    if (pendingActive) {
        // A copy that could not be put back is the only place the old content lives.
        const bool keep = pendingCopyOf >= 0 && restoreFrom(pendingCopy, pendingCopyOf) != 0;
        if (!keep) ::unlinkat(pendingFolder, pendingName, 0);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

class SignalCleanup {
public:
    SignalCleanup(bool enabled, int folder, const std::string& name) : enabled_(enabled) {
        if (!enabled_) return;
        pendingActive = 0;
        pendingFolder = folder;
        std::memcpy(pendingName, name.c_str(), name.size() + 1);
        pendingCopy = -1;
        pendingCopyOf = -1;
        pendingActive = 1;
        struct sigaction action {};
        action.sa_handler = undoPendingSaveAndDie;
        sigemptyset(&action.sa_mask);
        for (int s : signals)
            sigaddset(&action.sa_mask, s);
        for (size_t i = 0; i < std::size(signals); ++i)
            ::sigaction(signals[i], &action, &previous_[i]);
    }
    ~SignalCleanup() {
        if (!enabled_) return;
        for (size_t i = 0; i < std::size(signals); ++i)
            ::sigaction(signals[i], &previous_[i], nullptr);
        pendingActive = 0;
    }
    // From now on the pending file is the complete copy of `file`'s old content.
    void restoreOnSignal(int copy, int file) {
        pendingCopy = copy;
        pendingCopyOf = file;
    }
    // Before the pending file is closed or removed: nothing is left to undo.
    void disarm() { pendingActive = 0; }
    SignalCleanup(const SignalCleanup&) = delete;
    SignalCleanup& operator=(const SignalCleanup&) = delete;

private:
    static constexpr int signals[] = {SIGINT, SIGTERM, SIGHUP};
    bool enabled_;
    struct sigaction previous_[3]{};
};

// MARK: the two ways of saving

// A new, unused name beside the file: ".name.zarvel-XXXXXX", created by us alone.
FileDescriptor createTemporary(const Target& target, mode_t mode, std::string& name, int& error) {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const std::string stem = "." + target.name.substr(0, NAME_MAX - 16) + ".zarvel-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[6];
        if (::getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
            timespec now{};
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            for (size_t i = 0; i < sizeof random; ++i)
                random[i] = static_cast<unsigned char>((now.tv_nsec >> (5 * i)) + attempt * 31 + ::getpid());
        }
        name = stem;
        for (unsigned char r : random)
            name += letters[r % (sizeof letters - 1)];
        const int fd = ::openat(target.folder.get(), name.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) return FileDescriptor(fd);
        if (errno != EEXIST) break;
    }
    error = errno;
    return FileDescriptor();
}

Error temporaryFailure(const Target& target, int error, const std::string& path) {
    if (error == EACCES || error == EPERM)
        return failure(Error::Kind::folderNotWritable, error, target.folderPath);
    return systemFailure(error, path);
}

// Runs the producer into `fd`; an error of its writes, or 0.
int produceInto(int fd, const Producer& producer, const Options& options) {
    Sink sink = Writer::sinkFor(fd, options.writeHook);
    producer(sink);
    return Writer::errorOf(sink);
}

std::optional<Error> saveByRenaming(const std::string& path, Target& target, const Producer& producer,
                                    const Options& options) {
    // A new file gets the umask's say through its creation mode; a replacement starts
    // private and receives the old file's permissions once its owner is settled.
    std::string temporaryName;
    int error = 0;
    FileDescriptor file = createTemporary(target, target.exists ? 0600 : 0666, temporaryName, error);
    if (file.get() < 0) return temporaryFailure(target, error, path);
    const int folder = target.folder.get();
    SignalCleanup cleanup(options.cleanUpOnSignals, folder, temporaryName);
    auto discard = [&](int failedWith) {
        cleanup.disarm();
        file.reset();
        ::unlinkat(folder, temporaryName.c_str(), 0);
        return systemFailure(failedWith, path);
    };

    try {
        error = produceInto(file.get(), producer, options);
    } catch (...) {
        discard(0);
        throw;
    }
    if (error != 0) return discard(error);

    if (target.exists) {
        // Root can give the file back to its owner; another user keeps at least the group
        // when a member of it. Changing the owner clears setuid, so the mode comes after.
        if (::fchown(file.get(), target.st.st_uid, target.st.st_gid) != 0)
            (void)::fchown(file.get(), static_cast<uid_t>(-1), target.st.st_gid);
        if (::fchmod(file.get(), target.st.st_mode & 0777) != 0) return discard(errno);
    }
    if (::fsync(file.get()) != 0) return discard(errno);
    if (const int closeError = file.close()) return discard(closeError);
    if (::renameat(folder, temporaryName.c_str(), folder, target.name.c_str()) != 0) return discard(errno);
    cleanup.disarm(); // the name is the file's now
    // The new name must reach the disk as well as the bytes.
    ::fsync(folder);
    return std::nullopt;
}

// For a file with several names: they must all see the new content, so it goes into
// the same file, with the old content kept aside until the new one is on the disk.
std::optional<Error> saveInPlace(const std::string& path, Target& target, const Producer& producer,
                                 const Options& options) {
    const int folder = target.folder.get();
    FileDescriptor file(::openat(folder, target.name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) {
        if (errno == EACCES || errno == EPERM) return failure(Error::Kind::notPermitted, errno, path);
        return systemFailure(errno, path);
    }
    // What we opened is what we write: check it again, it may have changed since.
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) return systemFailure(errno, path);
    if (auto error = checkExistingFile(st, path)) return error;
    // Another user could have linked a file from elsewhere under this name.
    if (isSharedStickyFolder(target.folderStat)) return failure(Error::Kind::sharedHardLink, EACCES, path);

    std::string copyName;
    int error = 0;
    FileDescriptor copy = createTemporary(target, 0600, copyName, error);
    if (copy.get() < 0) return temporaryFailure(target, error, path);
    SignalCleanup cleanup(options.cleanUpOnSignals, folder, copyName);
    auto dropCopy = [&] {
        cleanup.disarm();
        copy.reset();
        ::unlinkat(folder, copyName.c_str(), 0);
    };
    if ((error = copyAll(file.get(), copy.get())) != 0 || ::fsync(copy.get()) != 0) {
        const int failedWith = error != 0 ? error : errno;
        dropCopy();
        return systemFailure(failedWith, path);
    }
    cleanup.restoreOnSignal(copy.get(), file.get());

    auto putBack = [&](int failedWith) {
        Error e = systemFailure(failedWith, path);
        if (restoreFrom(copy.get(), file.get()) == 0) {
            e.restored = true;
            dropCopy();
        } else {
            e.keptCopy = joined(target.folderPath, copyName);
        }
        return e;
    };

    // The producer may be reading this very file through a mapping: let it keep the old bytes.
    ByteBuffer::detachFromFile(st.st_dev, st.st_ino);
    if (::ftruncate(file.get(), 0) != 0 || ::lseek(file.get(), 0, SEEK_SET) < 0) return putBack(errno);
    try {
        error = produceInto(file.get(), producer, options);
    } catch (...) {
        putBack(0);
        throw;
    }
    if (error != 0) return putBack(error);
    if ((st.st_mode & 07000) && ::fchmod(file.get(), st.st_mode & 0777) != 0) return putBack(errno);
    if (::fsync(file.get()) != 0) return putBack(errno);
    dropCopy();
    return std::nullopt;
}

} // namespace

bool Sink::write(std::string_view bytes) {
    while (error_ == 0 && !bytes.empty()) {
        const ssize_t n =
            hook_ ? hook_(fd_, bytes.data(), bytes.size()) : ::write(fd_, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno != EINTR) error_ = errno;
        } else if (n == 0) {
            error_ = EIO; // no progress: give up rather than spin
        } else {
            bytes.remove_prefix(static_cast<size_t>(n));
        }
    }
    return error_ == 0;
}

std::optional<Error> save(const std::string& path, const Producer& producer, const Options& options) {
    Target target;
    if (auto error = resolve(path, target)) return error;
    if (target.exists && target.st.st_nlink > 1) return saveInPlace(path, target, producer, options);
    return saveByRenaming(path, target, producer, options);
}

std::optional<Error> save(const std::string& path, std::string_view bytes, const Options& options) {
    return save(
        path, [bytes](Sink& sink) { sink.write(bytes); }, options);
}

std::string Error::reason() const {
    std::string words;
    switch (kind) {
    case Kind::system:
    case Kind::isDirectory:
    case Kind::notRegularFile:
        words = describeSystemError(error);
        break;
    case Kind::folderMissing:
        words = "the folder " + path + " does not exist";
        break;
    case Kind::folderNotWritable:
        words = "you do not have permission to save in the folder " + path;
        break;
    case Kind::readOnlyFile:
        words = "the file is read-only";
        break;
    case Kind::notPermitted:
        words = "you do not have permission to change the file";
        break;
    case Kind::untrustedSymlink:
        words = "it is a symbolic link that another user made in a shared folder; it is not followed";
        break;
    case Kind::sharedHardLink:
        words = "the file has other names in a shared folder, and writing it could change a file elsewhere";
        break;
    }
    if (restored) words += "; the old content was put back";
    if (!keptCopy.empty()) words += "; the old content could not be put back and is kept in " + keptCopy;
    return words;
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
    case ELOOP:
        return "too many symbolic links";
    default:
        return lowerFirst(std::strerror(error));
    }
}

} // namespace zarvel::SafeSave
