#include "lyricsd/options.h"

#include <charconv>
#include <cstdlib>

namespace quillon::lyricsd {

std::optional<ListenAddress> ParseListenAddress(std::string_view text) {
    ListenAddress address;
    std::string_view portText;
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return std::nullopt;
        address.host = text.substr(1, close - 1);
        portText = text.substr(close + 2);
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon == std::string_view::npos) return std::nullopt;
        address.host = text.substr(0, colon);
        portText = text.substr(colon + 1);
        if (address.host.find(':') != std::string::npos) return std::nullopt;  // IPv6 unbracketed
    }
    if (address.host.empty() || portText.empty()) return std::nullopt;
    const auto [end, ec] =
        std::from_chars(portText.data(), portText.data() + portText.size(), address.port);
    if (ec != std::errc() || end != portText.data() + portText.size() || address.port < 0 ||
        address.port > 65535)
        return std::nullopt;
    return address;
}

std::string FormatListenAddress(const ListenAddress& address) {
    const bool v6 = address.host.find(':') != std::string::npos;
    return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

std::optional<Options> ParseOptions(const std::vector<std::string_view>& args, std::string& error) {
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        std::string_view value;
        bool inlineValue = false;
        if (const std::size_t eq = arg.find('='); arg.starts_with("--") && eq != arg.npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            inlineValue = true;
        }
        if (arg == "-h" || arg == "--help") {
            options.help = true;
            return options;
        }
        if (arg == "--version") {
            options.version = true;
            return options;
        }
        if (arg != "--catalog" && arg != "--database" && arg != "--listen" && arg != "--latency") {
            error = "unknown argument '" + std::string(args[i]) + "'";
            return std::nullopt;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                error = std::string(arg) + " needs a value";
                return std::nullopt;
            }
            value = args[++i];
        }
        if (arg == "--catalog") {
            if (value.empty()) {
                error = "--catalog needs a folder";
                return std::nullopt;
            }
            options.catalogs.emplace_back(value);
        } else if (arg == "--database") {
            if (value.empty()) {
                error = "--database needs a file";
                return std::nullopt;
            }
            options.database = value;
        } else if (arg == "--latency") {
            // Milliseconds, at most a minute.
            int ms = 0;
            bool digits = !value.empty() && value.size() <= 5;
            for (const char c : value) {
                digits = digits && c >= '0' && c <= '9';
                if (digits) ms = ms * 10 + (c - '0');
            }
            if (!digits || ms > 60000) {
                error = "--latency wants milliseconds from 0 to 60000, not '" + std::string(value) +
                        "'";
                return std::nullopt;
            }
            options.latencyMs = ms;
        } else {
            const auto address = ParseListenAddress(value);
            if (!address) {
                error = "--listen wants ADDR:PORT, not '" + std::string(value) + "'";
                return std::nullopt;
            }
            options.listen = *address;
        }
    }
    if (options.catalogs.empty()) {
        error = "--catalog DIR is required";
        return std::nullopt;
    }
    if (options.database.empty()) options.database = DefaultDatabasePath();
    return options;
}

std::string DefaultDatabasePath() {
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string folder;
    if (data != nullptr && data[0] == '/') {
        folder = data;
    } else {
        const char* home = std::getenv("HOME");
        folder = std::string(home != nullptr ? home : ".") + "/.local/share";
    }
    return folder + "/quillon/lyricsd.sqlite";
}

}  // namespace quillon::lyricsd
