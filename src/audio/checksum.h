#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

#include "audio/frameheader.h"
#include "audio/mp3file.h"

namespace quillon {

// Every checksum covers exactly this many bytes, zero-padded where the file ends early.
inline constexpr std::size_t ChecksumRegionSize = 163840;

// 32 lower-case hex digits and a terminating zero.
using AudioChecksum = std::array<char, 33>;

enum class ChecksumStatus {
    Ok,
    CannotOpen,    // missing, access denied, or not a regular file (see Mp3File::LastOpenError)
    NoAudioFrame,  // no two agreeing consecutive frame headers
    ReadError,     // a seek or read failed, or the file shrank while it was read
};

// Computes the audio checksum of one file: the MD5 digest of ChecksumRegionSize bytes from the
// first frame-sync candidate that carries the stream's version and layer. Uses the caller's
// reader and stream header, which stay with the caller for the next file.
ChecksumStatus ComputeAudioChecksum(Mp3File& file, Mp3FrameHeader& streamHeader,
                                    const std::filesystem::path& path, AudioChecksum& out);

// The same over the file that `file` already holds.
ChecksumStatus ComputeAudioChecksumOfOpenFile(Mp3File& file, Mp3FrameHeader& streamHeader,
                                              AudioChecksum& out);

// The reader and stream header that a job reuses for every file it checksums.
class AudioChecksummer {
public:
    // The file is closed again before this returns: a song the job has passed stays free for
    // the user to rename or delete (Windows refuses both while a handle is open).
    ChecksumStatus Compute(const std::filesystem::path& path, AudioChecksum& out) {
        const ChecksumStatus status = ComputeAudioChecksum(file, streamHeader, path, out);
        file.Close();
        return status;
    }
    const Mp3File& File() const { return file; }
    const Mp3FrameHeader& StreamHeader() const { return streamHeader; }

private:
    Mp3File file;
    Mp3FrameHeader streamHeader;
};

// Short English name of a status, for the lyrics service's log.
const char* ChecksumStatusText(ChecksumStatus status);

// Why a file has no checksum, for a person: a Korean sentence, with the system's reason after
// it for a file that could not be opened ("파일을 열 수 없습니다: Permission denied").
std::string ChecksumCause(const AudioChecksummer& checksummer, ChecksumStatus status);

}  // namespace quillon
