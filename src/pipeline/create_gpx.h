#pragma once

#include "gnis_records.h"
#include "job_settings.h"
#include "outcome.h"
#include "status_reporter.h"

namespace gnis {

inline constexpr const char* kGpxFileName = "gnis.gpx";

// Converts the gazetteer of the job's states, in the order given, into one
// gnis.gpx in the output folder: each state's text is downloaded from the
// job's source (or read from the user's own archive or text) and streamed
// straight into the GPX; a feature found in several states' files goes in
// once. The downloads are removed afterwards; what the user handed in never is.
// gnis.gpx replaces an older one only when every state succeeded. stats gets
// what was written and left out; a failure says why.
[[nodiscard]] Outcome CreateGnisGpx(const JobSettings& settings, StatusReporter& reporter, GpxStats& stats);

} // namespace gnis
