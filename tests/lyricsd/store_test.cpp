#include "lyricsd/store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "store_songs.h"

namespace quillon::lyricsd {
namespace {

using ::testing::HasSubstr;
using testing::Song;
using testing::StoreFolder;

// Runs SQL on the database file the way another program would, and gives the first column of
// the last row it read.
std::string RawSql(const std::filesystem::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    std::string last;
    char* message = nullptr;
    const int result = sqlite3_exec(
        db, sql.c_str(),
        [](void* out, int, char** values, char**) {
            *static_cast<std::string*>(out) = values[0] != nullptr ? values[0] : "NULL";
            return 0;
        },
        &last, &message);
    EXPECT_EQ(result, SQLITE_OK) << (message != nullptr ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
    return last;
}

SearchQuery Words(std::string q) {
    SearchQuery query;
    query.q = std::move(q);
    return query;
}

SearchQuery Fields(std::string track, std::string artist = "", std::string album = "") {
    SearchQuery query;
    query.track = std::move(track);
    query.artist = std::move(artist);
    query.album = std::move(album);
    return query;
}

std::set<std::int64_t> Ids(const std::vector<SongRecord>& songs) {
    std::set<std::int64_t> ids;
    for (const auto& song : songs) ids.insert(song.id);
    return ids;
}

TEST(StoreOpen, RefusesWhatItCannotUseWithAClearReason) {
    StoreFolder folder;
    folder.folder.Write("text.db", "just some text, long enough to be no SQLite header at all");
    RawSql(folder.folder / "other.db", "CREATE TABLE notes(x);");
    RawSql(folder.folder / "newer.db", "CREATE TABLE songs(x); PRAGMA user_version = 3;");
    const struct {
        const char* name;
        const char* reason;
    } cases[] = {
        {"text.db", "is not a SQLite database"},
        {"other.db", "is a SQLite database, but not one of quillon-lyricsd"},
        {"newer.db", "was written by a newer quillon-lyricsd (schema 3); this one knows schema 2"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(Store::Open(folder.folder / c.name, error), nullptr) << c.name;
        EXPECT_THAT(error, HasSubstr(c.reason)) << c.name;
        EXPECT_THAT(error, HasSubstr(c.name));
    }
    // The newer database is left as it was.
    EXPECT_EQ(RawSql(folder.folder / "newer.db", "PRAGMA user_version"), "3");
}

// flock locks belong to an open file description: a second open of the lock file conflicts
// even within one process.
TEST(StoreOpen, OneStoreAtATimeInThisProcessOrAnother) {
    StoreFolder folder;
    std::string error;
    {
        auto first = folder.Open();
        EXPECT_EQ(Store::Open(folder.File(), error), nullptr);
        EXPECT_THAT(error, HasSubstr("is in use by another quillon-lyricsd"));
        EXPECT_THAT(error, HasSubstr(folder.File().string()));
    }
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(release[1]);
        std::string childError;
        const auto held = Store::Open(folder.File(), childError);
        const char byte = held != nullptr ? '1' : '0';
        char ignored;
        if (write(ready[1], &byte, 1) != 1 || read(release[0], &ignored, 1) < 0) _exit(2);
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    EXPECT_EQ(byte, '1');
    error.clear();
    EXPECT_EQ(Store::Open(folder.File(), error), nullptr);
    EXPECT_THAT(error, HasSubstr("is in use by another quillon-lyricsd"));
    close(release[1]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_NE(folder.Open(), nullptr);
    for (const int fd : {ready[0], ready[1], release[0]}) close(fd);
}

TEST(StoreBatch, AKilledProcessLosesOnlyTheBatchUnderWay) {
    StoreFolder folder;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string error;
        auto store = Store::Open(folder.File(), error);
        if (store == nullptr) _exit(2);
        Store::Batch first(*store);
        first.Put(Song("/m/kept.mp3", "Kept", "A", "", 100));
        if (!first.Commit()) _exit(2);
        Store::Batch second(*store);
        second.Put(Song("/m/lost.mp3", "Lost", "A", "", 100));
        kill(getpid(), SIGKILL);
        _exit(3);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    auto store = folder.Open();
    const auto known = store->KnownFiles();
    EXPECT_EQ(known.size(), 1u);
    EXPECT_TRUE(known.count("/m/kept.mp3"));
    EXPECT_EQ(store->Search(Words("kept"), 20).size(), 1u);
    // A batch dropped without its commit is undone the same way.
    {
        Store::Batch dropped(*store);
        dropped.Put(Song("/m/dropped.mp3", "Dropped", "A", "", 100));
    }
    EXPECT_EQ(store->KnownFiles().size(), 1u);
}

TEST(StoreMigration, BringsAHandMadeVersion1DatabaseToVersion2) {
    StoreFolder folder;
    RawSql(folder.File(), R"(
        CREATE TABLE songs (id INTEGER PRIMARY KEY, path TEXT NOT NULL UNIQUE,
            size INTEGER NOT NULL DEFAULT 0, modified_ns INTEGER NOT NULL DEFAULT 0,
            checksum TEXT NOT NULL DEFAULT '', title TEXT NOT NULL DEFAULT '',
            artist TEXT NOT NULL DEFAULT '', album TEXT NOT NULL DEFAULT '',
            duration REAL NOT NULL DEFAULT 0, synced TEXT, plain TEXT,
            instrumental INTEGER NOT NULL DEFAULT 0);
        CREATE INDEX songs_checksum ON songs(checksum);
        CREATE TABLE scans (id INTEGER PRIMARY KEY, started INTEGER NOT NULL DEFAULT 0,
            finished INTEGER NOT NULL DEFAULT 0, added INTEGER NOT NULL DEFAULT 0,
            changed INTEGER NOT NULL DEFAULT 0, removed INTEGER NOT NULL DEFAULT 0,
            unchanged INTEGER NOT NULL DEFAULT 0, problems TEXT NOT NULL DEFAULT '');
        INSERT INTO songs(id, path, checksum, title, artist, album, duration, synced)
            VALUES (7, '/m/a.mp3', 'abc', 'Song (feat. X)', 'ＡＲＴＩＳＴ', 'Album', 201.5,
                    '[00:01.00]la'),
                   (9, '/m/b.mp3', '', '사랑을 했다', '아이콘', '', 180, NULL);
        INSERT INTO scans(started, finished, added, problems) VALUES (10, 20, 2, 'x.mp3: bad');
        PRAGMA user_version = 1;
    )");
    auto store = folder.Open();
    EXPECT_EQ(RawSql(folder.File(), "PRAGMA user_version"), "2");
    const auto got = store->Get("SONG", "artist", std::nullopt, 200.0);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->id, 7);
    EXPECT_EQ(got->synced, "[00:01.00]la");
    EXPECT_EQ(Ids(store->Search(Words("사랑"), 20)), std::set<std::int64_t>{9});
    EXPECT_EQ(Ids(store->Search(Words("feat"), 20)), std::set<std::int64_t>{7});
    EXPECT_EQ(store->ByChecksum("abc")->path, "/m/a.mp3");
    EXPECT_EQ(store->LastScan().problems, std::vector<std::string>{"x.mp3: bad"});
    // The songs keep their ids; a new one follows them.
    EXPECT_EQ(StoreFolder::Put(*store, {Song("/m/b.mp3", "하늘", "", "", 1),
                                        Song("/m/c.mp3", "New", "", "", 1)}),
              (std::vector<std::int64_t>{9, 10}));
    EXPECT_TRUE(store->Search(Words("사랑"), 20).empty());
    EXPECT_EQ(Ids(store->Search(Words("하늘"), 20)), std::set<std::int64_t>{9});
}

TEST(StoreBatch, PutKeepsAPathsIdAndRemoveTakesItOutOfEverything) {
    StoreFolder folder;
    auto store = folder.Open();
    const auto ids = StoreFolder::Put(
        *store, {Song("/m/1.mp3", "Alpha", "X", "", 1), Song("/m/2.mp3", "Beta", "X", "", 1)});
    EXPECT_EQ(StoreFolder::Put(*store, {Song("/m/1.mp3", "Omega", "X", "", 1)}),
              std::vector<std::int64_t>{ids[0]});
    EXPECT_TRUE(store->Search(Words("alpha"), 20).empty());
    EXPECT_EQ(Ids(store->Search(Words("omega"), 20)), std::set<std::int64_t>{ids[0]});
    EXPECT_EQ(store->ById(ids[0])->title, "Omega");

    Store::Batch batch(*store);
    batch.Remove("/m/2.mp3");
    batch.Remove("/m/never-there.mp3");
    ASSERT_TRUE(batch.Commit()) << batch.Error();
    EXPECT_FALSE(store->ById(ids[1]).has_value());
    EXPECT_TRUE(store->Search(Words("beta"), 20).empty());
    EXPECT_FALSE(store->Get("Beta", "X", std::nullopt, std::nullopt).has_value());
    EXPECT_EQ(store->KnownFiles().size(), 1u);
}

TEST(StoreGet, PrefersSyncedThenTheClosestDurationThenTheLowestId) {
    StoreFolder folder;
    auto store = folder.Open();
    const auto ids = StoreFolder::Put(
        *store, {Song("/m/1.mp3", "Song", "Artist", "One", 200, std::nullopt, "plain"),
                 Song("/m/2.mp3", "Song", "Artist", "Two", 210, "[00:01.00]2"),
                 Song("/m/3.mp3", "Song (Live)", "ARTIST", "One", 201, "[00:01.00]3"),
                 Song("/m/4.mp3", "song", "artist", "One", 199, "[00:01.00]4"),
                 Song("/m/5.mp3", "Song", "Artist", "One", 196, std::nullopt, "plain"),
                 Song("/m/6.mp3", "Song", "Other", "One", 200, "[00:01.00]6")});
    const struct {
        std::optional<double> duration;
        std::optional<std::string> album;
        int expected;  // index into ids, -1 for none
    } cases[] = {
        {std::nullopt, std::nullopt, 1},
        {200.0, std::nullopt, 2},
        {199.2, std::nullopt, 3},
        {210.0, std::nullopt, 1},
        {212.0, std::nullopt, 1},
        {212.01, std::nullopt, -1},
        {205.0, std::nullopt, -1},
        {197.5, std::nullopt, 3},
        {194.5, std::nullopt, 4},
        {209.0, "two", 1},
        {200.0, "Three", -1},
        {std::nullopt, "ONE", 2},
    };
    for (const auto& c : cases) {
        const auto got = store->Get("SONG [Remastered]", "Artist", c.album, c.duration);
        const std::string what =
            std::to_string(c.duration.value_or(-1)) + " " + c.album.value_or("(no album)");
        if (c.expected < 0) {
            EXPECT_FALSE(got.has_value()) << what;
        } else {
            ASSERT_TRUE(got.has_value()) << what;
            EXPECT_EQ(got->id, ids[static_cast<std::size_t>(c.expected)]) << what;
        }
    }
    EXPECT_FALSE(store->Get("?!", "Artist", std::nullopt, std::nullopt).has_value());
}

TEST(StoreSearch, FindsWordsAndPartsOfWordsInTheirFields) {
    StoreFolder folder;
    auto store = folder.Open();
    const auto ids =
        StoreFolder::Put(*store, {Song("/m/1.mp3", "Love Story", "Taylor", "Fearless", 1),
                                  Song("/m/2.mp3", "사랑을 했다", "아이콘", "Return", 1),
                                  Song("/m/3.mp3", "하늘", "Story", "Sky", 1),
                                  Song("/m/4.mp3", "Lovely Day", "Bill", "Menagerie", 1)});
    const struct {
        SearchQuery query;
        std::set<std::size_t> expected;  // indexes into ids
    } cases[] = {
        {Words("love"), {0, 3}},
        {Words("ove"), {0, 3}},
        {Words("story"), {0, 2}},
        {Words("love taylor fearless"), {0}},
        {Words("사랑"), {1}},
        {Words("하늘"), {2}},
        {Words("사랑을"), {1}},
        {Words("랑을"), {}},
        {Words("lo"), {0, 3}},
        {Words("da love"), {3}},
        {Fields("story"), {0}},
        {Fields("love", "bill"), {3}},
        {Fields("love", "", "fear"), {0}},
        {Fields("taylor"), {}},
        {Fields("하늘", "sto"), {2}},
    };
    for (const auto& c : cases) {
        std::set<std::int64_t> expected;
        for (const std::size_t i : c.expected) expected.insert(ids[i]);
        EXPECT_EQ(Ids(store->Search(c.query, 20)), expected)
            << c.query.q << "|" << c.query.track << "|" << c.query.artist << "|" << c.query.album;
    }
}

TEST(StoreSearch, ExactTitlesComeFirstAndTheLimitHolds) {
    StoreFolder folder;
    auto store = folder.Open();
    Store::Batch batch(*store);
    for (int i = 0; i < 30; ++i)
        batch.Put(Song("/m/" + std::to_string(i) + ".mp3", "Rain song " + std::to_string(i), "Band",
                       "", 1));
    batch.Put(Song("/m/rain.mp3", "Rain (Acoustic)", "Someone", "", 1));
    ASSERT_TRUE(batch.Commit());
    const auto found = store->Search(Words("RAIN"), 20);
    ASSERT_EQ(found.size(), 20u);
    EXPECT_EQ(found[0].path, "/m/rain.mp3");
    EXPECT_EQ(store->Search(Words("rain"), 5).size(), 5u);
    EXPECT_TRUE(store->Search(Words("rain"), 0).empty());
    EXPECT_EQ(store->Search(Fields("rain", "band"), 1000).size(), 30u);
}

// Whatever a user types reaches FTS5 as quoted words only: operators, quotes and bytes that
// are not text give a result or none, never an error. Where the words are there, they are found.
TEST(StoreSearch, HostileTextIsOnlyWords) {
    StoreFolder folder;
    auto store = folder.Open();
    StoreFolder::Put(*store, {Song("/m/1.mp3", "Love Story", "Taylor", "", 1)});
    std::string manyWords;
    while (manyWords.size() < 10240) manyWords += "love ";
    const struct {
        std::string q;
        std::size_t found;
    } cases[] = {
        {"\"", 0},
        {"*", 0},
        {"NEAR(", 0},
        {"-", 0},
        {"", 0},
        {"love\"", 1},
        {"\"love", 1},
        {"love*", 1},
        {"-love", 1},
        {"love AND story", 0},
        {"love OR nobody", 0},
        {"NOT love", 0},
        {"NEAR(love story)", 0},
        {"title:love", 0},
        {"{title} : love", 0},
        {"^love", 1},
        {manyWords, 1},
        {std::string(10240, 'x'), 0},
        {"lo\xFFve", 1},
        {std::string("lo\0ve", 5), 1},
        {"\xFF\xFE\xC0", 0},
        {std::string("\0\0\0", 3), 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(store->Search(Words(c.q), 20).size(), c.found) << c.q.substr(0, 40);
        EXPECT_TRUE(store->Search(Fields(c.q, c.q, c.q), 20).empty()) << c.q.substr(0, 40);
    }
}

TEST(StoreCatalogue, CountsPagesScansAndChecksums) {
    StoreFolder folder;
    auto store = folder.Open();
    auto withChecksum = Song("/m/c.mp3", "C", "", "", 1);
    withChecksum.checksum = "0123456789abcdef0123456789abcdef";
    StoreFolder::Put(*store, {Song("/m/b.mp3", "B", "", "", 1, "[00:01.00]b", "b"),
                              Song("/m/d.mp3", "D", "", "", 1, std::nullopt, "d"),
                              Song("/m/e.mp3", "E", "", "", 1, "", ""), withChecksum});
    const CatalogueCounts counts = store->Counts();
    EXPECT_EQ(counts.songs, 4);
    EXPECT_EQ(counts.synced, 1);
    EXPECT_EQ(counts.plainOnly, 1);
    EXPECT_EQ(counts.none, 2);
    const auto page = store->WithoutLyrics(1, 10);
    ASSERT_EQ(page.size(), 1u);
    EXPECT_EQ(page[0].path, "/m/e.mp3");
    EXPECT_FALSE(page[0].synced.has_value());
    // Only a song with synced lyrics is served by its checksum; of two, the first by path.
    EXPECT_FALSE(store->ByChecksum(withChecksum.checksum).has_value());
    auto served = withChecksum;
    served.synced = "[00:01.00]z";
    served.path = "/m/z.mp3";
    StoreFolder::Put(*store, {served});
    EXPECT_EQ(store->ByChecksum(withChecksum.checksum)->path, "/m/z.mp3");
    served.path = "/m/a.mp3";
    StoreFolder::Put(*store, {served});
    EXPECT_EQ(store->ByChecksum(withChecksum.checksum)->path, "/m/a.mp3");
    EXPECT_FALSE(store->ByChecksum("").has_value());

    EXPECT_EQ(store->LastScan().started, 0);
    store->BeginScan(100);
    EXPECT_EQ(store->LastScan().started, 100);
    EXPECT_EQ(store->LastScan().finished, 0);
    ScanSummary scan;
    scan.started = 100;
    scan.finished = 130;
    scan.added = 4;
    scan.problems = {"a\nb", "c"};
    store->EndScan(scan);
    const ScanSummary last = store->LastScan();
    EXPECT_EQ(last.finished, 130);
    EXPECT_EQ(last.added, 4);
    EXPECT_EQ(last.problems, (std::vector<std::string>{"a b", "c"}));
}

// Readers on their own threads see a batch whole or not at all.
TEST(StoreThreads, ReadersSeeWholeBatchesWhileTheScannerWrites) {
    StoreFolder folder;
    auto store = folder.Open();
    std::atomic<bool> done{false};
    std::atomic<int> halfBatches{0}, reads{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 8; ++t) {
        readers.emplace_back([&] {
            while (!done) {
                if (store->Search(Words("pair"), 100).size() % 2 != 0) ++halfBatches;
                ++reads;
            }
        });
    }
    for (int b = 0; b < 40; ++b) {
        Store::Batch batch(*store);
        for (const char* side : {"a", "b"})
            batch.Put(Song("/m/" + std::to_string(b) + side + ".mp3", "Pair", "", "", 1));
        ASSERT_TRUE(batch.Commit()) << batch.Error();
    }
    while (reads < 100) std::this_thread::yield();
    done = true;
    for (auto& reader : readers) reader.join();
    EXPECT_EQ(halfBatches, 0);
    EXPECT_EQ(store->Search(Words("pair"), 100).size(), 80u);
}

}  // namespace
}  // namespace quillon::lyricsd
