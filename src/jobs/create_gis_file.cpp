#include "jobs/create_gis_file.h"

#include "base/file_system.h"
#include "formats/csv_format.h"
#include "jobs/job_context.h"
#include "jobs/output_files.h"
#include "platform/run_and_wait.h"

namespace gnis {
namespace fs = std::filesystem;

Outcome ConvertToGisFile(JobContext& job, GisFormat format) {
    const bool gpkg = format == GisFormat::GeoPackage;
    const char* const name = gpkg ? kGpkgFileName : kGeoJsonFileName;
    job.reporter.setStatusText(gpkg ? "Converting To GeoPackage" : "Converting To GeoJSON");
    const JobSettings& settings = job.settings;
    const fs::path csv = job.waypoints;
    const fs::path scratch = csv.parent_path();
    if (csv.empty() || !FileExists(csv))
        return Outcome::failure("No csv file exists");
    // The columns' types, beside the table where GDAL looks for them.
    fs::path types = csv;
    types.replace_extension(".csvt");
    TextFileWriter typesFile;
    if (Outcome opened = typesFile.open(types, TextFileWriter::Durability::Replaced); !opened)
        return opened;
    typesFile.write(CsvWriter::ColumnTypes());
    if (Outcome written = typesFile.commit(); !written)
        return written;
    const fs::path ogr2ogr = FindTool(settings.fwToolsFolder.string(), "ogr2ogr");
    if (ogr2ogr.empty())
        return Outcome::failure(ToolNotFound(settings.fwToolsFolder.string(), "ogr2ogr"));
    const fs::path made = scratch / name;
    std::vector<std::string> args{"-f", gpkg ? "GPKG" : "GeoJSON", made.string(), csv.string(),
                                  "-oo", "X_POSSIBLE_NAMES=lon", "-oo", "Y_POSSIBLE_NAMES=lat",
                                  "-oo", "KEEP_GEOM_COLUMNS=NO", "-oo", "EMPTY_STRING_AS_NULL=YES", "-a_srs", "EPSG:4326", "-nlt", "POINT",
                                  "-nln", kTableName};
    if (gpkg) // one transaction: far faster than GDAL's default of one per 100,000 features
        args.insert(args.end(), {"-gt", "unlimited"});
    else
        args.insert(args.end(), {"-lco", "RFC7946=YES", "-lco", "COORDINATE_PRECISION=9"}); // as every other format
    RunOptions options;
    options.cancelled = [&job] { return job.reporter.cancelRequested(); };
    job.reporter.toolRunning("ogr2ogr");
    const RunResult run = RunAndWait(ogr2ogr, args, options);
    if (!run.succeeded() || !FileExists(made))
        return Outcome::failure(ToolFailure("ogr2ogr", ogr2ogr, run));
    const fs::path target = settings.outputFolder / name;
    std::error_code ec;
    fs::rename(made, target, ec); // over a link, never through it
    if (ec)
        return Outcome::failure("Can't replace " + target.string() + ": " + ec.message());
    job.reporter.milestone(gpkg ? "GNIS: GeoPackage created" : "GNIS: GeoJSON file created");
    job.made = {target};
    job.madeFrom = "made from ";
    return Outcome::success();
}

} // namespace gnis
