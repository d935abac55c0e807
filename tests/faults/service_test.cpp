// A folder run against a lyrics service that misbehaves: one that takes the request and never
// answers, and answers that are broken in the body or cut off on the wire.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fault_fixture.h"
#include "pipeline/run.h"
#include "support/scripted_server.h"

namespace quillon::faults {
namespace {

using namespace std::chrono_literals;
using testing::HttpAnswer;
using testing::PeerConnection;
using testing::ReceivedRequest;
using testing::ScriptedServer;

const std::vector<std::string> kLines = {"하나", "two"};

std::string GoodAnswer() {
    return HttpAnswer(200, testing::Answer("T", ServiceLyric(kLines)));
}

// A port whose connections the kernel completes but that nobody takes: the request is sent
// and no byte comes back.
class DeafListener {
public:
    DeafListener() {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(fd, 8) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "cannot listen on loopback";
        }
        port = ntohs(address.sin_port);
    }
    ~DeafListener() { ::close(fd); }
    DeafListener(const DeafListener&) = delete;
    DeafListener& operator=(const DeafListener&) = delete;
    std::string Host() const { return "127.0.0.1:" + std::to_string(port); }

private:
    int fd = -1;
    int port = 0;
};

class ServiceFaultTest : public FaultTest {};

class SilentServiceTest : public FaultTest {
protected:
    void SetUp() override {
        FaultTest::SetUp();
        PlaceSongs(Work(), {"a.mp3", "b.mp3", "c.mp3"});
    }

    // Starts a folder run against `host`, waits until its first query is `inFlight`, interrupts
    // it and expects it to end within 2 s with nothing logged for the song in hand after its
    // start row: the user stopped, the service did not fail.
    void InterruptWhenInFlight(const std::string& host, const std::function<bool()>& inFlight) {
        std::vector<std::string> command = Command(FolderArgs(host));
        command.insert(command.begin(), wrapper.begin(), wrapper.end());
        testing::Process cli(command, root / "cli.err", Env());
        const auto first = cli.ReadLine(5s);
        ASSERT_TRUE(first);
        EXPECT_NE(first->find("\t4\t"), std::string::npos) << *first;
        const auto until = std::chrono::steady_clock::now() + 5s;
        while (!inFlight() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(1ms);
        ASSERT_TRUE(inFlight());

        const auto interrupted = std::chrono::steady_clock::now();
        cli.Signal(SIGINT);
        const auto code = cli.Wait(2s);
        const auto took = std::chrono::steady_clock::now() - interrupted;
        ASSERT_TRUE(code) << "still running 2 s after the interrupt";
        EXPECT_EQ(*code, 1);
        std::printf("stopped %lld ms after the interrupt\n",
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
        // The song's start, and the row that says the run was stopped.
        const auto rows = LogRows(*first + "\n" + cli.ReadRest(1s));
        ASSERT_EQ(rows.size(), 2u) << rows.back();
        EXPECT_EQ(rows[1], "6 작업을 중지했습니다 (남은 곡 3곡)");
        EXPECT_EQ(Names(Work()), (std::vector<std::string>{"a.mp3", "b.mp3", "c.mp3"}));
    }

    std::vector<std::string> wrapper;  // a command the run is started through
};

TEST_F(SilentServiceTest, InterruptEndsTheRunWhileTheServiceKeepsTheRequestUnanswered) {
    ScriptedServer silent([](const ReceivedRequest&, PeerConnection& peer) {
        peer.Wait(30s);
        return false;
    });
    // All three songs ask at once; the stop cancels them all, and only the first song's start
    // row has been shown.
    InterruptWhenInFlight(silent.Host(), [&] { return silent.Requests().size() == 3; });
    EXPECT_EQ(silent.Requests().size(), 3u);
}

TEST_F(SilentServiceTest, InterruptEndsTheRunWhileNobodyTakesTheConnection) {
    DeafListener deaf;
    // The request cannot be watched arriving; give the client time to send it and wait.
    const auto since = std::chrono::steady_clock::now();
    InterruptWhenInFlight(deaf.Host(),
                          [&] { return std::chrono::steady_clock::now() - since > 300ms; });
}

// The host name is looked up at a name server that takes the question and never answers; the
// run sees it through a resolver configuration of its own, bound over the system's in a mount
// namespace of its own (the superuser's, or a sandbox's that allows it).
TEST_F(SilentServiceTest, InterruptEndsTheRunWhileTheNameLookupHangs) {
    const int dns = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = htonl(0x7F000035);  // 127.0.0.53
    const bool listening = ::bind(dns, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    const fs::path resolver = root / "resolv.conf";
    WriteFileBytes(resolver, "nameserver 127.0.0.53\noptions timeout:30 attempts:1\n");
    wrapper = {"/usr/bin/unshare",
               "--mount",
               "/bin/sh",
               "-c",
               "mount --bind \"$0\" /etc/resolv.conf && exec \"$@\"",
               resolver.string()};
    std::vector<std::string> probe = wrapper;
    probe.push_back("/bin/true");
    if (!listening || !fs::exists(wrapper[0]) ||
        testing::RunProcess(probe, root / "probe.err").exitCode != 0) {
        ::close(dns);
        GTEST_SKIP() << "needs port 53 on loopback and a mount namespace of its own";
    }
    bool asked = false;  // once the name server has been asked, it stays asked
    InterruptWhenInFlight("lyrics.name-lookup-hangs.invalid", [&] {
        char question[512];
        asked = asked || ::recv(dns, question, sizeof question, MSG_DONTWAIT) > 0;
        return asked;
    });
    ::close(dns);
}

// Every other answer is broken; each broken one fails its own song only, and the song after it
// gets its LRC file over the same or a new connection.
TEST_F(ServiceFaultTest, BrokenAnswerFailsItsSongAndTheNextSongIsWritten) {
    const std::string answer = testing::Answer("T", ServiceLyric(kLines));
    struct Broken {
        std::string bytes;
        bool keepsConnection;
    };
    const std::vector<Broken> broken = {
        // Status 200, but what came is not the service's answer at all.
        {HttpAnswer(200, "<html><body>\xFF\xFE Service Unavailable &lt;br&gt;</body></html>",
                    "text/html"),
         true},
        // Status 200 with the XML cut off inside the lyric, framed correctly.
        {HttpAnswer(200, answer.substr(0, answer.find("</strLyric>") - 5)), true},
        // The length promises more than comes before the connection closes.
        {"HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml; charset=utf-8\r\n"
         "Content-Length: " +
             std::to_string(answer.size()) + "\r\n\r\n" + answer.substr(0, answer.size() / 2),
         false},
    };
    std::atomic<int> served{0};
    ScriptedServer server([&](const ReceivedRequest&, PeerConnection& peer) {
        const int n = served++;
        if (n % 2 == 1) return peer.Send(GoodAnswer());
        const Broken& next = broken.at(static_cast<std::size_t>(n / 2));
        return peer.Send(next.bytes) && next.keepsConnection;
    });
    PlaceSongs(Work(),
               {"song0.mp3", "song1.mp3", "song2.mp3", "song3.mp3", "song4.mp3", "song5.mp3"});

    // One song at a time, so that the answers follow the connection's use.
    std::vector<std::string> args = FolderArgs(server.Host());
    args.insert(args.begin() + 1, {"--jobs", "1"});
    const testing::ProcessResult run = Cli(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 6u);
    // Answers broken in the body leave the connection usable; the cut-off one needs a new one.
    EXPECT_EQ(requests[4].connection, requests[0].connection);
    EXPECT_EQ(requests[5].connection, requests[4].connection + 1);

    // Rows by song, in the order the run took them.
    const auto rows = LogRows(run.out);
    std::vector<std::string> songs;
    for (const auto& row : rows) {
        if (!row.starts_with("4 ")) continue;
        const std::size_t open = row.rfind('(');
        songs.push_back(row.substr(open + 1, row.size() - open - 2));
    }
    ASSERT_EQ(songs.size(), 6u) << run.out;
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < songs.size(); ++i) {
        expected.push_back("4 가사 정보 취득 개시 (" + songs[i] + ")");
        if (i % 2 == 0) {
            expected.push_back("3 서버에서 가사 정보 취득 실패 (" + songs[i] + ")");
        } else {
            expected.push_back("2 제목: T, 가수: Singer, 앨범: Album");
            expected.push_back("5 가사 파일 저장 완료 (" + songs[i] + ")");
        }
    }
    EXPECT_EQ(rows, expected);
    for (std::size_t i = 0; i < songs.size(); ++i) {
        const fs::path lrc = Work() / fs::path(songs[i]).replace_extension(".lrc");
        if (i % 2 == 0) {
            EXPECT_FALSE(fs::exists(lrc)) << lrc;
        } else {
            EXPECT_EQ(ReadFileBytes(lrc), ExpectedLrc("T", kLines)) << lrc;
        }
    }
}

// A busy service (429, 503) is asked again, after its Retry-After or else a second, at most
// three times a song; any other failure counts at once. One song at a time and four at once
// alike.
TEST_F(ServiceFaultTest, BusyServiceIsAskedAgainAndOtherFailuresCountAtOnce) {
    const fs::path third = kAudio / "mpeg1-layer3-vbr.mp3";
    fs::copy_file(kSong, Work() / "busy-once.mp3");
    fs::copy_file(kOtherSong, Work() / "always-busy.mp3");
    fs::copy_file(third, Work() / "broken.mp3");
    const std::vector<std::string> sums = {ChecksumOf(kSong), ChecksumOf(kOtherSong),
                                           ChecksumOf(third)};
    std::mutex mutex;
    std::map<std::size_t, int> asked;  // by song: 0 busy once, 1 always busy, 2 broken
    ScriptedServer server([&](const ReceivedRequest& request, PeerConnection& peer) {
        std::size_t song = 0;
        while (song < 2 && request.body.find(sums[song]) == std::string::npos) ++song;
        const int n = [&] {
            std::lock_guard lock(mutex);
            return ++asked[song];
        }();
        if (song == 2) return peer.Send(HttpAnswer(500, ""));
        if (song == 1)
            return peer.Send(
                "HTTP/1.1 429 Too Many Requests\r\nRetry-After: 0\r\n"
                "Content-Length: 0\r\n\r\n");
        if (n == 1) return peer.Send("HTTP/1.1 503 Busy\r\nContent-Length: 0\r\n\r\n");
        return peer.Send(GoodAnswer());
    });

    std::vector<std::string> rowsOfFirst;
    for (const char* jobs : {"1", "4"}) {
        std::unique_lock lock(mutex);
        asked.clear();
        lock.unlock();
        std::vector<std::string> args = FolderArgs(server.Host());
        args.insert(args.begin() + 1, {"--jobs", jobs});
        const auto started = std::chrono::steady_clock::now();
        const testing::ProcessResult run = Cli(args);
        EXPECT_GE(std::chrono::steady_clock::now() - started, 900ms) << "no pause after 503";
        EXPECT_EQ(run.exitCode, 0) << run.err;
        lock.lock();
        EXPECT_EQ(asked, (std::map<std::size_t, int>{{0, 2}, {1, 3}, {2, 1}})) << jobs;
        lock.unlock();
        const auto rows = LogRows(run.out);
        EXPECT_TRUE(Has(rows, "5 가사 파일 저장 완료 (busy-once.mp3)")) << run.out;
        EXPECT_TRUE(Has(rows, "3 서버에서 가사 정보 취득 실패 (always-busy.mp3)")) << run.out;
        EXPECT_TRUE(Has(rows, "3 서버에서 가사 정보 취득 실패 (broken.mp3)")) << run.out;
        if (rowsOfFirst.empty()) rowsOfFirst = rows;
        EXPECT_EQ(rows, rowsOfFirst);
        fs::remove(Work() / "busy-once.lrc");
    }
}

// Stopped with songs in hand: the songs logged by then keep their files; the song in turn and
// those after it get no rows and no files, also the one whose file was already written ahead.
TEST_F(ServiceFaultTest, StopWithSongsInHandKeepsWhatWasLoggedAndNothingElse) {
    const std::vector<fs::path> songs = {kSong, kOtherSong, kAudio / "mpeg1-layer3-vbr.mp3",
                                         kAudio / "mpeg25-layer3-8khz.mp3"};
    for (std::size_t i = 0; i < songs.size(); ++i)
        fs::copy_file(songs[i], Work() / ("song" + std::to_string(i) + ".mp3"));
    // The listing's third song gets no answer; the others get theirs at once.
    const std::vector<fs::path> order = CollectMp3Files(Work());
    const std::string silent = ChecksumOf(order.at(2));
    ScriptedServer server([&](const ReceivedRequest& request, PeerConnection& peer) {
        if (request.body.find(silent) != std::string::npos) return true;  // and says nothing
        return peer.Send(GoodAnswer());
    });

    testing::Process cli(Command(FolderArgs(server.Host())), root / "cli.err", Env());
    std::string out;
    for (int row = 0; row < 7; ++row) {
        const auto line = cli.ReadLine(5s);
        ASSERT_TRUE(line) << out;
        out += *line + "\n";
    }
    // The fourth song's file is written ahead while the third waits for its answer.
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (TemporaryFiles(Work()) == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(1ms);
    ASSERT_EQ(TemporaryFiles(Work()), 1);
    cli.Signal(SIGINT);
    const auto code = cli.Wait(2s);
    ASSERT_TRUE(code) << "still running 2 s after the interrupt";
    EXPECT_EQ(*code, 1);
    out += cli.ReadRest(1s);

    const auto name = [&](std::size_t i) { return order[i].filename().string(); };
    EXPECT_EQ(
        LogRows(out),
        (std::vector<std::string>{
            "4 가사 정보 취득 개시 (" + name(0) + ")", "2 제목: T, 가수: Singer, 앨범: Album",
            "5 가사 파일 저장 완료 (" + name(0) + ")", "4 가사 정보 취득 개시 (" + name(1) + ")",
            "2 제목: T, 가수: Singer, 앨범: Album", "5 가사 파일 저장 완료 (" + name(1) + ")",
            "4 가사 정보 취득 개시 (" + name(2) + ")", "6 작업을 중지했습니다 (남은 곡 2곡)"}));
    EXPECT_EQ(TemporaryFiles(Work()), 0);
    for (std::size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(fs::exists(fs::path(order[i]).replace_extension(".lrc")), i < 2) << name(i);
}

}  // namespace
}  // namespace quillon::faults
