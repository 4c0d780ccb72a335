#pragma once

#include "base/outcome.h"

namespace gnis {

class JobContext;

// Before a Garmin map is made: gmapsupp.img is free to write (not there, the
// map this program made last, as a marker beside it says, or the job says to
// replace it) and the user's own text is not gnis.mp. A failure names the file.
[[nodiscard]] Outcome CheckGarminTarget(JobContext& job);

// The step after the conversion into gnis.mp (job.waypoints, in the scratch
// folder): mkgmap compiles it into gmapsupp.img, the map a Garmin device loads
// from its card, with labels in Unicode and mixed case, and the map ID and
// family stable for the job's states. The map and gnis.mp replace the old ones
// only once the map is made.
[[nodiscard]] Outcome CompileGarminMap(JobContext& job);

} // namespace gnis
