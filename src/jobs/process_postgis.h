#pragma once

#include "base/outcome.h"

namespace gnis {

class JobContext;

// Sends gnis.shp of the output folder through PostGIS: shp2pgsql streams it
// into psql as the table gnis (replacing it only when the whole load
// succeeded), psql runs the processing script, and pgsql2shp exports the table
// back over gnis.shp (replaced only once the export succeeded). A session of
// the run's own holds the table from the load to the export. Every tool's end
// is checked; the first that failed is named with its last error line.
[[nodiscard]] Outcome ProcessGnisPostGIS(JobContext& job);

} // namespace gnis
