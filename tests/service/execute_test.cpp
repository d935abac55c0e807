// LyricQuery::Execute over real HTTP on loopback, against a peer that answers byte for byte.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>

#include "service/httptransport.h"
#include "service/lyricquery.h"
#include "support/environment.h"
#include "support/scripted_server.h"

namespace quillon {
namespace {

using namespace std::chrono_literals;
using testing::HttpAnswer;
using testing::PeerConnection;
using testing::ReceivedRequest;
using testing::ScriptedServer;
using Clock = std::chrono::steady_clock;

constexpr const char* Checksum = "0123456789abcdef0123456789abcdef";

std::string Answer(std::string_view fields) {
    return std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope><soap:Body>") +
           std::string(fields) + "</soap:Body></soap:Envelope>";
}

// A sentinel that shows whether Execute touched the caller's fields.
LyricInfo Sentinel() {
    return {u"title?", u"artist?", u"album?", u"lyric?"};
}

// Proxies are taken from the environment; these tests talk to loopback only.
class ExecuteTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : ProxyVariables) {
            const char* value = std::getenv(name);
            saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
            testing::UnsetEnv(name);
        }
    }
    void TearDown() override {
        for (const auto& [name, value] : saved) {
            if (value)
                testing::SetEnv(name, value->c_str());
            else
                testing::UnsetEnv(name);
        }
    }

    static constexpr const char* ProxyVariables[] = {"http_proxy", "HTTP_PROXY", "all_proxy",
                                                     "ALL_PROXY",  "no_proxy",   "NO_PROXY"};
    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
};

TEST_F(ExecuteTest, SendsExactlyTheServiceRequest) {
    ScriptedServer server([](const ReceivedRequest&, PeerConnection& peer) {
        peer.Send(HttpAnswer(200, Answer("<strTitle>T</strTitle>")));
        return true;
    });
    LyricQuery query(server.Host());
    LyricInfo info;
    ASSERT_TRUE(query.Execute(LyricQuery::BuildRequest(Checksum), info));
    EXPECT_EQ(info.title, u"T");

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const ReceivedRequest& request = requests[0];
    EXPECT_EQ(request.requestLine, "POST /alsongwebservice/service1.asmx HTTP/1.1");
    const std::vector<std::pair<std::string, std::string>> expectedHeaders = {
        {"Host", server.Host()},
        {"User-Agent", "gSOAP/2.7"},
        {"Content-Type", "application/soap+xml; charset=utf-8"},
        {"Content-Length", "695"},
    };
#ifdef _WIN32
    // WinInet puts the headers in an order of its own.
    auto sorted = [](auto headers) {
        std::sort(headers.begin(), headers.end());
        return headers;
    };
    EXPECT_EQ(sorted(request.headers), sorted(expectedHeaders));
#else
    EXPECT_EQ(request.headers, expectedHeaders);
#endif
    std::ifstream golden(
        std::filesystem::path(QUILLON_TEST_DATA_DIR) / "service/getlyric5-request.xml",
        std::ios::binary);
    EXPECT_EQ(request.body, std::string(std::istreambuf_iterator<char>(golden), {}));
}

// The Korean sentence before the transport's own words.
std::string TransportFailed(const std::string& host) {
    return "가사 서비스(" + host + ")와 통신하지 못했습니다: ";
}

struct AnswerCase {
    const char* name;
    std::string rawAnswer;  // everything the peer sends before it closes the connection
    bool result;
    LyricInfo expected;
    QueryStatus status = QueryStatus::Found;
    const char* cause = "";  // how the cause begins, for the transport's after TransportFailed()
};

std::string ChunkedAnswer(std::string_view body, bool complete) {
    std::string out =
        "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml\r\n"
        "Transfer-Encoding: chunked\r\n\r\n";
    for (std::size_t at = 0; at < body.size(); at += 7) {
        const std::string_view chunk = body.substr(at, 7);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
        out.append(size).append(chunk).append("\r\n");
    }
    if (complete) out.append("0\r\n\r\n");
    return out;
}

const AnswerCase AnswerCases[] = {
    {"TwoLinesJoinedByEscapedBreak",
     HttpAnswer(200, Answer("<strLyric>[00:01.00]one&lt;br&gt;[00:02.00]two</strLyric>")),
     true,
     {u"title?", u"artist?", u"album?", u"[00:01.00]one\n[00:02.00]two"}},
    {"EntitiesAreDecodedOnce",
     HttpAnswer(200, Answer("<strTitle>Tom &amp; Jerry</strTitle><strArtist>&amp;lt;A&#x26;B&gt;"
                            "</strArtist><strLyric>[00:01.00]a &lt;br&gt; b&#44;&amp;</strLyric>")),
     true,
     {u"Tom & Jerry", u"&lt;A&B>", u"album?", u"[00:01.00]a \n b,&"}},
    {"KoreanUtf8ArrivesIntact",
     HttpAnswer(200, Answer("<strTitle>봄날</strTitle><strArtist>방탄소년단</strArtist>"
                            "<strAlbum>You Never Walk Alone</strAlbum>"
                            "<strLyric>[00:10.00]보고 싶다</strLyric>")),
     true,
     {u"봄날", u"방탄소년단", u"You Never Walk Alone", u"[00:10.00]보고 싶다"}},
    {"Status500WithFaultFails",
     HttpAnswer(500, Answer("<soap:Fault><strTitle>F</strTitle></soap:Fault>")), false, Sentinel(),
     QueryStatus::HttpStatus, "가사 서비스가 HTTP 상태 500(으)로 답했습니다"},
    {"Status404Fails", HttpAnswer(404, "<strTitle>F</strTitle>", "text/plain"), false, Sentinel(),
     QueryStatus::HttpStatus, "가사 서비스가 HTTP 상태 404(으)로 답했습니다"},
    {"RedirectIsNotFollowed",
     "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:1/\r\nContent-Length: 0\r\n\r\n", false,
     Sentinel(), QueryStatus::HttpStatus, "가사 서비스가 HTTP 상태 302(으)로 답했습니다"},
    {"EmptyBodyKeepsEveryField", HttpAnswer(200, ""), true, Sentinel()},
    {"OpeningTagWithoutClosingTagEmptiesTheField",
     HttpAnswer(200, Answer("<strTitle>never closed")),
     true,
     {u"", u"artist?", u"album?", u"lyric?"}},
    {"LyricNeverClosedIsNoLyric",
     HttpAnswer(200, Answer("<strLyric>[00:01.00]cut")),
     true,
     {u"title?", u"artist?", u"album?", u""},
     QueryStatus::NoLyric,
     "가사 서비스에 이 곡의 가사가 없습니다"},
    {"ZeroByteEndsTheAnswer",
     HttpAnswer(200, std::string("<strArtist>A</strArtist>\0<strTitle>T</strTitle>", 47)),
     true,
     {u"title?", u"A", u"album?", u"lyric?"}},
    {"ChunkedAnswer",
     ChunkedAnswer(Answer("<strAlbum>Chunky</strAlbum>"), true),
     true,
     {u"title?", u"artist?", u"Chunky", u"lyric?"}},
    {"CloseDelimitedAnswer",
     "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + Answer("<strAlbum>Closed</strAlbum>"),
     true,
     {u"title?", u"artist?", u"Closed", u"lyric?"}},
    {"ConnectionDroppedMidBody",
     "HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n" + Answer("<strTitle>T</strTitle>"), false,
     Sentinel(), QueryStatus::Transport, "transfer closed"},
    {"ChunkedAnswerWithoutLastChunk", ChunkedAnswer(Answer("<strTitle>T</strTitle>"), false), false,
     Sentinel(), QueryStatus::Transport, "transfer closed"},
    {"NoStatusLine", "<strTitle>T</strTitle>", false, Sentinel(), QueryStatus::Transport, ""},
    {"ConnectionClosedBeforeAnswer", "", false, Sentinel(), QueryStatus::Transport,
     "Empty reply from server"},
};

void PrintTo(const AnswerCase& c, std::ostream* out) {
    *out << c.name;
}

class ExecuteAnswerTest : public ExecuteTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(ExecuteAnswerTest, ResultAndFields) {
    const AnswerCase& c = GetParam();
    ScriptedServer server([&c](const ReceivedRequest&, PeerConnection& peer) {
        peer.Send(c.rawAnswer);
        return false;
    });
    LyricQuery query(server.Host());
    LyricInfo info = Sentinel();
#ifdef _WIN32
    // WinInet hides the chunks of a body: one cut off before its last chunk reads as whole.
    if (std::string_view(c.name) == "ChunkedAnswerWithoutLastChunk") GTEST_SKIP();
#endif
    const QueryResult result = query.Execute(LyricQuery::BuildRequest(Checksum), info);
    EXPECT_EQ(result, c.result);
    // A transport failure names the server, then the transport's own words: libcurl's here;
    // WinInet words them its own way, and takes a peer that sends no status line at all for
    // one that answers with a status other than 200.
#ifdef _WIN32
    const bool windowsStatus =
        c.status == QueryStatus::Transport && result.status == QueryStatus::HttpStatus;
    if (!windowsStatus) {
        EXPECT_EQ(result.status, c.status);
    }
    const std::string cause =
        c.status == QueryStatus::Transport
            ? (windowsStatus ? "가사 서비스가 HTTP 상태 " : TransportFailed(server.Host()))
            : std::string(c.cause);
#else
    EXPECT_EQ(result.status, c.status);
    const std::string cause = c.status == QueryStatus::Transport
                                  ? TransportFailed(server.Host()) + c.cause
                                  : std::string(c.cause);
#endif
    EXPECT_TRUE(result.Cause().starts_with(cause)) << result.Cause();
    EXPECT_EQ(c.status == QueryStatus::Found, result.Cause().empty()) << result.Cause();
    EXPECT_EQ(info.title, c.expected.title);
    EXPECT_EQ(info.artist, c.expected.artist);
    EXPECT_EQ(info.album, c.expected.album);
    EXPECT_EQ(info.lyric, c.expected.lyric);
}

INSTANTIATE_TEST_SUITE_P(Answers, ExecuteAnswerTest, ::testing::ValuesIn(AnswerCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(ExecuteTest, ConnectionRefusedFails) {
    int port = 0;
    {
        ScriptedServer closed([](const ReceivedRequest&, PeerConnection&) { return false; });
        port = closed.Port();
    }
    LyricQuery query("127.0.0.1:" + std::to_string(port));
    LyricInfo info = Sentinel();
    const auto start = Clock::now();
    const QueryResult result = query.Execute(LyricQuery::BuildRequest(Checksum), info);
    EXPECT_FALSE(result);
    EXPECT_LT(Clock::now() - start, 2s);
#ifdef _WIN32
    EXPECT_TRUE(result.Cause().starts_with(TransportFailed("127.0.0.1:" + std::to_string(port))))
        << result.Cause();
#else
    EXPECT_EQ(result.Cause(),
              TransportFailed("127.0.0.1:" + std::to_string(port)) + "Connection refused");
#endif
    EXPECT_EQ(info.title, u"title?");
}

TEST_F(ExecuteTest, HostThatWouldChangeTheUrlIsRefused) {
    ScriptedServer server([](const ReceivedRequest&, PeerConnection& peer) {
        peer.Send(HttpAnswer(200, ""));
        return true;
    });
    LyricInfo info;
    for (const std::string& host :
         {server.Host() + "/x?", "user@" + server.Host(), std::string()}) {
        LyricQuery query(host);
        const QueryResult result = query.Execute(LyricQuery::BuildRequest(Checksum), info);
        EXPECT_EQ(result.status, QueryStatus::BadHost) << host;
    }
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(ExecuteTest, ReusesTheConnectionFromCallToCall) {
    ScriptedServer server([](const ReceivedRequest&, PeerConnection& peer) {
        peer.Send(HttpAnswer(200, Answer("<strTitle>T</strTitle>")));
        return true;
    });
    LyricQuery query(server.Host());
    for (int i = 0; i < 3; ++i) {
        LyricInfo info;
        ASSERT_TRUE(query.Execute(LyricQuery::BuildRequest(Checksum), info));
    }
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].connection, 1);
}

#ifndef _WIN32
// libcurl takes its proxy from the environment; WinInet from the system's settings.
TEST_F(ExecuteTest, GoesThroughTheProxyFromTheEnvironment) {
    ScriptedServer proxy([](const ReceivedRequest&, PeerConnection& peer) {
        peer.Send(HttpAnswer(200, Answer("<strTitle>via proxy</strTitle>")));
        return true;
    });
    testing::SetEnv("http_proxy", ("http://" + proxy.Host()).c_str());
    LyricQuery query("lyrics.quillon.invalid:8080");
    LyricInfo info;
    ASSERT_TRUE(query.Execute(LyricQuery::BuildRequest(Checksum), info));
    EXPECT_EQ(info.title, u"via proxy");
    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(proxy.Requests()[0].requestLine,
              "POST http://lyrics.quillon.invalid:8080/alsongwebservice/service1.asmx HTTP/1.1");
}
#endif

// Runs Execute while another thread turns isRunning false after `delay`; returns how long
// Execute took after the flag dropped.
Clock::duration TimeToStop(LyricQuery& query, std::chrono::milliseconds delay,
                           QueryResult& result) {
    std::atomic<bool> running{true};
    std::atomic<Clock::time_point::rep> droppedAt{0};
    std::thread stopper([&] {
        std::this_thread::sleep_for(delay);
        droppedAt = Clock::now().time_since_epoch().count();
        running = false;
    });
    LyricInfo info = Sentinel();
    result =
        query.Execute(LyricQuery::BuildRequest(Checksum), info, [&] { return running.load(); });
    const auto end = Clock::now();
    stopper.join();
    EXPECT_EQ(info.title, u"title?");
    return end - Clock::time_point(Clock::duration(droppedAt.load()));
}

// Fills a stretch of stack below the caller's frame, lets `wait` pass and says whether the
// stretch is as it was: a transfer given up may still complete, and what it writes must not
// land where the caller's later calls keep their locals.
[[gnu::noinline]] bool StackStaysIntact(std::chrono::milliseconds wait) {
    volatile unsigned char stretch[256 * 1024];
    for (auto& byte : stretch) byte = 0xA5;
    std::this_thread::sleep_for(wait);
    return std::all_of(std::begin(stretch), std::end(stretch),
                       [](unsigned char byte) { return byte == 0xA5; });
}

TEST_F(ExecuteTest, StopsWithin100MsWhileThePeerIsSilent) {
    ScriptedServer server([](const ReceivedRequest&, PeerConnection& peer) {
        peer.Wait(10s);
        return false;
    });
    LyricQuery query(server.Host());
    QueryResult result;
    EXPECT_LT(TimeToStop(query, 300ms, result), 100ms);
    EXPECT_FALSE(result);
    EXPECT_EQ(result.status, QueryStatus::Stopped);
}

TEST_F(ExecuteTest, StopsWithin100MsWhileTheBodyTrickles) {
    ScriptedServer server([](const ReceivedRequest&, PeerConnection& peer) {
        peer.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n<strTitle>");
        while (!peer.Stopping() && peer.Send("x")) peer.Wait(30ms);
        return false;
    });
    LyricQuery query(server.Host());
    QueryResult result;
    EXPECT_LT(TimeToStop(query, 300ms, result), 100ms);
    EXPECT_FALSE(result);
    EXPECT_EQ(result.status, QueryStatus::Stopped);
    // The peer goes on trickling into the read that the stop gave up.
    EXPECT_TRUE(StackStaysIntact(200ms));
}

TEST_F(ExecuteTest, FailsWhenNoByteArrivesForTheIdleTimeOut) {
    ScriptedServer server([](const ReceivedRequest&, PeerConnection& peer) {
        peer.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n<strTitle>");
        peer.Wait(10s);
        return false;
    });
    HttpLimits limits;
    limits.idleTimeout = 300ms;
    LyricQuery query(server.Host(), MakeHttpTransport(limits));
    LyricInfo info = Sentinel();
    const auto start = Clock::now();
    const QueryResult result = query.Execute(LyricQuery::BuildRequest(Checksum), info);
    EXPECT_FALSE(result);
    EXPECT_EQ(result.Cause(),
              TransportFailed(server.Host()) + "300 ms 동안 주고받은 데이터가 없습니다");
    EXPECT_GE(Clock::now() - start, 300ms);
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_EQ(info.title, u"title?");
}

constexpr std::size_t MaxAnswer = std::size_t{32} << 20;

TEST_F(ExecuteTest, AnswerOver32MiBFails) {
    // Announced by its length: refused before the body is read.
    ScriptedServer announced([](const ReceivedRequest&, PeerConnection& peer) {
        peer.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(MaxAnswer + 1) +
                  "\r\n\r\n<strTitle>");
        return false;
    });
    LyricInfo info = Sentinel();
    EXPECT_FALSE(LyricQuery(announced.Host()).Execute(LyricQuery::BuildRequest(Checksum), info));

    // Streamed without a length: cut off once it passes the limit.
    ScriptedServer streamed([](const ReceivedRequest&, PeerConnection& peer) {
        peer.Send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n<strTitle>x</strTitle>");
        const std::string block(1 << 20, 'x');
        for (std::size_t sent = 0; sent <= MaxAnswer && !peer.Stopping(); sent += block.size())
            if (!peer.Send(block)) break;
        return false;
    });
    const QueryResult result =
        LyricQuery(streamed.Host()).Execute(LyricQuery::BuildRequest(Checksum), info);
    EXPECT_EQ(result.status, QueryStatus::TooLarge);
    EXPECT_EQ(result.Cause(), "가사 서비스의 답이 너무 큽니다 (33554432바이트 초과)");
    EXPECT_EQ(info.title, u"title?");
}

}  // namespace
}  // namespace quillon
