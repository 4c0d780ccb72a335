#pragma once

#include "gnis_records.h"
#include "job_settings.h"
#include "outcome.h"
#include "status_reporter.h"

namespace gnis {

inline constexpr const char* kGarminFileName = "gmapsupp.img";

// Makes gnis.mp (as CreateGnisMp does) and compiles it with mkgmap into
// gmapsupp.img, the map a Garmin device loads from its card: labels in
// Unicode and mixed case, the map ID and family stable for the job's states.
// The old gmapsupp.img is replaced only by a complete new one.
[[nodiscard]] Outcome CreateGnisGarmin(const JobSettings& settings, StatusReporter& reporter, GpxStats& stats);

// The second half alone: gnis.mp of the output folder into gmapsupp.img.
[[nodiscard]] Outcome CompileGarminMap(const JobSettings& settings, StatusReporter& reporter);

} // namespace gnis
