#pragma once

#include "gazetteer/gnis_records.h"
#include "jobs/job_settings.h"
#include "jobs/status_reporter.h"

#include <string>

namespace gnis {

// The jobs of the main window's buttons, and of gnis-convert's commands.
enum class Job {
    Gpx,     // "GNIS --> GPX"
    Shp,     // "GNIS --> SHP"
    Process, // "Process SHP"
    All,     // "All At Once": Shp, then Process
    Mp,      // gnis.mp, a Polish-format map
    Garmin,  // gnis.mp, then gmapsupp.img through mkgmap ("Make Garmin map…")
};

struct JobOutcome {
    bool ok = false;
    // The outcome in the status bar's words: the job's success text, or what
    // stopped it ("GNIS ERROR: ..."). Front ends may add the counts.
    std::string text;
    GpxStats stats; // what the conversion wrote and left out (Gpx, Shp, All)
};

// Runs a job's stages in order over the settings, stopping at the first that
// failed; status texts go to the reporter as they happen. The one place where
// a job's sequence and its outcome texts are spelled out.
[[nodiscard]] JobOutcome RunJob(Job job, const JobSettings& settings, StatusReporter& reporter);

} // namespace gnis
