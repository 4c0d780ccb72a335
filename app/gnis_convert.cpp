// gnis-convert: the headless front end. It runs the same stages as the windows
// and reports on the terminal: status texts on standard error as they happen,
// one summary line at the end. Exit status 0 success, 1 failed job, 2 usage error.

#include "create_gpx.h"
#include "run_job.h"
#include "settings_file.h"
#include "states.h"
#include "zip_extraction.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

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
    "  extract   Unpack a zip archive into DIR\n"
    "\n"
    "gnis-convert gpx --state STATE[,STATE...] --output DIR [--source SOURCE] [--server URL|FOLDER]\n"
    "                 [--input FILE] [--timing]\n"
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
    "  --timing        show the seconds since the start before each status text\n"
    "  Each state's file is downloaded to DIR/gnis.zip (gnis.txt for the 2021 state files),\n"
    "  its text streamed into DIR/gnis.gpx, and the download deleted. A feature that\n"
    "  several states' files share goes in once.\n"
    "\n"
    "gnis-convert shp|all takes the options of gpx, and these; process takes --output, --timing and these:\n"
    "  --fwtools DIR     folder holding ogr2ogr (default: settings.ini, else PATH)\n"
    "  --postgis DIR     folder holding shp2pgsql, psql and pgsql2shp (default: settings.ini, else PATH)\n"
    "  --host HOST       database server (default: settings.ini, else localhost)\n"
    "  --database NAME   database (default: settings.ini)\n"
    "  --user NAME       database user (default: settings.ini)\n"
    "  The password comes from PGPASSWORD, else from settings.ini; never from an option.\n"
    "  PGPORT chooses a server port other than 5432.\n"
    "\n"
    "gnis-convert extract ARCHIVE --output DIR [--flat] [--keep-existing]\n"
    "  --output DIR      folder to unpack into; it is made when missing\n"
    "  --flat            drop the archive's folders, write every file into DIR\n"
    "  --keep-existing   leave files that already exist alone (default: replace them)\n"
    "\n"
    "  -h, --help      show this help and exit\n"
    "  -V, --version   show the version and exit\n";

struct UsageError {
    std::string message;
};

// Status texts go to standard error as they happen; the job's outcome makes
// the summary. With timing on, each status text carries the seconds since the start, so a
// user sees what share of a run each stage takes.
class TerminalReporter : public gnis::StatusReporter {
public:
    explicit TerminalReporter(bool timing) : timing_(timing) { clock_.start(); }
    void setStatusText(const std::string& text) override {
        if (timing_) {
            char stamp[32];
            std::snprintf(stamp, sizeof stamp, "[%8.3f s] ", static_cast<double>(clock_.nsecsElapsed()) / 1e9);
            std::cerr << stamp;
        }
        std::cerr << text << '\n';
    }

private:
    bool timing_;
    QElapsedTimer clock_;
};

struct Options {
    std::string command;
    std::map<std::string, std::string> values;
    std::vector<std::string> positional;
};

struct OptionRule {
    std::string name;
    bool takesValue;
};

Options parse(const std::vector<std::string>& args) {
    static const std::map<std::string, std::pair<std::vector<OptionRule>, std::size_t>> known{
        // command: its options, and how many positional arguments it takes
        {"gpx", {{{"--state", true}, {"--output", true}, {"--input", true}, {"--server", true}, {"--source", true}, {"--timing", false}}, 0}},
        {"shp", {{{"--state", true}, {"--output", true}, {"--input", true}, {"--server", true}, {"--source", true}, {"--timing", false},
                  {"--fwtools", true}}, 0}},
        {"process", {{{"--output", true}, {"--timing", false}, {"--postgis", true}, {"--host", true},
                      {"--database", true}, {"--user", true}}, 0}},
        {"all", {{{"--state", true}, {"--output", true}, {"--input", true}, {"--server", true}, {"--source", true}, {"--timing", false},
                  {"--fwtools", true}, {"--postgis", true}, {"--host", true}, {"--database", true}, {"--user", true}}, 0}},
        {"extract", {{{"--output", true}, {"--flat", false}, {"--keep-existing", false}}, 1}},
    };
    Options options;
    if (args.empty())
        throw UsageError{"no command given"};
    options.command = args[0];
    const auto command = known.find(options.command);
    if (command == known.end())
        throw UsageError{"unknown command '" + options.command + "'"};
    const auto& [rules, positionals] = command->second;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string name = args[i];
        if (name.rfind("--", 0) != 0 || name == "--") {
            if (name == "--" && i + 1 < args.size())
                name = args[++i];
            if (options.positional.size() >= positionals)
                throw UsageError{"unexpected argument '" + name + "' for " + options.command};
            options.positional.push_back(name);
            continue;
        }
        std::optional<std::string> value;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const OptionRule* rule = nullptr;
        for (const auto& k : rules)
            rule = k.name == name ? &k : rule;
        if (!rule)
            throw UsageError{"unknown option '" + name + "' for " + options.command};
        if (!rule->takesValue && value)
            throw UsageError{"option " + name + " takes no value"};
        if (rule->takesValue && !value) {
            if (i + 1 >= args.size())
                throw UsageError{"option " + name + " needs a value"};
            value = args[++i];
        }
        if (options.values.count(name))
            throw UsageError{"option " + name + " given twice"};
        options.values[name] = value.value_or("");
    }
    if (options.positional.size() < positionals)
        throw UsageError{options.command + " needs an archive to read"};
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

// What the conversion wrote and what it left out, with the first malformed records.
std::string countsSummary(const gnis::GpxStats& stats) {
    std::string summary = stats.countsText();
    if (!stats.firstMalformed.empty()) {
        summary += " (";
        for (std::size_t i = 0; i < stats.firstMalformed.size(); ++i) {
            const auto& m = stats.firstMalformed[i];
            summary += (i ? "; line " : "line ") + std::to_string(m.line) + ": " + m.reason;
        }
        summary += stats.malformed > static_cast<std::int64_t>(stats.firstMalformed.size()) ? "; ...)" : ")";
    }
    return summary;
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
    settings.host = pick("--host", stored.host);
    settings.database = pick("--database", stored.database);
    settings.user = pick("--user", stored.user);
    settings.password = qEnvironmentVariableIsSet("PGPASSWORD") ? qEnvironmentVariable("PGPASSWORD").toStdString()
                                                                : stored.pass;
    settings.gnisServer = pick("--server", stored.gnisServer);
    const std::string source = pick("--source", stored.gnisSource);
    if (!source.empty() && !gnis::ParseGnisSource(source, settings.source))
        throw UsageError{"unknown source '" + source + "'" + (given(options, "--source") ? "" : " in settings.ini") +
                         "; give current, 2021 or 2009"};
    if (process)
        return settings;

    const std::string state = value(options, "--state");
    const std::string input = value(options, "--input");
    if (state.empty() && input.empty())
        throw UsageError{command + " needs --state STATE (or --input FILE)"};
    if (!state.empty()) {
        std::string unknown;
        if (!gnis::FindStates(state, settings.states, unknown))
            throw UsageError{"unknown state '" + unknown + "'; give a code such as MA or a name such as Massachusetts"};
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
    TerminalReporter reporter(given(options, "--timing"));
    const std::string& command = options.command;
    const gnis::Job job = command == "gpx"       ? gnis::Job::Gpx
                          : command == "shp"     ? gnis::Job::Shp
                          : command == "process" ? gnis::Job::Process
                                                 : gnis::Job::All;
    const gnis::JobOutcome outcome = gnis::RunJob(job, settings, reporter);
    if (!outcome.ok) {
        std::cerr << "gnis-convert: " << outcome.text << '\n';
        return 1;
    }
    const gnis::GpxStats& stats = outcome.stats;
    std::string summary;
    if (job == gnis::Job::Gpx)
        summary = (settings.outputFolder / gnis::kGpxFileName).string() + ": " + countsSummary(stats) + ".";
    else if (job == gnis::Job::Process)
        summary = (settings.outputFolder / "gnis.shp").string() + ": processed.";
    else // the GPX was an intermediate; the shapefile is what stays
        summary = (settings.outputFolder / "gnis.shp").string() + ": made from " + countsSummary(stats) + ".";
    std::cout << summary << " " << outcome.text << (stats.warning.empty() ? "" : " Warning: " + stats.warning)
              << std::endl;
    return 0;
}

// Status lines and errors on standard error; progress in steps of ten percent.
class TerminalZipListener : public gnis::ZipListener {
public:
    void onProgress(int percent, bool& cancel) override {
        (void)cancel;
        if (percent / 10 != lastShown_ / 10 || (percent == 100 && lastShown_ != 100)) {
            std::cerr << percent << "%\n";
            lastShown_ = percent;
        }
    }
    void onStatus(const std::string& text) override { std::cerr << text << '\n'; }
    void onError(int number, const std::string& description) override {
        std::cerr << "gnis-convert: error " << number << ": " << description << '\n';
        ++errors;
    }
    int errors = 0;

private:
    int lastShown_ = 0;
};

int runExtract(const Options& options) {
    const std::string archive = options.positional.at(0);
    const std::string output = value(options, "--output");
    if (output.empty())
        throw UsageError{"extract needs --output DIR"};
    TerminalZipListener listener;
    gnis::ZipExtractionClass zip(listener);
    bool ok = zip.OpenZip(archive);
    ok = ok && zip.Extract(output, !given(options, "--flat"), !given(options, "--keep-existing"));
    zip.CloseZip();
    if (!ok || listener.errors > 0) {
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
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (a == "--version" || a == "-V") {
            std::cout << "gnis-convert " << kVersion << '\n';
            return 0;
        }
    }
    try {
        const Options options = parse(args);
        if (options.command == "extract")
            return runExtract(options); // the zip reader needs no Qt
        QCoreApplication app(argc, argv); // downloads and tools are waited for in a local event loop
        gnis::SetApplicationIdentity();
        return runPipeline(options);
    } catch (const UsageError& e) {
        std::cerr << "gnis-convert: " << e.message << "\nTry 'gnis-convert --help' for more information.\n";
        return 2;
    }
}
