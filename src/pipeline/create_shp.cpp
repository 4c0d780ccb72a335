#include "create_shp.h"

#include "create_gpx.h"
#include "file_system.h"
#include "run_and_wait.h"
#include "shapefile_set.h"
#include "states.h"

#include <algorithm>

namespace gnis {
namespace fs = std::filesystem;

namespace {

// Leftovers: the legacy _DECI.txt of the states, and gnis.gpx when this run
// made it. The converter writes into a scratch folder, so any other layer set
// in the output folder is the user's own and stays.
std::string cleanUp(const JobSettings& settings, bool gpxIsOurs) {
    const fs::path& out = settings.outputFolder;
    std::vector<fs::path> doomed;
    for (const int state : settings.states) {
        if (state >= 0 && state < static_cast<int>(kStateCount))
            doomed.push_back(out / (std::string(stateCodes[static_cast<std::size_t>(state)]) + "_DECI.txt"));
    }
    if (gpxIsOurs)
        doomed.push_back(out / kGpxFileName);
    std::string failure;
    for (const fs::path& file : doomed) {
        if (!FileExists(file))
            continue;
        if (Outcome removed = DeleteFile(file, false); !removed && failure.empty())
            failure = removed.error();
    }
    return failure;
}

// The converter's query: only the fields that carry data, each no wider than
// its widest value (dBase allows 254 bytes), and the elevation as whole feet.
std::string leanSelect(const GpxStats::Widths* widths) {
    auto width = [widths](std::size_t GpxStats::Widths::*field) {
        const std::size_t w = widths ? widths->*field : 254;
        return std::to_string(std::clamp<std::size_t>(w, 1, 254));
    };
    return "SELECT CAST(name AS character(" + width(&GpxStats::Widths::name) + ")) AS name, CAST(\"desc\" AS character(" +
           width(&GpxStats::Widths::desc) + ")) AS \"desc\", CAST(src AS character(" + width(&GpxStats::Widths::src) +
           ")) AS src, CAST(type AS character(6)) AS type, CAST(ele AS integer(" +
           std::to_string(std::clamp<std::size_t>(widths ? widths->ele : 11, 1, 11)) + ")) AS ele FROM waypoints";
}

} // namespace

namespace {

// gnis.gpx to gnis.shp; gnis.gpx is removed only when this run made it and the
// shapefile is made: after a failure it is all the user has of the run.
Outcome convertToShp(const JobSettings& settings, StatusReporter& reporter, const GpxStats::Widths* widths,
                     bool gpxIsOurs) {
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
            // The waypoints as points, with UTF-8 attributes (and a .cpg saying so).
            // Without the optional end-of-file byte of the .dbf: keeping it at the end
            // costs shapelib a seek, a read and another seek per record, more than half
            // the converter's time at national size.
            const fs::path ogr2ogr = FindTool(settings.fwToolsFolder.string(), "ogr2ogr");
            RunOptions options;
            options.cancelled = [&reporter] { return reporter.cancelRequested(); };
            const RunResult run =
                ogr2ogr.empty() ? RunResult{}
                                : RunAndWait(ogr2ogr, {"-f", "ESRI Shapefile", (scratch.path() / "gnis.shp").string(),
                                                       gpx.string(), "-nlt", "POINT", "-lco", "ENCODING=UTF-8", "-lco",
                                                       "DBF_EOF_CHAR=NO", "-dialect",
                                                       "OGRSQL", "-sql", leanSelect(widths), "-nln", "gnis"},
                                             options);
            if (ogr2ogr.empty())
                error = ToolNotFound(settings.fwToolsFolder.string(), "ogr2ogr");
            else if (!run.succeeded() || !FileExists(scratch.path() / "gnis.shp"))
                error = ToolFailure("ogr2ogr", ogr2ogr, run);
            else if (Outcome replaced = ReplaceShapefile(scratch.path(), settings.outputFolder, "gnis"); !replaced)
                error = replaced.error();
        }
    }
    if (error.empty())
        reporter.setStatusBarText("GNIS: Shp file created");
    const std::string cleanupError = cleanUp(settings, gpxIsOurs && error.empty());
    if (!error.empty())
        return Outcome::failure(error);
    if (!cleanupError.empty())
        return Outcome::failure("gnis.shp was written, but " + cleanupError);
    return Outcome::success();
}

} // namespace

Outcome ConvertGnisGpxToShp(const JobSettings& settings, StatusReporter& reporter, const GpxStats::Widths* widths) {
    return convertToShp(settings, reporter, widths, false);
}

Outcome CreateGnisShp(const JobSettings& settings, StatusReporter& reporter, GpxStats& stats) {
    if (Outcome gpx = CreateGnisGpx(settings, reporter, stats); !gpx) {
        (void)cleanUp(settings, false); // a gnis.gpx lying there now is an earlier run's: not ours to remove
        return gpx;
    }
    return convertToShp(settings, reporter, &stats.widths, true);
}

} // namespace gnis
