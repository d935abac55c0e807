#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// The one normaliser for comparing titles, artists and albums, the service's and the client's
// alike. Bytes that are not UTF-8 are replaced, the text is brought to NFKC and case folded
// (so "ＡＢＣ", "abc" and "ABC" are one key, and "Straße" is "strasse"), punctuation and
// symbols are dropped, white space runs become one space, the ends are trimmed, and a bracketed
// part at the end ("(feat. X)", "[Remastered]") is left out. A text that is nothing but a
// bracketed part keeps what is inside it.
std::string MatchKey(std::string_view utf8);

// The same normalisation with every bracketed part kept: the words a search looks for and
// finds, one space between them.
std::string MatchText(std::string_view utf8);

// MatchText's words, in order.
std::vector<std::string> MatchWords(std::string_view utf8);

}  // namespace quillon
