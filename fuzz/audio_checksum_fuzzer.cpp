// Frame scan and audio checksum over arbitrary file contents, checked against a plain in-memory
// reading of the same rules.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/checksum.h"
#include "audio/frameheader.h"
#include "audio/md5.h"
#include "audio/mp3file.h"
#include "fuzz_check.h"
#include "scratch_file.h"

namespace {

using namespace quillon;
using quillon::fuzzing::ScratchFile;

// The first frame the scan must find: the first sync candidate whose header decodes and is
// confirmed by an agreeing header one frame length later. A confirming header cut off by the
// end of the data ends the scan.
bool ModelFirstFrame(const std::uint8_t* data, std::size_t size, Mp3FrameHeader& found) {
    for (std::size_t p = 0; p + 4 <= size; ++p) {
        if (!IsSyncCandidate(data + p)) continue;
        Mp3FrameHeader a;
        if (!DecodeFrameHeader(data + p, a)) continue;
        const std::size_t q = p + static_cast<std::size_t>(a.frameLength);
        if (q + 4 > size) return false;
        Mp3FrameHeader b;
        if (DecodeFrameHeader(data + q, b) && a.version == b.version && a.layer == b.layer &&
            a.sampleRate == b.sampleRate) {
            found = a;
            return true;
        }
    }
    return false;
}

bool IsLowerHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

void CheckHeaderDecoding(const std::uint8_t* data, std::size_t size) {
    std::uint8_t bytes[4] = {0, 0, 0, 0};
    std::memcpy(bytes, data, size < 4 ? size : 4);
    const Mp3FrameHeader untouched{-1, -1, -1, -1, -1};
    Mp3FrameHeader header = untouched;
    const bool decoded = DecodeFrameHeader(bytes, header);
    // Free-format headers (bitrate index 0) are the only sync candidates it turns down.
    QUILLON_FUZZ_CHECK(decoded == (IsSyncCandidate(bytes) && (bytes[2] >> 4) != 0),
                       "decoding disagrees with the sync candidate test");
    if (!decoded) {
        QUILLON_FUZZ_CHECK(header == untouched, "a rejected header changed its output");
        return;
    }
    QUILLON_FUZZ_CHECK(header.version == SyncVersion(bytes[1]), "version");
    QUILLON_FUZZ_CHECK(header.layer == SyncLayer(bytes[1]), "layer");
    QUILLON_FUZZ_CHECK(header.bitrate >= 8 && header.bitrate <= 448, "bitrate");
    QUILLON_FUZZ_CHECK(header.sampleRate >= 8000 && header.sampleRate <= 48000, "sample rate");
    // From MPEG-2 Layer III at 8 kbit/s and 24 kHz (24 bytes) to MPEG-2.5 Layer II at 160 kbit/s
    // and 8 kHz with padding (2,881 bytes).
    QUILLON_FUZZ_CHECK(header.frameLength >= 24 && header.frameLength <= 2881, "frame length");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ScratchFile scratch;
    CheckHeaderDecoding(data, size);
    scratch.Fill(data, size);

    AudioChecksummer checksummer;
    AudioChecksum out;
    out.fill('x');
    const ChecksumStatus status = checksummer.Compute(scratch.Path(), out);

    Mp3FrameHeader expected;
    const bool hasFrame = ModelFirstFrame(data, size, expected);
    if (!hasFrame) {
        QUILLON_FUZZ_CHECK(status == ChecksumStatus::NoAudioFrame, "status without a frame");
        for (const char c : out) QUILLON_FUZZ_CHECK(c == '\0', "output of a failed checksum");
        return 0;
    }
    QUILLON_FUZZ_CHECK(status == ChecksumStatus::Ok, "status with a frame");
    QUILLON_FUZZ_CHECK(checksummer.StreamHeader() == expected, "stream header");
    for (std::size_t i = 0; i < 32; ++i) QUILLON_FUZZ_CHECK(IsLowerHex(out[i]), "hex digit");
    QUILLON_FUZZ_CHECK(out[32] == '\0', "terminator");

    // The region starts at the first candidate of the stream's version and layer, which can lie
    // before the confirmed frame.
    std::size_t start = 0;
    while (start + 4 <= size &&
           !(IsSyncCandidate(data + start) && SyncVersion(data[start + 1]) == expected.version &&
             SyncLayer(data[start + 1]) == expected.layer)) {
        ++start;
    }
    QUILLON_FUZZ_CHECK(start + 4 <= size, "the confirmed frame is a candidate of its own kind");
    static std::vector<std::uint8_t> region(ChecksumRegionSize);
    const std::size_t taken = std::min(size - start, ChecksumRegionSize);
    std::memcpy(region.data(), data + start, taken);
    std::memset(region.data() + taken, 0, ChecksumRegionSize - taken);
    Md5Digest digest;
    digest.Compute(region.data(), region.size());
    QUILLON_FUZZ_CHECK(std::memcmp(digest.GetHexText(), out.data(), 32) == 0, "checksum value");
    return 0;
}
