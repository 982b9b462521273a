// ByteBuffer and SharedBytes: the one copy of a file's bytes that the reader, the
// table and the document share.
//
// A ByteBuffer owns a block of memory; large blocks are mapped so the kernel can back
// them with transparent huge pages (page faults on a fresh gigabyte cost more than
// scanning it). A large file is mapped rather than copied, so a file bigger than the
// memory can still be opened. SharedBytes is a read-only view into a buffer that keeps
// it alive, so slicing off a byte order mark never copies the text.
//
// A mapped file can change under us: another program may shorten or rewrite it. Pages
// past a new, shorter end would raise SIGBUS; a handler installed with the first mapping
// puts zero pages there instead and marks the buffer damaged. isIntact() tells whether
// the bytes are still the ones the file held when it was mapped; writers refuse to copy
// bytes from a source that is not.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace zarvel {

class ByteBuffer {
public:
    // Uninitialised storage of `size` bytes. Throws std::bad_alloc.
    explicit ByteBuffer(size_t size);
    ~ByteBuffer();
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;

    char* data() { return data_; }
    const char* data() const { return data_; }
    size_t size() const { return size_; }
    // Gives back the unused tail after a short read; never grows.
    void shrink(size_t size);

    // Files from this size on are mapped; smaller ones are copied, which costs little and
    // leaves nothing another program can change under us.
    static constexpr size_t mapFileThreshold = size_t{32} << 20;
    // The file open as `fd` (size `size` as just seen by fstat) mapped read-only, or null
    // when it cannot be mapped. The buffer keeps its own descriptor.
    static std::shared_ptr<ByteBuffer> mapFile(int fd, size_t size);
    // False once the mapped file was shortened, rewritten or touched past its end since
    // mapping. Always true for memory that is not a file's.
    [[nodiscard]] bool isIntact() const;
    bool isFileMapping() const { return fd_ >= 0; }
    // Before a file is written in place, every buffer mapping it takes a private copy of
    // its bytes at the same address, so the readers see no change.
    static void detachFromFile(dev_t device, ino_t inode);
    // The bytes in [offset, offset + length) will not be read again soon: a file
    // mapping's whole pages there go back to the kernel (read again, they come back from
    // the file). Does nothing for other memory, or once the file changed or was detached.
    void releasePages(size_t offset, size_t length) const;

private:
    ByteBuffer() = default;
    friend struct MappingGuard;
    char* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    bool mapped_ = false;
    // For a file mapping: its descriptor, identity and the modification time it had.
    int fd_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    int64_t modifiedSeconds_ = 0;
    int64_t modifiedNanoseconds_ = 0;
    std::atomic<bool> damaged_{false};
};

class SharedBytes {
public:
    SharedBytes() = default;
    // Takes ownership of a string's bytes (no copy of the characters).
    static SharedBytes fromString(std::string&& s);
    static SharedBytes copyOf(std::string_view s);
    static SharedBytes fromBuffer(std::shared_ptr<const ByteBuffer> buffer);

    // Views into the storage: not offered on a temporary, whose storage may die with it.
    [[nodiscard]] const char* data() const& { return data_; }
    const char* data() const&& = delete;
    [[nodiscard]] size_t size() const { return size_; }
    [[nodiscard]] bool empty() const { return size_ == 0; }
    [[nodiscard]] std::string_view view() const& { return {data_, size_}; }
    std::string_view view() const&& = delete;
    [[nodiscard]] const uint8_t* bytes() const& { return reinterpret_cast<const uint8_t*>(data_); }
    const uint8_t* bytes() const&& = delete;

    // The bytes from `offset` on (clamped), sharing the same storage.
    [[nodiscard]] SharedBytes slice(size_t offset) const;
    [[nodiscard]] SharedBytes slice(size_t offset, size_t length) const;
    // Whether two views share one storage (used to check that no copy was made).
    bool sharesStorageWith(const SharedBytes& other) const { return owner_ && owner_ == other.owner_; }
    // Whether the bytes are still those read (see ByteBuffer::isIntact).
    [[nodiscard]] bool isIntact() const { return !buffer_ || buffer_->isIntact(); }
    // See ByteBuffer::releasePages; offsets are this view's.
    void releasePages(size_t offset, size_t length) const {
        if (buffer_) buffer_->releasePages(static_cast<size_t>(data_ - buffer_->data()) + offset, length);
    }

private:
    std::shared_ptr<const void> owner_;
    const ByteBuffer* buffer_ = nullptr;
    const char* data_ = "";
    size_t size_ = 0;
};

// Reads a regular file whole into one buffer (large files are mapped, see ByteBuffer).
// On failure returns false and sets
// `error` to an errno value: ENOENT, EACCES, EISDIR for a directory,
// notRegularFileError for any other item that is not a regular file (a FIFO is refused
// without blocking), EFBIG when the file holds `sizeLimit` bytes or more.
inline constexpr int notRegularFileError = -1;
[[nodiscard]] bool readWholeFile(const std::string& path, SharedBytes& out, int& error,
                                 uint64_t sizeLimit = UINT64_MAX);

} // namespace zarvel
