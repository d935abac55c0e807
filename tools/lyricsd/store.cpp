#include "lyricsd/store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "text/matchkey.h"

namespace quillon::lyricsd {
namespace {

// The columns of a SongRecord, in the order ReadSong takes them.
#define QUILLON_SONG_COLUMNS                                                        \
    "s.id, s.path, s.size, s.modified_ns, s.checksum, s.title, s.artist, s.album, " \
    "s.duration, s.synced, s.plain, s.instrumental, s.lyrics_stamp"

// Bounds on what a search looks for: words beyond these are not looked for.
constexpr std::size_t MaxSearchTextBytes = 4096;
constexpr std::size_t MaxSearchTerms = 16;  // a field's, or q's
constexpr std::size_t MaxTermCodepoints = 64;
// A word this long or longer is looked for anywhere inside the texts (the trigram table); a
// shorter one as a word or the start of one (the word table).
constexpr std::size_t TrigramLength = 3;

constexpr int BusyTimeoutMs = 5000;

std::string Quoted(const std::filesystem::path& path) {
    std::string quoted = "\"";
    quoted += path.string();
    quoted += '"';
    return quoted;
}

std::size_t CodepointCount(std::string_view utf8) {
    return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// The first `count` codepoints of valid UTF-8.
std::string_view FirstCodepoints(std::string_view utf8, std::size_t count) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80 && seen++ == count)
            return utf8.substr(0, i);
    }
    return utf8;
}

// A word as an FTS5 string: in double quotes, each quote inside doubled. Whatever the word
// holds, the query sees one string of it, never an operator.
std::string FtsString(std::string_view word) {
    std::string out = "\"";
    for (const char c : word) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

}  // namespace

// One SQLite connection and the statements prepared on it, each prepared once.
struct Store::Connection {
    sqlite3* db = nullptr;
    std::vector<std::pair<const char*, sqlite3_stmt*>> statements;

    ~Connection() {
        for (auto& [sql, statement] : statements) sqlite3_finalize(statement);
        sqlite3_close_v2(db);
    }

    std::string Message() const { return db != nullptr ? sqlite3_errmsg(db) : "out of memory"; }

    // The statement of `sql`, a string literal of this file: prepared on first use.
    sqlite3_stmt* Prepare(const char* sql) {
        for (auto& [known, statement] : statements)
            if (known == sql) return statement;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
            SQLITE_OK)
            return nullptr;
        statements.emplace_back(sql, statement);
        return statement;
    }

    // Statements of this file's own text without parameters: the schema and transactions.
    bool Execute(const char* sql) {
        return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }
};

namespace {

using Connection = Store::Connection;

// A prepared statement in use: its parameters bound by position, reset when done with.
class Statement {
public:
    Statement(Store::Connection& connection, const char* sql)
        : statement(connection.Prepare(sql)) {}
    ~Statement() {
        if (statement != nullptr) {
            sqlite3_reset(statement);
            sqlite3_clear_bindings(statement);
        }
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return statement != nullptr; }

    void Bind(int index, std::string_view text) {
        if (statement != nullptr)
            sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_TRANSIENT,
                                SQLITE_UTF8);
    }
    void Bind(int index, const std::optional<std::string>& text) {
        if (text && !text->empty())
            Bind(index, std::string_view(*text));
        else
            BindNull(index);
    }
    void Bind(int index, std::int64_t value) {
        if (statement != nullptr) sqlite3_bind_int64(statement, index, value);
    }
    void Bind(int index, double value) {
        if (statement != nullptr) sqlite3_bind_double(statement, index, value);
    }
    void BindNull(int index) {
        if (statement != nullptr) sqlite3_bind_null(statement, index);
    }

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step() { return statement != nullptr ? sqlite3_step(statement) : SQLITE_ERROR; }
    // Steps through every row; false on an error.
    bool Run() {
        int result;
        while ((result = Step()) == SQLITE_ROW) {
        }
        return result == SQLITE_DONE;
    }

    std::int64_t Integer(int column) const { return sqlite3_column_int64(statement, column); }
    double Real(int column) const { return sqlite3_column_double(statement, column); }
    bool IsNull(int column) const { return sqlite3_column_type(statement, column) == SQLITE_NULL; }
    std::string Text(int column) const {
        const auto* text = sqlite3_column_text(statement, column);
        const int size = sqlite3_column_bytes(statement, column);
        return text != nullptr ? std::string(reinterpret_cast<const char*>(text),
                                             static_cast<std::size_t>(size))
                               : std::string();
    }
    std::optional<std::string> OptionalText(int column) const {
        if (IsNull(column)) return std::nullopt;
        return Text(column);
    }

private:
    sqlite3_stmt* statement;
};

// A row of QUILLON_SONG_COLUMNS.
SongRecord ReadSong(const Statement& row) {
    SongRecord song;
    song.id = row.Integer(0);
    song.path = row.Text(1);
    song.size = row.Integer(2);
    song.modifiedNs = row.Integer(3);
    song.checksum = row.Text(4);
    song.title = row.Text(5);
    song.artist = row.Text(6);
    song.album = row.Text(7);
    song.duration = row.Real(8);
    song.synced = row.OptionalText(9);
    song.plain = row.OptionalText(10);
    song.instrumental = row.Integer(11) != 0;
    song.lyricsStamp = row.Integer(12);
    return song;
}

std::vector<SongRecord> ReadSongs(Statement& statement) {
    std::vector<SongRecord> songs;
    while (statement.Step() == SQLITE_ROW) songs.push_back(ReadSong(statement));
    return songs;
}

// The search tables hold a song's texts as MatchText gives them, under the song's id.
bool IndexSong(Connection& db, std::int64_t id, std::string_view title, std::string_view artist,
               std::string_view album) {
    const std::string texts[] = {MatchText(title), MatchText(artist), MatchText(album)};
    for (const char* sql : {"INSERT INTO songs_trigram(rowid, title, artist, album) "
                            "VALUES (?1, ?2, ?3, ?4)",
                            "INSERT INTO songs_words(rowid, title, artist, album) "
                            "VALUES (?1, ?2, ?3, ?4)"}) {
        Statement insert(db, sql);
        insert.Bind(1, id);
        for (int i = 0; i < 3; ++i) insert.Bind(i + 2, std::string_view(texts[i]));
        if (!insert.Run()) return false;
    }
    return true;
}

bool UnindexSong(Connection& db, std::int64_t id) {
    for (const char* sql : {"DELETE FROM songs_trigram WHERE rowid = ?1",
                            "DELETE FROM songs_words WHERE rowid = ?1"}) {
        Statement remove(db, sql);
        remove.Bind(1, id);
        if (!remove.Run()) return false;
    }
    return true;
}

// The schema, one step a version. Each step runs in the transaction that opens the database
// and ends by setting the version it brings the database to.

bool MigrateTo1(Connection& db) {
    return db.Execute(R"(
        CREATE TABLE songs (
            id INTEGER PRIMARY KEY,
            path TEXT NOT NULL UNIQUE,
            size INTEGER NOT NULL DEFAULT 0,
            modified_ns INTEGER NOT NULL DEFAULT 0,
            checksum TEXT NOT NULL DEFAULT '',
            title TEXT NOT NULL DEFAULT '',
            artist TEXT NOT NULL DEFAULT '',
            album TEXT NOT NULL DEFAULT '',
            duration REAL NOT NULL DEFAULT 0,
            synced TEXT,
            plain TEXT,
            instrumental INTEGER NOT NULL DEFAULT 0);
        CREATE INDEX songs_checksum ON songs(checksum);
        CREATE TABLE scans (
            id INTEGER PRIMARY KEY,
            started INTEGER NOT NULL DEFAULT 0,
            finished INTEGER NOT NULL DEFAULT 0,
            added INTEGER NOT NULL DEFAULT 0,
            changed INTEGER NOT NULL DEFAULT 0,
            removed INTEGER NOT NULL DEFAULT 0,
            unchanged INTEGER NOT NULL DEFAULT 0,
            problems TEXT NOT NULL DEFAULT '');
        PRAGMA user_version = 1;
    )");
}

// Matching and searching: each song's texts as MatchKey gives them, and two search tables, one
// of trigrams for words of three or more characters, one of words (marks kept inside a word,
// so Devanagari and the like stay whole) for shorter ones. The songs there are indexed here.
bool MigrateTo2(Connection& db) {
    if (!db.Execute(R"(
            ALTER TABLE songs ADD COLUMN title_key TEXT NOT NULL DEFAULT '';
            ALTER TABLE songs ADD COLUMN artist_key TEXT NOT NULL DEFAULT '';
            ALTER TABLE songs ADD COLUMN album_key TEXT NOT NULL DEFAULT '';
            ALTER TABLE songs ADD COLUMN lyrics_stamp INTEGER NOT NULL DEFAULT 0;
            CREATE INDEX songs_match ON songs(title_key, artist_key);
            CREATE VIRTUAL TABLE songs_trigram USING fts5(title, artist, album,
                tokenize = 'trigram');
            CREATE VIRTUAL TABLE songs_words USING fts5(title, artist, album,
                tokenize = "unicode61 categories 'L* N* Co M*'", prefix = '1 2');
        )"))
        return false;
    Statement songs(db, "SELECT id, title, artist, album FROM songs ORDER BY id");
    while (songs.Step() == SQLITE_ROW) {
        const std::int64_t id = songs.Integer(0);
        const std::string title = songs.Text(1), artist = songs.Text(2), album = songs.Text(3);
        Statement keys(db,
                       "UPDATE songs SET title_key = ?2, artist_key = ?3, album_key = ?4 "
                       "WHERE id = ?1");
        keys.Bind(1, id);
        keys.Bind(2, std::string_view(MatchKey(title)));
        keys.Bind(3, std::string_view(MatchKey(artist)));
        keys.Bind(4, std::string_view(MatchKey(album)));
        if (!keys.Run() || !IndexSong(db, id, title, artist, album)) return false;
    }
    return songs.Ok() && db.Execute("PRAGMA user_version = 2;");
}

using Migration = bool (*)(Connection&);
constexpr Migration Migrations[] = {MigrateTo1, MigrateTo2};
static_assert(std::size(Migrations) == Store::SchemaVersion);

// The schema version of the database, or -1 when the file is no SQLite database.
int UserVersion(Connection& db) {
    Statement version(db, "PRAGMA user_version");
    return version.Step() == SQLITE_ROW ? static_cast<int>(version.Integer(0)) : -1;
}

std::int64_t SchemaObjects(Connection& db) {
    Statement count(db, "SELECT count(*) FROM sqlite_schema");
    return count.Step() == SQLITE_ROW ? count.Integer(0) : -1;
}

std::unique_ptr<Connection> OpenConnection(const std::filesystem::path& file, int flags) {
    auto connection = std::make_unique<Connection>();
    if (sqlite3_open_v2(file.c_str(), &connection->db, flags, nullptr) != SQLITE_OK)
        return connection;  // its db carries the reason, Message() tells it
    sqlite3_busy_timeout(connection->db, BusyTimeoutMs);
    sqlite3_extended_result_codes(connection->db, 1);
    return connection;
}

}  // namespace

// A reading connection for the length of one call.
class Store::Reader {
public:
    explicit Reader(Store& owner) : store(owner), connection(owner.Borrow()) {}
    ~Reader() {
        if (connection != nullptr) store.GiveBack(connection);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    explicit operator bool() const { return connection != nullptr; }
    Connection& operator*() const { return *connection; }

private:
    Store& store;
    Connection* connection;
};

Store::Store() = default;

Store::~Store() {
    connections.clear();
    writer.reset();
    if (lockFd >= 0) close(lockFd);  // the lock goes with the descriptor
}

std::unique_ptr<Store> Store::Open(const std::filesystem::path& file, std::string& error) {
    std::error_code ec;
    if (file.has_parent_path() && !std::filesystem::is_directory(file.parent_path(), ec)) {
        std::filesystem::create_directories(file.parent_path(), ec);
        if (ec) {
            error = "cannot make the folder " + Quoted(file.parent_path()) +
                    " for the database: " + ec.message();
            return nullptr;
        }
    }

    std::unique_ptr<Store> store(new Store());
    store->file = file;

    // One process at a time: a lock on a file beside the database, held while the store is
    // open. The kernel lets it go when the process ends, however it ends.
    const std::filesystem::path lockFile = file.string() + ".lock";
    store->lockFd = open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (store->lockFd < 0) {
        error = "cannot open the lock file " + Quoted(lockFile) + ": " + std::strerror(errno);
        return nullptr;
    }
    if (flock(store->lockFd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            error = "the database " + Quoted(file) + " is in use by another quillon-lyricsd (" +
                    Quoted(lockFile) + " is locked)";
        else
            error = "cannot lock " + Quoted(lockFile) + ": " + std::strerror(errno);
        return nullptr;
    }

    store->writer =
        OpenConnection(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX);
    Connection& db = *store->writer;
    if (sqlite3_errcode(db.db) != SQLITE_OK) {
        error = "cannot open the database " + Quoted(file) + ": " + db.Message();
        return nullptr;
    }
    const int version = UserVersion(db);
    if (version < 0) {
        error = Quoted(file) + " is not a SQLite database (" + db.Message() + ")";
        return nullptr;
    }
    if (version > SchemaVersion) {
        error = "the database " + Quoted(file) +
                " was written by a newer quillon-lyricsd (schema " + std::to_string(version) +
                "); this one knows schema " + std::to_string(SchemaVersion);
        return nullptr;
    }
    if (version == 0 && SchemaObjects(db) != 0) {
        error = Quoted(file) + " is a SQLite database, but not one of quillon-lyricsd";
        return nullptr;
    }

    // Committed batches survive the process being killed; a batch under way is lost whole.
    {
        Statement journal(db, "PRAGMA journal_mode = WAL");
        if (journal.Step() != SQLITE_ROW || journal.Text(0) != "wal") {
            error = "cannot use a write-ahead log for " + Quoted(file) + ": " + db.Message();
            return nullptr;
        }
    }
    if (!db.Execute("PRAGMA synchronous = NORMAL;")) {
        error = "cannot set up " + Quoted(file) + ": " + db.Message();
        return nullptr;
    }

    if (version < SchemaVersion) {
        bool migrated = db.Execute("BEGIN IMMEDIATE;");
        for (int step = version; migrated && step < SchemaVersion; ++step)
            migrated = Migrations[step](db);
        if (!migrated || !db.Execute("COMMIT;")) {
            error = "cannot bring the database " + Quoted(file) + " from schema " +
                    std::to_string(version) + " to " + std::to_string(SchemaVersion) + ": " +
                    db.Message();
            db.Execute("ROLLBACK;");
            return nullptr;
        }
    }
    return store;
}

Connection* Store::Borrow() {
    {
        std::lock_guard lock(mutex);
        if (!idle.empty()) {
            Connection* connection = idle.back();
            idle.pop_back();
            return connection;
        }
    }
    // Read-only: a reader can change nothing, whatever its statement.
    auto connection = OpenConnection(file, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
    if (sqlite3_errcode(connection->db) != SQLITE_OK) return nullptr;
    std::lock_guard lock(mutex);
    connections.push_back(std::move(connection));
    return connections.back().get();
}

void Store::GiveBack(Connection* connection) {
    std::lock_guard lock(mutex);
    idle.push_back(connection);
}

std::optional<SongRecord> Store::ByChecksum(std::string_view checksum) {
    if (checksum.empty()) return std::nullopt;
    Reader db(*this);
    if (!db) return std::nullopt;
    Statement find(*db, "SELECT " QUILLON_SONG_COLUMNS
                        " FROM songs AS s WHERE s.checksum = ?1 AND s.synced IS NOT NULL"
                        " ORDER BY s.path LIMIT 1");
    find.Bind(1, checksum);
    if (find.Step() != SQLITE_ROW) return std::nullopt;
    return ReadSong(find);
}

std::optional<SongRecord> Store::ById(std::int64_t id) {
    Reader db(*this);
    if (!db) return std::nullopt;
    Statement find(*db, "SELECT " QUILLON_SONG_COLUMNS " FROM songs AS s WHERE s.id = ?1");
    find.Bind(1, id);
    if (find.Step() != SQLITE_ROW) return std::nullopt;
    return ReadSong(find);
}

std::optional<SongRecord> Store::Get(std::string_view track, std::string_view artist,
                                     std::optional<std::string_view> album,
                                     std::optional<double> duration) {
    const std::string titleKey = MatchKey(track);
    if (titleKey.empty()) return std::nullopt;
    Reader db(*this);
    if (!db) return std::nullopt;
    Statement find(*db, "SELECT " QUILLON_SONG_COLUMNS
                        " FROM songs AS s"
                        " WHERE s.title_key = ?1 AND s.artist_key = ?2"
                        " AND (?3 IS NULL OR s.album_key = ?3)"
                        " AND (?4 IS NULL OR abs(s.duration - ?4) <= 2.0)"
                        " ORDER BY s.synced IS NULL, abs(s.duration - coalesce(?4, s.duration)),"
                        " s.id LIMIT 1");
    find.Bind(1, std::string_view(titleKey));
    find.Bind(2, std::string_view(MatchKey(artist)));
    if (album)
        find.Bind(3, std::string_view(MatchKey(*album)));
    else
        find.BindNull(3);
    if (duration)
        find.Bind(4, *duration);
    else
        find.BindNull(4);
    if (find.Step() != SQLITE_ROW) return std::nullopt;
    return ReadSong(find);
}

namespace {

// The FTS5 queries of a search: one for the trigram table, one for the word table, each empty
// when it has nothing to look for.
struct SearchExpressions {
    std::string trigram;
    std::string words;
    std::size_t terms = 0;
};

// Adds the words of `text` (up to MaxSearchTerms different ones) to look for in `column`, or in
// every column when it is null.
void AddTerms(SearchExpressions& out, std::string_view text, const char* column) {
    std::vector<std::string_view> seen;
    const std::vector<std::string> words = MatchWords(text.substr(0, MaxSearchTextBytes));
    for (const std::string& word : words) {
        if (seen.size() == MaxSearchTerms) return;
        const std::string_view term = FirstCodepoints(word, MaxTermCodepoints);
        if (std::find(seen.begin(), seen.end(), term) != seen.end()) continue;
        seen.push_back(term);
        ++out.terms;
        const bool whole = CodepointCount(term) >= TrigramLength;
        std::string& expression = whole ? out.trigram : out.words;
        if (!expression.empty()) expression += " AND ";
        if (column != nullptr) expression.append(column).append(" : ");
        expression += FtsString(term);
        if (!whole) expression += '*';
    }
}

}  // namespace

std::vector<SongRecord> Store::Search(const SearchQuery& query, int limit) {
    limit = std::min(limit, MaxSearchResults);
    if (limit <= 0) return {};
    SearchExpressions expressions;
    std::string exact;
    if (!MatchWords(std::string_view(query.q).substr(0, MaxSearchTextBytes)).empty()) {
        AddTerms(expressions, query.q, nullptr);
        exact = MatchKey(std::string_view(query.q).substr(0, MaxSearchTextBytes));
    } else {
        AddTerms(expressions, query.track, "title");
        AddTerms(expressions, query.artist, "artist");
        AddTerms(expressions, query.album, "album");
        exact = MatchKey(std::string_view(query.track).substr(0, MaxSearchTextBytes));
    }
    if (expressions.terms == 0) return {};

    // Exact titles first, then the best ranked (bm25 is lower for a better match), then by id.
    // ?1 is the trigram table's query, ?2 the word table's, ?3 the exact title, ?4 the limit.
    const char* sql;
    if (expressions.words.empty()) {
        sql = "SELECT " QUILLON_SONG_COLUMNS
              " FROM (SELECT rowid AS id, bm25(songs_trigram) AS score FROM songs_trigram"
              "       WHERE songs_trigram MATCH ?1) AS t"
              " JOIN songs AS s ON s.id = t.id"
              " ORDER BY s.title_key = ?3 DESC, t.score, s.id LIMIT ?4";
    } else if (expressions.trigram.empty()) {
        sql = "SELECT " QUILLON_SONG_COLUMNS
              " FROM (SELECT rowid AS id, bm25(songs_words) AS score FROM songs_words"
              "       WHERE songs_words MATCH ?2) AS w"
              " JOIN songs AS s ON s.id = w.id"
              " ORDER BY s.title_key = ?3 DESC, w.score, s.id LIMIT ?4";
    } else {
        sql = "SELECT " QUILLON_SONG_COLUMNS
              " FROM (SELECT rowid AS id, bm25(songs_trigram) AS score FROM songs_trigram"
              "       WHERE songs_trigram MATCH ?1) AS t"
              " JOIN (SELECT rowid AS id, bm25(songs_words) AS score FROM songs_words"
              "       WHERE songs_words MATCH ?2) AS w ON w.id = t.id"
              " JOIN songs AS s ON s.id = t.id"
              " ORDER BY s.title_key = ?3 DESC, t.score + w.score, s.id LIMIT ?4";
    }
    Reader db(*this);
    if (!db) return {};
    Statement search(*db, sql);
    search.Bind(1, std::string_view(expressions.trigram));
    search.Bind(2, std::string_view(expressions.words));
    search.Bind(3, std::string_view(exact));
    search.Bind(4, static_cast<std::int64_t>(limit));
    return ReadSongs(search);
}

CatalogueCounts Store::Counts() {
    CatalogueCounts counts;
    Reader db(*this);
    if (!db) return counts;
    Statement count(*db,
                    "SELECT count(*), count(synced),"
                    " coalesce(sum(synced IS NULL AND plain IS NOT NULL), 0),"
                    " coalesce(sum(synced IS NULL AND plain IS NULL), 0) FROM songs");
    if (count.Step() == SQLITE_ROW) {
        counts.songs = count.Integer(0);
        counts.synced = count.Integer(1);
        counts.plainOnly = count.Integer(2);
        counts.none = count.Integer(3);
    }
    return counts;
}

std::vector<SongRecord> Store::WithoutLyrics(std::int64_t offset, int limit) {
    if (limit <= 0 || offset < 0) return {};
    Reader db(*this);
    if (!db) return {};
    Statement page(*db, "SELECT " QUILLON_SONG_COLUMNS
                        " FROM songs AS s WHERE s.synced IS NULL AND s.plain IS NULL"
                        " ORDER BY s.path LIMIT ?1 OFFSET ?2");
    page.Bind(1, static_cast<std::int64_t>(limit));
    page.Bind(2, offset);
    return ReadSongs(page);
}

ScanSummary Store::LastScan() {
    ScanSummary summary;
    Reader db(*this);
    if (!db) return summary;
    Statement last(*db,
                   "SELECT started, finished, added, changed, removed, unchanged, problems"
                   " FROM scans ORDER BY id DESC LIMIT 1");
    if (last.Step() != SQLITE_ROW) return summary;
    summary.started = last.Integer(0);
    summary.finished = last.Integer(1);
    summary.added = last.Integer(2);
    summary.changed = last.Integer(3);
    summary.removed = last.Integer(4);
    summary.unchanged = last.Integer(5);
    const std::string problems = last.Text(6);
    for (std::size_t start = 0; start < problems.size();) {
        std::size_t end = problems.find('\n', start);
        if (end == std::string::npos) end = problems.size();
        summary.problems.push_back(problems.substr(start, end - start));
        start = end + 1;
    }
    return summary;
}

std::unordered_map<std::string, KnownFile> Store::KnownFiles() {
    std::unordered_map<std::string, KnownFile> files;
    Statement all(*writer, "SELECT path, id, size, modified_ns, lyrics_stamp FROM songs");
    while (all.Step() == SQLITE_ROW)
        files.emplace(all.Text(0),
                      KnownFile{all.Integer(1), all.Integer(2), all.Integer(3), all.Integer(4)});
    return files;
}

// Scans past the last hundred are forgotten.
void Store::BeginScan(std::int64_t started) {
    Statement begin(*writer, "INSERT INTO scans(started) VALUES (?1) RETURNING id");
    begin.Bind(1, started);
    scanId = begin.Step() == SQLITE_ROW ? begin.Integer(0) : 0;
    begin.Run();
    Statement prune(*writer,
                    "DELETE FROM scans WHERE id NOT IN (SELECT id FROM scans ORDER BY id DESC "
                    "LIMIT 100)");
    prune.Run();
}

void Store::EndScan(const ScanSummary& summary) {
    std::string problems;
    for (const std::string& line : summary.problems) {
        if (!problems.empty()) problems += '\n';
        std::string one = line;
        std::replace(one.begin(), one.end(), '\n', ' ');
        problems += one;
    }
    // A scan that BeginScan did not record is recorded whole.
    Statement end(*writer,
                  "INSERT INTO scans(id, started, finished, added, changed, removed, unchanged,"
                  " problems) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)"
                  " ON CONFLICT(id) DO UPDATE SET finished = excluded.finished,"
                  " added = excluded.added, changed = excluded.changed,"
                  " removed = excluded.removed, unchanged = excluded.unchanged,"
                  " problems = excluded.problems");
    if (scanId != 0)
        end.Bind(1, scanId);
    else
        end.BindNull(1);
    end.Bind(2, summary.started);
    end.Bind(3, summary.finished);
    end.Bind(4, summary.added);
    end.Bind(5, summary.changed);
    end.Bind(6, summary.removed);
    end.Bind(7, summary.unchanged);
    end.Bind(8, std::string_view(problems));
    end.Run();
    scanId = 0;
}

Store::Batch::Batch(Store& owner) : store(owner) {
    open = store.writer->Execute("BEGIN IMMEDIATE;");
    if (!open) error = "cannot begin a batch: " + store.writer->Message();
}

Store::Batch::~Batch() {
    if (open) store.writer->Execute("ROLLBACK;");
}

void Store::Batch::Fail(std::string why) {
    if (error.empty()) error = std::move(why) + ": " + store.writer->Message();
}

void Store::Batch::Put(const SongRecord& song) {
    if (!open || !error.empty()) return;
    Connection& db = *store.writer;
    Statement put(db,
                  "INSERT INTO songs(path, size, modified_ns, checksum, title, artist, album,"
                  " duration, synced, plain, instrumental, title_key, artist_key, album_key,"
                  " lyrics_stamp)"
                  " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15)"
                  " ON CONFLICT(path) DO UPDATE SET size = excluded.size,"
                  " modified_ns = excluded.modified_ns, checksum = excluded.checksum,"
                  " title = excluded.title, artist = excluded.artist, album = excluded.album,"
                  " duration = excluded.duration, synced = excluded.synced,"
                  " plain = excluded.plain, instrumental = excluded.instrumental,"
                  " title_key = excluded.title_key, artist_key = excluded.artist_key,"
                  " album_key = excluded.album_key, lyrics_stamp = excluded.lyrics_stamp"
                  " RETURNING id");
    put.Bind(1, std::string_view(song.path));
    put.Bind(2, song.size);
    put.Bind(3, song.modifiedNs);
    put.Bind(4, std::string_view(song.checksum));
    put.Bind(5, std::string_view(song.title));
    put.Bind(6, std::string_view(song.artist));
    put.Bind(7, std::string_view(song.album));
    put.Bind(8, song.duration);
    put.Bind(9, song.synced);
    put.Bind(10, song.plain);
    put.Bind(11, static_cast<std::int64_t>(song.instrumental ? 1 : 0));
    put.Bind(12, std::string_view(MatchKey(song.title)));
    put.Bind(13, std::string_view(MatchKey(song.artist)));
    put.Bind(14, std::string_view(MatchKey(song.album)));
    put.Bind(15, song.lyricsStamp);
    if (put.Step() != SQLITE_ROW) return Fail("cannot store " + song.path);
    const std::int64_t id = put.Integer(0);
    if (!put.Run()) return Fail("cannot store " + song.path);
    if (!UnindexSong(db, id) || !IndexSong(db, id, song.title, song.artist, song.album))
        return Fail("cannot index " + song.path);
}

void Store::Batch::Remove(const std::string& path) {
    if (!open || !error.empty()) return;
    Connection& db = *store.writer;
    Statement remove(db, "DELETE FROM songs WHERE path = ?1 RETURNING id");
    remove.Bind(1, std::string_view(path));
    std::vector<std::int64_t> ids;
    int result;
    while ((result = remove.Step()) == SQLITE_ROW) ids.push_back(remove.Integer(0));
    if (result != SQLITE_DONE) return Fail("cannot remove " + path);
    for (const std::int64_t id : ids)
        if (!UnindexSong(db, id)) return Fail("cannot remove " + path);
}

bool Store::Batch::Commit() {
    if (!open) return false;
    if (!error.empty() || !store.writer->Execute("COMMIT;")) {
        if (error.empty()) error = "cannot commit a batch: " + store.writer->Message();
        store.writer->Execute("ROLLBACK;");
        open = false;
        return false;
    }
    open = false;
    return true;
}

}  // namespace quillon::lyricsd
