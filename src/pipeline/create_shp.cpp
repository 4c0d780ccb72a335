#include "create_shp.h"

#include "create_gpx.h"
#include "file_system.h"
#include "run_and_wait.h"
#include "shapefile_set.h"
#include "states.h"

namespace gnis {
namespace fs = std::filesystem;

namespace {

// Leftovers of the run and of earlier tools: the state's _DECI.txt, gnis.gpx, and the
// extra layers a multi-layer conversion writes beside the points.
std::string cleanUp(const JobSettings& settings) {
    const fs::path& out = settings.outputFolder;
    std::vector<fs::path> doomed;
    for (const int state : settings.states) {
        if (state >= 0 && state < static_cast<int>(kStateCount))
            doomed.push_back(out / (std::string(stateCodes[static_cast<std::size_t>(state)]) + "_DECI.txt"));
    }
    doomed.push_back(out / kGpxFileName);
    for (const char* set : {"route_points", "track_points", "routes", "tracks"}) {
        if (FileExists(out / (std::string(set) + ".shp"))) {
            for (const char* ext : {".shp", ".dbf", ".prj", ".shx"})
                doomed.push_back(out / (std::string(set) + ext));
        }
    }
    std::string failure;
    for (const fs::path& file : doomed) {
        if (!FileExists(file))
            continue;
        if (Outcome removed = DeleteFile(file, false); !removed && failure.empty())
            failure = removed.error();
    }
    return failure;
}

} // namespace

Outcome ConvertGnisGpxToShp(const JobSettings& settings, StatusReporter& reporter) {
    reporter.setStatusText("Converting To Shapefile");
    const fs::path gpx = settings.outputFolder / kGpxFileName;
    std::string error;
    if (!FileExists(gpx)) {
        error = "No gpx file exists";
    } else {
        ScratchFolder scratch(settings.outputFolder);
        if (!scratch.ok()) {
            error = "Can't write in " + settings.outputFolder.string();
        } else {
            // Only the waypoints layer, as points, with UTF-8 attributes (and a .cpg saying so).
            const fs::path ogr2ogr = ToolPath(settings.fwToolsFolder.string(), "ogr2ogr");
            const RunResult run = RunAndWait(ogr2ogr, {"-f", "ESRI Shapefile", (scratch.path() / "gnis.shp").string(),
                                                       gpx.string(), "waypoints", "-nlt", "POINT", "-lco",
                                                       "ENCODING=UTF-8"});
            if (!run.started)
                error = "ogr2ogr failed: " + run.startError + " (" + ogr2ogr.string() + ")";
            else if (!run.succeeded() || !FileExists(scratch.path() / "gnis.shp"))
                error = "ogr2ogr failed: " + run.lastErrorLine();
            else if (Outcome replaced = ReplaceShapefile(scratch.path(), settings.outputFolder, "gnis"); !replaced)
                error = replaced.error();
        }
    }
    if (error.empty())
        reporter.setStatusBarText("GNIS: Shp file created");
    const std::string cleanupError = cleanUp(settings);
    if (!error.empty())
        return Outcome::failure(error);
    if (!cleanupError.empty())
        return Outcome::failure("gnis.shp was written, but " + cleanupError);
    return Outcome::success();
}

Outcome CreateGnisShp(const JobSettings& settings, StatusReporter& reporter, GpxStats& stats) {
    if (Outcome gpx = CreateGnisGpx(settings, reporter, stats); !gpx) {
        cleanUp(settings);
        return gpx;
    }
    return ConvertGnisGpxToShp(settings, reporter);
}

} // namespace gnis
