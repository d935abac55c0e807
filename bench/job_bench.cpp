// A folder run over 1,000 MP3 files (400 KiB, a small tag) against quillon-lyricsd on loopback,
// beside its parts measured in the same run: the checksums alone and one GetLyric5 round trip
// alone. The runs go one song at a time and with 4 and 8 in hand, against a service that answers
// at once and one that holds every answer back 30 ms, as a distant one would. With the lyric
// stored in every song's tag as well, beside the floor of any safe rewrite of a song: a copy
// beside it, synced and renamed over it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "audio/checksum.h"
#include "pipeline/run.h"
#include "pipeline/textwriter.h"
#include "service/lyricquery.h"
#include "songs.h"
#include "support/process.h"
#include "tagging/lyrictag.h"

namespace fs = std::filesystem;
using namespace quillon;

namespace {

constexpr int kFileCount = 1000;

void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A listener that counts the messages and keeps the rows in memory.
class BenchListener final : public RunListener {
public:
    void Logged(const JobEvent& event) override {
        ++messages[static_cast<std::size_t>(event.kind)];
    }
    void SongShown(const ShownSong& song) override { view.AppendRows(song.rows); }

    MemoryLyricView view;
    std::array<int, 16> messages{};
};

struct Setup {
    fs::path dir;
    fs::path folder;
    std::optional<quillon::testing::Process> service;
    std::optional<quillon::testing::Process> distantService;
    std::string host;
    std::string distantHost;  // answers after 30 ms
    std::string checksum;

    Setup() {
        // In TMPDIR when it is set: the file system decides much of a run's time.
        const char* tmp = std::getenv("TMPDIR");
        std::string templ =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quillon-jobbench-XXXXXX";
        dir = ::mkdtemp(templ.data());
        folder = dir / "music";
        fs::create_directories(dir / "catalog");
        fs::create_directories(folder);
        const std::string song = quillon::bench::MakeSmallTag() + quillon::bench::MakeSong(7);
        Write(dir / "catalog" / "song.lrc", quillon::bench::MakeLrc());
        Write(dir / "catalog" / "song.mp3", song);
        PopulateFolder(folder);

        host = StartService(service, "0");
        distantHost = StartService(distantService, "30");

        AudioChecksummer checksummer;
        AudioChecksum sum;
        checksummer.Compute(dir / "catalog" / "song.mp3", sum);
        checksum.assign(sum.data(), 32);
    }
    std::string StartService(std::optional<quillon::testing::Process>& process,
                             const std::string& latency) {
        process.emplace(
            std::vector<std::string>{
                QUILLON_LYRICSD, "--catalog", (dir / "catalog").string(), "--database",
                (dir / ("lyricsd-" + latency + ".sqlite")).string(), "--latency", latency},
            dir / ("lyricsd-" + latency + ".log"));
        const auto line = process->ReadLine();
        if (!line || !line->starts_with("listening on ")) std::abort();
        return line->substr(13);
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
        distantService.reset();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

Setup& TheSetup() {
    static Setup setup;
    return setup;
}

// A folder run with `concurrency` songs in hand against the service at `host`.
bool RunFolder(const fs::path& folder, const std::string& host, int concurrency,
               bool embed = false) {
    BenchListener jobHost;
    RunSpec job;
    job.mode = DownloadMode::Folder;
    job.path = folder;
    job.options.concurrency = concurrency;
    job.plan.writeFile = true;
    job.plan.encoding = EncodingUtf8;
    if (embed)
        job.plan.embed = [](const fs::path& song, std::u16string_view lrcText,
                            std::string_view checksum) {
            return EmbedLyrics(song, lrcText, checksum);
        };
    const std::atomic<int> running{1};
    const SourceMaker makeSource = [&host] { return std::make_unique<ChecksumSource>(host); };
    return RunJob(job, jobHost, running, makeSource).result == 1 &&
           jobHost.messages[static_cast<std::size_t>(JobEventKind::LrcSaved)] == kFileCount &&
           jobHost.messages[static_cast<std::size_t>(JobEventKind::TagSaveFailed)] == 0;
}

const std::string& HostFor(int latency) {
    return latency == 0 ? TheSetup().host : TheSetup().distantHost;
}

// The usual case: a folder whose songs have no LRC files yet. Arguments: the service's
// latency in ms, the songs in hand.
void BM_FolderRunFresh(benchmark::State& state) {
    auto& setup = TheSetup();
    static int round = 0;  // across repetitions too
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path folder = setup.dir / ("fresh-" + std::to_string(round++));
        setup.PopulateFolder(folder);
        state.ResumeTiming();
        if (!RunFolder(folder, HostFor(static_cast<int>(state.range(0))),
                       static_cast<int>(state.range(1))))
            state.SkipWithError("not every file saved");
    }
    state.SetItemsProcessed(state.iterations() * kFileCount);
}

// Running again over the same folder: every LRC file is replaced.
void BM_FolderRunReplacing(benchmark::State& state) {
    auto& setup = TheSetup();
    for (auto _ : state) {
        if (!RunFolder(setup.folder, HostFor(static_cast<int>(state.range(0))),
                       static_cast<int>(state.range(1))))
            state.SkipWithError("not every file saved");
    }
    state.SetItemsProcessed(state.iterations() * kFileCount);
}

// The floor of rewriting every song of `folder` safely: a copy beside it, fsync, rename over it.
bool CopySyncRename(const fs::path& folder) {
    for (int i = 0; i < kFileCount; ++i) {
        const fs::path song = folder / ("song-" + std::to_string(i) + ".mp3");
        const fs::path copy = folder / (".copy-" + std::to_string(i));
        std::error_code ec;
        fs::copy_file(song, copy, ec);
        const int fd = ::open(copy.c_str(), O_RDONLY);
        const bool synced = fd >= 0 && ::fsync(fd) == 0;
        if (fd >= 0) ::close(fd);
        fs::rename(copy, song, ec);
        if (!synced || ec) return false;
    }
    return true;
}

// The lyric stored in the tag of every song of `folder`, without a run around it.
bool EmbedAlone(const fs::path& folder, const std::string& checksum) {
    const std::u16string lrc = u"[ti:벤치마크]\r\n[00:01.00]가사 한 줄\r\n[00:02.00]line\r\n";
    for (int i = 0; i < kFileCount; ++i)
        if (!EmbedLyrics(folder / ("song-" + std::to_string(i) + ".mp3"), lrc, checksum))
            return false;
    return true;
}

// The lyric stored in every song's tag as well, against the same run without it and against the
// floor, each on a fresh folder, all three in every round so that the machine's drift falls on
// them alike. The counters are medians over the rounds; extra_per_floor is what
// embedding adds to a run, per song, over what the floor takes. Argument: the songs in hand.
void BM_EmbeddingAgainstFloor(benchmark::State& state) {
    auto& setup = TheSetup();
    static int round = 0;
    int turn = 0;
    const int concurrency = static_cast<int>(state.range(0));
    std::vector<double> plain, embedding, floor, alone, ratio;
    const auto timed = [](const auto& run) {
        const auto start = std::chrono::steady_clock::now();
        const bool ok = run();
        const std::chrono::duration<double, std::milli> spent =
            std::chrono::steady_clock::now() - start;
        return ok ? spent.count() : -1.0;
    };
    for (auto _ : state) {
        std::array<fs::path, 4> folders;
        for (fs::path& folder : folders) {
            folder = setup.dir / ("against-floor-" + std::to_string(round++));
            setup.PopulateFolder(folder);
        }
        // Each round starts with another of the three: what one leaves the file system (new
        // inodes, dirty pages) weighs on the next.
        std::array<double, 4> spent{};
        for (int k = 0; k < 4; ++k) {
            const int which = (k + turn) % 4;
            spent[which] = timed([&] {
                if (which == 2) return CopySyncRename(folders[2]);
                if (which == 3) return EmbedAlone(folders[3], setup.checksum);
                return RunFolder(folders[which], setup.host, concurrency, which == 1);
            });
        }
        ++turn;
        plain.push_back(spent[0]);
        embedding.push_back(spent[1]);
        floor.push_back(spent[2]);
        alone.push_back(spent[3]);
        if (*std::min_element(spent.begin(), spent.end()) < 0) state.SkipWithError("a run failed");
        ratio.push_back((spent[1] - spent[0]) / spent[2]);
    }
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values.empty() ? 0.0 : values[values.size() / 2];
    };
    state.counters["plain_ms"] = median(plain);
    state.counters["embedding_ms"] = median(embedding);
    state.counters["floor_ms"] = median(floor);
    state.counters["embed_alone_ms"] = median(alone);
    state.counters["extra_per_floor"] = median(ratio);
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

// At once: one song at a time (the baseline) and four in hand (the default).
BENCHMARK(BM_FolderRunFresh)
    ->ArgsProduct({{0}, {1, 4}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_FolderRunReplacing)
    ->ArgsProduct({{0}, {1, 4}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
// A distant service: one, four and eight in hand.
BENCHMARK(BM_FolderRunFresh)
    ->ArgsProduct({{30}, {1, 4, 8}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
// The lyric in every song's tag as well, against the plain run and the floor, round by round.
BENCHMARK(BM_EmbeddingAgainstFloor)
    ->Arg(1)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(6);
BENCHMARK(BM_ChecksumsAlone)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RoundTripAlone)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
