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
    std::string warning;       // set when an older copy stood in for a failed download
    std::string downloadError; // why, then
    std::string note;          // "Massachusetts: unchanged since 2026-10-01", when the cache's copy was current
    bool cached = false;       // the file is the download cache's copy
};

// Fetches the state's gazetteer from the job's source. With a download cache,
// the cache's copy of the URL is asked for conditionally: on "304 Not Modified"
// it is used as it is, and a new complete download that passes the zip check
// takes its place. Without a cache the download goes to a hidden name in the
// output folder. When the download fails (or the job is offline), the cache's
// copy stands in, else an older gnis.zip in the folder, and the warning says
// so; the caller checks that it holds the state's text, and leaves it where it
// is. A plain text must begin with a header line and end with a line end, so
// an error page or a cut-off body never passes for a gazetteer.
[[nodiscard]] Outcome DownloadGnisZip(const JobSettings& settings, int stateIndex, StatusReporter& reporter,
                            DownloadedGazetteer& out);

} // namespace gnis
