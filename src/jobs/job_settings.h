#pragma once

#include "gazetteer/area.h"
#include "gazetteer/gnis_source.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace gnis {

// The values a stage reads, taken from the main window's controls or from
// gnis-convert's options and settings.ini at the moment the job starts.
struct JobSettings {
    std::filesystem::path outputFolder;
    // Positions in stateCodes, in the order the user gave them; one gnis.gpx
    // holds them all. Empty when none is chosen.
    std::vector<int> states;
    GnisSource source = GnisSource::Current;

    // A gazetteer text of the user's own to convert instead of downloading.
    // It is read only, never changed or deleted.
    std::filesystem::path inputText;
    // An archive of the user's own to read the states' texts from instead of
    // downloading them. It is read only, never changed or deleted.
    std::filesystem::path inputArchive;

    // The part of the states' records kept; empty: all of them.
    Area area;
    // The map maker's own class table file; empty: the built-in table.
    std::filesystem::path classTable;

    // Where the gazetteer comes from: an http(s) or file: URL, or a folder laid
    // out like the server. Empty: the source's own server.
    std::string gnisServer;
    std::string server() const { return gnisServer.empty() ? DefaultGnisServer(source) : gnisServer; }
    int connectTimeoutMs = 30000; // give up on a server that does not answer
    int stallTimeoutMs = 60000;   // give up on a download that stops
    std::int64_t maxTimeMs = 3600000; // give up on a download that takes longer in all
    // The download cache: downloads are kept there and later runs ask the
    // server whether they are still current. Empty: no cache (--no-cache).
    std::filesystem::path cacheFolder;
    std::int64_t cacheMaxBytes = std::int64_t(2) << 30;
    bool refresh = false; // ask without the conditions: fetch anew whatever the cache holds
    bool offline = false; // no request at all ("Without Internet"): the cache, else an older gnis.zip
    // Where the changes since the last run of the same kind go as CSV; empty: nowhere.
    std::filesystem::path changesFile;

    std::filesystem::path fwToolsFolder;
    std::filesystem::path postgisFolder;
    std::filesystem::path mkgmapFolder; // empty: mkgmap on PATH
    bool replaceGarmin = false; // replace a gmapsupp.img this program did not make
    std::string host;
    std::string port; // empty: PGPORT, else 5432, as the tools themselves choose
    std::string database;
    std::string user;
    std::string password;
    // The script run on the loaded table; empty: the one installed with the program.
    std::filesystem::path processingScript;
};

// A TCP port number, 1 to 65535, in plain digits.
inline bool ValidPort(const std::string& port) {
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int n = std::stoi(port);
    return n >= 1 && n <= 65535;
}

} // namespace gnis
