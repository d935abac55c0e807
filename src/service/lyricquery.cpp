#include "service/lyricquery.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <tuple>
#include <utility>

#include "service/httptransport.h"
#include "text/textconv.h"

namespace quillon {
namespace {

constexpr std::string_view UserAgent = "gSOAP/2.7";
constexpr std::string_view ContentTypeHeader = "Content-Type: application/soap+xml; charset=utf-8";

constexpr std::string_view EnvelopeHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<SOAP-ENV:Envelope"
    " xmlns:SOAP-ENV=\"http://www.w3.org/2003/05/soap-envelope\""
    " xmlns:SOAP-ENC=\"http://www.w3.org/2003/05/soap-encoding\""
    " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
    " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\""
    " xmlns:ns2=\"ALSongWebServer/Service1Soap\""
    " xmlns:ns1=\"ALSongWebServer\""
    " xmlns:ns3=\"ALSongWebServer/Service1Soap12\">"
    "<SOAP-ENV:Body><ns1:GetLyric5><ns1:stQuery><ns1:strChecksum>";
constexpr std::string_view EnvelopeTail =
    "</ns1:strChecksum>"
    "<ns1:strVersion>1.93</ns1:strVersion>"
    "<ns1:strMACAddress>005056C00001</ns1:strMACAddress>"
    "<ns1:strIPAddress>192.168.1.2</ns1:strIPAddress>"
    "</ns1:stQuery></ns1:GetLyric5></SOAP-ENV:Body></SOAP-ENV:Envelope>";

// False when the opening tag is missing and `field` kept its value.
bool ExtractField(std::u16string_view answer, std::u16string_view open, std::u16string_view close,
                  std::u16string& field) {
    const std::size_t start = answer.find(open);
    if (start == std::u16string_view::npos) return false;
    const std::size_t contentStart = start + open.size();
    const std::size_t end = answer.find(close);
    if (end == std::u16string_view::npos || end < contentStart) {
        field.clear();
        return true;
    }
    field.assign(answer.substr(contentStart, end - contentStart));
    return true;
}

void RestoreLineBreaks(std::u16string& lyric) {
    constexpr std::u16string_view escapedBreak = u"&lt;br&gt;";
    std::u16string out;
    std::size_t from = 0;
    for (std::size_t at = lyric.find(escapedBreak); at != std::u16string::npos;
         at = lyric.find(escapedBreak, from)) {
        out.append(lyric, from, at - from);
        out.push_back(u'\n');
        from = at + escapedBreak.size();
    }
    if (from == 0) return;
    out.append(lyric, from, std::u16string::npos);
    lyric = std::move(out);
}

// The character a well-formed reference at `text[at]` ("&amp;", "&#233;", "&#xE9;") stands for,
// and the reference's length; nothing for a stray "&", an unknown name, and a number that names
// no character (U+0000, a surrogate, above U+10FFFF).
struct Reference {
    char32_t character = 0;
    std::size_t length = 0;
};
std::optional<Reference> ReadReference(std::u16string_view text, std::size_t at) {
    static constexpr std::pair<std::u16string_view, char16_t> Named[] = {
        {u"&amp;", u'&'}, {u"&lt;", u'<'}, {u"&gt;", u'>'}, {u"&quot;", u'"'}, {u"&apos;", u'\''}};
    const std::u16string_view rest = text.substr(at);
    for (const auto& [name, character] : Named)
        if (rest.starts_with(name)) return Reference{character, name.size()};
    if (!rest.starts_with(u"&#")) return std::nullopt;
    const bool hex = rest.size() > 2 && rest[2] == u'x';
    std::size_t i = hex ? 3 : 2;
    const std::size_t first = i;
    char32_t value = 0;
    for (; i < rest.size(); ++i) {
        const char16_t c = rest[i];
        int digit = -1;
        if (c >= u'0' && c <= u'9') digit = c - u'0';
        if (hex && c >= u'a' && c <= u'f') digit = c - u'a' + 10;
        if (hex && c >= u'A' && c <= u'F') digit = c - u'A' + 10;
        if (digit < 0) break;
        // Past the last character the value only has to stay out of range.
        value =
            std::min<char32_t>(value * (hex ? 16 : 10) + static_cast<char32_t>(digit), 0x110000);
    }
    if (i == first || i >= rest.size() || rest[i] != u';') return std::nullopt;
    if (value == 0 || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return std::nullopt;
    return Reference{value, i + 1};
}

}  // namespace

std::u16string DecodeXmlReferences(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t from = 0;
    for (std::size_t at = text.find(u'&'); at != std::u16string_view::npos;
         at = text.find(u'&', at)) {
        const std::optional<Reference> reference = ReadReference(text, at);
        if (!reference) {
            ++at;
            continue;
        }
        out.append(text.substr(from, at - from));
        const char32_t c = reference->character;
        if (c > 0xFFFF) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        at += reference->length;
        from = at;
    }
    if (from == 0) return std::u16string(text);
    out.append(text.substr(from));
    return out;
}

namespace {

// A host is a name, an IPv4 address or a bracketed IPv6 address, optionally with ":port". Any
// other character would change the URL's meaning (a path, credentials, a fragment).
bool IsPlainHost(std::string_view host) {
    if (host.empty()) return false;
    for (const char c : host) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_' || c == ':' ||
                        c == '[' || c == ']';
        if (!ok) return false;
    }
    return true;
}

}  // namespace

void ExtractLyricInfo(std::u16string_view answer, LyricInfo& info) {
    // A field that this answer does not carry is kept as it was, breaks and all; one it carries
    // is read once: the escaped line breaks of the lyric first, then every reference, so that
    // "&amp;lt;" stays "&lt;".
    for (auto [open, close, field] : {std::tuple{u"<strTitle>", u"</strTitle>", &info.title},
                                      std::tuple{u"<strArtist>", u"</strArtist>", &info.artist},
                                      std::tuple{u"<strAlbum>", u"</strAlbum>", &info.album},
                                      std::tuple{u"<strLyric>", u"</strLyric>", &info.lyric}}) {
        if (!ExtractField(answer, open, close, *field)) continue;
        if (field == &info.lyric) RestoreLineBreaks(*field);
        *field = DecodeXmlReferences(*field);
    }
}

struct LyricQuery::Impl {
    std::string host;
    std::unique_ptr<HttpTransport> transport;
};

LyricQuery::LyricQuery(std::string host) : LyricQuery(std::move(host), MakeHttpTransport()) {}

LyricQuery::LyricQuery(std::string host, std::unique_ptr<HttpTransport> transport)
    : impl(std::make_unique<Impl>(Impl{std::move(host), std::move(transport)})) {}

LyricQuery::~LyricQuery() = default;

std::string LyricQuery::BuildRequest(std::string_view checksum) {
    std::string body;
    body.reserve(RequestBufferSize);
    body.append(EnvelopeHead).append(checksum).append(EnvelopeTail);
    // The body never outgrows the request buffer, terminating zero included.
    if (body.size() > RequestBufferSize - 1) body.resize(RequestBufferSize - 1);
    return body;
}

QueryResult LyricQuery::Execute(std::string_view request, LyricInfo& info,
                                const std::function<bool()>& isRunning) {
    QueryResult result;
    if (!IsPlainHost(impl->host)) {
        result.status = QueryStatus::BadHost;
        result.detail = impl->host;
        return result;
    }
    request = request.substr(0, request.find('\0'));

    HttpRequest post;
    post.url.append("http://").append(impl->host).append("/").append(ServiceObjectPath);
    post.userAgent = UserAgent;
    post.headers.emplace_back(ContentTypeHeader);
    post.body = request;
    HttpResponse response = impl->transport->Post(post, isRunning);
    result.detail = response.message;
    switch (response.error) {
        case HttpError::None:
            break;
        case HttpError::Stopped:
            result.status = QueryStatus::Stopped;
            return result;
        case HttpError::TooLarge:
            result.status = QueryStatus::TooLarge;
            return result;
        case HttpError::Transport:
            result.status = QueryStatus::Transport;
            result.host = HostWithPort(impl->host);
            return result;
    }
    if (response.status != 200) {
        result.status = QueryStatus::HttpStatus;
        result.httpStatus = response.status;
        result.retryAfterSeconds = response.retryAfterSeconds;
        return result;
    }

    std::string_view body = response.body;
    body = body.substr(0, body.find('\0'));
    LyricInfo filled = info;
    ExtractLyricInfo(Utf8ToWide(body), filled);
    info = std::move(filled);
    result.status = info.lyric.empty() ? QueryStatus::NoLyric : QueryStatus::Found;
    return result;
}

std::string QueryResult::Cause() const {
    switch (status) {
        case QueryStatus::Found:
            return {};
        case QueryStatus::NoLyric:
            return "가사 서비스에 이 곡의 가사가 없습니다";
        case QueryStatus::HttpStatus:
            return "가사 서비스가 HTTP 상태 " + std::to_string(httpStatus) + "(으)로 답했습니다";
        case QueryStatus::TooLarge:
            return "가사 서비스의 답이 너무 큽니다" +
                   (detail.empty() ? std::string() : " (" + detail + ")");
        case QueryStatus::Stopped:
            return "중지되었습니다";
        case QueryStatus::BadHost:
            return "가사 서비스의 주소가 올바르지 않습니다: " + detail;
        case QueryStatus::Transport:
            break;
    }
    // The transport's (or the system's) own words after the sentence.
    return "가사 서비스(" + host + ")와 통신하지 못했습니다: " + detail;
}

std::string HostWithPort(std::string_view host) {
    const std::size_t close = host.rfind(']');
    const std::size_t colon = host.rfind(':');
    const bool hasPort =
        colon != std::string_view::npos && (close == std::string_view::npos || colon > close);
    return hasPort ? std::string(host) : std::string(host) + ":80";
}

std::string ResolveServiceHost(std::string_view cliHost, std::string_view settingHost) {
    if (!cliHost.empty()) return std::string(cliHost);
    if (const char* env = std::getenv("QUILLON_SERVICE_HOST"); env != nullptr && *env != '\0')
        return env;
    if (!settingHost.empty()) return std::string(settingHost);
    return "localhost";
}

}  // namespace quillon
