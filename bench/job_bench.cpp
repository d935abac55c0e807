// A folder run over 1,000 MP3 files against quillon-lyricsd on loopback, beside its parts
// measured in the same run: the checksums alone and one GetLyric5 round trip alone.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "audio/checksum.h"
#include "pipeline/job.h"
#include "pipeline/textwriter.h"
#include "service/lyricquery.h"
#include "support/process.h"

namespace fs = std::filesystem;
using namespace quillon;

namespace {

constexpr int kFileCount = 1000;

// MPEG-1 Layer 3, 128 kbit/s, 44.1 kHz frames with noise payload, about 400 KiB.
std::string MakeSong(std::uint32_t seed) {
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

void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A host that counts the messages and keeps the rows in memory.
class BenchHost final : public JobHost {
public:
    LyricView& Lyrics() override { return view; }
    void SetInfoFields(const std::u16string&, const std::u16string&,
                       const std::u16string&) override {}
    void JobMessage(const JobEvent& event, bool) override {
        ++messages[static_cast<std::size_t>(event.kind)];
    }
    int EncodingSetting() override { return EncodingUtf8; }

    MemoryLyricView view;
    std::array<int, 8> messages{};
};

struct Setup {
    fs::path dir;
    fs::path folder;
    std::optional<quillon::testing::Process> service;
    std::string host;
    std::string checksum;

    Setup() {
        char templ[] = "/tmp/quillon-jobbench-XXXXXX";
        dir = ::mkdtemp(templ);
        folder = dir / "music";
        fs::create_directories(dir / "catalog");
        fs::create_directories(folder);
        const std::string song = MakeSong(7);
        std::string lrc = "[ti:벤치마크]\n[ar:가수]\n[al:앨범]\n[00:00.00]벤치마크\n";
        for (int i = 1; i < 60; ++i) {
            const std::string time = "[0" + std::to_string(i / 60) + ":" +
                                     (i % 60 < 10 ? "0" : "") + std::to_string(i % 60) + ".00]";
            lrc += time + "가사 한 줄 " + std::to_string(i) + "\n" + time + "line " +
                   std::to_string(i) + "\n";
        }
        Write(dir / "catalog" / "song.lrc", lrc);
        Write(dir / "catalog" / "song.mp3", song);
        PopulateFolder(folder);

        service.emplace(
            std::vector<std::string>{QUILLON_LYRICSD, "--catalog", (dir / "catalog").string()},
            dir / "lyricsd.log");
        const auto line = service->ReadLine();
        if (!line || !line->starts_with("listening on ")) std::abort();
        host = line->substr(13);

        AudioChecksummer checksummer;
        AudioChecksum sum;
        checksummer.Compute(dir / "catalog" / "song.mp3", sum);
        checksum.assign(sum.data(), 32);
    }
    // A folder of kFileCount songs, hard links to the catalogue's one: cheap to make anew.
    void PopulateFolder(const fs::path& target) const {
        fs::create_directories(target);
        for (int i = 0; i < kFileCount; ++i)
            fs::create_hard_link(dir / "catalog" / "song.mp3",
                                 target / ("song-" + std::to_string(i) + ".mp3"));
    }

    ~Setup() {
        service.reset();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

Setup& TheSetup() {
    static Setup setup;
    return setup;
}

bool RunFolder(const fs::path& folder, AudioChecksummer& checksummer, LyricQuery& query) {
    BenchHost host;
    JobState job;
    job.mode = DownloadMode::Folder;
    job.path = folder;
    job.isRunning = 1;
    return RunDownloadJob(job, host, checksummer, query) == 1 &&
           host.messages[static_cast<std::size_t>(JobEventKind::LrcSaved)] == kFileCount;
}

// The usual case: a folder whose songs have no LRC files yet.
void BM_FolderRunFresh(benchmark::State& state) {
    auto& setup = TheSetup();
    AudioChecksummer checksummer;
    LyricQuery query(setup.host);
    static int round = 0;  // across repetitions too
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path folder = setup.dir / ("fresh-" + std::to_string(round++));
        setup.PopulateFolder(folder);
        state.ResumeTiming();
        if (!RunFolder(folder, checksummer, query)) state.SkipWithError("not every file saved");
    }
    state.SetItemsProcessed(state.iterations() * kFileCount);
}

// Running again over the same folder: every LRC file is replaced.
void BM_FolderRunReplacing(benchmark::State& state) {
    auto& setup = TheSetup();
    AudioChecksummer checksummer;
    LyricQuery query(setup.host);
    for (auto _ : state) {
        if (!RunFolder(setup.folder, checksummer, query))
            state.SkipWithError("not every file saved");
    }
    state.SetItemsProcessed(state.iterations() * kFileCount);
}

void BM_ChecksumsAlone(benchmark::State& state) {
    auto& setup = TheSetup();
    AudioChecksummer checksummer;
    AudioChecksum sum;
    for (auto _ : state) {
        for (int i = 0; i < kFileCount; ++i)
            checksummer.Compute(setup.folder / ("song-" + std::to_string(i) + ".mp3"), sum);
    }
    state.SetItemsProcessed(state.iterations() * kFileCount);
}

void BM_RoundTripAlone(benchmark::State& state) {
    auto& setup = TheSetup();
    LyricQuery query(setup.host);
    const std::string request = LyricQuery::BuildRequest(setup.checksum);
    for (auto _ : state) {
        LyricInfo info;
        if (!query.Execute(request, info) || info.lyric.empty())
            state.SkipWithError("query failed");
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_FolderRunFresh)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FolderRunReplacing)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ChecksumsAlone)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RoundTripAlone)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
