#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace quillon::lyricsd {

// Watches the catalogue folders, every folder below them included, and calls `changed` on its
// own thread once they have been quiet for a moment after a change: a file added, written,
// renamed or removed, a folder added or removed. Where the system cannot watch every folder
// (its limit of watches is too small), says so once and calls `changed` every few minutes
// instead.
class FolderWatcher {
public:
    // How long the folders must be quiet after a change, and how long a stream of changes may
    // hold the call back at most.
    static constexpr std::chrono::milliseconds Quiet{1000};
    static constexpr std::chrono::milliseconds MaxDelay{5000};
    static constexpr std::chrono::minutes Fallback{5};

    FolderWatcher(std::vector<std::filesystem::path> roots,
                  std::function<void(const std::string&)> log, std::function<void()> changed);
    ~FolderWatcher();
    FolderWatcher(const FolderWatcher&) = delete;
    FolderWatcher& operator=(const FolderWatcher&) = delete;

    // False once the system's watch limit made it fall back to rescans now and then.
    bool Watching() const { return watching.load(); }

private:
    void Run();
    // Adds a watch on `folder` and every folder below it; false when the limit was reached.
    bool WatchTree(const std::filesystem::path& folder);

    std::vector<std::filesystem::path> roots;
    std::function<void(const std::string&)> log;
    std::function<void()> changed;
    int inotify = -1;
    int wake = -1;  // an eventfd that ends the thread
    std::atomic<bool> watching{true};
    std::vector<std::pair<int, std::filesystem::path>> watches;
    std::thread thread;
};

}  // namespace quillon::lyricsd
