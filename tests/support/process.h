#pragma once

// Runs the project's programs as a user would: arguments, extra environment, stdout through a
// pipe, stderr into a file, exit status.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace quillon::testing {

using namespace std::chrono_literals;

class Process {
public:
    // `env` entries ("NAME=value") are added to, or replace, the test's own environment.
    Process(const std::vector<std::string>& argv, const std::filesystem::path& stderrFile,
            const std::vector<std::string>& env = {})
        : errFile(stderrFile) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> args = argv;
        std::vector<char*> rawArgs;
        for (auto& arg : args) rawArgs.push_back(arg.data());
        rawArgs.push_back(nullptr);
        std::vector<std::string> environment = MergedEnvironment(env);
        std::vector<char*> rawEnv;
        for (auto& entry : environment) rawEnv.push_back(entry.data());
        rawEnv.push_back(nullptr);
        const int spawned =
            posix_spawn(&pid, rawArgs[0], &actions, nullptr, rawArgs.data(), rawEnv.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        output = fds[0];
        if (spawned != 0) {
            pid = -1;
            throw std::runtime_error("cannot start " + argv.front());
        }
    }
    ~Process() {
        if (pid > 0 && !exitStatus) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ::close(output);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // The next stdout line, or nothing if none comes within `limit`.
    std::optional<std::string> ReadLine(std::chrono::milliseconds limit = 5s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        for (;;) {
            if (const std::size_t end = pending.find('\n'); end != std::string::npos) {
                std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                return line;
            }
            if (!Fill(until)) return std::nullopt;
        }
    }

    // Everything the program still writes to stdout, up to its end or `limit`.
    std::string ReadRest(std::chrono::milliseconds limit = 30s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (Fill(until)) {
        }
        std::string rest;
        rest.swap(pending);
        return rest;
    }

    // The exit code once the process has ended (128 + signal when killed by one), or nothing
    // if it is still running at `limit`.
    std::optional<int> Wait(std::chrono::milliseconds limit = 30s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!exitStatus) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (std::chrono::steady_clock::now() > until) return std::nullopt;
            std::this_thread::sleep_for(2ms);
        }
        return exitStatus;
    }

    void Signal(int number) const { ::kill(pid, number); }

    std::string Stderr() const {
        std::ifstream in(errFile, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

private:
    static std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
        std::vector<std::string> merged;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            const std::string name = text.substr(0, text.find('='));
            bool replaced = false;
            for (const auto& e : extra) replaced |= e.substr(0, e.find('=')) == name;
            if (!replaced) merged.push_back(text);
        }
        merged.insert(merged.end(), extra.begin(), extra.end());
        return merged;
    }

    // Reads what stdout has; false at its end or at `until`.
    bool Fill(std::chrono::steady_clock::time_point until) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        pollfd p{output, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        char buffer[4096];
        const ssize_t n = ::read(output, buffer, sizeof buffer);
        if (n <= 0) return false;
        pending.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    std::filesystem::path errFile;
    pid_t pid = -1;
    int output = -1;
    std::string pending;
    std::optional<int> exitStatus;
};

struct ProcessResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs a program to its end.
inline ProcessResult RunProcess(const std::vector<std::string>& argv,
                                const std::filesystem::path& stderrFile,
                                const std::vector<std::string>& env = {}) {
    Process process(argv, stderrFile, env);
    ProcessResult result;
    result.out = process.ReadRest();
    result.exitCode = process.Wait().value_or(-1);
    result.err = process.Stderr();
    return result;
}

}  // namespace quillon::testing
