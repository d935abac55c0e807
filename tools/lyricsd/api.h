#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillon::lyricsd {

class Store;

// The LRCLIB-compatible read API over the catalogue, apart from the HTTP server that carries it:
// GET /api/get and /api/get-cached (track_name, artist_name, optional album_name and duration),
// GET /api/get/{id}, and GET /api/search (q, or track_name with optional artist_name and
// album_name). Answers are JSON in the field names, types, statuses and error bodies LRCLIB's
// clients expect.

// One answer: its status, its body, and the headers that go with it.
struct ApiAnswer {
    int status = 200;
    std::string body;  // UTF-8 JSON
    std::string contentType = "application/json";
    std::vector<std::pair<std::string, std::string>> headers;
};

// The query parameters of a request, decoded, as the HTTP server hands them over.
using ApiParameters = std::multimap<std::string, std::string>;

// The longest parameter (name or value) a request may carry; a longer one is a bad request.
constexpr std::size_t MaxApiParameterBytes = 1024;
// The most songs a search answers with.
constexpr int ApiSearchResults = 20;

// Answers a GET of `path` (the path below the server, "/api/..."). Each parameter is taken at
// its first occurrence.
ApiAnswer AnswerApi(Store& store, std::string_view path, const ApiParameters& params);

}  // namespace quillon::lyricsd
