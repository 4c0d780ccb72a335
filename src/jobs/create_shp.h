#pragma once

#include "gazetteer/gnis_records.h"
#include "base/outcome.h"
#include "jobs/job_settings.h"
#include "jobs/status_reporter.h"

namespace gnis {

class JobContext;

// The step after the conversion: its GPX (job.waypoints, in the scratch folder)
// into the point shapefile gnis.shp with ogr2ogr; the old shapefile is replaced
// only by a complete new one, and a gnis.gpx in the folder is never touched.
// When the shapefile fails, the waypoints stay as gnis.gpx if that name is free.
[[nodiscard]] Outcome ConvertToShapefile(JobContext& job);

// The same for a later step to load: the shapefile stays in the scratch folder
// (job.shapefile) until that step has made the final one.
[[nodiscard]] Outcome ConvertToShapefileForLoad(JobContext& job);

// The same for gnis.gpx of the output folder (not this run's, so it stays).
// The shapefile holds the fields that carry data (name, desc, src, type, ele),
// each as wide as widths says its values are; without widths, as wide as a
// dBase column may be.
[[nodiscard]] Outcome ConvertGnisGpxToShp(const JobSettings& settings, StatusReporter& reporter,
                                          const GpxStats::Widths* widths = nullptr);

} // namespace gnis
