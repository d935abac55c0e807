// quillon-lyricsd run as a user runs it: a catalogue folder, the binary, and LyricQuery asking
// it over loopback.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "catalogue_folder.h"
#include "service/lyricquery.h"
#include "support/process.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::CatalogueFolder;

// The service binary with its stdout on a pipe and its stderr in a file.
class Lyricsd : public testing::Process {
public:
    Lyricsd(const std::vector<std::string>& args, const std::filesystem::path& logFile)
        : Process(WithProgram(args), logFile) {}
    std::string Log() const { return Stderr(); }

private:
    static std::vector<std::string> WithProgram(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {QUILLON_LYRICSD_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }
};

// A bare HTTP/1.1 exchange that closes the connection: the status code, the header lines and
// the body.
struct Exchange {
    int status = -1;
    std::string headers;
    std::string body;
};
Exchange Send(int port, std::string_view method, std::string_view path, std::string_view body) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return {};
    }
    std::string request = std::string(method) + " " + std::string(path) +
                          " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    if (method == "POST")
        request +=
            "Content-Type: application/soap+xml\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\n";
    request += "\r\n";
    request.append(body);
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    char buffer[4096];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0)
        answer.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    if (answer.size() < 12) return {-1, {}, answer};
    const std::size_t bodyStart = answer.find("\r\n\r\n");
    if (bodyStart == std::string::npos) return {std::stoi(answer.substr(9, 3)), answer, {}};
    return {std::stoi(answer.substr(9, 3)), answer.substr(0, bodyStart),
            answer.substr(bodyStart + 4)};
}
std::pair<int, std::string> Post(int port, std::string_view path, std::string_view body) {
    const Exchange exchange = Send(port, "POST", path, body);
    return {exchange.status, exchange.body};
}
Exchange Get(int port, std::string_view path) {
    return Send(port, "GET", path, {});
}

// A query parameter's value, percent-encoded.
std::string Encoded(std::string_view text) {
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

class LyricsdTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Loopback only, whatever proxy the environment names.
        setenv("no_proxy", "*", 1);
        song = folder.AddAudio("mpeg1-layer3-cbr128.mp3", "Artist/Album/01 봄날.mp3");
        folder.AddFile("Artist/Album/01 봄날.lrc",
                       "\xEF\xBB\xBF[ti:봄날 & Spring]\r\n[ar:방탄소년단]\r\n[al:<Album>]\r\n"
                       "[00:01.00]보고 싶다\r\n[00:01.00]I miss you\r\n[00:05.50]a < b & c\r\n");
        other = folder.AddAudio("mpeg1-layer3-vbr.mp3", "no-lyric.mp3");
    }

    // Starts the service and returns the port from its first line.
    int Start(const std::vector<std::string>& more = {}) {
        std::vector<std::string> args{"--catalog", folder.Root().string(), "--database",
                                      Database()};
        args.insert(args.end(), more.begin(), more.end());
        service.emplace(args, folder.Root() / "lyricsd.log");
        const auto line = service->ReadLine();
        if (!line || !line->starts_with("listening on 127.0.0.1:")) {
            ADD_FAILURE() << "first line: " << line.value_or("(none)");
            return -1;
        }
        return std::stoi(line->substr(std::string("listening on 127.0.0.1:").size()));
    }

    // The catalogue's file, outside the folder it serves.
    std::string Database() const { return (data.Path() / "lyricsd.sqlite").string(); }

    CatalogueFolder folder;
    quillon::testing::TempDir data;
    std::filesystem::path song;
    std::filesystem::path other;
    std::optional<Lyricsd> service;
};

TEST_F(LyricsdTest, ServesTheCatalogueToTheClient) {
    const int port = Start();
    ASSERT_GT(port, 0);
    {
        // Closed before the stop below, so the service has no idle connection to wait for.
        LyricQuery query("127.0.0.1:" + std::to_string(port));
        LyricInfo info;
        ASSERT_TRUE(
            query.Execute(LyricQuery::BuildRequest(CatalogueFolder::ChecksumOf(song)), info));
        EXPECT_EQ(info.title, u"봄날 & Spring");
        EXPECT_EQ(info.artist, u"방탄소년단");
        EXPECT_EQ(info.album, u"<Album>");
        EXPECT_EQ(info.lyric, u"[00:01.00]보고 싶다\n[00:01.00]I miss you\n[00:05.50]a < b & c");

        LyricInfo unknown;
        ASSERT_TRUE(
            query.Execute(LyricQuery::BuildRequest(CatalogueFolder::ChecksumOf(other)), unknown));
        EXPECT_TRUE(unknown.title.empty());
        EXPECT_TRUE(unknown.lyric.empty());

        // Not a GetLyric5 envelope: a fault with status 500, and false for the client.
        LyricInfo refused;
        EXPECT_FALSE(query.Execute("<hello/>", refused));
    }
    const auto [status, body] = Post(port, "/alsongwebservice/service1.asmx", "<hello/>");
    EXPECT_EQ(status, 500);
    EXPECT_NE(body.find("<soap:Fault>"), std::string::npos);

    EXPECT_EQ(Post(port, "/alsongwebservice/service1.asmx", std::string(65 * 1024, ' ')).first,
              413);
    EXPECT_EQ(Post(port, "/other", "").first, 404);

    service->Signal(SIGTERM);
    EXPECT_EQ(service->Wait(), 0);
    const std::string log = service->Log();
    EXPECT_NE(log.find("indexed 1 song from"), std::string::npos) << log;
    EXPECT_NE(log.find(" 200 "), std::string::npos) << log;
    EXPECT_NE(log.find("found"), std::string::npos) << log;
    EXPECT_NE(log.find("unknown"), std::string::npos) << log;
    EXPECT_NE(log.find(" 500 "), std::string::npos) << log;
    EXPECT_NE(log.find(" 413 "), std::string::npos) << log;
    EXPECT_NE(log.find("stopped by SIGTERM"), std::string::npos) << log;
}

// SIGHUP (the service unit's reload) indexes the folder again; an answer in flight goes out
// whole from the catalogue it started with, and a folder that has gone keeps the old one.
TEST_F(LyricsdTest, HangUpIndexesAgainWithoutDroppingAnswersInFlight) {
    const std::string known = LyricQuery::BuildRequest(CatalogueFolder::ChecksumOf(song));
    const std::string added = LyricQuery::BuildRequest(CatalogueFolder::ChecksumOf(other));
    const int port = Start({"--latency", "400"});
    ASSERT_GT(port, 0);
    // The log lies in the catalogue folder, wherever that is at the moment.
    const auto logged = [&](const std::string& text, const std::filesystem::path& where) {
        for (int i = 0; i < 500; ++i, std::this_thread::sleep_for(10ms)) {
            std::ifstream in(where / "lyricsd.log");
            const std::string log{std::istreambuf_iterator<char>(in), {}};
            if (log.find(text) != std::string::npos) return true;
        }
        return false;
    };
    LyricInfo inFlight;
    bool answered = false;
    std::thread asking([&] {
        LyricQuery query("127.0.0.1:" + std::to_string(port));
        answered = query.Execute(known, inFlight);
    });
    std::this_thread::sleep_for(100ms);
    folder.AddFile("no-lyric.lrc", "[ti:새 노래]\n[00:01.00]라\n");
    service->Signal(SIGHUP);
    asking.join();
    EXPECT_TRUE(answered);
    EXPECT_EQ(inFlight.title, u"봄날 & Spring");
    ASSERT_TRUE(logged("re-indexed 2 songs from", folder.Root())) << service->Log();

    LyricQuery query("127.0.0.1:" + std::to_string(port));
    LyricInfo now;
    ASSERT_TRUE(query.Execute(added, now));
    EXPECT_EQ(now.title, u"새 노래");

    const std::filesystem::path moved = folder.Root().string() + ".moved";
    std::filesystem::rename(folder.Root(), moved);
    service->Signal(SIGHUP);
    EXPECT_TRUE(logged("the catalogue stays as it was", moved));
    LyricInfo kept;
    EXPECT_TRUE(query.Execute(known, kept));
    EXPECT_EQ(kept.title, u"봄날 & Spring");
    std::filesystem::rename(moved, folder.Root());

    service->Signal(SIGTERM);
    EXPECT_EQ(service->Wait(), 0);
}

TEST_F(LyricsdTest, InterruptStopsItCleanlyEvenWithAClientConnected) {
    const int port = Start();
    ASSERT_GT(port, 0);
    LyricQuery query("127.0.0.1:" + std::to_string(port));
    LyricInfo info;
    ASSERT_TRUE(query.Execute(LyricQuery::BuildRequest(CatalogueFolder::ChecksumOf(song)), info));
    service->Signal(SIGINT);
    EXPECT_EQ(service->Wait(), 0);  // within the 2-second keep-alive of the open connection
}

TEST_F(LyricsdTest, CommandLineMistakesAndHelp) {
    service.emplace(std::vector<std::string>{"--help"}, folder.Root() / "help.log");
    const auto usage = service->ReadLine();
    ASSERT_TRUE(usage);
    EXPECT_TRUE(usage->starts_with("Usage: quillon-lyricsd --catalog DIR")) << *usage;
    EXPECT_EQ(service->Wait(), 0);

    service.emplace(std::vector<std::string>{"--catalog"}, folder.Root() / "usage.log");
    EXPECT_EQ(service->Wait(), 2);
    EXPECT_NE(service->Log().find("--catalog needs a value"), std::string::npos);

    service.emplace(std::vector<std::string>{"--catalog", (folder.Root() / "missing").string()},
                    folder.Root() / "missing.log");
    EXPECT_EQ(service->Wait(), 1);
}

// The API that lyric clients speak, beside the SOAP endpoint; a song added to the folder is
// served without a signal, and a restart finds the catalogue as it was without reading audio.
TEST_F(LyricsdTest, ApiAnswersAndAddedSongsAreServedWithoutASignal) {
    int port = Start();
    ASSERT_GT(port, 0);
    const std::string get =
        "/api/get?track_name=" + Encoded("봄날 & Spring") + "&artist_name=" + Encoded("방탄소년단");
    Exchange answer = Get(port, get);
    EXPECT_EQ(answer.status, 200) << answer.body;
    EXPECT_NE(answer.headers.find("Access-Control-Allow-Origin: *"), std::string::npos);
    EXPECT_NE(answer.body.find("\"trackName\":\"봄날 & Spring\""), std::string::npos)
        << answer.body;
    EXPECT_NE(answer.body.find("[00:05.50]a < b & c"), std::string::npos) << answer.body;
    answer = Get(port, "/api/search?q=" + Encoded("봄날"));
    EXPECT_EQ(answer.status, 200);
    EXPECT_NE(answer.body.find("봄날 & Spring"), std::string::npos) << answer.body;
    EXPECT_EQ(Get(port, "/api/get/99999999999999999999").status, 400);
    // The page for people: the numbers, a search, and what a search says is shown as text.
    answer = Get(port, "/?q=" + Encoded("봄날"));
    EXPECT_EQ(answer.status, 200);
    EXPECT_NE(answer.headers.find("text/html"), std::string::npos);
    EXPECT_NE(answer.body.find("봄날 &amp; Spring"), std::string::npos) << answer.body;
    EXPECT_NE(answer.body.find("no-lyric.mp3"), std::string::npos);  // a song without lyrics
    answer = Get(port, "/?q=" + Encoded("<script>") + "&page=99999999999");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body.find("<script>"), std::string::npos);
    EXPECT_EQ(Get(port, "/api/get?track_name=x&artist_name=y").status, 404);

    // The watcher: the song without a lyric gets one, with no signal.
    folder.AddFile("no-lyric.lrc", "[ti:새 노래]\n[ar:누군가]\n[00:01.00]라\n");
    const std::string added =
        "/api/get?track_name=" + Encoded("새 노래") + "&artist_name=" + Encoded("누군가");
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (Get(port, added).status != 200 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Get(port, added).status, 200) << service->Log();
    LyricQuery query("127.0.0.1:" + std::to_string(port));
    LyricInfo info;
    ASSERT_TRUE(query.Execute(LyricQuery::BuildRequest(CatalogueFolder::ChecksumOf(other)), info));
    EXPECT_EQ(info.title, u"새 노래");

    // A second service on the same catalogue is refused; the first goes on.
    Lyricsd second({"--catalog", folder.Root().string(), "--database", Database()},
                   folder.Root() / "second.log");
    EXPECT_EQ(second.Wait(), 1);
    EXPECT_NE(second.Log().find("in use"), std::string::npos) << second.Log();

    service->Signal(SIGTERM);
    EXPECT_EQ(service->Wait(), 0);
    port = Start();
    ASSERT_GT(port, 0);
    EXPECT_EQ(Get(port, added).status, 200);
    service->Signal(SIGTERM);
    EXPECT_EQ(service->Wait(), 0);
    EXPECT_NE(service->Log().find("0 added, 0 changed, 0 removed"), std::string::npos)
        << service->Log();
}

// Many clients at once all get their answer.
TEST_F(LyricsdTest, FiveHundredClientsAtOnceAreAllAnswered) {
    const int port = Start();
    ASSERT_GT(port, 0);
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 500; ++i)
        clients.emplace_back([&, i] {
            const Exchange answer =
                Get(port, i % 2 ? "/api/search?q=" + Encoded("봄날") : std::string("/api/get/1"));
            if (answer.status == 200) answered.fetch_add(1);
        });
    for (std::thread& client : clients) client.join();
    EXPECT_EQ(answered.load(), 500);
    service->Signal(SIGTERM);
    EXPECT_EQ(service->Wait(), 0);
}

TEST_F(LyricsdTest, AddressInUseIsAnError) {
    const int port = Start();
    ASSERT_GT(port, 0);
    Lyricsd second(
        {"--catalog", folder.Root().string(), "--database",
         (data.Path() / "second.sqlite").string(), "--listen", "127.0.0.1:" + std::to_string(port)},
        folder.Root() / "second.log");
    EXPECT_EQ(second.Wait(), 1);
    EXPECT_NE(second.Log().find("cannot listen on 127.0.0.1:"), std::string::npos);
}

}  // namespace
}  // namespace quillon
