#include "core/ByteBuffer.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zarvel {

namespace {
// Below this a plain heap block is cheaper than a mapping.
constexpr size_t mapThreshold = size_t{4} << 20;
constexpr size_t hugePage = size_t{2} << 20;
} // namespace

ByteBuffer::ByteBuffer(size_t size) : size_(size), capacity_(size) {
    if (size >= mapThreshold) {
        capacity_ = (size + hugePage - 1) / hugePage * hugePage;
        void* p = mmap(nullptr, capacity_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
        madvise(p, capacity_, MADV_HUGEPAGE);
#endif
        data_ = static_cast<char*>(p);
        mapped_ = true;
    } else {
        data_ = static_cast<char*>(std::malloc(size ? size : 1));
        if (!data_) throw std::bad_alloc();
    }
}

ByteBuffer::~ByteBuffer() {
    if (mapped_)
        munmap(data_, capacity_);
    else
        std::free(data_);
}

void ByteBuffer::shrink(size_t size) {
    if (size < size_) size_ = size;
}

SharedBytes SharedBytes::fromString(std::string&& s) {
    auto owner = std::make_shared<std::string>(std::move(s));
    SharedBytes b;
    b.data_ = owner->data();
    b.size_ = owner->size();
    b.owner_ = std::move(owner);
    return b;
}

SharedBytes SharedBytes::copyOf(std::string_view s) { return fromString(std::string(s)); }

SharedBytes SharedBytes::fromBuffer(std::shared_ptr<const ByteBuffer> buffer) {
    SharedBytes b;
    b.data_ = buffer->data();
    b.size_ = buffer->size();
    b.owner_ = std::move(buffer);
    return b;
}

SharedBytes SharedBytes::slice(size_t offset) const { return slice(offset, size_); }

SharedBytes SharedBytes::slice(size_t offset, size_t length) const {
    SharedBytes b = *this;
    offset = std::min(offset, size_);
    b.data_ = data_ + offset;
    b.size_ = std::min(length, size_ - offset);
    return b;
}

bool readWholeFile(const std::string& path, SharedBytes& out, int& error, uint64_t sizeLimit) {
    // O_NONBLOCK so that opening a FIFO never waits for a writer; it is refused below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = errno;
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat st {};
    if (fstat(fd, &st) != 0) {
        error = errno;
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error = EISDIR;
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = notRegularFileError;
        return false;
    }
    if (static_cast<uint64_t>(st.st_size) >= sizeLimit) {
        error = EFBIG;
        return false;
    }

    size_t capacity = static_cast<size_t>(st.st_size);
    auto buffer = std::make_shared<ByteBuffer>(capacity);
    size_t filled = 0;
    for (;;) {
        if (filled == capacity) {
            // The file may have grown since fstat; probe for more before settling.
            char probe;
            const ssize_t n = ::read(fd, &probe, 1);
            if (n == 0) break;
            if (n < 0) {
                if (errno == EINTR) continue;
                error = errno;
                return false;
            }
            const size_t newCapacity = capacity * 2 + 4096;
            if (newCapacity >= sizeLimit) {
                error = EFBIG;
                return false;
            }
            auto bigger = std::make_shared<ByteBuffer>(newCapacity);
            std::memcpy(bigger->data(), buffer->data(), filled);
            bigger->data()[filled++] = probe;
            buffer = std::move(bigger);
            capacity = newCapacity;
            continue;
        }
        const ssize_t n = ::read(fd, buffer->data() + filled, capacity - filled);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return false;
        }
        filled += static_cast<size_t>(n);
    }
    buffer->shrink(filled);
    out = SharedBytes::fromBuffer(std::move(buffer));
    error = 0;
    return true;
}

} // namespace zarvel
