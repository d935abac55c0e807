// UTF-8 to UTF-16 and back.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "service/textconv.h"

namespace {

using namespace quillon;

// True when the bytes are what WideToUtf8 writes: each unit in its shortest form of one to three
// bytes, surrogates included (they are encoded one at a time).
bool IsShortestForm(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        std::size_t length = 0;
        unsigned value = 0;
        unsigned minimum = 0;
        if (b < 0x80) {
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            length = 2;
            value = b & 0x1Fu;
            minimum = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            length = 3;
            value = b & 0x0Fu;
            minimum = 0x800;
        } else {
            return false;
        }
        if (bytes.size() - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto x = static_cast<unsigned char>(bytes[i + k]);
            if ((x & 0xC0) != 0x80) return false;
            value = (value << 6) | (x & 0x3Fu);
        }
        if (value < minimum) return false;
        i += length;
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
