#include "lyricsd/api.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

#include "lyricsd/store.h"

namespace quillon::lyricsd {
namespace {

// Objects keep their members in the order they are set, so answers read as LRCLIB's do.
using Json = nlohmann::ordered_json;

// Stored texts come from files and tags: bytes that are not UTF-8 become U+FFFD, never an
// exception.
std::string Dump(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

ApiAnswer Answer(int status, const Json& body) {
    ApiAnswer answer;
    answer.status = status;
    answer.body = Dump(body);
    answer.headers.emplace_back("Access-Control-Allow-Origin", "*");
    return answer;
}

ApiAnswer Failure(int status, const char* name, const char* message) {
    Json body;
    body["code"] = status;
    body["name"] = name;
    body["message"] = message;
    body["statusCode"] = status;
    return Answer(status, body);
}

ApiAnswer BadRequest(const char* message) {
    return Failure(400, "BadRequest", message);
}

ApiAnswer TrackNotFound() {
    return Failure(404, "TrackNotFound", "Failed to find specified track");
}

Json Record(const SongRecord& song) {
    const auto optionalText = [](const std::optional<std::string>& text) {
        return text ? Json(*text) : Json(nullptr);
    };
    Json record;
    record["id"] = song.id;
    record["name"] = song.title;
    record["trackName"] = song.title;
    record["artistName"] = song.artist;
    record["albumName"] = song.album;
    record["duration"] = song.duration;
    record["instrumental"] = song.instrumental;
    record["plainLyrics"] = optionalText(song.plain);
    record["syncedLyrics"] = optionalText(song.synced);
    return record;
}

std::optional<std::string> First(const ApiParameters& params, const char* name) {
    const auto found = params.find(name);
    if (found == params.end()) return std::nullopt;
    return found->second;
}

// A whole number of 1 or more in plain decimal digits, or nothing.
std::optional<std::int64_t> ParseId(std::string_view text) {
    std::int64_t id = 0;
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (error != std::errc() || end != text.data() + text.size() || id < 1) return std::nullopt;
    return id;
}

// Seconds as a finite number of 0 or more, or nothing.
std::optional<double> ParseDuration(std::string_view text) {
    double seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(seconds) || seconds < 0)
        return std::nullopt;
    return seconds;
}

ApiAnswer Get(Store& store, const ApiParameters& params) {
    const auto track = First(params, "track_name");
    if (!track) return BadRequest("track_name is required");
    const auto artist = First(params, "artist_name");
    if (!artist) return BadRequest("artist_name is required");
    // An empty album is no album: clients send one when their tags have none.
    std::optional<std::string_view> album;
    const auto albumName = First(params, "album_name");
    if (albumName && !albumName->empty()) album = *albumName;
    std::optional<double> duration;
    if (const auto text = First(params, "duration")) {
        duration = ParseDuration(*text);
        if (!duration) return BadRequest("duration must be a number of seconds");
    }
    const auto song = store.Get(*track, *artist, album, duration);
    return song ? Answer(200, Record(*song)) : TrackNotFound();
}

ApiAnswer GetById(Store& store, std::string_view idText) {
    const auto id = ParseId(idText);
    if (!id) return BadRequest("The track id must be a whole number of 1 or more");
    const auto song = store.ById(*id);
    return song ? Answer(200, Record(*song)) : TrackNotFound();
}

ApiAnswer Search(Store& store, const ApiParameters& params) {
    const auto q = First(params, "q");
    const auto track = First(params, "track_name");
    if (!q && !track) return BadRequest("Either q or track_name is required");
    SearchQuery query;
    query.q = q.value_or("");
    query.track = track.value_or("");
    query.artist = First(params, "artist_name").value_or("");
    query.album = First(params, "album_name").value_or("");
    Json records = Json::array();
    for (const SongRecord& song : store.Search(query, ApiSearchResults))
        records.push_back(Record(song));
    return Answer(200, records);
}

}  // namespace

ApiAnswer AnswerApi(Store& store, std::string_view path, const ApiParameters& params) {
    for (const auto& [name, value] : params)
        if (name.size() > MaxApiParameterBytes || value.size() > MaxApiParameterBytes)
            return BadRequest("A parameter is longer than 1024 bytes");
    constexpr std::string_view ById = "/api/get/";
    if (path == "/api/get" || path == "/api/get-cached") return Get(store, params);
    if (path.starts_with(ById) && path.size() > ById.size() &&
        path.find('/', ById.size()) == std::string_view::npos)
        return GetById(store, path.substr(ById.size()));
    if (path == "/api/search") return Search(store, params);
    return Failure(404, "NotFound", "No such API endpoint");
}

}  // namespace quillon::lyricsd
