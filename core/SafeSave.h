// SafeSave: writing a document's bytes to its file so that a failure never damages the
// file and a success keeps what makes it the same file: its owner and group, its
// permissions, its other names (hard links) and the symbolic link the user opened it by.
//
// An ordinary file gets the new bytes in a temporary file beside it, which takes the
// name only when it is complete and on the disk. A file with several names is written
// in place, with a copy of the old content kept aside until the new one is on the disk.
// Setuid, setgid and sticky bits never survive a save. Refused: a file whose permission
// bits say read-only (even for root), anything but a regular file, and a link that
// another user may have planted in a shared folder such as /tmp.
// Both the command line and the window save through here, so they refuse and explain
// the same things in the same words.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace zarvel::SafeSave {

struct Error {
    enum class Kind {
        system,            // `error` says it all
        folderMissing,     // `path` is the folder
        folderNotWritable, // `path` is the folder
        readOnlyFile,      // nobody may write the file
        notPermitted,      // the file's permissions do not let this user change it
        isDirectory,
        notRegularFile,   // a device, a pipe or a socket: renaming over it would replace it
        untrustedSymlink, // another user's link in a shared sticky folder such as /tmp
        sharedHardLink,   // a file with other names in a shared sticky folder
    };
    Kind kind = Kind::system;
    int error = 0;    // the errno value behind it
    std::string path; // the file or folder the error is about
    // For a file written in place: the old content was put back after the failure, or,
    // when even that failed, `keptCopy` names the file that still holds it.
    bool restored = false;
    std::string keptCopy;

    // Plain words, lowercase, to follow "cannot write the file: ".
    std::string reason() const;
};

// Stands in for write(2) when writing the new content: returns the bytes written, or -1
// with errno set. Tests use it to fail part way, as a full disk would.
using WriteHook = std::function<ssize_t(int fd, const void* data, size_t size)>;

// Where the new bytes go. A producer hands them over in blocks of any size.
class Sink {
public:
    // False once a write has failed: later bytes are dropped and save() reports the
    // failure, so a producer may stop early.
    bool write(std::string_view bytes);
    bool failed() const { return error_ != 0; }
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;

private:
    friend struct Writer;
    Sink(int fd, const WriteHook& hook) : fd_(fd), hook_(hook) {}
    int fd_;
    int error_ = 0;
    const WriteHook& hook_;
};

using Producer = std::function<void(Sink&)>;

struct Options {
    // Undo an unfinished save when SIGINT, SIGTERM or SIGHUP arrives, then die of the
    // signal. Meant for a command-line tool; one such save at a time per process.
    bool cleanUpOnSignals = false;
    WriteHook writeHook;
};

// Writes what `producer` hands to the sink as the new content of `path`, creating the
// file when there is none. Nothing when it worked; otherwise the file is as it was.
// An exception thrown by the producer is passed on after the same cleanup. The producer
// must not read the file being saved: a file with several names is rewritten in place.
[[nodiscard]] std::optional<Error> save(const std::string& path, const Producer& producer,
                                        const Options& options = {});
[[nodiscard]] std::optional<Error> save(const std::string& path, std::string_view bytes,
                                        const Options& options = {});

// Plain words for an errno value met while opening, reading or writing a file
// (notRegularFileError included).
std::string describeSystemError(int error);

} // namespace zarvel::SafeSave
