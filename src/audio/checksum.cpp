#include "audio/checksum.h"

#include <algorithm>
#include <cstring>

#include "audio/md5.h"
#include "common/systemerror.h"

namespace quillon {

ChecksumStatus ComputeAudioChecksum(Mp3File& file, Mp3FrameHeader& streamHeader,
                                    const std::filesystem::path& path, AudioChecksum& out) {
    out.fill('\0');
    if (!file.Open(path)) return ChecksumStatus::CannotOpen;
    return ComputeAudioChecksumOfOpenFile(file, streamHeader, out);
}

ChecksumStatus ComputeAudioChecksumOfOpenFile(Mp3File& file, Mp3FrameHeader& streamHeader,
                                              AudioChecksum& out) {
    out.fill('\0');
    if (!FindFirstFrame(file, streamHeader)) return ChecksumStatus::NoAudioFrame;
    if (file.Seek(0, Mp3File::Origin::Begin) == NoPosition) return ChecksumStatus::ReadError;
    const std::int64_t start = file.FindMatchingSync(streamHeader.version, streamHeader.layer);
    if (start == NoPosition) return ChecksumStatus::ReadError;
    if (file.Seek(start, Mp3File::Origin::Begin) == NoPosition) return ChecksumStatus::ReadError;

    // Allocated per file so nothing of the file stays in memory once the digest is made.
    auto region = std::make_unique_for_overwrite<std::uint8_t[]>(ChecksumRegionSize);
    std::size_t got = 0;
    if (!file.Read(region.get(), ChecksumRegionSize, &got)) return ChecksumStatus::ReadError;
    // A file that ends inside the region is hashed with zero bytes in place of the rest. A read
    // that ends before the size the file had when it was opened means the file shrank under us:
    // its padded digest would be a wrong key, so it is a read error.
    const std::int64_t available = std::max<std::int64_t>(0, file.SizeAtOpen() - start);
    if (static_cast<std::int64_t>(got) < std::min<std::int64_t>(available, ChecksumRegionSize))
        return ChecksumStatus::ReadError;
    std::memset(region.get() + got, 0, ChecksumRegionSize - got);

    Md5Digest digest;
    digest.Compute(region.get(), ChecksumRegionSize);
    std::memcpy(out.data(), digest.GetHexText(), 32);
    return ChecksumStatus::Ok;
}

const char* ChecksumStatusText(ChecksumStatus status) {
    switch (status) {
        case ChecksumStatus::Ok:
            return "ok";
        case ChecksumStatus::CannotOpen:
            return "cannot be opened";
        case ChecksumStatus::NoAudioFrame:
            return "no MPEG audio frame";
        case ChecksumStatus::ReadError:
            return "read error";
    }
    return "unknown";
}

std::string ChecksumCause(const AudioChecksummer& checksummer, ChecksumStatus status) {
    switch (status) {
        case ChecksumStatus::Ok:
            return {};
        case ChecksumStatus::CannotOpen: {
            const int error = checksummer.File().LastOpenError();
            return "파일을 열 수 없습니다: " + (error == Mp3File::NotRegularFile
                                                    ? std::string("일반 파일이 아닙니다")
                                                    : SystemErrorText(error));
        }
        case ChecksumStatus::NoAudioFrame:
            return "MPEG 오디오 프레임을 찾지 못했습니다";
        case ChecksumStatus::ReadError:
            break;
    }
    return "파일을 읽지 못했습니다";
}

}  // namespace quillon
