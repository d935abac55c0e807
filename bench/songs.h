#pragma once

// The songs the benchmarks run over.

#include <cstdint>
#include <random>
#include <string>

namespace quillon::bench {

// MPEG-1 Layer 3, 128 kbit/s, 44.1 kHz frames with noise payload, about 400 KiB.
inline std::string MakeSong(std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::string out;
    for (int frame = 0; out.size() < 400 * 1024; ++frame) {
        const bool padded = frame % 3 == 2;
        out += std::string("\xFF\xFB", 2);
        out += static_cast<char>(padded ? 0x92 : 0x90);
        out += '\x64';
        for (int i = 4; i < (padded ? 418 : 417); ++i) out += static_cast<char>(rng() & 0x7F);
    }
    return out;
}

// A small ID3v2.3 tag, as a tagger leaves one: title, artist and 256 bytes of padding.
inline std::string MakeSmallTag() {
    const auto frame = [](const std::string& id, const std::string& text) {
        const std::string body = '\0' + text;  // ISO-8859-1
        return id + std::string{'\0', '\0', '\0', static_cast<char>(body.size()), '\0', '\0'} +
               body;
    };
    const std::string frames = frame("TIT2", "Bench song") + frame("TPE1", "Bench singer");
    const std::size_t size = frames.size() + 256;
    return std::string("ID3\x03\0\0", 6) + static_cast<char>(size >> 21 & 0x7F) +
           static_cast<char>(size >> 14 & 0x7F) + static_cast<char>(size >> 7 & 0x7F) +
           static_cast<char>(size & 0x7F) + frames + std::string(256, '\0');
}

// A short MPEG-1 Layer 3 stream of `frames` frames with noise payload: `seed` makes its audio,
// and so its checksum, its own.
inline std::string MakeShortSong(std::uint32_t seed, int frames) {
    std::mt19937 rng(seed);
    std::string out;
    for (int frame = 0; frame < frames; ++frame) {
        out += std::string("\xFF\xFB\x90\x64", 4);
        for (int i = 4; i < 417; ++i) out += static_cast<char>(rng() & 0x7F);
    }
    return out;
}

// A small ID3v2.4 tag with the title and artist in UTF-8 and 64 bytes of padding.
inline std::string MakeTextTag(const std::string& title, const std::string& artist) {
    const auto syncsafe = [](std::size_t size) {
        return std::string{static_cast<char>(size >> 21 & 0x7F),
                           static_cast<char>(size >> 14 & 0x7F),
                           static_cast<char>(size >> 7 & 0x7F), static_cast<char>(size & 0x7F)};
    };
    const auto frame = [&](const std::string& id, const std::string& text) {
        const std::string body = '\x03' + text;  // UTF-8
        return id + syncsafe(body.size()) + std::string(2, '\0') + body;
    };
    const std::string frames = frame("TIT2", title) + frame("TPE1", artist);
    return std::string("ID3\x04\0\0", 6) + syncsafe(frames.size() + 64) + frames +
           std::string(64, '\0');
}

// An LRC file of 120 lines, two at each of 60 times.
inline std::string MakeLrc() {
    std::string lrc = "[ti:벤치마크]\n[ar:가수]\n[al:앨범]\n[00:00.00]벤치마크\n";
    for (int i = 1; i < 60; ++i) {
        const std::string time = "[0" + std::to_string(i / 60) + ":" + (i % 60 < 10 ? "0" : "") +
                                 std::to_string(i % 60) + ".00]";
        lrc += time + "가사 한 줄 " + std::to_string(i) + "\n" + time + "line " +
               std::to_string(i) + "\n";
    }
    return lrc;
}

}  // namespace quillon::bench
