#include "jobs/create_shp.h"

#include "jobs/create_gpx.h"
#include "jobs/job_context.h"
#include "jobs/output_files.h"
#include "base/file_system.h"
#include "platform/run_and_wait.h"
#include "jobs/shapefile_set.h"

#include <algorithm>

namespace gnis {
namespace fs = std::filesystem;

namespace {

// The converter's query: only the fields that carry data, each no wider than
// its widest value (dBase allows kDbfFieldBytes), and the elevation as whole feet.
std::string leanSelect(const GpxStats::Widths* widths) {
    auto width = [widths](std::size_t GpxStats::Widths::*field) {
        const std::size_t w = widths ? widths->*field : kDbfFieldBytes;
        return std::to_string(std::clamp<std::size_t>(w, 1, kDbfFieldBytes));
    };
    return "SELECT CAST(name AS character(" + width(&GpxStats::Widths::name) + ")) AS name, CAST(\"desc\" AS character(" +
           width(&GpxStats::Widths::desc) + ")) AS \"desc\", CAST(src AS character(" + width(&GpxStats::Widths::src) +
           ")) AS src, CAST(type AS character(6)) AS type, CAST(ele AS integer(" +
           std::to_string(std::clamp<std::size_t>(widths ? widths->ele : 11, 1, 11)) + ")) AS ele FROM waypoints";
}

} // namespace

namespace {

// A GPX into gnis.shp of the output folder, through ogr2ogr writing into the
// scratch folder: any other layer set in the output folder is the user's own
// and stays, and the old gnis.shp stays until the new one is whole.
Outcome convertToShp(const JobSettings& settings, StatusReporter& reporter, const fs::path& gpx,
                     const GpxStats::Widths* widths, const fs::path& scratch, const fs::path& into) {
    reporter.setStatusText("Converting To Shapefile");
    if (!FileExists(gpx))
        return Outcome::failure("No gpx file exists");
    if (scratch.empty())
        return Outcome::failure("Can't write in " + settings.outputFolder.string());
    // The waypoints as points, with UTF-8 attributes (and a .cpg saying so).
    // Without the optional end-of-file byte of the .dbf: keeping it at the end
    // costs shapelib a seek, a read and another seek per record, more than half
    // the converter's time at national size.
    const fs::path ogr2ogr = FindTool(settings.fwToolsFolder.string(), "ogr2ogr");
    if (ogr2ogr.empty())
        return Outcome::failure(ToolNotFound(settings.fwToolsFolder.string(), "ogr2ogr"));
    RunOptions options;
    options.cancelled = [&reporter] { return reporter.cancelRequested(); };
    reporter.toolRunning("ogr2ogr");
    const RunResult run = RunAndWait(ogr2ogr,
                                     {"-f", "ESRI Shapefile", (scratch / kShpFileName).string(), gpx.string(),
                                      "-nlt", "POINT", "-lco", "ENCODING=UTF-8", "-lco", "DBF_EOF_CHAR=NO", "-dialect",
                                      "OGRSQL", "-sql", leanSelect(widths), "-nln", kShapefileName},
                                     options);
    if (!run.succeeded() || !FileExists(scratch / kShpFileName))
        return Outcome::failure(ToolFailure("ogr2ogr", ogr2ogr, run));
    if (Outcome replaced = ReplaceShapefile(scratch, into, kShapefileName); !replaced)
        return replaced;
    reporter.milestone("GNIS: Shp file created");
    return Outcome::success();
}

} // namespace

Outcome ConvertGnisGpxToShp(const JobSettings& settings, StatusReporter& reporter, const GpxStats::Widths* widths) {
    ScratchFolder scratch(settings.outputFolder);
    return convertToShp(settings, reporter, settings.outputFolder / kGpxFileName, widths, scratch.path(),
                        settings.outputFolder);
}

Outcome ConvertToShapefile(JobContext& job) {
    Outcome shp = convertToShp(job.settings, job.reporter, job.waypoints, &job.stats.widths, job.scratch(),
                               job.settings.outputFolder);
    // Without a shapefile the waypoints are all the user has of the run: they
    // stay as gnis.gpx where that name is free (never on a cancel).
    if (!shp && !job.reporter.cancelRequested() && job.waypoints.parent_path() != job.settings.outputFolder &&
        MoveWithoutReplacing(job.waypoints, job.settings.outputFolder / kGpxFileName))
        return Outcome::failure(shp.error() + "; the waypoints are in " + kGpxFileName);
    if (shp) {
        job.made = {job.settings.outputFolder / kShpFileName};
        job.madeFrom = "made from ";
    }
    return shp;
}

Outcome ConvertToShapefileForLoad(JobContext& job) {
    // Kept in the scratch folder: the folder's gnis.shp is replaced only by
    // the processed export, so a cancel anywhere leaves it as it was.
    const fs::path scratch = job.scratch();
    const fs::path raw = scratch.empty() ? fs::path() : scratch / "raw";
    std::error_code ec;
    if (!raw.empty())
        fs::create_directory(raw, ec);
    Outcome shp = convertToShp(job.settings, job.reporter, job.waypoints, &job.stats.widths, scratch, raw);
    if (shp) {
        job.shapefile = raw / kShpFileName;
        job.made = {job.settings.outputFolder / kShpFileName};
        job.madeFrom = "made from ";
    }
    return shp;
}

} // namespace gnis
