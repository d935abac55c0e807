#include "text/matchkey.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace quillon {
namespace {

struct KeyCase {
    const char* what;
    std::string text;
    std::string key;
};

TEST(MatchKey, NormalisesEachKindOfDifference) {
    const KeyCase cases[] = {
        {"plain ASCII", "Hello World", "hello world"},
        {"fullwidth Latin", "\uFF21\uFF22\uFF23 \uFF44\uFF45\uFF46", "abc def"},
        {"sharp s folds to ss", "Stra\u00DFe", "strasse"},
        {"capital sharp s", "STRA\u1E9EE", "strasse"},
        {"final sigma folds like sigma", "\u039F\u0394\u039F\u03A3 \u03BF\u03B4\u03BF\u03C2",
         "\u03BF\u03B4\u03BF\u03C3 \u03BF\u03B4\u03BF\u03C3"},
        {"decomposed accent composes", "Cafe\u0301", "caf\u00E9"},
        {"compatibility jamo compose to a syllable", "\u314E\u314F", "\uD558"},
        {"a lone compatibility jamo", "\u314B\u314B", "\u110F\u110F"},
        {"halfwidth Hangul letters", "\uFFBE\uFFC2\uFFA4\uFFDA\uFFA9", "\uD558\uB290\u1105"},
        {"halfwidth katakana with a voicing mark", "\uFF8A\uFF9D\uFF78\uFF9E\uFF99",
         "\u30CF\u30F3\u30B0\u30EB"},
        {"Hangul syllables stay", "\uC0AC\uB791\uC744 \uD558\uB298",
         "\uC0AC\uB791\uC744 \uD558\uB298"},
        {"ligature", "\uFB01nal", "final"},
        {"apostrophes and exclamation", "Rock 'n' Roll!", "rock n roll"},
        {"slash inside a word", "AC/DC", "acdc"},
        {"typographic quote and dash", "Don\u2019t Stop \u2014 Now", "dont stop now"},
        {"symbols", "Love \u2665 & Peace $5 + \U0001F3B5", "love peace 5"},
        {"only punctuation", "?!...", ""},
        {"feat. in parentheses", "Song (feat. X)", "song"},
        {"square brackets", "Song [Remastered]", "song"},
        {"two parts at the end", "Song (Live) [2011 Remaster]", "song"},
        {"nested brackets", "Song (Mix (Radio Edit))", "song"},
        {"fullwidth parentheses", "Song\uFF08Live\uFF09", "song"},
        {"lenticular brackets", "\uB178\uB798 \u3010MV\u3011", "\uB178\uB798"},
        {"only a bracketed part keeps its inside", "(Live)", "live"},
        {"nothing but symbols before the brackets", "!!! (Live)", "live"},
        {"a leading part stays", "(I Can't Get No) Satisfaction", "i cant get no satisfaction"},
        {"an unclosed bracket", "Song (Live", "song live"},
        {"a closing bracket without its opening", "Song Live)", "song live"},
        {"brackets that do not pair up", "Song (Live]", "song live"},
        {"white space runs and ends", " \t a \u3000\u00A0 b\r\n c  ", "a b c"},
        {"zero-width and soft hyphen go", "a\u200Bb\u00ADc", "abc"},
        {"empty", "", ""},
        {"invalid byte in a word",
         "ab\xFF"
         "cd",
         "abcd"},
        {"Latin-1 byte at the end", "caf\xE9", "caf"},
        {"overlong slash",
         "a\xC0\xAF"
         "b",
         "ab"},
        {"encoded surrogate", "\xED\xA0\x80x", "x"},
        {"cut-off sequence", "a \xE2\x82", "a"},
        {"NUL byte", std::string("a\0b", 3), "ab"},
    };
    for (const KeyCase& c : cases) EXPECT_EQ(MatchKey(c.text), c.key) << c.what;
}

// Whatever bytes come in, the key is valid UTF-8 and already its own key.
TEST(MatchKey, AnyBytesGiveValidUtf8ThatIsItsOwnKey) {
    std::mt19937 random(7);
    const std::string pieces[] = {"\xFF",   "\xC3",   "\xA9", "\xED\xA0\x80", "(",
                                  ")",      " ",      "a",    "\uD558",       "\u314E",
                                  "\uFF21", "\u00DF", "\x01", "\"",           "*"};
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        const int count = static_cast<int>(random() % 12);
        for (int i = 0; i < count; ++i) text += pieces[random() % std::size(pieces)];
        const std::string key = MatchKey(text);
        EXPECT_EQ(MatchKey(key), key) << text;
        EXPECT_EQ(MatchText(key), key) << text;
        // A byte that is not UTF-8 would be replaced and dropped on the second pass, so the
        // first check also proves the key valid; no replacement character survives either.
        EXPECT_EQ(key.find("\xEF\xBF\xBD"), std::string::npos) << text;
        EXPECT_EQ(key.find("  "), std::string::npos) << text;
    }
}

TEST(MatchText, KeepsBracketedPartsAsWords) {
    EXPECT_EQ(MatchText("Song (feat. X) [Live]"), "song feat x live");
    EXPECT_EQ(MatchWords("  Hello,  World (Live) "),
              (std::vector<std::string>{"hello", "world", "live"}));
    EXPECT_EQ(MatchWords("\"NEAR(a b)\" -x *"), (std::vector<std::string>{"neara", "b", "x"}));
    EXPECT_TRUE(MatchWords(" ... ").empty());
    EXPECT_TRUE(MatchWords("").empty());
}

}  // namespace
}  // namespace quillon
