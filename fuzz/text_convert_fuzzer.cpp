// UTF-8 to UTF-16 and back.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "text/textconv.h"

namespace {

using namespace quillon;

// True when the bytes are what WideToUtf8 writes: each character in its shortest form, a
// surrogate pair as one four-byte sequence and a lone surrogate half as three bytes by itself.
// Judged by the byte ranges of well-formed sequences rather than by decoding, so that it shares
// no arithmetic with the code it checks: 00-7F; C2-DF then one of 80-BF; E0 then A0-BF then
// 80-BF; E1-EF then two of 80-BF (ED A0-BF being the surrogates that strict UTF-8 would refuse);
// F0 then 90-BF, F1-F3 then 80-BF, F4 then 80-8F, each then two of 80-BF. A high half (ED A0-AF)
// right before a low half (ED B0-BF) is a pair written the wrong way.
bool IsShortestForm(std::string_view bytes) {
    const auto in = [](unsigned char b, unsigned low, unsigned high) {
        return b >= low && b <= high;
    };
    std::size_t i = 0;
    bool afterHighHalf = false;
    while (i < bytes.size()) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        const auto at = [&](std::size_t k) -> unsigned char {
            return i + k < bytes.size() ? static_cast<unsigned char>(bytes[i + k]) : 0;
        };
        const bool highHalf = b0 == 0xED && in(at(1), 0xA0, 0xAF);
        if (afterHighHalf && b0 == 0xED && in(at(1), 0xB0, 0xBF)) return false;
        afterHighHalf = false;
        if (b0 <= 0x7F) {
            i += 1;
        } else if (in(b0, 0xC2, 0xDF) && in(at(1), 0x80, 0xBF)) {
            i += 2;
        } else if (b0 == 0xE0 && in(at(1), 0xA0, 0xBF) && in(at(2), 0x80, 0xBF)) {
            i += 3;
        } else if (in(b0, 0xE1, 0xEF) && in(at(1), 0x80, 0xBF) && in(at(2), 0x80, 0xBF)) {
            afterHighHalf = highHalf;
            i += 3;
        } else if (((b0 == 0xF0 && in(at(1), 0x90, 0xBF)) ||
                    (in(b0, 0xF1, 0xF3) && in(at(1), 0x80, 0xBF)) ||
                    (b0 == 0xF4 && in(at(1), 0x80, 0x8F))) &&
                   in(at(2), 0x80, 0xBF) && in(at(3), 0x80, 0xBF)) {
            i += 4;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // Bytes as UTF-8: never more units than bytes, and what the conversion writes back reads
    // the same again.
    const std::u16string wide = Utf8ToWide(bytes);
    QUILLON_FUZZ_CHECK(wide.size() <= bytes.size(), "more units than bytes");
    const std::string narrow = WideToUtf8(wide);
    QUILLON_FUZZ_CHECK(Utf8ToWide(narrow) == wide, "UTF-16 from UTF-8 does not read back");
    if (IsShortestForm(bytes)) {
        QUILLON_FUZZ_CHECK(narrow == bytes, "shortest-form UTF-8 does not survive a round trip");
    }

    // The same bytes as little-endian UTF-16 units, zero and lone surrogates included: every
    // unit survives the way out and back.
    std::u16string units(size / 2, u'\0');
    for (std::size_t k = 0; k < units.size(); ++k)
        units[k] = static_cast<char16_t>(data[2 * k] | (data[2 * k + 1] << 8));
    const std::string encoded = WideToUtf8(units);
    QUILLON_FUZZ_CHECK(encoded.size() <= units.size() * 3, "more than three bytes per unit");
    QUILLON_FUZZ_CHECK(IsShortestForm(encoded), "WideToUtf8 wrote a sequence of another form");
    QUILLON_FUZZ_CHECK(Utf8ToWide(encoded) == units, "UTF-16 does not round-trip");
    return 0;
}
