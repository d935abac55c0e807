#pragma once

#include <string>

namespace quillon {

// What the lyrics service tells about one song. `lyric` holds time-tagged lines separated by
// single line feeds.
struct LyricInfo {
    std::u16string title;
    std::u16string artist;
    std::u16string album;
    std::u16string lyric;
};

}  // namespace quillon
