#include "lyricsd/soap.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace quillon::lyricsd {
namespace {

// Deeper than any real request; the limit keeps hostile nesting cheap.
constexpr std::size_t MaxDepth = 32;

constexpr std::string_view EnvelopeStart =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\""
    " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
    " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"><soap:Body>";
constexpr std::string_view EnvelopeEnd = "</soap:Body></soap:Envelope>";

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsBlank(std::string_view s) {
    for (const char c : s)
        if (!IsSpace(c)) return false;
    return true;
}

std::string_view LocalName(std::string_view qualified) {
    const std::size_t colon = qualified.find(':');
    return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

bool IsHexChecksum(std::string_view s) {
    if (s.size() != 32) return false;
    for (const char c : s) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex) return false;
    }
    return true;
}

// Walks the markup once, keeping the open elements' names. Text counts only inside the first
// strChecksum that lies below Envelope/Body/GetLyric5.
class RequestScanner {
public:
    explicit RequestScanner(std::string_view request) : body(request) {
        if (body.starts_with("\xEF\xBB\xBF")) body.remove_prefix(3);
    }

    GetLyric5Request Run() {
        GetLyric5Request result;
        result.error = Scan();
        if (result.error != RequestError::None) return result;
        if (!sawEnvelope || !sawBody) {
            result.error = RequestError::NotEnvelope;
        } else if (!sawGetLyric5) {
            result.error = RequestError::NotGetLyric5;
        } else if (!sawChecksum) {
            result.error = RequestError::NoChecksum;
        } else {
            std::string_view text = checksum;
            while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
            while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
            if (!IsHexChecksum(text)) {
                result.error = RequestError::BadChecksum;
            } else {
                for (const char c : text)
                    result.checksum.push_back(c >= 'A' && c <= 'F' ? static_cast<char>(c + 32) : c);
            }
        }
        return result;
    }

private:
    RequestError Scan() {
        std::size_t pos = 0;
        bool rootClosed = false;
        while (pos < body.size()) {
            const std::size_t lt = body.find('<', pos);
            const std::string_view text =
                body.substr(pos, lt == std::string_view::npos ? std::string_view::npos : lt - pos);
            if (stack.empty() && !IsBlank(text)) return RequestError::Malformed;
            Text(text);
            if (lt == std::string_view::npos) break;
            const std::string_view rest = body.substr(lt);
            std::size_t end = 0;
            if (rest.starts_with("<?")) {
                end = Skip(rest, 2, "?>");
            } else if (rest.starts_with("<!--")) {
                end = Skip(rest, 4, "-->");
            } else if (rest.starts_with("<![CDATA[")) {
                if (stack.empty()) return RequestError::Malformed;
                end = Skip(rest, 9, "]]>");
                if (end != 0) Text(rest.substr(9, end - 9 - 3));
            } else if (rest.starts_with("<!")) {
                return RequestError::Malformed;  // a document type declaration
            } else if (rest.starts_with("</")) {
                end = rest.find('>');
                if (end == std::string_view::npos || stack.empty()) return RequestError::Malformed;
                std::string_view name = rest.substr(2, end - 2);
                while (!name.empty() && IsSpace(name.back())) name.remove_suffix(1);
                if (name != stack.back()) return RequestError::Malformed;
                Close();
                ++end;
                if (stack.empty()) rootClosed = true;
            } else {
                if (rootClosed) return RequestError::Malformed;  // a second root
                end = OpenTag(rest);
                if (end == 0) return RequestError::Malformed;
            }
            if (end == 0) return RequestError::Malformed;
            pos = lt + end;
        }
        return stack.empty() && rootClosed ? RequestError::None : RequestError::Malformed;
    }

    // The length up to and including `terminator`, or 0 when it is missing.
    static std::size_t Skip(std::string_view rest, std::size_t opener,
                            std::string_view terminator) {
        const std::size_t at = rest.find(terminator, opener);
        return at == std::string_view::npos ? 0 : at + terminator.size();
    }

    // Reads "<name attributes>" or "<name attributes/>"; returns its length, 0 when malformed.
    std::size_t OpenTag(std::string_view rest) {
        std::size_t i = 1;
        while (i < rest.size() && !IsSpace(rest[i]) && rest[i] != '>' && rest[i] != '/') ++i;
        const std::string_view name = rest.substr(1, i - 1);
        if (name.empty()) return 0;
        char quote = 0;
        for (; i < rest.size(); ++i) {
            const char c = rest[i];
            if (quote != 0) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '<') {
                return 0;
            } else if (c == '>') {
                break;
            }
        }
        if (i >= rest.size()) return 0;
        if (stack.size() >= MaxDepth) return 0;
        Open(name);
        if (rest[i - 1] == '/') Close();
        return i + 1;
    }

    void Open(std::string_view name) {
        const std::string_view local = LocalName(name);
        const std::size_t depth = stack.size();
        const bool inEnvelope = depth >= 1 && LocalName(stack[0]) == "Envelope";
        const bool inBody = depth >= 2 && inEnvelope && LocalName(stack[1]) == "Body";
        const bool inCall = depth >= 3 && inBody && LocalName(stack[2]) == "GetLyric5";
        if (depth == 0 && local == "Envelope") sawEnvelope = true;
        if (depth == 1 && inEnvelope && local == "Body") sawBody = true;
        if (depth == 2 && inBody && local == "GetLyric5") sawGetLyric5 = true;
        if (inCall && local == "strChecksum" && !sawChecksum) {
            sawChecksum = true;
            checksumDepth = depth + 1;
        }
        stack.push_back(name);
    }

    void Close() {
        if (stack.size() == checksumDepth) checksumDepth = 0;
        stack.pop_back();
    }

    void Text(std::string_view text) {
        if (checksumDepth != 0 && stack.size() == checksumDepth) checksum.append(text);
    }

    std::string_view body;
    std::vector<std::string_view> stack;
    bool sawEnvelope = false;
    bool sawBody = false;
    bool sawGetLyric5 = false;
    bool sawChecksum = false;
    std::size_t checksumDepth = 0;  // the stack size while inside strChecksum, else 0
    std::string checksum;
};

// A field's text as every client can read it: escaped, and with every character outside the
// Basic Multilingual Plane as a character reference. A client that takes each UTF-8 sequence
// for at most three bytes would let a four-byte sequence swallow the two bytes after it (the
// "</" of the closing tag, or the "&l" of a line break); a reference is plain ASCII, and a
// client that decodes references gets the character back.
std::string ClientText(std::string_view text) {
    const std::string escaped = XmlEscape(text);
    std::string out;
    out.reserve(escaped.size());
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        const auto lead = static_cast<unsigned char>(escaped[i]);
        // The text is well-formed UTF-8: a lead byte of four is followed by its three.
        if ((lead & 0xF8) != 0xF0 || i + 3 >= escaped.size()) {
            out.push_back(escaped[i]);
            continue;
        }
        std::uint32_t c = lead & 0x07u;
        for (std::size_t k = 1; k <= 3; ++k)
            c = (c << 6) | (static_cast<unsigned char>(escaped[i + k]) & 0x3Fu);
        char reference[16];
        std::snprintf(reference, sizeof reference, "&#x%X;", static_cast<unsigned>(c));
        out.append(reference);
        i += 3;
    }
    return out;
}

void AppendElement(std::string& out, std::string_view name, std::string_view escaped) {
    out.append("<").append(name).append(">").append(escaped).append("</").append(name).append(">");
}

}  // namespace

GetLyric5Request ParseGetLyric5Request(std::string_view body) {
    return RequestScanner(body).Run();
}

const char* RequestErrorText(RequestError error) {
    switch (error) {
        case RequestError::None:
            return "no error";
        case RequestError::Malformed:
            return "the request is not well-formed XML";
        case RequestError::NotEnvelope:
            return "the request is not a SOAP envelope";
        case RequestError::NotGetLyric5:
            return "the request calls no GetLyric5";
        case RequestError::NoChecksum:
            return "GetLyric5 without strChecksum";
        case RequestError::BadChecksum:
            return "strChecksum is not 32 hexadecimal digits";
    }
    return "unknown error";
}

std::string XmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out.append("&amp;");
                break;
            case '<':
                out.append("&lt;");
                break;
            case '>':
                out.append("&gt;");
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

std::string BuildGetLyric5Response(const LrcSong* song) {
    std::string lyric;
    if (song != nullptr) {
        for (std::size_t i = 0; i < song->lines.size(); ++i) {
            if (i != 0) lyric.append("&lt;br&gt;");
            lyric.append(ClientText(song->lines[i]));
        }
    }
    std::string out(EnvelopeStart);
    out.append("<GetLyric5Response xmlns=\"ALSongWebServer\">");
    AppendElement(out, "GetLyric5Result", song != nullptr ? "true" : "false");
    out.append("<output>");
    AppendElement(out, "strTitle", song != nullptr ? ClientText(song->title) : "");
    AppendElement(out, "strArtist", song != nullptr ? ClientText(song->artist) : "");
    AppendElement(out, "strAlbum", song != nullptr ? ClientText(song->album) : "");
    AppendElement(out, "strLyric", lyric);
    out.append("</output></GetLyric5Response>").append(EnvelopeEnd);
    return out;
}

std::string BuildSoapFault(std::string_view code, std::string_view reason) {
    std::string out(EnvelopeStart);
    out.append("<soap:Fault><soap:Code><soap:Value>soap:")
        .append(code)
        .append("</soap:Value></soap:Code><soap:Reason><soap:Text xml:lang=\"en\">")
        .append(XmlEscape(reason))
        .append("</soap:Text></soap:Reason></soap:Fault>")
        .append(EnvelopeEnd);
    return out;
}

}  // namespace quillon::lyricsd
