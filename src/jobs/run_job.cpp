#include "jobs/run_job.h"

#include "jobs/create_garmin.h"
#include "jobs/create_gpx.h"
#include "jobs/create_shp.h"
#include "base/file_system.h"
#include "jobs/process_postgis.h"

#include <new>

namespace gnis {

namespace {

// The job's stages in order, stopping at the first that failed; the last
// stage's outcome (or the failing one's) goes through finish.
template <typename Finish>
JobOutcome runStages(Job job, const JobSettings& settings, StatusReporter& reporter, JobOutcome& outcome,
                     Finish& finish) {
    switch (job) {
    case Job::Gpx:
        return finish(CreateGnisGpx(settings, reporter, outcome.stats), "GNIS GPX file created.");
    case Job::Shp:
        reporter.setStatusText("Creating GNIS GPX File");
        return finish(CreateGnisShp(settings, reporter, outcome.stats), "GNIS SHP file created.");
    case Job::Process: {
        reporter.setStatusText("Processing GNIS SHP File");
        const Outcome processed = ProcessGnisPostGIS(settings, reporter);
        if (processed)
            reporter.setStatusBarText("GNIS Data Processed");
        return finish(processed, "GNIS SHP file processed.");
    }
    case Job::Mp:
        return finish(CreateGnisMp(settings, reporter, outcome.stats), "GNIS MP file created.");
    case Job::Garmin:
        return finish(CreateGnisGarmin(settings, reporter, outcome.stats), "GNIS Garmin map created.");
    case Job::All: {
        // An old shapefile is never processed in place of the new one.
        if (Outcome shp = CreateGnisShp(settings, reporter, outcome.stats); !shp)
            return finish(shp, "");
        reporter.setStatusBarText("GNIS GPX file created.");
        return finish(ProcessGnisPostGIS(settings, reporter), "GNIS Data Processed");
    }
    }
    return outcome;
}

} // namespace

JobOutcome RunJob(Job job, const JobSettings& settings, StatusReporter& reporter) {
    JobOutcome outcome;
    auto finish = [&](const Outcome& last, const char* success) {
        outcome.ok = last.ok();
        // A stage stopped on request failed as the user wished: no error to report.
        if (!last.ok() && reporter.cancelRequested())
            outcome.text = "GNIS Cancelled.";
        else
            outcome.text = last.ok() ? success : "GNIS ERROR: " + last.error();
        return outcome;
    };
    if (settings.outputFolder.empty()) {
        outcome.text = "GNIS Error: No output file set.";
        return outcome;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(settings.outputFolder, ec))
        return finish(Outcome::failure("The output folder " + settings.outputFolder.string() + " does not exist"), "");
    // One run per folder; with the lock held, what a run killed outright left
    // behind is no running run's, and goes.
    FolderLock lock;
    if (Outcome locked = lock.acquire(settings.outputFolder); !locked)
        return finish(locked, "");
    if (lock.held())
        RemoveLeftovers(settings.outputFolder);
    // Whatever a stage holds unwinds on the way out (temporary files, scratch
    // folders, tools), so nothing of the run is left behind.
    try {
        return runStages(job, settings, reporter, outcome, finish);
    } catch (const std::bad_alloc&) {
        outcome.stats = GpxStats{};
        return finish(Outcome::failure("not enough memory for this job; nothing was changed"), "");
    }
}

} // namespace gnis
