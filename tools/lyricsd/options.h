#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::lyricsd {

struct ListenAddress {
    std::string host = "127.0.0.1";  // without brackets, also for IPv6
    int port = 0;                    // 0: any free port
};

struct Options {
    bool help = false;
    bool version = false;
    std::vector<std::string> catalogs;  // one or more folders
    std::string database;               // the catalogue's file; empty: DefaultDatabasePath()
    ListenAddress listen;
    int latencyMs = 0;  // every answer waits this long before it goes out
};

// $XDG_DATA_HOME/quillon/lyricsd.sqlite, else ~/.local/share/quillon/lyricsd.sqlite.
std::string DefaultDatabasePath();

// "ADDR:PORT", with an IPv6 address in brackets ("[::1]:8080"). Empty when malformed.
std::optional<ListenAddress> ParseListenAddress(std::string_view text);

// The address as "ADDR:PORT", brackets around an IPv6 address.
std::string FormatListenAddress(const ListenAddress& address);

// Parses the command line (without the program name). On a usage error returns nothing and
// sets `error`.
std::optional<Options> ParseOptions(const std::vector<std::string_view>& args, std::string& error);

}  // namespace quillon::lyricsd
