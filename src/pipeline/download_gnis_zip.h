#pragma once

#include "job_settings.h"
#include "status_reporter.h"

#include <string>

namespace gnis {

// "http://geonames.usgs.gov/docs/stategaz/AL_Features_20090401.zip" for Alabama.
std::string GnisArchiveUrl(const std::string& server, int stateIndex);

// Fetches the selected state's archive as gnis.zip in the output folder and
// unpacks it there; gnis.zip is removed afterwards. When the download fails but
// an older gnis.zip lies in the folder, that one is unpacked instead and the
// warning says so. False, with the status-bar text saying why, when no archive
// could be had or unpacked.
bool DownloadGnisZip(const JobSettings& settings, StatusReporter& reporter, std::string* warning = nullptr,
                     std::string* memberError = nullptr);

} // namespace gnis
