#pragma once

#include <cstdint>

namespace quillon {

class Mp3File;

// One decoded MPEG audio frame header.
struct Mp3FrameHeader {
    int version = 0;      // 1 MPEG-1, 2 MPEG-2, 3 MPEG-2.5
    int layer = 0;        // 1, 2 or 3
    int sampleRate = 0;   // Hz
    int bitrate = 0;      // kbit/s
    int frameLength = 0;  // bytes from this header to the next frame's first byte

    friend bool operator==(const Mp3FrameHeader&, const Mp3FrameHeader&) = default;
};

// Decodes four header bytes. On rejection (bad sync, layer bits zero, bitrate index 0 or 15,
// sample-rate index 3) returns false and leaves `header` as it was.
bool DecodeFrameHeader(const std::uint8_t bytes[4], Mp3FrameHeader& header);

// Finds the first frame whose header is confirmed by an agreeing header (same version, layer
// and sample rate) exactly one frame length later. `streamHeader` is zeroed first and filled on
// success, when the file is also left at offset 0.
bool FindFirstFrame(Mp3File& file, Mp3FrameHeader& streamHeader);

}  // namespace quillon
