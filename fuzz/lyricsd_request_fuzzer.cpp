// quillon-lyricsd reading a GetLyric5 request body.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "lyricsd/soap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillon::lyricsd;
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const GetLyric5Request request = ParseGetLyric5Request(body);

    if (request.error != RequestError::None) {
        QUILLON_FUZZ_CHECK(request.checksum.empty(), "a checksum from a refused request");
        return 0;
    }
    // An accepted request always names a song the catalogue could hold: 32 lower-case digits.
    QUILLON_FUZZ_CHECK(request.checksum.size() == 32, "checksum length");
    for (const char c : request.checksum)
        QUILLON_FUZZ_CHECK((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'), "checksum digit");
    // Markup needs at least the Envelope, Body, GetLyric5 and strChecksum tags around it.
    QUILLON_FUZZ_CHECK(body.find("Envelope") != std::string_view::npos, "no Envelope");
    QUILLON_FUZZ_CHECK(body.find("GetLyric5") != std::string_view::npos, "no GetLyric5");
    QUILLON_FUZZ_CHECK(body.find("strChecksum") != std::string_view::npos, "no strChecksum");
    return 0;
}
