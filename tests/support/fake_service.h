#pragma once

// A lyrics service on loopback for tests: answers GetLyric5 by the checksum in the request from
// a table the test fills, and can hold one song's answer back to stand for a slow service.

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace quillon::testing {

inline std::string Answer(const std::string& title, const std::string& lyric) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope><soap:Body>"
           "<GetLyric5Response><GetLyric5Result><strTitle>" +
           title + "</strTitle><strArtist>Singer</strArtist><strAlbum>Album</strAlbum><strLyric>" +
           lyric + "</strLyric></GetLyric5Result></GetLyric5Response></soap:Body></soap:Envelope>";
}

// Answers GetLyric5 by the checksum inside the request; unknown checksums get empty fields.
// A checksum in `stallFor` holds its answer until Release() is called.
class FakeService {
public:
    FakeService() {
        server.Post("/alsongwebservice/service1.asmx", [this](const httplib::Request& request,
                                                              httplib::Response& response) {
            const auto open = request.body.find("<ns1:strChecksum>");
            const std::string sum =
                open == std::string::npos ? "" : request.body.substr(open + 17, 32);
            {
                std::unique_lock lock(mutex);
                ++requests;
                if (sum == stallFor) {
                    stalled = true;
                    changed.notify_all();
                    changed.wait_for(lock, std::chrono::seconds(10), [this] { return released; });
                }
            }
            const auto it = answers.find(sum);
            response.set_content(it == answers.end() ? Answer("", "") : it->second,
                                 "application/soap+xml; charset=utf-8");
        });
        server.set_tcp_nodelay(true);  // answers go out in two writes
        port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~FakeService() {
        Release();
        server.stop();
        thread.join();
    }
    std::string Host() const { return "127.0.0.1:" + std::to_string(port); }
    void WaitUntilStalled() {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(10), [this] { return stalled; });
    }
    void Release() {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    int Requests() {
        std::lock_guard lock(mutex);
        return requests;
    }

    std::map<std::string, std::string> answers;
    std::string stallFor;

private:
    httplib::Server server;
    int port = 0;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable changed;
    bool stalled = false;
    bool released = false;
    int requests = 0;
};

}  // namespace quillon::testing
