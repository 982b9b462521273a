#include "app/document/FileIdentity.h"

#include "core/ByteBuffer.h"
#include "core/EditRecord.h"

#include <QFile>

#include <sys/stat.h>

namespace zarvel {

namespace {

std::optional<FileIdentity> statusOf(const QString& path, int* error = nullptr) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        if (error) *error = errno;
        return std::nullopt;
    }
    FileIdentity id;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = static_cast<uint64_t>(st.st_size);
    id.modifiedNs = int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    return id;
}

} // namespace

std::optional<FileIdentity> FileIdentity::of(const QString& path, std::string_view bytes) {
    return withHash(path, hashBytes(bytes));
}

std::optional<FileIdentity> FileIdentity::withHash(const QString& path, uint64_t contentHash) {
    std::optional<FileIdentity> id = statusOf(path);
    if (id) id->contentHash = contentHash;
    return id;
}

DiskState compareWithDisk(const FileIdentity& known, const QString& path) {
    int error = 0;
    const std::optional<FileIdentity> now = statusOf(path, &error);
    if (!now) return error == ENOENT || error == ENOTDIR ? DiskState::removed : DiskState::changed;
    if (now->device == known.device && now->inode == known.inode && now->size == known.size &&
        now->modifiedNs == known.modifiedNs)
        return DiskState::unchanged;
    if (now->size != known.size) return DiskState::changed;
    SharedBytes bytes;
    int code = 0;
    if (!readWholeFile(QFile::encodeName(path).toStdString(), bytes, code)) return DiskState::changed;
    return hashBytes(bytes.view()) == known.contentHash ? DiskState::unchanged : DiskState::changed;
}

} // namespace zarvel
