#pragma once

// A fresh folder of a test's own under the system's temporary folder, removed with everything
// in it (also what a test made unwritable) when the test is done.

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace quillon::testing {

class TempDir {
public:
    TempDir() {
        std::random_device seed;
        std::mt19937_64 random(seed());
        for (int attempt = 0; attempt < 100 && path.empty(); ++attempt) {
            const auto candidate = std::filesystem::temp_directory_path() /
                                   ("quillon-" + std::to_string(random() % 1'000'000'000'000));
            std::error_code ec;
            if (std::filesystem::create_directory(candidate, ec)) path = candidate;
        }
        if (path.empty()) throw std::runtime_error("cannot make a temporary folder");
    }
    ~TempDir() {
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            std::error_code ignored;
            if (it->is_directory(ignored))
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ignored);
        }
        std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path; }
    std::filesystem::path operator/(std::string_view name) const { return path / name; }

    // Writes a file of `bytes` in the folder and returns its path.
    std::filesystem::path Write(std::string_view name, std::string_view bytes) const {
        const auto file = path / name;
        std::ofstream(file, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    }

    // The names in the folder.
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path))
            names.insert(entry.path().filename().string());
        return names;
    }

private:
    std::filesystem::path path;
};

}  // namespace quillon::testing
