// quillon-cli killed outright in the middle of a folder run: whatever LRC files it leaves must be
// whole, either from this run or from an earlier one, never a mixture or a stump.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fault_fixture.h"

namespace quillon::faults {
namespace {

class KillTest : public FaultTest {};

using namespace std::chrono_literals;
using testing::Answer;
using testing::FakeService;

constexpr int kSongs = 20;

// The lyric of run `round`: about 60 KB of LRC, so that writing it takes a while.
std::vector<std::string> RoundLines(int round) {
    std::vector<std::string> lines;
    for (int i = 0; i < 1500; ++i)
        lines.push_back("라운드 " + std::to_string(round) + " 가사 줄 " + std::to_string(i));
    return lines;
}

std::set<std::string> TemporaryNames(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& name : Names(folder))
        if (name.starts_with(".quillon-")) names.insert(name);
    return names;
}

// Waits until an LRC write is under way: a temporary file that was not there before shows up.
bool WaitForWrite(const fs::path& folder, const std::set<std::string>& before) {
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < until) {
        for (const auto& name : TemporaryNames(folder))
            if (!before.count(name)) return true;
        std::this_thread::yield();
    }
    return false;
}

TEST_F(KillTest, KilledFolderRunLeavesOnlyWholeLrcFiles) {
    std::vector<std::string> names;
    for (int i = 0; i < kSongs; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "song-%03d.mp3", i);
        names.push_back(name);
    }
    PlaceSongs(Work(), names);
    const std::string sum = ChecksumOf(kSong);

    // Each round answers with a lyric of its own and is killed: on even rounds as soon as a
    // number of files is saved, on odd rounds while LRC files are written and not yet renamed.
    // For those, the service holds one answer back: the songs in hand after it are written
    // ahead and wait for their turn behind it, so a write is sure to be under way at the kill.
    // From the second round on, the LRC files of earlier rounds are being replaced.
    const int killAt[] = {1, 4, 7, 10, 13, 16};
    std::vector<std::string> whole;  // every LRC file a finished write may have left
    int roundsWithTemporaryLeft = 0;
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const bool midWrite = round % 2 == 1;
        FakeService service;
        service.SetAnswer(sum, Answer("T", ServiceLyric(RoundLines(round))));
        if (midWrite) service.StallRequest(killAt[round]);
        whole.push_back(ExpectedLrc("T", RoundLines(round)));
        const std::set<std::string> temporariesBefore = TemporaryNames(Work());

        std::vector<std::string> args = FolderArgs(service.Host());
        args.insert(args.begin() + 1, {"--jobs", "4"});  // songs in hand behind the held one
        testing::Process cli(Command(args), root / "cli.err", Env());
        std::vector<std::string> saved;  // the songs this round logged as saved
        const auto readRows = [&](std::size_t until, std::chrono::milliseconds limit) {
            while (saved.size() < until) {
                const auto line = cli.ReadLine(limit);
                if (!line) return false;
                EXPECT_EQ(line->find("\t3\t"), std::string::npos) << *line;
                const std::size_t open = line->rfind('(');
                if (line->find("\t5\t") != std::string::npos && open != std::string::npos)
                    saved.push_back(line->substr(open + 1, line->size() - open - 2));
            }
            return true;
        };
        if (midWrite) {
            ASSERT_TRUE(service.WaitUntilStalled());
            ASSERT_TRUE(WaitForWrite(Work(), temporariesBefore));
        } else {
            ASSERT_TRUE(readRows(killAt[round], 10s))
                << "the run ended after " << saved.size() << " saved files";
        }
        cli.Signal(SIGKILL);
        ASSERT_EQ(cli.Wait(5s), 128 + SIGKILL);
        readRows(kSongs, 1s);  // what it logged before the kill
        if (midWrite) {
            EXPECT_LT(saved.size(), static_cast<std::size_t>(kSongs));
        }

        int lrcFiles = 0;
        for (const auto& name : Names(Work())) {
            if (!name.ends_with(".lrc")) continue;
            ++lrcFiles;
            const std::string bytes = ReadFileBytes(Work() / name);
            EXPECT_NE(std::find(whole.begin(), whole.end(), bytes), whole.end())
                << name << " is not a whole LRC file (" << bytes.size() << " bytes)";
        }
        EXPECT_GE(static_cast<std::size_t>(lrcFiles), saved.size());
        for (const auto& song : saved)
            EXPECT_EQ(ReadFileBytes(Work() / fs::path(song).replace_extension(".lrc")),
                      whole.back())
                << song;
        roundsWithTemporaryLeft += TemporaryNames(Work()).size() > temporariesBefore.size();
    }
    // A kill between the creation of the temporary file and its rename leaves it behind, hidden.
    std::printf("rounds that left a temporary file: %d of 6\n", roundsWithTemporaryLeft);

    // A run to the end over the same folder replaces every LRC file and takes no leftover
    // temporary file for a song.
    const std::size_t leftovers = TemporaryNames(Work()).size();
    FakeService service;
    service.SetAnswer(sum, Answer("T", ServiceLyric(RoundLines(6))));
    const testing::ProcessResult run = Cli(FolderArgs(service.Host()));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(LogRows(run.out).size(), 3u * kSongs);
    EXPECT_EQ(service.Requests(), kSongs);
    for (const auto& name : Names(Work())) {
        if (name.ends_with(".lrc")) {
            EXPECT_EQ(ReadFileBytes(Work() / name), ExpectedLrc("T", RoundLines(6))) << name;
        }
    }
    EXPECT_EQ(Names(Work()).size(), 2u * kSongs + leftovers);
}

}  // namespace
}  // namespace quillon::faults
