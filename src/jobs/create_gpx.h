#pragma once

#include "gazetteer/gnis_records.h"
#include "base/outcome.h"
#include "jobs/job_settings.h"

#include <cstdint>
#include <string>

namespace gnis {

class JobContext;

// The formats a conversion writes: one writer each in formats/.
enum class WaypointFormat { Gpx, PolishMap, Csv };

// Where the conversion writes: the output folder (gnis.gpx or gnis.mp, as the
// job's product), or the job's scratch folder for a later step to take on.
enum class Destination { OutputFolder, Scratch };

// Converts the gazetteer of the job's states, in the order given, into one
// file of waypoints: each state's text is downloaded from the job's source (or
// read from the user's own archive or text) and streamed straight into it; a
// feature found in several states' files goes in once. The downloads are
// removed afterwards; what the user handed in never is. The file replaces an
// older one only when every state succeeded. GPX waypoints bound for the
// shapefile have values past a dBase field's bytes cut at a character's start.
// A Polish-format map has one [POI] per waypoint (Type= the map type code,
// Label= the name as the GPX has it, Data0= the position), as mkgmap reads it.
// The counts go to job.stats, the file to job.waypoints (and job.made).
[[nodiscard]] Outcome ConvertWaypoints(JobContext& job, WaypointFormat format, Destination destination);

// Fails when the user's own text is the output file: converting it into itself
// would replace it with an empty one.
[[nodiscard]] Outcome CheckInputIsNotOutput(const JobSettings& settings, const std::filesystem::path& output);

// "GNIS MA NH": the map's name, from the job's states (or its own text's name).
std::string GarminMapName(const JobSettings& settings);
// The map's eight-digit ID: the same for the same states, run after run.
std::uint32_t GarminMapId(const JobSettings& settings);

} // namespace gnis
