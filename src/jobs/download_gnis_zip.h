#pragma once

#include "base/outcome.h"
#include "jobs/job_settings.h"
#include "jobs/status_reporter.h"

#include <filesystem>
#include <string>

namespace gnis {

// One state's gazetteer as it lies in the output folder after the download.
struct DownloadedGazetteer {
    // A hidden name of this run's own (".gnis-N-N.zip", ".gnis-N-N.txt"), so no
    // file of the user's is ever replaced; or an older gnis.zip in the folder
    // that stands in for a failed download.
    std::filesystem::path file;
    bool zipped = true;
    bool ours = true;    // made by this run, so the run removes it
    std::string url;
    std::string warning;       // set when an older gnis.zip stood in for a failed download
    std::string downloadError; // why, then
};

// Fetches the state's gazetteer from the job's source into the output folder,
// bypassing every cache. When the download of an archive fails but an older
// gnis.zip lies in the folder, that one is used and the warning says so; the
// caller checks that it holds the state's text, and leaves it where it is. A
// plain text must begin with a header line and end with a line end, so an
// error page or a cut-off body never passes for a gazetteer.
[[nodiscard]] Outcome DownloadGnisZip(const JobSettings& settings, int stateIndex, StatusReporter& reporter,
                            DownloadedGazetteer& out);

} // namespace gnis
