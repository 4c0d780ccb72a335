// gnis-convert: the headless front end. It runs the same stages as the windows
// and reports on the terminal: status texts on standard error as they happen,
// one summary line at the end. Exit status 0 success, 1 failed job, 2 usage error.

#include "create_gpx.h"
#include "states.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* kVersion = "0.1.0";

constexpr const char* kUsage =
    "Usage: gnis-convert COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  gpx     Convert a state's GNIS gazetteer text into DIR/gnis.gpx\n"
    "\n"
    "Options of gpx:\n"
    "  --state STATE   state or territory, by code (MA) or name (Massachusetts), any case\n"
    "  --output DIR    output folder; it must exist\n"
    "  --input FILE    convert this gazetteer text instead of the state's text file in DIR;\n"
    "                  FILE is only read, never changed or deleted\n"
    "\n"
    "Without --input, DIR/<CODE>_Features_20090401.txt is converted and then deleted.\n"
    "\n"
    "  -h, --help      show this help and exit\n"
    "  -V, --version   show the version and exit\n";

struct UsageError {
    std::string message;
};

// Status texts go to standard error as they happen; the last status-bar text
// is kept for the summary.
class TerminalReporter : public gnis::StatusReporter {
public:
    void setStatusText(const std::string& text) override { std::cerr << text << '\n'; }
    void setStatusBarText(const std::string& text) override { statusBar = text; }
    std::string statusBar;
};

struct Options {
    std::string command;
    std::map<std::string, std::string> values;
};

Options parse(const std::vector<std::string>& args) {
    static const std::map<std::string, std::vector<std::string>> known{
        {"gpx", {"--state", "--output", "--input"}},
    };
    Options options;
    if (args.empty())
        throw UsageError{"no command given"};
    options.command = args[0];
    const auto command = known.find(options.command);
    if (command == known.end())
        throw UsageError{"unknown command '" + options.command + "'"};
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        bool isKnown = false;
        for (const auto& k : command->second)
            isKnown = isKnown || k == name;
        if (!isKnown)
            throw UsageError{"unknown option '" + name + "' for " + options.command};
        if (!value) {
            if (i + 1 >= args.size())
                throw UsageError{"option " + name + " needs a value"};
            value = args[++i];
        }
        if (options.values.count(name))
            throw UsageError{"option " + name + " given twice"};
        options.values[name] = *value;
    }
    return options;
}

std::string value(const Options& o, const std::string& name) {
    const auto it = o.values.find(name);
    return it == o.values.end() ? std::string() : it->second;
}

int runGpx(const Options& options) {
    gnis::JobSettings settings;
    const std::string state = value(options, "--state");
    const std::string input = value(options, "--input");
    const std::string output = value(options, "--output");
    if (output.empty())
        throw UsageError{"gpx needs --output DIR"};
    if (state.empty() && input.empty())
        throw UsageError{"gpx needs --state STATE (or --input FILE)"};
    if (!state.empty()) {
        settings.stateIndex = gnis::FindState(state);
        if (settings.stateIndex < 0)
            throw UsageError{"unknown state '" + state + "'; give a code such as MA or a name such as Massachusetts"};
    }
    std::error_code ec;
    if (!fs::is_directory(output, ec)) {
        std::cerr << "gnis-convert: GNIS ERROR: The output folder " << output << " does not exist\n";
        return 1;
    }
    settings.outputFolder = fs::absolute(output, ec);
    if (!input.empty())
        settings.inputText = fs::absolute(input, ec);

    TerminalReporter reporter;
    gnis::GpxStats stats;
    const bool ok = gnis::CreateGnisGpx(settings, reporter, &stats);
    if (!ok) {
        std::cerr << "gnis-convert: " << reporter.statusBar << '\n';
        return 1;
    }
    reporter.setStatusBarText("GNIS GPX file created.");

    std::string summary = (settings.outputFolder / gnis::kGpxFileName).string() + ": " +
                          std::to_string(stats.waypoints) + " waypoints written from " +
                          std::to_string(stats.records) + " records, " + std::to_string(stats.malformed) +
                          " skipped as malformed";
    if (!stats.firstMalformed.empty()) {
        summary += " (";
        for (std::size_t i = 0; i < stats.firstMalformed.size(); ++i) {
            const auto& m = stats.firstMalformed[i];
            summary += (i ? "; line " : "line ") + std::to_string(m.line) + ": " + m.reason;
        }
        summary += stats.malformed > static_cast<std::int64_t>(stats.firstMalformed.size()) ? "; ...)" : ")";
    }
    std::cout << summary << ". " << reporter.statusBar << std::endl;
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
        return runGpx(options);
    } catch (const UsageError& e) {
        std::cerr << "gnis-convert: " << e.message << "\nTry 'gnis-convert --help' for more information.\n";
        return 2;
    }
}
