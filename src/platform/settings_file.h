#pragma once

#include "base/outcome.h"

#include <filesystem>
#include <string>

namespace gnis {

// What settings.ini keeps between runs.
struct StoredSettings {
    std::string fwtools;   // [Software] fwtools: folder holding ogr2ogr
    std::string postgis;   // [Software] postgis: folder holding shp2pgsql, psql, pgsql2shp
    std::string mkgmap;    // [Software] mkgmap: optional, folder holding mkgmap
    std::string gnisServer;// [Software] gnisserver: optional, where the gazetteer comes from
    std::string gnisSource;// [Software] gnissource: optional, current, 2021 or 2009
    std::string classes;   // [Software] classes: optional, a class table file of the user's
    std::string host = "localhost"; // [PostGIS] host
    std::string port;      // [PostGIS] port: empty for PGPORT, else 5432
    std::string database;  // [PostGIS] database
    std::string user;      // [PostGIS] user
    std::string pass;      // [PostGIS] pass, plain text in a file only its owner can read
    std::string gnis;      // [User] gnis: the output folder
    std::string state;     // [User] state: the last state chosen, by code
    std::string page;      // [User] page: the last page shown, gnis or settings
    std::string area;      // [User] area: the area of the next run, "" for the whole state
};

// settings.ini in the user's configuration folder (an installed program's own
// folder is not writable). Needs the application's organisation and name set.
std::filesystem::path SettingsPath();

// error.log beside settings.ini: the error output of shp2pgsql.
std::filesystem::path ErrorLogPath();

// The processing script run on the loaded table: beside the executable (the
// build tree), else in the installed data folder. Empty when neither exists.
std::filesystem::path ProcessingScriptPath();

// Sets the names that place the configuration folder; both programs call it
// first, so the window and gnis-convert share one settings.ini.
void SetApplicationIdentity();

// The eight keys, gnisserver and gnissource; a missing file or key gives the defaults.
StoredSettings LoadStoredSettings(const std::filesystem::path& path);

// Writes the seven values of Save Settings (not gnis, gnisserver or gnissource).
Outcome SaveStoredSettings(const std::filesystem::path& path, const StoredSettings& settings);

// Writes [User] gnis alone, as a folder pick does.
Outcome SaveOutputFolder(const std::filesystem::path& path, const std::string& folder);
// Writes one [User] key alone: state or page, as the window remembers them.
Outcome SaveUserSetting(const std::filesystem::path& path, const std::string& key, const std::string& value);
// Writes [Software] classes alone, as adding a class from the result window does.
Outcome SaveClassTableSetting(const std::filesystem::path& path, const std::string& file);

} // namespace gnis
