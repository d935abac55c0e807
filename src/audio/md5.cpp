#include "audio/md5.h"

#include <cstring>

namespace quillon {
namespace {

constexpr std::array<std::uint32_t, 64> kSine = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr std::array<int, 64> kShift = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                        5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                        4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                        6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

inline std::uint32_t Rotl(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

inline std::uint32_t LoadLe32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

struct State {
    std::uint32_t a = 0x67452301, b = 0xefcdab89, c = 0x98badcfe, d = 0x10325476;

    void Block(const std::uint8_t* p) {
        std::uint32_t m[16];
        for (int i = 0; i < 16; ++i) m[i] = LoadLe32(p + 4 * i);
        std::uint32_t aa = a, bb = b, cc = c, dd = d;
        // Four rounds of sixteen steps; each round has its own mixing function and word order.
        auto step = [&](std::uint32_t f, int i, int g) {
            const std::uint32_t next = bb + Rotl(aa + f + kSine[i] + m[g], kShift[i]);
            aa = dd;
            dd = cc;
            cc = bb;
            bb = next;
        };
        for (int i = 0; i < 16; ++i) step((bb & cc) | (~bb & dd), i, i);
        for (int i = 16; i < 32; ++i) step((dd & bb) | (~dd & cc), i, (5 * i + 1) & 15);
        for (int i = 32; i < 48; ++i) step(bb ^ cc ^ dd, i, (3 * i + 5) & 15);
        for (int i = 48; i < 64; ++i) step(cc ^ (bb | ~dd), i, (7 * i) & 15);
        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
};

}  // namespace

void Md5Digest::Compute(const void* data, std::size_t length) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    State s;
    std::size_t whole = length - length % 64;
    for (std::size_t i = 0; i < whole; i += 64) s.Block(bytes + i);

    // Padding: a 1 bit, zeros up to 56 mod 64, then the bit length, little endian.
    std::uint8_t tail[128] = {};
    const std::size_t rest = length - whole;
    if (rest != 0) std::memcpy(tail, bytes + whole, rest);
    tail[rest] = 0x80;
    const std::size_t tailSize = rest < 56 ? 64 : 128;
    const std::uint64_t bits = static_cast<std::uint64_t>(length) * 8;
    for (int i = 0; i < 8; ++i) tail[tailSize - 8 + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    for (std::size_t i = 0; i < tailSize; i += 64) s.Block(tail + i);

    const std::uint32_t words[4] = {s.a, s.b, s.c, s.d};
    for (int w = 0; w < 4; ++w)
        for (int i = 0; i < 4; ++i)
            digest[w * 4 + i] = static_cast<std::uint8_t>(words[w] >> (8 * i));

    static constexpr char kHex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < digest.size(); ++i) {
        hexText[2 * i] = kHex[digest[i] >> 4];
        hexText[2 * i + 1] = kHex[digest[i] & 0x0F];
    }
    hexText[32] = '\0';
    computed = true;
}

}  // namespace quillon
