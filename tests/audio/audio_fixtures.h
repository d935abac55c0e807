#pragma once

// Helpers shared by the audio and command-line tests: the committed audio files, their expected
// checksums and the scratch folder of each test.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/tempdir.h"

namespace quillon::fixtures {

inline std::filesystem::path AudioFixture(const std::string& name) {
    return std::filesystem::path(QUILLON_TEST_DATA_DIR) / "audio" / name;
}

// One line of audio/expected-checksums.txt: the region start and checksum worked out by the
// fixture script with md5sum, or start -1 and the name of the expected failure.
struct ExpectedChecksum {
    std::string name;
    std::int64_t start = -1;
    std::string result;
};

inline std::vector<ExpectedChecksum> LoadExpectedChecksums() {
    std::ifstream in(AudioFixture("expected-checksums.txt"));
    if (!in) throw std::runtime_error("audio/expected-checksums.txt is missing");
    std::vector<ExpectedChecksum> list;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        ExpectedChecksum e;
        std::string start;
        fields >> e.name >> start >> e.result;
        e.start = start == "-" ? -1 : std::stoll(start);
        list.push_back(e);
    }
    return list;
}

inline std::string ExpectedChecksumOf(const std::string& name) {
    for (const auto& e : LoadExpectedChecksums())
        if (e.name == name) return e.result;
    throw std::runtime_error("no expected checksum for " + name);
}

using testing::TempDir;

}  // namespace quillon::fixtures
