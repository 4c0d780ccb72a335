#pragma once

#include "status_reporter.h"

#include <filesystem>
#include <string>

namespace gnis {

// Unpacks a state archive into the output folder, keeping its folders and
// replacing files it shares with the folder. The reader's status lines and
// progress reach the reporter. False, with the status-bar text saying why, when
// the archive cannot be opened or the extraction stops. A member that failed on
// its own does not stop it; the first such error is handed back in memberError.
bool ExtractGnisZip(const std::filesystem::path& archive, const std::filesystem::path& folder,
                    StatusReporter& reporter, std::string* memberError = nullptr);

} // namespace gnis
