#include "audio/mp3file.h"

#include <cstring>

namespace quillon {

Mp3File::~Mp3File() {
    Close();
}

template <typename Accept>
std::int64_t Mp3File::SearchSync(Accept accept) {
    std::uint8_t window[SyncWindowSize];
    std::size_t filled = 0;
    if (!Read(window, SyncWindowSize, &filled) || filled <= 3) return NoPosition;
    for (;;) {
        for (std::size_t i = 0; i + 4 <= filled; ++i) {
            if (window[i] == 0xFF && IsSyncCandidate(window + i) && accept(window[i + 1])) {
                // The file stands just behind the window's data.
                const std::int64_t end = Seek(0, Origin::Current);
                if (end == NoPosition) return NoPosition;
                return Seek(end - static_cast<std::int64_t>(filled - i), Origin::Begin);
            }
        }
        // Carry the last three bytes so a candidate straddling two windows is seen whole.
        std::memmove(window, window + filled - 3, 3);
        std::size_t more = 0;
        if (!Read(window + 3, SyncWindowSize - 3, &more)) return NoPosition;
        filled = 3 + more;
        if (filled <= 3) return NoPosition;
    }
}

std::int64_t Mp3File::FindSync() {
    return SearchSync([](std::uint8_t) { return true; });
}

std::int64_t Mp3File::FindMatchingSync(int version, int layer) {
    return SearchSync(
        [=](std::uint8_t b1) { return SyncVersion(b1) == version && SyncLayer(b1) == layer; });
}

}  // namespace quillon
