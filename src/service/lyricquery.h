#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "service/lyricinfo.h"

namespace quillon {

class HttpTransport;

inline constexpr std::size_t RequestBufferSize = 1024;

// The service's object path: the client posts to it, quillon-lyricsd answers on it.
inline constexpr std::string_view ServiceObjectPath = "alsongwebservice/service1.asmx";

// How a query ended.
enum class QueryStatus {
    Found,       // status 200, read to its end, with a lyric
    NoLyric,     // status 200, read to its end, without a lyric: the service does not know it
    HttpStatus,  // another status than 200
    Transport,   // no connection, a time-out, a dropped connection, a malformed answer
    TooLarge,    // the answer would exceed the transport's limit
    Stopped,     // the stop request cut it short
    BadHost,     // the host is not a plain name or address with an optional port
};

struct QueryResult {
    QueryStatus status = QueryStatus::Transport;
    long httpStatus = 0;
    int retryAfterSeconds = -1;  // how long the service asked to be left alone, -1 if it did not
    std::string detail;          // the transport's own words on what went wrong
    std::string host;            // "host:port" of a transport failure

    // Status 200 read to its end, whatever it held.
    bool Answered() const { return status == QueryStatus::Found || status == QueryStatus::NoLyric; }
    // The exchange's own true or false: answered.
    operator bool() const { return Answered(); }
    // Why it failed, for a person, in Korean with the library's or the system's own words after
    // it ("가사 서비스(127.0.0.1:80)와 통신하지 못했습니다: Connection refused"); empty when it
    // found a lyric.
    std::string Cause() const;
};

// Cuts the four fields out of a decoded answer by their literal tags. A field whose opening tag
// is missing keeps what it held; "&lt;br&gt;" becomes a line feed in the lyric only, then the
// references of every field are decoded once (DecodeXmlReferences).
void ExtractLyricInfo(std::u16string_view answer, LyricInfo& info);

// The five predefined entities and the decimal and hexadecimal character references of `text`,
// decoded once, left to right. What is not a well-formed reference to a character (a stray "&",
// "&#0;", a surrogate, a number above U+10FFFF) stays as it is.
std::u16string DecodeXmlReferences(std::u16string_view text);

// The GetLyric5 exchange with the lyrics service at `host` ("host" or "host:port"). One object
// serves a whole job so that the connection can be reused from file to file.
class LyricQuery {
public:
    explicit LyricQuery(std::string host);
    // The same over another transport (a test double, or a transport with other limits).
    LyricQuery(std::string host, std::unique_ptr<HttpTransport> transport);
    ~LyricQuery();
    LyricQuery(const LyricQuery&) = delete;
    LyricQuery& operator=(const LyricQuery&) = delete;

    // The SOAP 1.2 request body around a 32-character checksum, never longer than
    // RequestBufferSize - 1 bytes.
    static std::string BuildRequest(std::string_view checksum);

    // Posts `request` (up to its first zero byte) and fills `info` from a status-200 answer read
    // to its end: Found or NoLyric by its lyric. Every other status and every transport failure
    // (an answer over 32 MiB included) leaves `info` untouched. Ends as Stopped soon after
    // `isRunning` turns false; a host that is not a plain name or address with an optional
    // port is a BadHost at once.
    QueryResult Execute(std::string_view request, LyricInfo& info,
                        const std::function<bool()>& isRunning = {});

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

// "host:port", the default HTTP port written out when none is given.
std::string HostWithPort(std::string_view host);

// The lyrics service host: the CLI's --host if given, else QUILLON_SERVICE_HOST if set and not
// empty, else the ServiceHost setting, else "localhost".
std::string ResolveServiceHost(std::string_view cliHost, std::string_view settingHost);

}  // namespace quillon
