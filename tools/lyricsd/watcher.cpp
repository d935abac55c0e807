#include "lyricsd/watcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "tagging/songtags.h"

namespace fs = std::filesystem;

namespace quillon::lyricsd {
namespace {

// Whether a change to this name can change the catalogue: a song, a lyric file, or a folder.
bool Matters(const inotify_event& event) {
    if ((event.mask & (IN_ISDIR | IN_DELETE_SELF | IN_Q_OVERFLOW)) != 0 || event.len == 0)
        return true;
    const fs::path name(event.name);
    std::string extension = name.extension().string();
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return extension == ".lrc" || extension == ".txt" || IsSongFile(name);
}

constexpr std::uint32_t WatchedEvents = IN_CREATE | IN_DELETE | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                        IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_ONLYDIR;

}  // namespace

FolderWatcher::FolderWatcher(std::vector<fs::path> folders,
                             std::function<void(const std::string&)> logger,
                             std::function<void()> onChange)
    : roots(std::move(folders)), log(std::move(logger)), changed(std::move(onChange)) {
    inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (inotify < 0) {
        watching = false;
        log(std::string("cannot watch the catalogue folders (") + std::strerror(errno) +
            "); scanning them every 5 minutes instead");
    } else {
        for (const fs::path& root : roots) {
            if (!WatchTree(root)) {
                watching = false;
                log("the system's limit of watched folders (fs.inotify.max_user_watches) is too "
                    "small for the catalogue; scanning it every 5 minutes instead");
                break;
            }
        }
    }
    thread = std::thread([this] { Run(); });
}

FolderWatcher::~FolderWatcher() {
    const std::uint64_t one = 1;
    if (wake >= 0) (void)!::write(wake, &one, sizeof one);
    if (thread.joinable()) thread.join();
    if (inotify >= 0) ::close(inotify);
    if (wake >= 0) ::close(wake);
}

bool FolderWatcher::WatchTree(const fs::path& folder) {
    const auto add = [this](const fs::path& dir) {
        const int id = ::inotify_add_watch(inotify, dir.c_str(), WatchedEvents);
        if (id >= 0) {
            watches.emplace_back(id, dir);
            return true;
        }
        // A folder that went meanwhile, or one not to be read, is no reason to stop watching.
        return errno != ENOSPC;
    };
    if (!add(folder)) return false;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                             error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::error_code typeError;
        if (it->is_directory(typeError) && !it->is_symlink(typeError) && !add(it->path()))
            return false;
    }
    return true;
}

void FolderWatcher::Run() {
    using Clock = std::chrono::steady_clock;
    bool pending = false;  // a change waits for the folders to be quiet
    Clock::time_point firstChange{};
    Clock::time_point lastChange{};
    Clock::time_point lastFallback = Clock::now();
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        int timeout = -1;
        const auto now = Clock::now();
        if (pending) {
            const auto due = std::min(lastChange + Quiet, firstChange + MaxDelay);
            timeout = static_cast<int>(std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count()));
        } else if (!watching) {
            timeout = static_cast<int>(std::max<long long>(
                0,
                std::chrono::duration_cast<std::chrono::milliseconds>(lastFallback + Fallback - now)
                    .count()));
        }
        pollfd fds[2] = {{wake, POLLIN, 0}, {inotify, POLLIN, 0}};
        const int ready = ::poll(fds, inotify >= 0 ? 2 : 1, timeout);
        if (ready < 0 && errno != EINTR) return;
        if (fds[0].revents != 0) return;
        if (ready > 0 && inotify >= 0 && (fds[1].revents & POLLIN) != 0) {
            for (;;) {
                const ssize_t got = ::read(inotify, buffer, sizeof buffer);
                if (got <= 0) break;
                for (ssize_t at = 0; at < got;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                    at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                    if ((event->mask & IN_IGNORED) != 0) {
                        std::erase_if(watches,
                                      [&](const auto& watch) { return watch.first == event->wd; });
                        continue;
                    }
                    // A new folder is watched from now on, with whatever is in it already.
                    if ((event->mask & IN_ISDIR) != 0 &&
                        (event->mask & (IN_CREATE | IN_MOVED_TO)) != 0 && event->len > 0) {
                        for (const auto& [id, dir] : watches) {
                            if (id != event->wd) continue;
                            if (watching && !WatchTree(dir / event->name)) {
                                watching = false;
                                log("the system's limit of watched folders is too small for "
                                    "the catalogue; scanning it every 5 minutes instead");
                            }
                            break;
                        }
                    }
                    if (!Matters(*event)) continue;
                    if (!pending) firstChange = Clock::now();
                    pending = true;
                    lastChange = Clock::now();
                }
            }
        }
        const auto at = Clock::now();
        if (pending && (at >= lastChange + Quiet || at >= firstChange + MaxDelay)) {
            pending = false;
            changed();
        } else if (!watching && at >= lastFallback + Fallback) {
            lastFallback = at;
            changed();
        }
    }
}

}  // namespace quillon::lyricsd
