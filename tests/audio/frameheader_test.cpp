#include "audio/frameheader.h"

#include <cctype>
#include <string>

#include <gtest/gtest.h>

#include "audio/audio_fixtures.h"
#include "audio/mp3file.h"

namespace quillon {
namespace {

bool Decode(std::uint32_t header, Mp3FrameHeader& out) {
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(header >> 24), static_cast<std::uint8_t>(header >> 16),
        static_cast<std::uint8_t>(header >> 8), static_cast<std::uint8_t>(header)};
    return DecodeFrameHeader(bytes, out);
}

TEST(DecodeFrameHeaderTest, FrameLengths) {
    struct Case {
        std::uint32_t header;
        Mp3FrameHeader expected;
    };
    const Case cases[] = {
        {0xFFFB9064, {1, 3, 44100, 128, 417}},  // MPEG-1 Layer 3
        {0xFFFB9264, {1, 3, 44100, 128, 418}},  // the same, padded
        {0xFFF38000, {2, 3, 22050, 64, 208}},   // MPEG-2 Layer 3: 576 samples
        {0xFFF58000, {2, 2, 22050, 64, 417}},   // MPEG-2 Layer 2: 1152 samples
        {0xFFFF1400, {1, 1, 48000, 32, 32}},    // MPEG-1 Layer 1
        {0xFFFF1600, {1, 1, 48000, 32, 36}},    // Layer 1 pads by one 4-byte slot
        {0xFFE38800, {3, 3, 8000, 64, 576}},    // MPEG-2.5, version bits 0b00
        {0xFFEB8800, {3, 3, 8000, 64, 576}},    // version bits 0b01 also MPEG-2.5
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.header);
        Mp3FrameHeader header;
        ASSERT_TRUE(Decode(c.header, header));
        EXPECT_EQ(header, c.expected);
    }
}

TEST(DecodeFrameHeaderTest, RejectsAndLeavesTheHeaderAlone) {
    const std::uint32_t rejected[] = {
        0xFFFB0064,  // bitrate index 0 (free format)
        0xFFFBF064,  // bitrate index 15
        0xFFFB9C64,  // sample-rate index 3
        0xFFF99064,  // layer bits 0b00
        0xFF7B9064,  // a sync bit missing
        0xFEFB9064,
    };
    for (const std::uint32_t bits : rejected) {
        SCOPED_TRACE(::testing::Message() << std::hex << bits);
        Mp3FrameHeader header{9, 9, 9, 9, 9};
        EXPECT_FALSE(Decode(bits, header));
        EXPECT_EQ(header, (Mp3FrameHeader{9, 9, 9, 9, 9}));
    }
}

// Every version, layer, bitrate index, sample-rate index and padding bit against the bitrate
// tables of ISO/IEC 11172-3 (MPEG-1) and 13818-3 (lower sampling frequencies).
TEST(DecodeFrameHeaderTest, MatchesTheStandardTables) {
    const int mpeg1[3][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    };
    const int lowLayer1[15] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256};
    const int lowLayer23[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    const int rates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    const std::uint32_t versionBits[3] = {0b11, 0b10, 0b00};

    for (int version = 1; version <= 3; ++version) {
        for (int layer = 1; layer <= 3; ++layer) {
            for (int index = 1; index <= 14; ++index) {
                for (int rate = 0; rate <= 2; ++rate) {
                    for (int padding = 0; padding <= 1; ++padding) {
                        const std::uint32_t bits = 0xFFE00000 | versionBits[version - 1] << 19 |
                                                   static_cast<std::uint32_t>(4 - layer) << 17 |
                                                   static_cast<std::uint32_t>(index) << 12 |
                                                   static_cast<std::uint32_t>(rate) << 10 |
                                                   static_cast<std::uint32_t>(padding) << 9;
                        const int kbps = version == 1 ? mpeg1[layer - 1][index]
                                         : layer == 1 ? lowLayer1[index]
                                                      : lowLayer23[index];
                        const int hz = rates[version - 1][rate];
                        const int samples = layer == 1                   ? 384
                                            : layer == 2 || version == 1 ? 1152
                                                                         : 576;
                        const int slot = layer == 1 ? 4 : 1;
                        const int length = (samples / 8 * kbps * 1000 / hz / slot + padding) * slot;
                        Mp3FrameHeader header;
                        ASSERT_TRUE(Decode(bits, header)) << std::hex << bits;
                        EXPECT_EQ(header, (Mp3FrameHeader{version, layer, hz, kbps, length}))
                            << std::hex << bits;
                    }
                }
            }
        }
    }
}

struct ScanCase {
    const char* fixture;
    Mp3FrameHeader expected;  // all zero: the scan fails
};

void PrintTo(const ScanCase& c, std::ostream* os) {
    *os << c.fixture;
}

class FindFirstFrameTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(FindFirstFrameTest, ConfirmsTheFirstFrameOrFails) {
    const ScanCase& c = GetParam();
    Mp3File file;
    ASSERT_TRUE(file.Open(fixtures::AudioFixture(c.fixture)));
    Mp3FrameHeader stream{7, 7, 7, 7, 7};  // left over from an earlier file
    const bool found = FindFirstFrame(file, stream);
    EXPECT_EQ(found, c.expected != Mp3FrameHeader{});
    EXPECT_EQ(stream, c.expected);
    if (found) {
        EXPECT_EQ(file.Seek(0, Mp3File::Origin::Current), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, FindFirstFrameTest,
    ::testing::Values(
        ScanCase{"mpeg1-layer3-cbr128.mp3", {1, 3, 44100, 128, 417}},
        ScanCase{"mpeg1-layer3-cbr256-long.mp3", {1, 3, 44100, 256, 835}},
        ScanCase{"mpeg1-layer3-vbr.mp3", {1, 3, 44100, 128, 417}},
        ScanCase{"mpeg2-layer3-22khz.mp3", {2, 3, 22050, 64, 208}},
        ScanCase{"mpeg25-layer3-8khz.mp3", {3, 3, 8000, 16, 144}},
        ScanCase{"mpeg1-layer2.mp3", {1, 2, 44100, 128, 417}},
        ScanCase{"id3v2-sync-pattern-in-tag-mpeg1-layer3.mp3", {1, 3, 44100, 128, 417}},
        ScanCase{"id3v2-other-version-pattern-mpeg2-layer3.mp3", {2, 3, 22050, 64, 208}},
        ScanCase{"sync-at-511.mp3", {1, 3, 44100, 128, 417}},
        ScanCase{"bitrate-differs-between-first-frames.mp3", {1, 3, 44100, 128, 417}},
        ScanCase{"channel-mode-differs-between-first-frames.mp3", {1, 3, 44100, 128, 417}},
        ScanCase{"samplerate-differs-between-first-frames.mp3", {1, 3, 48000, 128, 384}},
        ScanCase{"two-agreeing-frames-only.mp3", {1, 3, 44100, 128, 417}},
        ScanCase{"free-format-only.mp3", {}}, ScanCase{"second-position-past-end.mp3", {}},
        ScanCase{"three-bytes.mp3", {}}, ScanCase{"empty.mp3", {}},
        ScanCase{"text-renamed.mp3", {}}),
    [](const ::testing::TestParamInfo<ScanCase>& param) {
        std::string name = param.param.fixture;
        name.resize(name.size() - 4);  // ".mp3"
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

}  // namespace
}  // namespace quillon
