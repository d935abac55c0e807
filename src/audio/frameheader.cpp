#include "audio/frameheader.h"

#include <array>

#include "audio/mp3file.h"

namespace quillon {
namespace {

// kbit/s by bitrate index; row (version - 1) * 3 + (layer - 1). Index 0 (free format) and 15
// hold 0 so that such headers are rejected. The MPEG-2 and MPEG-2.5 rows share the values of
// the lower sampling frequencies: one set for Layer I, one for Layers II and III.
constexpr std::array<std::array<int, 16>, 9> kBitrates = {{
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},  // MPEG-1 L1
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},     // MPEG-1 L2
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},      // MPEG-1 L3
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},     // MPEG-2 L1
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},          // MPEG-2 L2
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},          // MPEG-2 L3
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},     // MPEG-2.5 L1
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},          // MPEG-2.5 L2
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},          // MPEG-2.5 L3
}};

// Hz by version (row) and sample-rate index 0..2.
constexpr std::array<std::array<int, 3>, 3> kSampleRates = {{
    {44100, 48000, 32000},
    {22050, 24000, 16000},
    {11025, 12000, 8000},
}};

}  // namespace

bool DecodeFrameHeader(const std::uint8_t bytes[4], Mp3FrameHeader& header) {
    const std::uint32_t h = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                            (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
    if ((h >> 21) != 0x7FF) return false;
    const unsigned layerBits = (h >> 17) & 0x3;
    const unsigned bitrateIndex = (h >> 12) & 0xF;
    const unsigned rateIndex = (h >> 10) & 0x3;
    if (layerBits == 0 || bitrateIndex == 15 || rateIndex == 3) return false;

    const int version = (h & (1u << 20)) ? ((h & (1u << 19)) ? 1 : 2) : 3;
    const int layer = 4 - static_cast<int>(layerBits);
    const int padding = static_cast<int>((h >> 9) & 0x1);
    const int bitrate =
        kBitrates[static_cast<std::size_t>((version - 1) * 3 + (layer - 1))][bitrateIndex];
    if (bitrate == 0) return false;
    const int sampleRate = kSampleRates[static_cast<std::size_t>(version - 1)][rateIndex];

    int frameLength;
    if (layer == 1)
        frameLength = (12000 * bitrate / sampleRate + padding) * 4;
    else if (layer == 3 && version != 1)
        frameLength = 72000 * bitrate / sampleRate + padding;
    else
        frameLength = 144000 * bitrate / sampleRate + padding;

    header = Mp3FrameHeader{version, layer, sampleRate, bitrate, frameLength};
    return true;
}

bool FindFirstFrame(Mp3File& file, Mp3FrameHeader& streamHeader) {
    streamHeader = Mp3FrameHeader{};
    if (file.Seek(0, Mp3File::Origin::Begin) == NoPosition) return false;
    std::int64_t p = file.FindSync();
    while (p != NoPosition) {
        std::uint8_t bytes[4];
        std::size_t got = 0;
        if (!file.Read(bytes, 4, &got) || got < 4) return false;
        Mp3FrameHeader a;
        if (DecodeFrameHeader(bytes, a)) {
            if (file.Seek(p + a.frameLength, Mp3File::Origin::Begin) == NoPosition) return false;
            // A short read at the second position ends the scan: no later candidate is tried.
            if (!file.Read(bytes, 4, &got) || got < 4) return false;
            Mp3FrameHeader b;
            if (DecodeFrameHeader(bytes, b) && a.version == b.version && a.layer == b.layer &&
                a.sampleRate == b.sampleRate) {
                if (file.Seek(0, Mp3File::Origin::Begin) == NoPosition) return false;
                streamHeader = a;
                return true;
            }
        }
        if (file.Seek(p + 1, Mp3File::Origin::Begin) == NoPosition) return false;
        p = file.FindSync();
    }
    return false;
}

}  // namespace quillon
