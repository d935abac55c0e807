#pragma once

// A catalogue database of a test's own, in a fresh temporary folder, and songs to fill it with.

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lyricsd/store.h"
#include "support/tempdir.h"

namespace quillon::testing {

inline lyricsd::SongRecord Song(std::string path, std::string title, std::string artist,
                                std::string album, double duration,
                                std::optional<std::string> synced = std::nullopt,
                                std::optional<std::string> plain = std::nullopt) {
    lyricsd::SongRecord song;
    song.path = std::move(path);
    song.title = std::move(title);
    song.artist = std::move(artist);
    song.album = std::move(album);
    song.duration = duration;
    song.synced = std::move(synced);
    song.plain = std::move(plain);
    return song;
}

class StoreFolder {
public:
    std::filesystem::path File() const { return folder / "catalogue.db"; }

    std::unique_ptr<lyricsd::Store> Open() const {
        std::string error;
        auto store = lyricsd::Store::Open(File(), error);
        EXPECT_NE(store, nullptr) << error;
        return store;
    }

    // Puts the songs in one batch and gives their ids, in order.
    static std::vector<std::int64_t> Put(lyricsd::Store& store,
                                         std::initializer_list<lyricsd::SongRecord> songs) {
        lyricsd::Store::Batch batch(store);
        for (const auto& song : songs) batch.Put(song);
        EXPECT_TRUE(batch.Commit()) << batch.Error();
        std::vector<std::int64_t> ids;
        const auto known = store.KnownFiles();
        for (const auto& song : songs) ids.push_back(known.at(song.path).id);
        return ids;
    }

    TempDir folder;
};

}  // namespace quillon::testing
