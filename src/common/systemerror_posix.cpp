#include <iconv.h>
#include <langinfo.h>

#include <cstring>
#include <string_view>
#include <system_error>

#include "common/systemerror.h"

namespace quillon {
namespace {

// The system's words come in the locale's character set; the program speaks UTF-8.
std::string FromLocaleCharset(const std::string& text) {
    const char* codeset = ::nl_langinfo(CODESET);
    if (codeset == nullptr || std::strcmp(codeset, "UTF-8") == 0 ||
        std::strcmp(codeset, "ANSI_X3.4-1968") == 0)
        return text;
    const iconv_t cd = ::iconv_open("UTF-8", codeset);
    if (cd == reinterpret_cast<iconv_t>(-1)) return text;
    std::string out(text.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* to = out.data();
    std::size_t toLeft = out.size();
    const bool ok = ::iconv(cd, &in, &inLeft, &to, &toLeft) != static_cast<std::size_t>(-1);
    ::iconv_close(cd);
    if (!ok) return text;
    out.resize(out.size() - toLeft);
    return out;
}

// Whatever is not well-formed UTF-8 becomes U+FFFD, one for each byte that starts nothing.
std::string WellFormed(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        std::size_t length = b < 0x80                 ? 1
                             : b >= 0xC2 && b <= 0xDF ? 2
                             : b >= 0xE0 && b <= 0xEF ? 3
                             : b >= 0xF0 && b <= 0xF4 ? 4
                                                      : 0;
        bool ok = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; ok && k < length; ++k)
            ok = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (ok && length >= 3) {
            // No overlong forms, surrogates or values above U+10FFFF.
            const auto x = static_cast<unsigned char>(text[i + 1]);
            ok = !(b == 0xE0 && x < 0xA0) && !(b == 0xED && x >= 0xA0) &&
                 !(b == 0xF0 && x < 0x90) && !(b == 0xF4 && x >= 0x90);
        }
        if (!ok) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

}  // namespace

std::string SystemErrorText(int error) {
    return WellFormed(FromLocaleCharset(std::system_category().message(error)));
}

}  // namespace quillon
