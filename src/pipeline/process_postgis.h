#pragma once

#include "job_settings.h"
#include "status_reporter.h"

namespace gnis {

// Sends gnis.shp of the output folder through PostGIS: shp2pgsql writes the
// load script gnis.sql, psql loads it as the table gnis (replacing it), psql
// runs the processing script, and pgsql2shp exports the table back over
// gnis.shp (replaced only once the export succeeded). Every tool's end is
// checked; false, with the status-bar text naming the tool and its last error
// line, at the first that failed.
bool ProcessGnisPostGIS(const JobSettings& settings, StatusReporter& reporter);

} // namespace gnis
