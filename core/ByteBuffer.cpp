#include "core/ByteBuffer.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zarvel {

namespace {
// Below this a plain heap block is cheaper than a mapping.
constexpr size_t mapThreshold = size_t{4} << 20;
constexpr size_t hugePage = size_t{2} << 20;

size_t pageSize() {
    static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return size;
}
size_t roundUpToPage(size_t n) {
    return (n + pageSize() - 1) / pageSize() * pageSize();
}

} // namespace

// The live file mappings, readable from a signal handler: fixed slots, no locks there.
struct MappingGuard {
    static constexpr size_t slotCount = 256;
    static inline std::atomic<ByteBuffer*> slots[slotCount];
    static inline struct sigaction previous {};
    static inline std::mutex registering; // for register/unregister (not the handler)

    static bool enroll(ByteBuffer* buffer) {
        static std::once_flag installed;
        std::call_once(installed, [] {
            struct sigaction action {};
            action.sa_sigaction = &onBusError;
            action.sa_flags = SA_SIGINFO | SA_NODEFER;
            sigemptyset(&action.sa_mask);
            sigaction(SIGBUS, &action, &previous);
        });
        std::lock_guard lock(registering);
        for (auto& slot : slots) {
            if (slot.load(std::memory_order_relaxed) == nullptr) {
                slot.store(buffer, std::memory_order_release);
                return true;
            }
        }
        return false;
    }
    static void withdraw(ByteBuffer* buffer) {
        std::lock_guard lock(registering);
        for (auto& slot : slots)
            if (slot.load(std::memory_order_relaxed) == buffer)
                slot.store(nullptr, std::memory_order_release);
    }

    // Async-signal-safe: loads, mmap and a store.
    static void onBusError(int signal, siginfo_t* info, void* context) {
        char* const address = static_cast<char*>(info->si_addr);
        for (auto& slot : slots) {
            ByteBuffer* b = slot.load(std::memory_order_acquire);
            if (!b || address < b->data_ || address >= b->data_ + b->capacity_) continue;
            // The file is now shorter than the mapping: from this page to the end, zeros.
            const auto page = reinterpret_cast<uintptr_t>(address) & ~(uintptr_t{pageSize()} - 1);
            char* const from = reinterpret_cast<char*>(page);
            const size_t length = static_cast<size_t>(b->data_ + b->capacity_ - from);
            b->damaged_.store(true, std::memory_order_relaxed);
            if (mmap(from, length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED)
                return;
            break;
        }
        // Not one of ours (or it could not be mended): what would have happened anyway.
        if ((previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction) {
            previous.sa_sigaction(signal, info, context);
        } else if (previous.sa_handler != SIG_IGN && previous.sa_handler != SIG_DFL && previous.sa_handler) {
            previous.sa_handler(signal);
        } else {
            ::signal(SIGBUS, SIG_DFL); // the fault repeats on return and ends the process
        }
    }
};

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
    if (fd_ >= 0) {
        MappingGuard::withdraw(this);
        ::close(fd_);
    }
    if (mapped_)
        munmap(data_, capacity_);
    else
        std::free(data_);
}

std::shared_ptr<ByteBuffer> ByteBuffer::mapFile(int fd, size_t size) {
    if (size == 0) return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0) return nullptr;
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) return nullptr;
    void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, own, 0);
    if (p == MAP_FAILED) {
        ::close(own);
        return nullptr;
    }
    madvise(p, size, MADV_WILLNEED);
    std::shared_ptr<ByteBuffer> buffer(new ByteBuffer());
    buffer->data_ = static_cast<char*>(p);
    buffer->size_ = size;
    buffer->capacity_ = roundUpToPage(size);
    buffer->mapped_ = true;
    buffer->fd_ = own;
    buffer->device_ = st.st_dev;
    buffer->inode_ = st.st_ino;
    buffer->modifiedSeconds_ = st.st_mtim.tv_sec;
    buffer->modifiedNanoseconds_ = st.st_mtim.tv_nsec;
    if (!MappingGuard::enroll(buffer.get())) {
        // No slot left to guard it: a copy it is.
        buffer->fd_ = -1;
        ::close(own);
        return nullptr;
    }
    return buffer;
}

bool ByteBuffer::isIntact() const {
    if (fd_ < 0) return true;
    if (damaged_.load(std::memory_order_relaxed)) return false;
    struct stat st {};
    if (fstat(fd_, &st) != 0) return false;
    return static_cast<uint64_t>(st.st_size) >= size_ && st.st_mtim.tv_sec == modifiedSeconds_ &&
           st.st_mtim.tv_nsec == modifiedNanoseconds_;
}

void ByteBuffer::detachFromFile(dev_t device, ino_t inode) {
    std::lock_guard lock(MappingGuard::registering);
    for (auto& slot : MappingGuard::slots) {
        ByteBuffer* b = slot.load(std::memory_order_acquire);
        if (!b || b->device_ != device || b->inode_ != inode) continue;
        void* copy = mmap(nullptr, b->capacity_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (copy == MAP_FAILED) continue;
        std::memcpy(copy, b->data_, b->capacity_);
        mprotect(copy, b->capacity_, PROT_READ);
        // Moves the copy's pages to the mapping's address in one step, replacing it.
        if (mremap(copy, b->capacity_, b->capacity_, MREMAP_MAYMOVE | MREMAP_FIXED, b->data_) == MAP_FAILED) {
            munmap(copy, b->capacity_);
            continue;
        }
        slot.store(nullptr, std::memory_order_release);
        ::close(b->fd_);
        b->fd_ = -1;
    }
}

void ByteBuffer::releasePages(size_t offset, size_t length) const {
    static const auto pageSize = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    offset = std::min(offset, size_);
    length = std::min(length, size_ - offset);
    const size_t first = (offset + pageSize - 1) / pageSize * pageSize;
    const size_t last = (offset + length) / pageSize * pageSize;
    if (first >= last) return;
    // Under the lock that detaching takes: a detached buffer's pages are its only copy.
    std::lock_guard lock(MappingGuard::registering);
    if (fd_ < 0 || damaged_.load(std::memory_order_relaxed)) return;
    madvise(data_ + first, last - first, MADV_DONTNEED);
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

SharedBytes SharedBytes::copyOf(std::string_view s) {
    return fromString(std::string(s));
}

SharedBytes SharedBytes::fromBuffer(std::shared_ptr<const ByteBuffer> buffer) {
    SharedBytes b;
    b.buffer_ = buffer.get();
    b.data_ = buffer->data();
    b.size_ = buffer->size();
    b.owner_ = std::move(buffer);
    return b;
}

SharedBytes SharedBytes::slice(size_t offset) const {
    return slice(offset, size_);
}

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
    if (capacity >= ByteBuffer::mapFileThreshold) {
        if (auto mapping = ByteBuffer::mapFile(fd, capacity)) {
            out = SharedBytes::fromBuffer(std::move(mapping));
            error = 0;
            return true;
        }
    }
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
