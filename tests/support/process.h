#pragma once

// Runs the project's programs as a user would: arguments, extra environment, stdout through a
// pipe, stderr into a file, exit status.

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
extern char** environ;
#endif

namespace quillon::testing {

using namespace std::chrono_literals;

#ifdef _WIN32
// Windows: CreateProcessW with stdout through a pipe and stderr into a file. Arguments and the
// environment are UTF-8 here and handed over as UTF-16; SIGKILL ends the program, other signals
// are not sent.
class Process {
public:
    Process(const std::vector<std::string>& argv, const std::filesystem::path& stderrFile,
            const std::vector<std::string>& env = {})
        : errFile(stderrFile) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE readEnd = nullptr, writeEnd = nullptr;
        if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) throw std::runtime_error("pipe");
        ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        const HANDLE errors = ::CreateFileW(errFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                            &inherit, CREATE_ALWAYS, 0, nullptr);
        const HANDLE nothing =
            ::CreateFileW(L"NUL", GENERIC_READ, 0, &inherit, OPEN_EXISTING, 0, nullptr);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nothing;
        startup.hStdOutput = writeEnd;
        startup.hStdError = errors;
        std::wstring command;
        for (const std::string& arg : argv) {
            if (!command.empty()) command += L' ';
            command += Quoted(Wide(arg));
        }
        std::wstring block;
        for (const std::string& entry : MergedEnvironment(env)) block += Wide(entry) + L'\0';
        block += L'\0';
        PROCESS_INFORMATION info{};
        const BOOL started =
            ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE,
                             CREATE_UNICODE_ENVIRONMENT, block.data(), nullptr, &startup, &info);
        ::CloseHandle(writeEnd);
        ::CloseHandle(errors);
        ::CloseHandle(nothing);
        output = readEnd;
        if (!started) throw std::runtime_error("cannot start " + argv.front());
        ::CloseHandle(info.hThread);
        process = info.hProcess;
    }
    ~Process() {
        if (process != nullptr) {
            if (!exitStatus) ::TerminateProcess(process, 137);
            ::WaitForSingleObject(process, 5000);
            ::CloseHandle(process);
        }
        ::CloseHandle(output);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    std::optional<std::string> ReadLine(std::chrono::milliseconds limit = 5s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        for (;;) {
            if (const std::size_t end = pending.find('\n'); end != std::string::npos) {
                std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return line;
            }
            if (!Fill(until)) return std::nullopt;
        }
    }

    std::string ReadRest(std::chrono::milliseconds limit = 30s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (Fill(until)) {
        }
        std::string rest;
        rest.swap(pending);
        return rest;
    }

    std::optional<int> Wait(std::chrono::milliseconds limit = 30s) {
        if (!exitStatus &&
            ::WaitForSingleObject(process, static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0) {
            DWORD code = 0;
            ::GetExitCodeProcess(process, &code);
            exitStatus = static_cast<int>(code);
        }
        return exitStatus;
    }

    void Signal(int number) const {
        if (number == 9) ::TerminateProcess(process, 137);
    }

    std::string Stderr() const {
        std::ifstream in(errFile, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

private:
    static std::wstring Wide(const std::string& text) {
        const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(),
                                               static_cast<int>(text.size()), nullptr, 0);
        std::wstring wide(static_cast<std::size_t>(size), L'\0');
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                              size);
        return wide;
    }
    // An argument as the C runtime of the started program splits it back.
    static std::wstring Quoted(const std::wstring& arg) {
        if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
        std::wstring out = L"\"";
        std::size_t slashes = 0;
        for (const wchar_t c : arg) {
            if (c == L'\\') {
                ++slashes;
                continue;
            }
            out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
            slashes = 0;
            out += c;
        }
        out.append(slashes * 2, L'\\');
        return out + L'"';
    }
    static std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
        std::vector<std::string> merged;
        wchar_t* block = ::GetEnvironmentStringsW();
        for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
            const std::wstring wide(entry);
            const int size =
                ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
            std::string text(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
            ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text.data(), size, nullptr,
                                  nullptr);
            const std::string name = text.substr(0, text.find('=', 1));
            bool replaced = false;
            for (const auto& e : extra) replaced |= e.substr(0, e.find('=')) == name;
            if (!replaced) merged.push_back(text);
        }
        ::FreeEnvironmentStringsW(block);
        // An entry without a value ("NAME=") takes the name out.
        for (const auto& e : extra)
            if (e.back() != '=') merged.push_back(e);
        return merged;
    }

    // Reads what stdout has; false at its end or at `until`.
    bool Fill(std::chrono::steady_clock::time_point until) {
        for (;;) {
            DWORD available = 0;
            if (!::PeekNamedPipe(output, nullptr, 0, nullptr, &available, nullptr)) return false;
            if (available > 0) break;
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(2ms);
        }
        char buffer[4096];
        DWORD got = 0;
        if (!::ReadFile(output, buffer, sizeof buffer, &got, nullptr) || got == 0) return false;
        pending.append(buffer, got);
        return true;
    }

    std::filesystem::path errFile;
    HANDLE process = nullptr;
    HANDLE output = nullptr;
    std::string pending;
    std::optional<int> exitStatus;
};
#else
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
#endif

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
