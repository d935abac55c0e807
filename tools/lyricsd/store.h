#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct sqlite3;

namespace quillon::lyricsd {

// One song as the catalogue keeps it. Texts are UTF-8.
struct SongRecord {
    std::int64_t id = 0;  // given by the catalogue; stays while the file stays
    std::string path;     // the song file, as the system names it
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;  // modification time, nanoseconds since the epoch
    // The sizes and times of the lyric files beside the song folded into one number, 0 when it
    // has none: a lyric file added, changed or removed changes it.
    std::int64_t lyricsStamp = 0;
    std::string checksum;  // the audio checksum of an MP3 file (32 hex digits), else empty
    std::string title;
    std::string artist;
    std::string album;
    double duration = 0;  // seconds
    // LRC text with time tags, LF line ends; an empty text is kept as none.
    std::optional<std::string> synced;
    std::optional<std::string> plain;  // words without times, LF line ends; empty is none
    bool instrumental = false;
};

// What the catalogue holds, for the page.
struct CatalogueCounts {
    std::int64_t songs = 0;
    std::int64_t synced = 0;     // with synced lyrics
    std::int64_t plainOnly = 0;  // with plain lyrics and no synced ones
    std::int64_t none = 0;       // with neither
};

// The last scan, for the page and the log.
struct ScanSummary {
    std::int64_t started = 0;   // seconds since the epoch; 0 when there was none
    std::int64_t finished = 0;  // 0 while it runs
    std::int64_t added = 0;
    std::int64_t changed = 0;
    std::int64_t removed = 0;
    std::int64_t unchanged = 0;
    std::vector<std::string> problems;  // one line a file that could not be used
};

// A search as the API's parameters give it: `q` alone, or a title with an optional artist and
// album. Each text is matched after MatchKey (NFKC, case folded, punctuation dropped).
struct SearchQuery {
    std::string q;
    std::string track;
    std::string artist;
    std::string album;
};

// A file the catalogue knows, as the incremental scan compares it.
struct KnownFile {
    std::int64_t id = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t lyricsStamp = 0;
};

// The catalogue in one SQLite file. One process holds it at a time (a second one is refused
// with a clear message). Reads may come from any number of threads at once, each through a
// connection of its own; writes come from the scanner alone, a batch at a time in one
// transaction, so a reader sees a scan's state before or after a batch, never half of one.
class Store {
public:
    // The schema this build writes. A database of an older version is migrated when it opens;
    // one of a newer version is refused.
    static constexpr int SchemaVersion = 2;

    // Opens (creating the file and its folder when missing) or returns nothing with the reason
    // in `error`: a newer schema, a database another quillon-lyricsd holds, a file that is not a
    // database.
    static std::unique_ptr<Store> Open(const std::filesystem::path& file, std::string& error);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Reading.
    std::optional<SongRecord> ByChecksum(std::string_view checksum);
    std::optional<SongRecord> ById(std::int64_t id);
    // The song a get asks for: title and artist (and album when given) equal after MatchKey, a
    // given duration within 2 s; of several, the one with synced lyrics, then the closest
    // duration, then the lowest id.
    std::optional<SongRecord> Get(std::string_view track, std::string_view artist,
                                  std::optional<std::string_view> album,
                                  std::optional<double> duration);
    // At most `limit` songs, exact title matches first, then by rank.
    std::vector<SongRecord> Search(const SearchQuery& query, int limit);
    CatalogueCounts Counts();
    // Songs with neither synced nor plain lyrics, by path, a page at a time.
    std::vector<SongRecord> WithoutLyrics(std::int64_t offset, int limit);
    ScanSummary LastScan();

    // Writing (the scanner's thread only).
    std::unordered_map<std::string, KnownFile> KnownFiles();
    class Batch {
    public:
        explicit Batch(Store& store);
        ~Batch();  // rolls back what was not committed
        // Adds a song, or replaces the one of the same path (keeping its id).
        void Put(const SongRecord& song);
        void Remove(const std::string& path);
        // False, with everything of the batch undone, when the batch could not begin or one of
        // its writes failed; Error() says why.
        bool Commit();
        const std::string& Error() const { return error; }

    private:
        void Fail(std::string why);

        Store& store;
        bool open = false;
        std::string error;  // the first failure; the batch's later writes are not tried
    };
    void BeginScan(std::int64_t started);
    void EndScan(const ScanSummary& summary);

    // The most songs a search gives, whatever limit it asks for.
    static constexpr int MaxSearchResults = 100;

    struct Connection;  // one SQLite connection with its prepared statements (store.cpp)

private:
    Store();
    class Reader;
    // A read-only connection that the calling thread has to itself until it gives it back; one
    // is opened when none is free, so there are as many as threads ever read at once.
    Connection* Borrow();
    void GiveBack(Connection* connection);

    std::filesystem::path file;
    int lockFd = -1;
    std::unique_ptr<Connection> writer;  // the scanner's
    std::int64_t scanId = 0;             // the scans row BeginScan made, 0 before one
    std::mutex mutex;                    // the connections below
    std::vector<std::unique_ptr<Connection>> connections;
    std::vector<Connection*> idle;
};

}  // namespace quillon::lyricsd
