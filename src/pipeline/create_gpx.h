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

// Downloads and unpacks the state's archive (or unpacks the user's own archive,
// or takes the user's own text, when the settings name one) and converts the
// state's gazetteer text into gnis.gpx in the output folder. The state's text
// and gnis.zip are removed afterwards; what the user handed in never is. On
// failure the status-bar text says why and false is returned.
bool CreateGnisGpx(const JobSettings& settings, StatusReporter& reporter, GpxStats* stats = nullptr);

} // namespace gnis
