#pragma once

// A catalogue folder built in a fresh temporary directory from the committed MP3 files and
// LRC text given by the test; removed again when the test ends.

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "audio/checksum.h"
#include "support/tempdir.h"

namespace quillon::testing {

class CatalogueFolder {
public:
    const std::filesystem::path& Root() const { return folder.Path(); }

    // Copies tests/data/audio/`fixture` to `name` below the root and returns the copy's path.
    std::filesystem::path AddAudio(const std::string& fixture, const std::string& name) const {
        const std::filesystem::path target = Root() / name;
        std::filesystem::create_directories(target.parent_path());
        std::filesystem::copy_file(std::filesystem::path(QUILLON_TEST_DATA_DIR) / "audio" / fixture,
                                   target, std::filesystem::copy_options::overwrite_existing);
        return target;
    }

    void AddFile(const std::string& name, std::string_view bytes) const {
        const std::filesystem::path target = Root() / name;
        std::filesystem::create_directories(target.parent_path());
        std::ofstream out(target, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    static std::string ChecksumOf(const std::filesystem::path& mp3) {
        AudioChecksummer checksummer;
        AudioChecksum checksum{};
        if (checksummer.Compute(mp3, checksum) != ChecksumStatus::Ok)
            throw std::runtime_error("no checksum for " + mp3.string());
        return std::string(checksum.data(), 32);
    }

private:
    TempDir folder;
};

}  // namespace quillon::testing
