// gnis-convert: the headless front end. It runs the same stages as the windows
// and reports on the terminal: status texts on standard error as they happen,
// one summary line at the end. Exit status 0 success, 1 failed job, 2 usage error.

#include "gazetteer/class_table.h"
#include "jobs/run_job.h"
#include "platform/download_cache.h"
#include "platform/settings_file.h"
#include "gazetteer/states.h"
#include "zip/zip_archive.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* kVersion = GNIS_VERSION;

constexpr const char* kUsage =
    "Usage: gnis-convert COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  gpx       Convert a state's GNIS gazetteer into DIR/gnis.gpx (\"GNIS --> GPX\")\n"
    "  shp       The same, then into the point shapefile DIR/gnis.shp (\"GNIS --> SHP\")\n"
    "  process   Send DIR/gnis.shp through PostGIS and back (\"Process SHP\")\n"
    "  all       shp, then process (\"All At Once\")\n"
    "  mp        The same conversion into DIR/gnis.mp, a Polish-format map\n"
    "  garmin    mp, then mkgmap compiles it into DIR/gmapsupp.img for a Garmin device\n"
    "  gpkg      The same conversion into the GeoPackage DIR/gnis.gpkg, through ogr2ogr\n"
    "  geojson   The same conversion into DIR/gnis.geojson (RFC 7946), through ogr2ogr\n"
    "  classes   Print the built-in class table, to start a table of your own from\n"
    "  extract   Unpack a zip archive into DIR\n"
    "\n"
    "gnis-convert gpx --state STATE[,STATE...] --output DIR [--source SOURCE] [--server URL|FOLDER]\n"
    "                 [--input FILE] [--classes FILE] [--bbox W,S,E,N] [--county NAME[,NAME...]]\n"
    "                 [--max-time SECONDS] [--refresh] [--no-cache] [--cache-size MB] [--changes FILE.csv]\n"
    "                 [--timing] [--quiet]\n"
    "  --state STATE   state or territory, by code (MA) or name (Massachusetts), any case;\n"
    "                  several separated by commas (MA,NH,VT); US is the whole country\n"
    "  --output DIR    output folder; it must exist (default: the one saved in settings.ini)\n"
    "  --source NAME   current (Domestic Names, the default), 2021 (the frozen 2021 archive,\n"
    "                  with schools, churches, mines and elevations) or 2009\n"
    "                  (default: gnissource in settings.ini, else current)\n"
    "  --server URL    where the source is served (default: gnisserver in settings.ini, else\n"
    "                  https://prd-tnm.s3.amazonaws.com, or http://geonames.usgs.gov for 2009);\n"
    "                  a file: URL or a folder works as an offline mirror of the server\n"
    "  --input FILE    convert this gazetteer text, or read the states' texts from this\n"
    "                  archive (.zip), instead of downloading; FILE is only read, never changed\n"
    "  --classes FILE  a class table of your own instead of the built-in one: one feature class a\n"
    "                  line, its map type code last (0x6616), or - to leave it out; # comments\n"
    "                  (default: [Software] classes in settings.ini; gnis-convert classes prints\n"
    "                  the built-in table)\n"
    "  --bbox W,S,E,N  keep only what lies in this box: west, south, east, north in decimal\n"
    "                  degrees (-71.9,43.9,-70.9,44.6); west past east crosses the antimeridian\n"
    "  --county NAME[,NAME...]  keep only these counties of the gazetteer's county column,\n"
    "                  any case; a state code after a name (Coos NH) where names repeat across\n"
    "                  states. With --bbox too, a feature must lie in both. What is left out\n"
    "                  is counted as outside the area\n"
    "  --max-time SECONDS  give up on a download that takes longer than this in all (default: 3600)\n"
    "  --refresh       fetch anew, without asking the server whether the cached copy is current\n"
    "  --no-cache      neither read nor write the download cache (~/.cache/trailcrafter-gnis)\n"
    "  --cache-size MB keep at most this many megabytes of downloads there (default: 2048); the\n"
    "                  copies used longest ago go first\n"
    "  --changes FILE.csv  write what changed since the last run of the same states, source,\n"
    "                  class table and area: feature_id,kind,old,new, one row per change (new,\n"
    "                  removed, renamed, moved more than 100 m, class changed); the summary\n"
    "                  gives the counts either way\n"
    "  --timing        show the seconds since the start before each status text\n"
    "  --quiet         no progress line on a terminal (downloads and the conversion in percent,\n"
    "                  an outside tool with its seconds), only the status texts\n"
    "  Each state's file is kept in the download cache ($XDG_CACHE_HOME/trailcrafter-gnis, else\n"
    "  ~/.cache/trailcrafter-gnis); a later run asks the server whether it changed and fetches\n"
    "  it only when it did. When the server cannot be reached, the cached copy is used and the\n"
    "  summary says so. Its text is streamed into DIR/gnis.gpx. A feature that\n"
    "  several states' files share goes in once.\n"
    "\n"
    "gnis-convert shp|all|gpkg|geojson take the options of gpx, and --fwtools; all and process take\n"
    "the rest of these (process with --output and --timing only):\n"
    "  --fwtools DIR     folder holding ogr2ogr (default: settings.ini, else PATH)\n"
    "  --postgis DIR     folder holding shp2pgsql, psql and pgsql2shp (default: settings.ini, else PATH)\n"
    "  --host HOST       database server (default: settings.ini, else localhost)\n"
    "  --port PORT       database server port (default: settings.ini, else PGPORT, else 5432)\n"
    "  --database NAME   database (default: settings.ini)\n"
    "  --user NAME       database user (default: settings.ini)\n"
    "  The password comes from PGPASSWORD, else from settings.ini; never from an option.\n"
    "\n"
    "gnis-convert mp|garmin take the options of gpx; garmin takes these too:\n"
    "  --mkgmap DIR      folder holding mkgmap (default: settings.ini, else PATH)\n"
    "  --replace         replace a gmapsupp.img that this program did not make (a map of\n"
    "                    its own it replaces anyway)\n"
    "\n"
    "gnis-convert extract ARCHIVE --output DIR [--flat] [--keep-existing] [--max-size MB]\n"
    "                    [--max-ratio N]\n"
    "  --output DIR      folder to unpack into; it is made when missing\n"
    "  --flat            drop the archive's folders, write every file into DIR\n"
    "  --keep-existing   leave files that already exist alone (default: replace them)\n"
    "  --max-size MB     refuse an archive that unpacks to more than this (default: 16384)\n"
    "  --max-ratio N     refuse an archive of more than 64 MB unpacked that unpacks to more than N times\n"
    "                    its own size (default: 200; 0: no limit)\n"
    "\n"
    "  -h, --help      show this help and exit\n"
    "  -V, --version   show the version and exit\n";

// Text for the terminal: control characters (from an archive's member names, a
// server's answer or a gazetteer) shown as \xNN, never sent raw, so no name can
// move the cursor, clear the screen or set the title.
std::string printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

struct UsageError {
    std::string message;
};

// The signal that asked the run to stop (SIGINT, SIGTERM, SIGHUP), or 0. The
// run then ends as a Cancel ends it in the window: tools ended, temporary files
// and scratch folders removed, the folder as it was.
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

extern "C" void onStopSignal(int signal) { gStopSignal.store(signal); }

void catchStopSignals() {
#if defined(SIGHUP)
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_RESTART; // a second one ends the program at once
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal ignored when we started stays ignored: nohup, and a shell's background jobs.
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            sigaction(signal, &action, nullptr);
    }
#else
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
#endif
}

// Status texts go to standard error as they happen; the job's outcome makes
// the summary. With timing on, each status text carries the seconds since the start, so a
// user sees what share of a run each stage takes.
// On a terminal (and without --quiet) a line under the status text shows how
// far a download or the conversion has come, or which tool works and for how
// long; through a pipe nothing but the texts.
class TerminalReporter : public gnis::StatusReporter {
public:
    TerminalReporter(bool timing, bool quiet)
        : timing_(timing), interactive_(!quiet && isatty(fileno(stderr)) != 0) {
        clock_.start();
        QObject::connect(&toolTick_, &QTimer::timeout, [this] { showTool(); });
    }
    ~TerminalReporter() override { endLine(); }
    void progress(std::int64_t done, std::int64_t total) override {
        if (!interactive_ || total <= 0)
            return;
        const int percent = static_cast<int>(std::min<std::int64_t>(100, done * 100 / total));
        if (percent == shownPercent_)
            return;
        shownPercent_ = percent;
        toolTick_.stop();
        std::cerr << "\r\x1b[K  " << percent << "%" << std::flush;
        lineOpen_ = true;
    }
    void toolRunning(const std::string& tool) override {
        if (!interactive_)
            return;
        tool_ = tool;
        toolClock_.start();
        showTool();
        toolTick_.start(1000);
    }
    void endLine() {
        toolTick_.stop();
        if (lineOpen_)
            std::cerr << "\r\x1b[K" << std::flush;
        lineOpen_ = false;
        shownPercent_ = -1;
    }
    void setStatusText(const std::string& text) override {
        endLine();
        if (timing_) {
            char stamp[32];
            std::snprintf(stamp, sizeof stamp, "[%8.3f s] ", static_cast<double>(clock_.nsecsElapsed()) / 1e9);
            std::cerr << stamp;
        }
        std::cerr << printable(text) << '\n';
    }
    bool cancelRequested() override { return gStopSignal.load() != 0; }

private:
    void showTool() {
        std::cerr << "\r\x1b[K  " << printable(tool_) << ", " << toolClock_.elapsed() / 1000 << " s" << std::flush;
        lineOpen_ = true;
    }
    bool timing_;
    bool interactive_;
    bool lineOpen_ = false;
    int shownPercent_ = -1;
    std::string tool_;
    QElapsedTimer clock_, toolClock_;
    QTimer toolTick_;
};

struct Options {
    std::string command;
    std::map<std::string, std::string> values; // "--state" -> "MA"
    std::vector<std::string> positional;
    bool help = false; // the command's own help was asked for
    std::string helpText;
};

// Every option of every command: name, value name (none for a switch), what it does.
struct OptionRule {
    const char* name;
    const char* valueName;
    const char* description;
};
constexpr OptionRule kState{"state", "STATE", "state or territory by code (MA) or name, any case; several separated by commas; US is the whole country"};
constexpr OptionRule kOutput{"output", "DIR", "output folder; it must exist (default: the one saved in settings.ini)"};
constexpr OptionRule kSource{"source", "SOURCE", "current (default), 2021 or 2009 (default: gnissource in settings.ini)"};
constexpr OptionRule kServer{"server", "URL", "where the source is served: an http(s) or file: URL, or a mirror folder"};
constexpr OptionRule kInput{"input", "FILE", "convert this gazetteer text, or read the states' texts from this archive"};
constexpr OptionRule kMaxTime{"max-time", "SECONDS", "give up on a download that takes longer in all (default: 3600)"};
constexpr OptionRule kQuiet{"quiet", nullptr, "no progress line on a terminal, only the status texts"};
constexpr OptionRule kTiming{"timing", nullptr, "show the seconds since the start before each status text"};
constexpr OptionRule kFwtools{"fwtools", "DIR", "folder holding ogr2ogr (default: settings.ini, else PATH)"};
constexpr OptionRule kPostgis{"postgis", "DIR", "folder holding shp2pgsql, psql and pgsql2shp (default: settings.ini, else PATH)"};
constexpr OptionRule kMkgmap{"mkgmap", "DIR", "folder holding mkgmap (default: settings.ini, else PATH)"};
constexpr OptionRule kReplace{"replace", nullptr, "replace a gmapsupp.img that this program did not make"};
constexpr OptionRule kHost{"host", "HOST", "database server (default: settings.ini, else localhost)"};
constexpr OptionRule kDatabase{"database", "NAME", "database (default: settings.ini)"};
constexpr OptionRule kPort{"port", "PORT", "database server port (default: settings.ini, else PGPORT, else 5432)"};
constexpr OptionRule kUser{"user", "NAME", "database user (default: settings.ini)"};
constexpr OptionRule kClasses{"classes", "FILE", "a class table of your own: one class a line, its map type code last, "
                                                 "or - (default: [Software] classes in settings.ini, else the built-in one)"};
constexpr OptionRule kBbox{"bbox", "W,S,E,N", "keep only what lies in this box of decimal degrees; "
                                          "west past east crosses the antimeridian"};
constexpr OptionRule kCounty{"county", "NAME[,NAME...]", "keep only these counties, any case; a state code after "
                                                         "a name (Coos NH) where names repeat across states"};
constexpr OptionRule kRefresh{"refresh", nullptr, "fetch anew, without asking whether the cached copy is current"};
constexpr OptionRule kNoCache{"no-cache", nullptr, "neither read nor write the download cache"};
constexpr OptionRule kCacheSize{"cache-size", "MB", "keep at most this many megabytes of downloads in the cache (default: 2048)"};
constexpr OptionRule kChanges{"changes", "FILE.csv", "write what changed since the last run of the same states, source, "
                                                    "class table and area: one row per change"};
constexpr OptionRule kExtractOutput{"output", "DIR", "folder to unpack into; it is made when missing"};
constexpr OptionRule kFlat{"flat", nullptr, "drop the archive's folders, write every file into DIR"};
constexpr OptionRule kKeepExisting{"keep-existing", nullptr, "leave files that already exist alone (default: replace them)"};
constexpr OptionRule kMaxSize{"max-size", "MB", "refuse an archive that unpacks to more than this (default: 16384)"};
constexpr OptionRule kMaxRatio{"max-ratio", "N", "refuse an archive of more than 64 MB unpacked that unpacks to more than N "
                                                 "times its own size (default: 200; 0: no limit)"};

struct CommandRule {
    const char* name;
    const char* description;
    std::vector<const OptionRule*> options;
    bool takesArchive = false;
};

const std::vector<CommandRule>& commands() {
    static const std::vector<CommandRule> all{
        {"gpx", "Convert the gazetteer of the given states into DIR/gnis.gpx (\"GNIS --> GPX\").",
         {&kState, &kOutput, &kSource, &kServer, &kInput, &kMaxTime, &kClasses, &kBbox, &kCounty, &kRefresh, &kNoCache, &kCacheSize, &kChanges, &kTiming, &kQuiet}},
        {"shp", "The same, then into the point shapefile DIR/gnis.shp (\"GNIS --> SHP\").",
         {&kState, &kOutput, &kSource, &kServer, &kInput, &kMaxTime, &kClasses, &kBbox, &kCounty, &kRefresh, &kNoCache, &kCacheSize, &kChanges, &kTiming, &kQuiet, &kFwtools}},
        {"process", "Send DIR/gnis.shp through PostGIS and back (\"Process SHP\"). The password comes from "
                    "PGPASSWORD, else settings.ini.",
         {&kOutput, &kTiming, &kQuiet, &kPostgis, &kHost, &kPort, &kDatabase, &kUser}},
        {"all", "shp, then process (\"All At Once\").",
         {&kState, &kOutput, &kSource, &kServer, &kInput, &kMaxTime, &kClasses, &kBbox, &kCounty, &kRefresh, &kNoCache, &kCacheSize, &kChanges, &kTiming, &kQuiet, &kFwtools, &kPostgis, &kHost, &kPort, &kDatabase, &kUser}},
        {"mp", "The same conversion into DIR/gnis.mp, a Polish-format map of one POI per waypoint.",
         {&kState, &kOutput, &kSource, &kServer, &kInput, &kMaxTime, &kClasses, &kBbox, &kCounty, &kRefresh, &kNoCache, &kCacheSize, &kChanges, &kTiming, &kQuiet}},
        {"garmin", "mp, then mkgmap compiles it into DIR/gmapsupp.img, a map for a Garmin device's card.",
         {&kState, &kOutput, &kSource, &kServer, &kInput, &kMaxTime, &kClasses, &kBbox, &kCounty, &kRefresh, &kNoCache, &kCacheSize, &kChanges, &kTiming, &kQuiet, &kMkgmap, &kReplace}},
        {"gpkg", "The same conversion into the GeoPackage DIR/gnis.gpkg (layer gnis, WGS 84), through ogr2ogr, "
                 "with the feature id, the county and the state.",
         {&kState, &kOutput, &kSource, &kServer, &kInput, &kMaxTime, &kClasses, &kBbox, &kCounty, &kRefresh, &kNoCache, &kCacheSize, &kChanges, &kTiming, &kQuiet, &kFwtools}},
        {"geojson", "The same conversion into DIR/gnis.geojson (RFC 7946), through ogr2ogr, with the feature id, "
                    "the county and the state.",
         {&kState, &kOutput, &kSource, &kServer, &kInput, &kMaxTime, &kClasses, &kBbox, &kCounty, &kRefresh, &kNoCache, &kCacheSize, &kChanges, &kTiming, &kQuiet, &kFwtools}},
        {"classes", "Print the built-in class table in the form --classes reads, to start a table of your own from.", {}},
        {"extract", "Unpack a zip archive into DIR with the program's own reader.",
         {&kExtractOutput, &kFlat, &kKeepExisting, &kMaxSize, &kMaxRatio}, true},
    };
    return all;
}

Options parse(const std::vector<std::string>& args) {
    if (args.empty())
        throw UsageError{"no command given"};
    Options options;
    options.command = args[0];
    const auto& all = commands();
    const auto rule = std::find_if(all.begin(), all.end(), [&](const CommandRule& c) { return options.command == c.name; });
    if (rule == all.end())
        throw UsageError{"unknown command '" + options.command + "'"};
    const std::string hint = "\nTry 'gnis-convert " + options.command + " --help' for its options.";

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(rule->description));
    const QCommandLineOption help(QStringList{"h", "help"}, "show this help and exit");
    parser.addOption(help);
    for (const OptionRule* o : rule->options) {
        parser.addOption(o->valueName ? QCommandLineOption(o->name, o->description, o->valueName)
                                      : QCommandLineOption(o->name, o->description));
    }
    if (rule->takesArchive)
        parser.addPositionalArgument("ARCHIVE", "the zip archive to unpack");
    QStringList qargs{QString::fromStdString("gnis-convert " + options.command)};
    for (std::size_t i = 1; i < args.size(); ++i)
        qargs << QString::fromStdString(args[i]);
    if (!parser.parse(qargs))
        throw UsageError{parser.errorText().toStdString() + hint};
    if (parser.isSet(help)) {
        options.help = true;
        // Without an application object Qt cannot name the program; the command says it all.
        options.helpText = parser.helpText()
                               .replace("<executable_name>", QString::fromStdString("gnis-convert " + options.command))
                               .toStdString();
        return options;
    }
    for (const OptionRule* o : rule->options) {
        const QStringList values = parser.values(o->name);
        if (values.size() > 1 || (!o->valueName && parser.optionNames().count(o->name) > 1))
            throw UsageError{std::string("option --") + o->name + " given twice" + hint};
        if (parser.isSet(o->name))
            options.values[std::string("--") + o->name] = values.isEmpty() ? "" : values.first().toStdString();
    }
    for (const QString& p : parser.positionalArguments())
        options.positional.push_back(p.toStdString());
    const std::size_t wanted = rule->takesArchive ? 1 : 0;
    if (options.positional.size() > wanted)
        throw UsageError{"unexpected argument '" + options.positional[wanted] + "' for " + options.command + hint};
    if (options.positional.size() < wanted)
        throw UsageError{options.command + " needs an archive to read" + hint};
    return options;
}

bool given(const Options& o, const std::string& name) { return o.values.count(name) != 0; }

// A zip archive by its name or by its first bytes.
bool looksLikeZip(const fs::path& path) {
    std::string ext = path.extension().string();
    for (auto& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".zip")
        return true;
    char magic[2] = {};
    std::FILE* f = std::fopen(path.string().c_str(), "rb");
    if (!f)
        return false;
    const bool pk = std::fread(magic, 1, 2, f) == 2 && magic[0] == 'P' && magic[1] == 'K';
    std::fclose(f);
    return pk;
}

std::string value(const Options& o, const std::string& name) {
    const auto it = o.values.find(name);
    return it == o.values.end() ? std::string() : it->second;
}

// The job as the options give it, with settings.ini for what they leave out.
gnis::JobSettings jobFromOptions(const Options& options) {
    const std::string& command = options.command;
    const bool process = command == "process";
    gnis::JobSettings settings;
    const gnis::StoredSettings stored = gnis::LoadStoredSettings(gnis::SettingsPath());
    auto pick = [&](const char* option, const std::string& fallback) {
        return given(options, option) ? value(options, option) : fallback;
    };
    const std::string output = pick("--output", stored.gnis);
    if (output.empty())
        throw UsageError{command + " needs --output DIR (or an output folder saved in settings.ini)"};
    settings.outputFolder = output;
    settings.fwToolsFolder = pick("--fwtools", stored.fwtools);
    settings.postgisFolder = pick("--postgis", stored.postgis);
    settings.mkgmapFolder = pick("--mkgmap", stored.mkgmap);
    settings.replaceGarmin = given(options, "--replace");
    settings.host = pick("--host", stored.host);
    settings.port = pick("--port", stored.port);
    if (given(options, "--port") && !gnis::ValidPort(settings.port))
        throw UsageError{"--port needs a number from 1 to 65535"};
    settings.database = pick("--database", stored.database);
    settings.user = pick("--user", stored.user);
    settings.password = qEnvironmentVariableIsSet("PGPASSWORD") ? qEnvironmentVariable("PGPASSWORD").toStdString()
                                                                : stored.pass;
    settings.gnisServer = pick("--server", stored.gnisServer);
    if (const std::string classes = pick("--classes", stored.classes); !classes.empty()) {
        std::error_code ec;
        settings.classTable = fs::absolute(classes, ec);
    }
    const std::string source = pick("--source", stored.gnisSource);
    if (!source.empty() && !gnis::ParseGnisSource(source, settings.source))
        throw UsageError{"unknown source '" + source + "'" + (given(options, "--source") ? "" : " in settings.ini") +
                         "; give current, 2021 or 2009"};
    if (process)
        return settings;

    if (given(options, "--max-time")) {
        const std::string text = value(options, "--max-time");
        std::int64_t seconds = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
        if (ec != std::errc() || end != text.data() + text.size() || seconds < 1 || seconds > 30 * 86400)
            throw UsageError{"--max-time needs a whole number of seconds, such as 600"};
        settings.maxTimeMs = seconds * 1000;
    }
    if (!given(options, "--no-cache"))
        settings.cacheFolder = gnis::DownloadCache::DefaultFolder();
    settings.refresh = given(options, "--refresh");
    if (given(options, "--changes")) {
        if (given(options, "--no-cache"))
            throw UsageError{"--changes needs the download cache, which keeps the last run's record; leave out --no-cache"};
        std::error_code ec;
        settings.changesFile = fs::absolute(value(options, "--changes"), ec);
    }
    if (given(options, "--cache-size")) {
        const std::string text = value(options, "--cache-size");
        std::int64_t megabytes = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), megabytes);
        if (ec != std::errc() || end != text.data() + text.size() || megabytes < 1 || megabytes > (std::int64_t(1) << 30))
            throw UsageError{"--cache-size needs a whole number of megabytes, such as 4096"};
        settings.cacheMaxBytes = megabytes << 20;
    }
    // The window's area ([User] area) is not read: like the states, a command's area is what it says.
    if (given(options, "--bbox")) {
        if (const gnis::Outcome set = settings.area.setBox(value(options, "--bbox")); !set)
            throw UsageError{"--bbox: " + set.error()};
    }
    if (given(options, "--county")) {
        if (const gnis::Outcome set = settings.area.setCounties(value(options, "--county")); !set)
            throw UsageError{"--county: " + set.error()};
    }
    const std::string state = value(options, "--state");
    const std::string input = value(options, "--input");
    if (state.empty() && input.empty())
        throw UsageError{command + " needs --state STATE (or --input FILE)"};
    if (!state.empty()) {
        if (const gnis::Outcome found = gnis::FindStates(state, settings.states); !found)
            throw UsageError{found.error()};
    }
    std::error_code ec;
    if (!input.empty()) {
        const fs::path file = fs::absolute(input, ec);
        if (looksLikeZip(file)) {
            if (state.empty())
                throw UsageError{command + " with an archive as --input needs --state STATE"};
            settings.inputArchive = file;
        } else {
            settings.inputText = file;
        }
    }
    return settings;
}

// The pipeline commands: the main window's jobs, with a summary line.
int runPipeline(const Options& options) {
    gnis::JobSettings settings = jobFromOptions(options);
    std::error_code ec;
    if (!fs::is_directory(settings.outputFolder, ec)) {
        std::cerr << "gnis-convert: GNIS ERROR: The output folder " << settings.outputFolder.string()
                  << " does not exist\n";
        return 1;
    }
    settings.outputFolder = fs::absolute(settings.outputFolder, ec);
    TerminalReporter reporter(given(options, "--timing"), given(options, "--quiet"));
    const std::string& command = options.command;
    const gnis::Job job = command == "gpx"       ? gnis::Job::Gpx
                          : command == "shp"     ? gnis::Job::Shp
                          : command == "process" ? gnis::Job::Process
                          : command == "mp"      ? gnis::Job::Mp
                          : command == "garmin"  ? gnis::Job::Garmin
                          : command == "gpkg"    ? gnis::Job::Gpkg
                          : command == "geojson" ? gnis::Job::GeoJson
                                                 : gnis::Job::All;
    const gnis::JobOutcome outcome = gnis::RunJob(job, settings, reporter);
    reporter.endLine();
    if (const int signal = gStopSignal.load(); !outcome.ok && signal != 0) { // as a shell reports a command ended by it
        std::cerr << "gnis-convert: " << printable(outcome.text) << '\n';
        return 128 + signal;
    }
    if (!outcome.ok) {
        std::cerr << "gnis-convert: " << printable(outcome.text) << '\n';
        return 1;
    }
    const std::string& warning = outcome.stats.warning;
    const std::string& notes = outcome.stats.notes;
    const std::string& changes = outcome.stats.changes;
    // "GNIS Data Processed" ends without a full stop; what follows is a sentence of its own.
    std::string line = outcome.summary + " " + outcome.text;
    for (const std::string* more : {&notes, &changes}) {
        if (!more->empty())
            line += (line.back() == '.' ? " " : ". ") + *more + ".";
    }
    if (!warning.empty())
        line += (line.back() == '.' ? " Warning: " : ". Warning: ") + warning;
    std::cout << printable(line) << std::endl;
    return 0;
}

int runExtract(const Options& options) {
    const std::string archive = options.positional.at(0);
    const std::string output = value(options, "--output");
    if (output.empty())
        throw UsageError{"extract needs --output DIR"};
    gnis::ZipExtractionClass zip;
    // A whole number within bounds, or the usage error that names the option.
    auto number = [&](const char* option, std::uint64_t min, std::uint64_t max, const char* what) {
        const std::string text = value(options, option);
        std::uint64_t n = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (ec != std::errc() || end != text.data() + text.size() || n < min || n > max)
            throw UsageError{std::string(option) + " needs " + what};
        return n;
    };
    if (given(options, "--max-size"))
        zip.setMaxTotalBytes(number("--max-size", 1, std::uint64_t(1) << 40, "a whole number of megabytes, such as 512") << 20);
    if (given(options, "--max-ratio"))
        zip.setMaxRatio(number("--max-ratio", 0, 1000000, "a whole number, such as 500, or 0 for no limit"));
    if (const gnis::Outcome opened = zip.OpenZip(archive); !opened) {
        std::cerr << "gnis-convert: " << printable(opened.error()) << '\n';
        return 1;
    }
    // Status lines on standard error as they happen, progress in steps of ten percent.
    gnis::ExtractOptions extract;
    extract.keepFolders = !given(options, "--flat");
    extract.overwrite = !given(options, "--keep-existing");
    extract.status = [](const std::string& text) { std::cerr << printable(text) << '\n'; };
    int lastShown = 0;
    extract.progress = [&lastShown](int percent) {
        if (percent / 10 != lastShown / 10 || (percent == 100 && lastShown != 100)) {
            std::cerr << percent << "%\n";
            lastShown = percent;
        }
    };
    const gnis::ExtractResult result = zip.Extract(output, extract);
    zip.CloseZip();
    for (const gnis::ZipProblem& problem : result.failures)
        std::cerr << "gnis-convert: error " << static_cast<int>(problem.reason) << ": " << printable(problem.message) << '\n';
    if (!result.ok()) {
        std::cerr << "gnis-convert: extraction of " << archive << " failed\n";
        return 1;
    }
    std::cout << archive << ": extracted into " << output << std::endl;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const auto& a : args) {
        if (a == "--version" || a == "-V") {
            std::cout << "gnis-convert " << kVersion << '\n';
            return 0;
        }
    }
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << kUsage;
        return 0;
    }
    try {
        const Options options = parse(args);
        if (options.help) {
            std::cout << options.helpText;
            return 0;
        }
        if (options.command == "classes") {
            std::cout << gnis::BuiltInClassTable();
            return 0;
        }
        if (options.command == "extract")
            return runExtract(options); // the zip reader needs no Qt
        catchStopSignals();
        QCoreApplication app(argc, argv); // downloads and tools are waited for in a local event loop
        gnis::SetApplicationIdentity();
        return runPipeline(options);
    } catch (const UsageError& e) {
        const bool hinted = e.message.find("\nTry ") != std::string::npos;
        std::cerr << "gnis-convert: " << e.message
                  << (hinted ? "\n" : "\nTry 'gnis-convert --help' for more information.\n");
        return 2;
    }
}
