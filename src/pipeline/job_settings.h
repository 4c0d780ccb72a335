#pragma once

#include <filesystem>
#include <string>

namespace gnis {

// The values a stage reads, taken from the main window's controls or from
// gnis-convert's options and settings.ini at the moment the job starts.
struct JobSettings {
    std::filesystem::path outputFolder;
    int stateIndex = -1; // position in stateCodes, -1 when none is chosen

    // A gazetteer text of the user's own to convert instead of the state's
    // text file in the output folder. It is read only, never deleted.
    std::filesystem::path inputText;
    // A state archive of the user's own to unpack instead of downloading one.
    // Its state text is extracted into the output folder, converted and removed;
    // the archive itself is never changed or deleted.
    std::filesystem::path inputArchive;

    // Where state archives come from: an http(s) or file: URL, or a folder that
    // mirrors the server (it holds docs/stategaz/).
    std::string gnisServer = "http://geonames.usgs.gov";
    int connectTimeoutMs = 30000; // give up on a server that does not answer
    int stallTimeoutMs = 60000;   // give up on a download that stops

    std::filesystem::path fwToolsFolder;
    std::filesystem::path postgisFolder;
    std::string host;
    std::string database;
    std::string user;
    std::string password;
    // The script run on the loaded table; empty: the one installed with the program.
    std::filesystem::path processingScript;
};

} // namespace gnis
