// CopyOnWrite<T>: a value shared between copies until one of them writes it.
//
// write() clones the value when another copy still refers to it. The owner of a
// CopyOnWrite must not be written from two threads at once (the document's lock
// guarantees that); reading copies on other threads is safe.
#pragma once

#include <memory>
#include <utility>

namespace zarvel {

template <class T> class CopyOnWrite {
public:
    CopyOnWrite() : value_(std::make_shared<T>()) {}
    explicit CopyOnWrite(T value) : value_(std::make_shared<T>(std::move(value))) {}

    const T& operator*() const { return *value_; }
    const T* operator->() const { return value_.get(); }
    const T& get() const { return *value_; }

    T& write() {
        // A stale count can only be too high (another copy going away meanwhile), which
        // costs an unneeded clone but never shares a written value.
        if (value_.use_count() != 1) value_ = std::make_shared<T>(*value_);
        return *value_;
    }
    bool sharesWith(const CopyOnWrite& other) const { return value_ == other.value_; }

private:
    std::shared_ptr<T> value_;
};

} // namespace zarvel
