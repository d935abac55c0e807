#pragma once

// Songs for tests that need many distinct ones, and the key a lyrics service knows each by.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "audio/checksum.h"

namespace quillon::testing {

// A short valid MPEG-1 Layer 3 stream; `seed` makes each file's audio, and so its key, unique.
inline std::string MakeMp3(int seed) {
    std::string out;
    for (int frame = 0; frame < 8; ++frame) {
        out += std::string("\xFF\xFB\x90\x64", 4);
        for (int i = 4; i < 417; ++i) out += static_cast<char>((seed * 31 + frame * 7 + i) & 0x7F);
    }
    return out;
}

inline std::string ChecksumOf(const std::filesystem::path& path) {
    AudioChecksummer job;
    AudioChecksum sum;
    EXPECT_EQ(job.Compute(path, sum), ChecksumStatus::Ok) << path;
    return std::string(sum.data(), 32);
}

}  // namespace quillon::testing
