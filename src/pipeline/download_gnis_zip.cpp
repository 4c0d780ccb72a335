#include "download_gnis_zip.h"

#include "create_gpx.h"
#include "download_file.h"
#include "extract_gnis_zip.h"
#include "file_system.h"
#include "states.h"

namespace gnis {
namespace fs = std::filesystem;

std::string GnisArchiveUrl(const std::string& server, int stateIndex) {
    std::string base = server;
    while (!base.empty() && (base.back() == '/' || base.back() == '\\'))
        base.pop_back();
    return base + "/docs/stategaz/" + std::string(stateCodes.at(static_cast<std::size_t>(stateIndex))) +
           "_Features_20090401.zip";
}

bool DownloadGnisZip(const JobSettings& settings, StatusReporter& reporter, std::string* warning,
                     std::string* memberError) {
    reporter.setStatusText("Downloading GNIS Zip File");
    const std::string url = GnisArchiveUrl(settings.gnisServer, settings.stateIndex);
    const fs::path archive = settings.outputFolder / kZipFileName;

    DownloadOptions options;
    options.connectTimeoutMs = settings.connectTimeoutMs;
    options.stallTimeoutMs = settings.stallTimeoutMs;
    options.progress = [&](std::int64_t received, std::int64_t total) { reporter.progress(received, total); };
    const Outcome downloaded = DownloadFile(url, archive, options);
    if (!downloaded) {
        if (!FileExists(archive)) {
            reporter.setStatusBarText("GNIS ERROR: Download failed: " + downloaded.error());
            return false;
        }
        // An offline user may rely on the archive of an earlier run; use it, but say so.
        if (warning)
            *warning = "The download failed (" + downloaded.error() +
                       "); the older gnis.zip in the output folder was used.";
    } else if (!FileExists(archive)) {
        reporter.setStatusBarText("Error: GNIS file not found.");
        return false;
    }

    const bool extracted = ExtractGnisZip(archive, settings.outputFolder, reporter, memberError);
    if (Outcome removed = DeleteFile(archive, false); !removed && extracted) {
        reporter.setStatusBarText("GNIS ERROR: " + removed.error());
        return false;
    }
    return extracted;
}

} // namespace gnis
