#pragma once

// A lyrics service on loopback for tests: answers GetLyric5 by the checksum in the request from
// a table the test fills, and can hold one answer back to stand for a slow service.

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

#include "support/scripted_server.h"

namespace quillon::testing {

inline std::string Answer(const std::string& title, const std::string& lyric) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope><soap:Body>"
           "<GetLyric5Response><GetLyric5Result><strTitle>" +
           title + "</strTitle><strArtist>Singer</strArtist><strAlbum>Album</strAlbum><strLyric>" +
           lyric + "</strLyric></GetLyric5Result></GetLyric5Response></soap:Body></soap:Envelope>";
}

// Answers GetLyric5 by the checksum inside the request; unknown checksums get empty fields.
// The test sets the answers and the song to hold back as it goes, under the service's lock.
class FakeService {
public:
    FakeService()
        : server([this](const ReceivedRequest& request, PeerConnection& peer) {
              return Serve(request, peer);
          }) {}
    ~FakeService() { Release(); }

    std::string Host() const { return server.Host(); }
    bool WaitUntilStalled() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [this] { return stalled; });
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

    // The answer to a checksum; unknown checksums get empty fields.
    void SetAnswer(const std::string& checksum, const std::string& answer) {
        std::lock_guard lock(mutex);
        answers[checksum] = answer;
    }
    // Holds the answer to this checksum back until Release().
    void StallFor(const std::string& checksum) {
        std::lock_guard lock(mutex);
        stallFor = checksum;
    }
    // Holds back the answer to the request that arrives as the `number`-th (from 1) until
    // Release(), whatever its checksum.
    void StallRequest(int number) {
        std::lock_guard lock(mutex);
        stallAt = number;
    }

private:
    bool Serve(const ReceivedRequest& request, PeerConnection& peer) {
        const auto open = request.body.find("<ns1:strChecksum>");
        const std::string sum = open == std::string::npos ? "" : request.body.substr(open + 17, 32);
        std::string answer;
        {
            std::unique_lock lock(mutex);
            ++requests;
            if (sum == stallFor || requests == stallAt) {
                stalled = true;
                changed.notify_all();
                // Held until released, or until the peer goes away or the service ends.
                while (!released && !peer.Stopping())
                    changed.wait_for(lock, std::chrono::milliseconds(10));
            }
            const auto it = answers.find(sum);
            answer = it == answers.end() ? Answer("", "") : it->second;
        }
        return peer.Send(HttpAnswer(200, answer));
    }

    std::mutex mutex;
    std::condition_variable changed;
    bool stalled = false;
    bool released = false;
    int requests = 0;
    int stallAt = 0;
    std::map<std::string, std::string> answers;
    std::string stallFor;
    ScriptedServer server;  // last: it stops serving before the table goes
};

}  // namespace quillon::testing
