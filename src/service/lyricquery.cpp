#include "service/lyricquery.h"

#include <cstdlib>

#include "service/httptransport.h"
#include "service/textconv.h"

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

// "host:port", the default HTTP port written out when none is given.
std::string HostWithPort(const std::string& host) {
    const std::size_t close = host.rfind(']');
    const std::size_t colon = host.rfind(':');
    const bool hasPort =
        colon != std::string::npos && (close == std::string::npos || colon > close);
    return hasPort ? host : host + ":80";
}

}  // namespace

void ExtractLyricInfo(std::u16string_view answer, LyricInfo& info) {
    ExtractField(answer, u"<strTitle>", u"</strTitle>", info.title);
    ExtractField(answer, u"<strArtist>", u"</strArtist>", info.artist);
    ExtractField(answer, u"<strAlbum>", u"</strAlbum>", info.album);
    // A lyric that this answer does not carry is kept as it was, breaks and all.
    if (ExtractField(answer, u"<strLyric>", u"</strLyric>", info.lyric))
        RestoreLineBreaks(info.lyric);
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
        result.detail = "not a host name or address: " + impl->host;
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
            result.detail = HostWithPort(impl->host) + ": " + response.message;
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
            return "no lyric for this song";
        case QueryStatus::HttpStatus:
            return "HTTP status " + std::to_string(httpStatus);
        case QueryStatus::TooLarge:
            return "answer too large" + (detail.empty() ? std::string() : " (" + detail + ")");
        case QueryStatus::Stopped:
            return "stopped";
        case QueryStatus::Transport:
        case QueryStatus::BadHost:
            break;
    }
    return detail;
}

std::string ResolveServiceHost(std::string_view cliHost, std::string_view settingHost) {
    if (!cliHost.empty()) return std::string(cliHost);
    if (const char* env = std::getenv("QUILLON_SERVICE_HOST"); env != nullptr && *env != '\0')
        return env;
    if (!settingHost.empty()) return std::string(settingHost);
    return "localhost";
}

}  // namespace quillon
