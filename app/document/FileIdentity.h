// FileIdentity: which file, and which bytes of it, a document last read or wrote, so
// that a change by another program can be told apart from the document's own saves.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>

namespace zarvel {

struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t modifiedNs = 0;
    uint64_t contentHash = 0; // of the bytes read or written

    // The file's status now with the hash of `bytes`; nothing when it cannot be seen.
    static std::optional<FileIdentity> of(const QString& path, std::string_view bytes);
    // The same with the hash of bytes already hashed as they were written.
    static std::optional<FileIdentity> withHash(const QString& path, uint64_t contentHash);
    bool operator==(const FileIdentity&) const = default;
};

enum class DiskState { unchanged, changed, removed };

// Whether the file at `path` still holds what `known` describes. The same status
// counts as unchanged; other status with the same size is settled by hashing the
// bytes, so a file written again with the same bytes is not a change.
DiskState compareWithDisk(const FileIdentity& known, const QString& path);

} // namespace zarvel
