#include "create_garmin.h"

#include "create_gpx.h"
#include "file_system.h"
#include "run_and_wait.h"
#include "shapefile_set.h"

namespace gnis {
namespace fs = std::filesystem;

namespace {

// mkgmap's verdict on a map it could not make: its first SEVERE line.
std::string mkgmapFailure(const fs::path& mkgmap, const RunResult& run) {
    for (const std::string* text : {&run.errors, &run.output}) {
        if (const auto at = text->find("SEVERE"); at != std::string::npos)
            return "mkgmap failed: " + text->substr(at, text->find('\n', at) - at);
    }
    return ToolFailure("mkgmap", mkgmap, run);
}

} // namespace

Outcome CompileGarminMap(const JobSettings& settings, StatusReporter& reporter) {
    reporter.setStatusText("Compiling Garmin Map");
    const fs::path mp = settings.outputFolder / kMpFileName;
    if (!FileExists(mp))
        return Outcome::failure("No mp file exists");
    const std::string folder = settings.mkgmapFolder.string();
    const fs::path mkgmap = FindTool(folder, "mkgmap");
    if (mkgmap.empty())
        return Outcome::failure(ToolNotFound(folder, "mkgmap"));
    // mkgmap writes several files; only gmapsupp.img is kept, and it replaces
    // the old one by a rename once complete.
    ScratchFolder scratch(settings.outputFolder);
    if (!scratch.ok())
        return Outcome::failure("Can't write in " + settings.outputFolder.string());
    const std::string name = GarminMapName(settings);
    const std::uint32_t id = GarminMapId(settings);
    RunOptions options;
    options.cancelled = [&reporter] { return reporter.cancelRequested(); };
    const RunResult run = RunAndWait(mkgmap,
                                     {"--output-dir=" + scratch.path().string(), "--gmapsupp",
                                      // Labels as UTF-8, in mixed case: names keep their letters.
                                      "--unicode", "--lower-case",
                                      // A family of its own per state set: several regions load side by side.
                                      "--family-id=" + std::to_string(1000 + id % 60000), "--family-name=" + name,
                                      "--series-name=" + name, "--description=" + name, mp.string()},
                                     options);
    if (!run.started)
        return Outcome::failure(ToolFailure("mkgmap", mkgmap, run));
    const std::string said = run.output + run.errors;
    const fs::path made = scratch.path() / kGarminFileName;
    if (!run.succeeded() || said.find("Number of MapFailedExceptions: 0") == std::string::npos ||
        said.find("Number of ExitExceptions: 0") == std::string::npos || !FileExists(made))
        return Outcome::failure(mkgmapFailure(mkgmap, run));
    std::error_code ec;
    fs::rename(made, settings.outputFolder / kGarminFileName, ec);
    if (ec)
        return Outcome::failure("Can't write " + (settings.outputFolder / kGarminFileName).string() + ": " + ec.message());
    return Outcome::success();
}

Outcome CreateGnisGarmin(const JobSettings& settings, StatusReporter& reporter, GpxStats& stats) {
    if (Outcome mp = CreateGnisMp(settings, reporter, stats); !mp)
        return mp;
    return CompileGarminMap(settings, reporter);
}

} // namespace gnis
