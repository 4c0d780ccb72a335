#pragma once

#include "gazetteer/gnis_records.h"
#include "jobs/job_settings.h"
#include "base/outcome.h"
#include "jobs/status_reporter.h"

namespace gnis {

inline constexpr const char* kGarminFileName = "gmapsupp.img";

// Makes gnis.mp (as CreateGnisMp does) and compiles it with mkgmap into
// gmapsupp.img, the map a Garmin device loads from its card: labels in
// Unicode and mixed case, the map ID and family stable for the job's states.
// The old gmapsupp.img is replaced only by a complete new one, and only when
// this program made it (a marker beside it says so) or the job allows it.
[[nodiscard]] Outcome CreateGnisGarmin(const JobSettings& settings, StatusReporter& reporter, GpxStats& stats);

// Success when gmapsupp.img may be written: free, made by this program, or
// the job says to replace it; else a message that names it.
[[nodiscard]] Outcome CheckGarminTarget(const JobSettings& settings);

} // namespace gnis
