// Identity index kept beside one registry of a Tarsis Model.
//
// Plain C++ (no Python.h): it maps an object's address to the position at which it was last seen
// in the registry. It never owns or dereferences the addresses; the caller verifies every answer
// against the registry itself, so a stale entry (object removed, address reused, list replaced)
// can only cause a miss, never a wrong "contained".
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace norvale::tarsis {

/// Open-addressing hash map from object address to registry position (linear probing).
class IdentityIndex {
public:
    /// Position recorded for `key`, or -1.
    std::int64_t find(const void *key) const noexcept {
        if (slots_.empty() || key == nullptr) return -1;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash(key) & mask;; i = (i + 1) & mask) {
            const Slot &s = slots_[i];
            if (s.key == key) return s.pos;
            if (s.key == nullptr) return -1;
        }
    }

    /// Records `key` at `pos`, replacing an earlier position of the same key.
    void insert(const void *key, std::int64_t pos) {
        if (key == nullptr) return;
        if ((used_ + 1) * 2 > slots_.size()) grow();
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash(key) & mask;; i = (i + 1) & mask) {
            Slot &s = slots_[i];
            if (s.key == key) {
                s.pos = pos;
                return;
            }
            if (s.key == nullptr) {
                s.key = key;
                s.pos = pos;
                ++used_;
                return;
            }
        }
    }

    /// Forgets every entry and the container it described.
    void reset(const void *container) noexcept {
        for (Slot &s : slots_) s = Slot{};
        used_ = 0;
        container_ = container;
        indexed_ = 0;
    }

    std::size_t size() const noexcept { return used_; }

    /// The registry object this index describes (compared by address only).
    const void *container() const noexcept { return container_; }

    /// Number of leading registry elements that have been indexed.
    std::size_t indexed() const noexcept { return indexed_; }
    void set_indexed(std::size_t n) noexcept { indexed_ = n; }

private:
    struct Slot {
        const void *key = nullptr;
        std::int64_t pos = 0;
    };

    // Objects created one after another mostly lie one after another in memory; a hash that
    // keeps that order (within 4 MiB windows, which the high bits then shift apart) makes the
    // lookups of a model being built walk the table instead of jumping around in it.
    static std::size_t hash(const void *key) noexcept {
        auto v = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(key));
        return static_cast<std::size_t>((v >> 4) ^ ((v >> 22) * 0x9e3779b97f4a7c15ULL >> 40));
    }

    void grow() {
        std::vector<Slot> old;
        old.swap(slots_);
        slots_.assign(old.empty() ? 16 : old.size() * 2, Slot{});
        used_ = 0;
        for (const Slot &s : old)
            if (s.key != nullptr) insert(s.key, s.pos);
    }

    std::vector<Slot> slots_;
    std::size_t used_ = 0;
    const void *container_ = nullptr;
    std::size_t indexed_ = 0;
};

}  // namespace norvale::tarsis
