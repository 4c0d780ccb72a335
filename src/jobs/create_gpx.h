#pragma once

#include "gazetteer/gnis_records.h"
#include "jobs/job_settings.h"
#include "base/outcome.h"
#include "jobs/status_reporter.h"

#include <cstdint>
#include <string>

namespace gnis {

inline constexpr const char* kGpxFileName = "gnis.gpx";
inline constexpr const char* kMpFileName = "gnis.mp";

// Converts the gazetteer of the job's states, in the order given, into one
// gnis.gpx in the output folder: each state's text is downloaded from the
// job's source (or read from the user's own archive or text) and streamed
// straight into the GPX; a feature found in several states' files goes in
// once. The downloads are removed afterwards; what the user handed in never is.
// gnis.gpx replaces an older one only when every state succeeded. stats gets
// what was written and left out; a failure says why.
[[nodiscard]] Outcome CreateGnisGpx(const JobSettings& settings, StatusReporter& reporter, GpxStats& stats);

// Fails when the user's own text is the output file: converting it into itself
// would replace it with an empty one.
[[nodiscard]] Outcome CheckInputIsNotOutput(const JobSettings& settings, const std::filesystem::path& output);

// The same into another file (a later stage's intermediate), in either format,
// with values longer than fieldLimit bytes cut at a character's start (0: none cut).
[[nodiscard]] Outcome WriteWaypoints(const JobSettings& settings, WaypointFormat format,
                                     const std::filesystem::path& output, std::size_t fieldLimit,
                                     StatusReporter& reporter, GpxStats& stats);

// The same conversion, classes, de-duplication and counts into gnis.mp, a
// Polish-format map of one [POI] per waypoint (Type= the map type code,
// Label= the name as the GPX has it, Data0= the position), as mkgmap reads it.
[[nodiscard]] Outcome CreateGnisMp(const JobSettings& settings, StatusReporter& reporter, GpxStats& stats);

// "GNIS MA NH": the map's name, from the job's states (or its own text's name).
std::string GarminMapName(const JobSettings& settings);
// The map's eight-digit ID: the same for the same states, run after run.
std::uint32_t GarminMapId(const JobSettings& settings);

} // namespace gnis
