#include "lyricsd/page.h"

#include <ctime>
#include <string>

namespace quillon::lyricsd {
namespace {

constexpr std::string_view Style =
    "body{font-family:'Noto Sans KR','NanumGothic',sans-serif;margin:2em auto;max-width:60em;"
    "padding:0 1em;color:#222}h1{font-size:1.5em}h2{font-size:1.15em;margin-top:1.6em}"
    "table{border-collapse:collapse;width:100%}td,th{border-bottom:1px solid #ddd;"
    "padding:.3em .5em;text-align:left;vertical-align:top}th{background:#f4f4f4}"
    ".numbers td:last-child{text-align:right}input[type=search]{width:70%;padding:.3em}"
    ".note{color:#666}.path{font-family:monospace;font-size:.9em;word-break:break-all}";

std::string Number(std::int64_t n) {
    const std::string digits = std::to_string(n);
    const std::size_t first = n < 0 ? 1 : 0;
    std::string grouped;
    for (std::size_t at = 0; at < digits.size(); ++at) {
        // A comma before every group of three that has a digit before it.
        if (at > first && (digits.size() - at) % 3 == 0) grouped += ',';
        grouped += digits[at];
    }
    return grouped;
}

std::string When(std::int64_t seconds) {
    if (seconds == 0) return "-";
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm local{};
    char text[32] = "";
    if (localtime_r(&time, &local) != nullptr)
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string LyricKind(const SongRecord& song) {
    if (song.synced) return "싱크 가사";
    if (song.plain) return "일반 가사";
    return "없음";
}

std::string SongRow(const SongRecord& song) {
    return "<tr><td>" + HtmlEscape(song.title) + "</td><td>" + HtmlEscape(song.artist) +
           "</td><td>" + HtmlEscape(song.album) + "</td><td>" + LyricKind(song) +
           "</td><td class=path>" + HtmlEscape(song.path) + "</td></tr>";
}

constexpr std::string_view SongHeader =
    "<tr><th>제목</th><th>가수</th><th>앨범</th><th>가사</th><th>파일</th></tr>";

// A query parameter's value, percent-encoded for a link.
std::string Encoded(std::string_view text) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += Hex[c >> 4];
            out += Hex[c & 15];
        }
    }
    return out;
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string BuildPage(Store& store, std::string_view search, std::int64_t page) {
    if (page < 0) page = 0;
    const CatalogueCounts counts = store.Counts();
    const ScanSummary scan = store.LastScan();
    std::string html =
        "<!DOCTYPE html><html lang=ko><head><meta charset=utf-8>"
        "<meta name=viewport content='width=device-width,initial-scale=1'>"
        "<title>Quillon 가사 서비스</title><style>";
    html += Style;
    html += "</style></head><body><h1>Quillon 가사 서비스</h1>";

    html +=
        "<form action='/' method=get><input type=search name=q placeholder='제목, 가수, 앨범' "
        "value='" +
        HtmlEscape(search) + "'> <button type=submit>찾기</button></form>";
    if (!search.empty()) {
        const std::vector<SongRecord> found = store.Search({std::string(search), {}, {}, {}}, 20);
        html += "<h2>찾은 곡 (" + Number(static_cast<std::int64_t>(found.size())) + ")</h2>";
        if (found.empty()) {
            html += "<p class=note>찾은 곡이 없습니다.</p>";
        } else {
            html += "<table>" + std::string(SongHeader);
            for (const SongRecord& song : found) html += SongRow(song);
            html += "</table>";
        }
    }

    html += "<h2>카탈로그</h2><table class=numbers>";
    html += "<tr><td>곡</td><td>" + Number(counts.songs) + "</td></tr>";
    html += "<tr><td>싱크 가사가 있는 곡</td><td>" + Number(counts.synced) + "</td></tr>";
    html += "<tr><td>일반 가사만 있는 곡</td><td>" + Number(counts.plainOnly) + "</td></tr>";
    html += "<tr><td>가사가 없는 곡</td><td>" + Number(counts.none) + "</td></tr></table>";

    html += "<h2>마지막 검사</h2>";
    if (scan.started == 0) {
        html += "<p class=note>아직 검사하지 않았습니다.</p>";
    } else {
        html += "<p>시작 " + When(scan.started) + ", " +
                (scan.finished == 0 ? std::string("진행 중") : "끝 " + When(scan.finished)) +
                ": 추가 " + Number(scan.added) + "곡, 변경 " + Number(scan.changed) + "곡, 삭제 " +
                Number(scan.removed) + "곡, 그대로 " + Number(scan.unchanged) + "곡</p>";
        if (!scan.problems.empty()) {
            html += "<p>읽지 못한 파일 " + Number(static_cast<std::int64_t>(scan.problems.size())) +
                    "개:</p><ul>";
            for (const std::string& problem : scan.problems)
                html += "<li class=path>" + HtmlEscape(problem) + "</li>";
            html += "</ul>";
        }
    }

    html += "<h2>가사가 없는 곡</h2>";
    const std::vector<SongRecord> bare = store.WithoutLyrics(page * PageSize, PageSize);
    if (bare.empty()) {
        html += "<p class=note>" +
                std::string(page == 0 ? "모든 곡에 가사가 있습니다." : "이 쪽에는 곡이 없습니다.") +
                "</p>";
    } else {
        html += "<table>" + std::string(SongHeader);
        for (const SongRecord& song : bare) html += SongRow(song);
        html += "</table>";
    }
    const std::int64_t pages = (counts.none + PageSize - 1) / PageSize;
    if (pages > 1) {
        const std::string keep = search.empty() ? "" : "&q=" + Encoded(search);
        html += "<p>";
        if (page > 0) html += "<a href='/?page=" + std::to_string(page - 1) + keep + "'>이전</a> ";
        html += Number(page + 1) + " / " + Number(pages);
        if (page + 1 < pages)
            html += " <a href='/?page=" + std::to_string(page + 1) + keep + "'>다음</a>";
        html += "</p>";
    }
    html +=
        "<p class=note>API: <code>/api/get</code>, <code>/api/get/ID</code>, "
        "<code>/api/search</code></p></body></html>";
    return html;
}

}  // namespace quillon::lyricsd
