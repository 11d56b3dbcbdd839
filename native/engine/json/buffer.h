// A growable byte buffer written through raw pointers: the JSON writer's output.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace norvale::engine::json {

class TextBuffer {
public:
    TextBuffer() = default;
    TextBuffer(const TextBuffer &) = delete;
    TextBuffer &operator=(const TextBuffer &) = delete;
    TextBuffer(TextBuffer &&o) noexcept
        : data_(std::exchange(o.data_, nullptr)), size_(std::exchange(o.size_, 0)), cap_(std::exchange(o.cap_, 0)) {}
    ~TextBuffer() { std::free(data_); }

    /// Room for n more bytes after the end; write there, then commit() what was written.
    char *reserve(std::size_t n) {
        if (cap_ - size_ < n) grow(n);
        return data_ + size_;
    }
    void commit(std::size_t n) { size_ += n; }

    void append(const char *s, std::size_t n) {
        std::memcpy(reserve(n), s, n);
        size_ += n;
    }
    void push_back(char c) {
        *reserve(1) = c;
        ++size_;
    }

    const char *data() const { return data_; }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return cap_; }
    /// Drops the content and keeps the memory, for the next text.
    void clear() { size_ = 0; }
    /// Drops the content and gives the memory back.
    void release() {
        std::free(data_);
        data_ = nullptr;
        size_ = cap_ = 0;
    }

private:
    void grow(std::size_t n) {
        std::size_t cap = cap_ ? cap_ * 2 : 64 * 1024;
        if (cap < size_ + n) cap = size_ + n;
        void *p = std::realloc(data_, cap);
        if (!p) throw std::bad_alloc();
        data_ = static_cast<char *>(p);
        cap_ = cap;
    }

    char *data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t cap_ = 0;
};

}  // namespace norvale::engine::json
