#include "platform/settings_file.h"

#include "platform/ini_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <array>

namespace gnis {

std::filesystem::path SettingsPath() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    return std::filesystem::path(folder.toStdString()) / "settings.ini";
}

std::filesystem::path ErrorLogPath() { return SettingsPath().parent_path() / "error.log"; }

std::filesystem::path ProcessingScriptPath() {
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString& candidate : {dir + "/gnis.sql", dir + "/../share/trailcrafter-gnis/gnis.sql"}) {
        if (QFileInfo(candidate).isFile())
            return std::filesystem::path(QDir::cleanPath(candidate).toStdString());
    }
    return {};
}

void SetApplicationIdentity() {
    QCoreApplication::setOrganizationName(QStringLiteral("Trailcrafter"));
    // The configuration folder is named after the desktop program for both programs.
    QCoreApplication::setApplicationName(QStringLiteral("trailcrafter-gnis"));
}

StoredSettings LoadStoredSettings(const std::filesystem::path& path) {
    IniFile ini;
    (void)ini.load(path); // an unreadable file gives the defaults, as a missing one does
    StoredSettings s;
    s.fwtools = ini.get("Software", "fwtools");
    s.postgis = ini.get("Software", "postgis");
    s.mkgmap = ini.get("Software", "mkgmap");
    s.gnisServer = ini.get("Software", "gnisserver");
    s.gnisSource = ini.get("Software", "gnissource");
    s.classes = ini.get("Software", "classes");
    s.host = ini.get("PostGIS", "host", "localhost");
    s.database = ini.get("PostGIS", "database");
    s.user = ini.get("PostGIS", "user");
    s.pass = ini.get("PostGIS", "pass");
    s.port = ini.get("PostGIS", "port");
    s.gnis = ini.get("User", "gnis");
    s.state = ini.get("User", "state");
    s.page = ini.get("User", "page");
    s.area = ini.get("User", "area");
    return s;
}

namespace {

Outcome update(const std::filesystem::path& path, const std::initializer_list<std::array<std::string, 3>>& values) {
    IniFile ini;
    if (Outcome loaded = ini.load(path); !loaded)
        return loaded;
    for (const auto& [section, key, value] : values) {
        if (Outcome set = ini.set(section, key, value); !set)
            return set; // nothing is written when one value is refused
    }
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    return ini.save(path);
}

} // namespace

Outcome SaveStoredSettings(const std::filesystem::path& path, const StoredSettings& s) {
    return update(path, {{"Software", "fwtools", s.fwtools},
                         {"Software", "postgis", s.postgis},
                         {"Software", "mkgmap", s.mkgmap},
                         {"Software", "gnisserver", s.gnisServer},
                         {"Software", "gnissource", s.gnisSource},
                         {"Software", "classes", s.classes},
                         {"PostGIS", "host", s.host},
                         {"PostGIS", "database", s.database},
                         {"PostGIS", "user", s.user},
                         {"PostGIS", "pass", s.pass},
                         {"PostGIS", "port", s.port}});
}

Outcome SaveOutputFolder(const std::filesystem::path& path, const std::string& folder) {
    return SaveUserSetting(path, "gnis", folder);
}

Outcome SaveUserSetting(const std::filesystem::path& path, const std::string& key, const std::string& value) {
    return update(path, {{"User", key, value}});
}

Outcome SaveClassTableSetting(const std::filesystem::path& path, const std::string& file) {
    return update(path, {{"Software", "classes", file}});
}

} // namespace gnis
