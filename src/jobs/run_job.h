#pragma once

#include "gazetteer/gnis_records.h"
#include "jobs/job_settings.h"
#include "jobs/status_reporter.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace gnis {

// The jobs of the main window's buttons, and of gnis-convert's commands.
enum class Job {
    Gpx,     // "GNIS --> GPX"
    Shp,     // "GNIS --> SHP"
    Process, // "Process SHP"
    All,     // "All At Once": Shp, then Process
    Mp,      // gnis.mp, a Polish-format map
    Garmin,  // gnis.mp, then gmapsupp.img through mkgmap ("Make Garmin map…")
    Gpkg,    // gnis.gpkg through ogr2ogr ("Save as GeoPackage…")
    GeoJson, // gnis.geojson through ogr2ogr ("Save as GeoJSON…")
};

struct ChangeReport;

struct JobOutcome {
    bool ok = false;
    // The outcome in the status bar's words: the job's success text, or what
    // stopped it ("GNIS ERROR: ..."), or "GNIS Cancelled.".
    std::string text;
    GpxStats stats; // what the conversion wrote and left out, when one ran
    // What the job made, its product first (gnis.gpx, gnis.mp, gnis.shp or
    // gmapsupp.img); empty after a failure.
    std::vector<std::filesystem::path> made;
    // The product and how it came about, as a line: "DIR/gnis.shp: made from 8361
    // waypoints written from 13086 records; …." Empty after a failure.
    std::string summary;
    // Whether the counts describe the product, so a window adds them to the text.
    bool showCounts = false;
    // The job stopped because an outside tool it needs was found nowhere.
    bool toolMissing = false;
    // What changed since the last run of the same kind (its text is stats.changes);
    // null when nothing was compared (no conversion, or no download cache).
    std::shared_ptr<const ChangeReport> changes;
};

// Runs a job's steps in order over the settings, stopping at the first that
// failed; status texts go to the reporter as they happen. The one place where
// a job's steps and its outcome texts are spelled out.
[[nodiscard]] JobOutcome RunJob(Job job, const JobSettings& settings, StatusReporter& reporter);

} // namespace gnis
