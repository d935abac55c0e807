// Audio checksum throughput over a folder of MP3 files with a warm page cache, measured beside
// its floor: one open, one read of the same 163,840-byte region and the MD5 over it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "audio/checksum.h"
#include "audio/md5.h"

namespace fs = std::filesystem;
using namespace quillon;

namespace {

constexpr int kFileCount = 1000;

// MPEG-1 Layer 3, 128 kbit/s, 44.1 kHz frames with noise payload: 417 bytes, 418 when padded.
std::vector<char> MakeStream(std::mt19937& rng, std::size_t bytes) {
    std::vector<char> out;
    int frame = 0;
    while (out.size() < bytes) {
        const bool padded = frame++ % 3 == 2;
        const unsigned char header[4] = {0xFF, 0xFB,
                                         static_cast<unsigned char>(padded ? 0x92 : 0x90), 0x64};
        out.insert(out.end(), header, header + 4);
        for (int i = 4; i < (padded ? 418 : 417); ++i)
            out.push_back(static_cast<char>(rng() & 0x7F));  // keep the payload free of syncs
    }
    return out;
}

// An ID3v2.3 tag of `size` bytes in all, filled with noise as cover art would be.
std::vector<char> MakeTag(std::mt19937& rng, std::size_t size) {
    std::vector<char> tag(size);
    const std::size_t body = size - 10;
    const char head[10] = {'I',
                           'D',
                           '3',
                           3,
                           0,
                           0,
                           static_cast<char>((body >> 21) & 0x7F),
                           static_cast<char>((body >> 14) & 0x7F),
                           static_cast<char>((body >> 7) & 0x7F),
                           static_cast<char>(body & 0x7F)};
    std::memcpy(tag.data(), head, 10);
    for (std::size_t i = 10; i < size; ++i) tag[i] = static_cast<char>(rng());
    return tag;
}

void WriteFile(const fs::path& path, const std::vector<char>& a, const std::vector<char>& b = {}) {
    std::ofstream out(path, std::ios::binary);
    out.write(a.data(), static_cast<std::streamsize>(a.size()));
    out.write(b.data(), static_cast<std::streamsize>(b.size()));
}

struct Corpus {
    fs::path dir;
    std::vector<fs::path> files;
    fs::path tagged;  // one file behind a 1 MiB tag

    Corpus() {
        char templ[] = "/tmp/quillon-bench-XXXXXX";
        dir = ::mkdtemp(templ);
        std::mt19937 rng(1234);
        const auto stream = MakeStream(rng, 4 * 1024 * 1024 / 10);  // ~400 KiB, a short song
        for (int i = 0; i < kFileCount; ++i) {
            files.push_back(dir / ("song-" + std::to_string(i) + ".mp3"));
            WriteFile(files.back(), stream);
        }
        tagged = dir / "tagged.mp3";
        WriteFile(tagged, MakeTag(rng, 1024 * 1024), stream);
    }
    ~Corpus() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

Corpus& TheCorpus() {
    static Corpus corpus;
    return corpus;
}

// What no implementation can beat: open, read the region once, digest, close.
bool FloorDigest(const fs::path& path, off_t start, std::vector<std::uint8_t>& buffer) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), start);
    ::close(fd);
    if (n < 0) return false;
    std::memset(buffer.data() + n, 0, buffer.size() - static_cast<std::size_t>(n));
    Md5Digest digest;
    digest.Compute(buffer.data(), buffer.size());
    benchmark::DoNotOptimize(digest.GetHexText());
    return true;
}

void BM_ChecksumFolder(benchmark::State& state) {
    auto& corpus = TheCorpus();
    AudioChecksummer job;
    AudioChecksum sum;
    for (auto _ : state) {
        for (const auto& file : corpus.files)
            if (job.Compute(file, sum) != ChecksumStatus::Ok)
                state.SkipWithError("checksum failed");
    }
    state.SetItemsProcessed(state.iterations() * kFileCount);
}

void BM_FloorFolder(benchmark::State& state) {
    auto& corpus = TheCorpus();
    std::vector<std::uint8_t> buffer(ChecksumRegionSize);
    for (auto _ : state) {
        for (const auto& file : corpus.files)
            if (!FloorDigest(file, 0, buffer)) state.SkipWithError("read failed");
    }
    state.SetItemsProcessed(state.iterations() * kFileCount);
}

void BM_ChecksumBehind1MiBTag(benchmark::State& state) {
    auto& corpus = TheCorpus();
    AudioChecksummer job;
    AudioChecksum sum;
    for (auto _ : state) {
        if (job.Compute(corpus.tagged, sum) != ChecksumStatus::Ok)
            state.SkipWithError("checksum failed");
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_FloorBehind1MiBTag(benchmark::State& state) {
    auto& corpus = TheCorpus();
    std::vector<std::uint8_t> buffer(ChecksumRegionSize);
    for (auto _ : state) {
        if (!FloorDigest(corpus.tagged, 1024 * 1024, buffer)) state.SkipWithError("read failed");
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_ChecksumFolder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorFolder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChecksumBehind1MiBTag)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FloorBehind1MiBTag)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
