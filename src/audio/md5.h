#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quillon {

// MD5 message digest as defined by RFC 1321, computed over one contiguous buffer.
class Md5Digest {
public:
    Md5Digest() = default;
    virtual ~Md5Digest() = default;

    // Digests `length` bytes at `data`, keeps the 16 result bytes and their hex text.
    void Compute(const void* data, std::size_t length);

    // The 32 lower-case hex digits of the digest, or nullptr before Compute has run.
    const char* GetHexText() const { return computed ? hexText.data() : nullptr; }
    const std::array<std::uint8_t, 16>& Digest() const { return digest; }

private:
    bool computed = false;
    std::array<std::uint8_t, 16> digest{};
    std::array<char, 33> hexText{};  // value-initialised, so the terminator is there from the start
};

}  // namespace quillon
