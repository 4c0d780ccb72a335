#pragma once

#include "gnis_records.h"
#include "job_settings.h"
#include "status_reporter.h"

#include <filesystem>
#include <string>

namespace gnis {

inline constexpr const char* kGpxFileName = "gnis.gpx";
inline constexpr const char* kZipFileName = "gnis.zip";

// "AL_Features_20090401.txt" for the state at the given catalogue index.
std::string StateTextFileName(int stateIndex);

// Converts the state's gazetteer text in the output folder (or the user's own
// text, when the settings name one) into gnis.gpx there. The state's text and
// gnis.zip are removed afterwards; the user's text never is. On failure the
// status-bar text says why and false is returned.
bool CreateGnisGpx(const JobSettings& settings, StatusReporter& reporter, GpxStats* stats = nullptr);

} // namespace gnis
