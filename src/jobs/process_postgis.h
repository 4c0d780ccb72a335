#pragma once

#include "jobs/job_settings.h"
#include "base/outcome.h"
#include "jobs/status_reporter.h"

namespace gnis {

// Sends gnis.shp of the output folder through PostGIS: shp2pgsql writes the
// load script gnis.sql (in a scratch folder of the run's own), psql loads it as the table gnis (replacing it), psql
// runs the processing script, and pgsql2shp exports the table back over
// gnis.shp (replaced only once the export succeeded). Every tool's end is
// checked; the first that failed is named with its last error line.
[[nodiscard]] Outcome ProcessGnisPostGIS(const JobSettings& settings, StatusReporter& reporter);

} // namespace gnis
