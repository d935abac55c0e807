#pragma once

#include <string>
#include <string_view>

#include "lyrics/lrcreader.h"

namespace quillon::lyricsd {

enum class RequestError {
    None,
    Malformed,     // not well-formed markup, or nested too deeply
    NotEnvelope,   // the root is not a SOAP Envelope with a Body
    NotGetLyric5,  // the Body holds no GetLyric5 call
    NoChecksum,    // the call holds no strChecksum
    BadChecksum,   // strChecksum is not 32 hexadecimal digits
};

struct GetLyric5Request {
    RequestError error = RequestError::None;
    std::string checksum;  // lower-cased
};

// Reads a GetLyric5 call: Envelope, Body, GetLyric5 and, anywhere below it, strChecksum, with
// any namespace prefixes. Comments, processing instructions and CDATA are understood; a document
// type declaration is refused. Entities are not decoded (a checksum never needs one).
GetLyric5Request ParseGetLyric5Request(std::string_view body);

// A short English text for a request error, used as the fault's reason.
const char* RequestErrorText(RequestError error);

// Text escaped for XML character data: & < > become entities.
std::string XmlEscape(std::string_view text);

// The SOAP 1.2 answer to GetLyric5. With no song the answer carries a false result and empty
// fields. The lyric's lines are escaped one by one and joined by an escaped <br>. Characters
// outside the Basic Multilingual Plane go out as character references ("&#x1F3B5;"), plain
// ASCII that any client reads whole.
std::string BuildGetLyric5Response(const LrcSong* song);

// A SOAP 1.2 fault with the code Sender (the request was wrong) or Receiver.
std::string BuildSoapFault(std::string_view code, std::string_view reason);

inline constexpr std::string_view SoapContentType = "application/soap+xml; charset=utf-8";

}  // namespace quillon::lyricsd
