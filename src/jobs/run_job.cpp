#include "jobs/run_job.h"

#include "base/file_system.h"
#include "jobs/create_garmin.h"
#include "jobs/create_gis_file.h"
#include "jobs/create_gpx.h"
#include "jobs/create_shp.h"
#include "jobs/job_context.h"
#include "jobs/process_postgis.h"
#include "jobs/shapefile_set.h"
#include "jobs/what_changed.h"
#include "platform/run_and_wait.h"

#include <new>

namespace gnis {

JobContext::JobContext(const JobSettings& s, StatusReporter& r) : settings(s), reporter(r) {}

JobContext::~JobContext() = default;

std::filesystem::path JobContext::scratch() {
    if (!scratch_)
        scratch_ = std::make_unique<ScratchFolder>(settings.outputFolder);
    return scratch_->path();
}

namespace {

using Step = Outcome (*)(JobContext&);

Outcome gpxInPlace(JobContext& job) { return ConvertWaypoints(job, WaypointFormat::Gpx, Destination::OutputFolder); }
Outcome mpInPlace(JobContext& job) { return ConvertWaypoints(job, WaypointFormat::PolishMap, Destination::OutputFolder); }
Outcome gpxForShapefile(JobContext& job) { return ConvertWaypoints(job, WaypointFormat::Gpx, Destination::Scratch); }
Outcome mpForMap(JobContext& job) { return ConvertWaypoints(job, WaypointFormat::PolishMap, Destination::Scratch); }
Outcome csvForGdal(JobContext& job) { return ConvertWaypoints(job, WaypointFormat::Csv, Destination::Scratch); }
Outcome geoPackage(JobContext& job) { return ConvertToGisFile(job, GisFormat::GeoPackage); }
Outcome geoJson(JobContext& job) { return ConvertToGisFile(job, GisFormat::GeoJson); }

struct JobSteps {
    std::vector<Step> steps;
    const char* success;
    const char* first = nullptr; // the status text the job opens with, before its first step's own
};

// The outside tools a job runs, and the folder each is looked for in first.
std::vector<std::pair<std::string, std::filesystem::path>> toolsOf(Job job, const JobSettings& s) {
    std::vector<std::pair<std::string, std::filesystem::path>> tools;
    if (job == Job::Shp || job == Job::All || job == Job::Gpkg || job == Job::GeoJson)
        tools.emplace_back("ogr2ogr", s.fwToolsFolder);
    if (job == Job::Process || job == Job::All)
        for (const char* tool : {"shp2pgsql", "psql", "pgsql2shp"})
            tools.emplace_back(tool, s.postgisFolder);
    if (job == Job::Garmin)
        tools.emplace_back("mkgmap", s.mkgmapFolder);
    return tools;
}

JobSteps stepsOf(Job job) {
    switch (job) {
    case Job::Gpx:
        return {{gpxInPlace}, "GNIS GPX file created."};
    case Job::Mp:
        return {{mpInPlace}, "GNIS MP file created."};
    case Job::Shp:
        return {{gpxForShapefile, ConvertToShapefile}, "GNIS SHP file created.", "Creating GNIS GPX File"};
    case Job::Process:
        return {{ProcessGnisPostGIS}, "GNIS SHP file processed.", "Processing GNIS SHP File"};
    case Job::All:
        return {{gpxForShapefile, ConvertToShapefileForLoad, ProcessGnisPostGIS}, "GNIS Data Processed"};
    case Job::Garmin:
        return {{CheckGarminTarget, mpForMap, CompileGarminMap}, "GNIS Garmin map created."};
    case Job::Gpkg:
        return {{csvForGdal, geoPackage}, "GNIS GeoPackage created."};
    case Job::GeoJson:
        return {{csvForGdal, geoJson}, "GNIS GeoJSON file created."};
    }
    return {{}, ""};
}

// "DIR/gnis.gpx: 8361 waypoints written from …." or "DIR/gnis.shp: processed."
std::string summaryOf(const JobContext& job) {
    if (job.made.empty())
        return {};
    return job.made.front().string() + ": " + job.madeFrom + (job.converted ? job.stats.summaryText() : "") + ".";
}

} // namespace

JobOutcome RunJob(Job job, const JobSettings& settings, StatusReporter& reporter) {
    JobOutcome outcome;
    std::string notUndone; // after a cancel, what could not be put back
    auto fail = [&](const Outcome& why) {
        // A step stopped on request failed as the user wished: no error to report,
        // but what it left, which is nothing unless something could not be undone.
        if (reporter.cancelRequested())
            outcome.text = "GNIS Cancelled. " + (notUndone.empty() ? "Nothing in " + settings.outputFolder.string() +
                                                                         " was changed."
                                                                   : notUndone);
        else
            outcome.text = "GNIS ERROR: " + why.error();
        return outcome;
    };
    if (settings.outputFolder.empty()) {
        outcome.text = "GNIS Error: No output file set.";
        return outcome;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(settings.outputFolder, ec))
        return fail(Outcome::failure("The output folder " + settings.outputFolder.string() + " does not exist"));
    // One run per folder; with the lock held, what a run killed outright left
    // behind is no running run's, and goes.
    FolderLock lock;
    if (Outcome locked = lock.acquire(settings.outputFolder); !locked)
        return fail(locked);
    if (lock.held())
        RemoveLeftovers(settings.outputFolder);

    // Said before anything is downloaded: a tool the job will need and cannot find.
    for (const auto& [tool, folder] : toolsOf(job, settings)) {
        if (FindTool(folder.string(), tool).empty()) {
            outcome.toolMissing = true;
            return fail(Outcome::failure(ToolNotFound(folder.string(), tool)));
        }
    }
    const JobSteps plan = stepsOf(job);
    // Whatever a step holds unwinds on the way out (temporary files, scratch
    // folders, tools), so nothing of the run is left behind.
    try {
        if (plan.first)
            reporter.setStatusText(plan.first);
        JobContext context(settings, reporter);
        for (const Step step : plan.steps) {
            const Outcome done = step(context);
            outcome.stats = context.stats;
            notUndone = context.notUndone;
            if (!done)
                return fail(done);
        }
        // The job made its product: what it wrote is compared with the last run of
        // its kind, and kept for the next.
        if (context.record) {
            auto report = std::make_shared<ChangeReport>();
            CompareWithLastRun(settings, *context.record, *report);
            outcome.stats.changes = report->text();
            // The changes asked for are written before this run's record replaces
            // the last one, so a failure loses none of them: the next run finds them again.
            if (!settings.changesFile.empty()) {
                if (Outcome written = WriteChangesCsv(settings.changesFile, *report); !written)
                    return fail(Outcome::failure(context.made.empty() ? written.error()
                                                                      : context.made.front().string() +
                                                                            " was made, but the changes were not written: " +
                                                                            written.error()));
            }
            if (Outcome kept = KeepRunRecord(settings, *context.record); !kept)
                outcome.stats.warning += std::string(outcome.stats.warning.empty() ? "" : " ") +
                                         "What this run wrote was not recorded: " + kept.error() + ".";
            outcome.changes = std::move(report);
        }
        outcome.ok = true;
        outcome.text = plan.success;
        outcome.made = context.made;
        outcome.summary = summaryOf(context);
        outcome.showCounts = context.converted && context.countsApply;
        return outcome;
    } catch (const std::bad_alloc&) {
        outcome.stats = GpxStats{};
        return fail(Outcome::failure("not enough memory for this job"));
    }
}

} // namespace gnis
