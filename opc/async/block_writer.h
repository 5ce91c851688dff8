// Writes a memory block of known size front to back. Every write is checked against the
// block before any byte moves: a write that would pass its end raises EOpcServer and leaves
// the block as it was, so a wrong size estimate can never corrupt memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "opc/com/errors.h"

namespace porvex::opc {

class TBlockWriter {
  public:
    TBlockWriter() noexcept = default;
    TBlockWriter(void* data, std::size_t size) noexcept
        : data_(static_cast<std::uint8_t*>(data)), size_(size) {}

    std::size_t Size() const noexcept { return size_; }
    std::size_t Position() const noexcept { return position_; }

    // count bytes at offset (not moving the position).
    void Put(std::size_t offset, const void* bytes, std::size_t count) {
        if (!data_ || offset > size_ || count > size_ - offset) {
            throw EOpcServer(L"OPCSERV: stream block overrun");
        }
        if (count > 0) {
            std::memcpy(data_ + offset, bytes, count);
        }
    }
    // count bytes at the position, which moves past them.
    void Append(const void* bytes, std::size_t count) {
        Put(position_, bytes, count);
        position_ += count;
    }
    // count zero bytes at the position.
    void AppendZeros(std::size_t count) {
        if (!data_ || count > size_ - position_) {
            throw EOpcServer(L"OPCSERV: stream block overrun");
        }
        std::memset(data_ + position_, 0, count);
        position_ += count;
    }
    // Moves the position (within the block).
    void Seek(std::size_t position) {
        if (position > size_) {
            throw EOpcServer(L"OPCSERV: stream block overrun");
        }
        position_ = position;
    }

    // Fixed-size little-endian fields (the platform's own order).
    template <class T>
    void PutField(std::size_t offset, T value) {
        static_assert(std::is_trivially_copyable_v<T>);
        Put(offset, &value, sizeof(T));
    }
    template <class T>
    void AppendField(T value) {
        static_assert(std::is_trivially_copyable_v<T>);
        Append(&value, sizeof(T));
    }

  private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t position_ = 0;
};

// a + b, or E_OUTOFMEMORY when the sum does not fit (block sizes are 32-bit on the wire).
inline std::size_t CheckedAdd(std::size_t a, std::size_t b) {
    constexpr std::size_t kLimit = 0xFFFFFFFFu;
    if (a > kLimit || b > kLimit - a) {
        throw EOpcError(E_OUTOFMEMORY, L"stream block too large");
    }
    return a + b;
}

inline std::size_t CheckedMultiply(std::size_t a, std::size_t b) {
    constexpr std::size_t kLimit = 0xFFFFFFFFu;
    if (a != 0 && b > kLimit / a) {
        throw EOpcError(E_OUTOFMEMORY, L"stream block too large");
    }
    return a * b;
}

}  // namespace porvex::opc
