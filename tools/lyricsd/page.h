#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "lyricsd/store.h"

namespace quillon::lyricsd {

// Text for HTML: & < > " ' as entities.
std::string HtmlEscape(std::string_view text);

// The page for people at "/": the catalogue's numbers, the last scan and its problems, a search
// box over the API's search with the results of `search` when given, and the songs without
// lyrics, `page` (from 0) of them. Plain HTML and CSS, Korean, no script.
std::string BuildPage(Store& store, std::string_view search, std::int64_t page);

inline constexpr int PageSize = 50;  // songs without lyrics on one page

}  // namespace quillon::lyricsd
