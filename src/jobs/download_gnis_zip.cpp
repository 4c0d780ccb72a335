#include "jobs/download_gnis_zip.h"

#include "platform/download_file.h"
#include "base/file_system.h"
#include "gazetteer/states.h"
#include "jobs/output_files.h"

namespace gnis {
namespace fs = std::filesystem;

Outcome DownloadGnisZip(const JobSettings& settings, int stateIndex, StatusReporter& reporter,
                            DownloadedGazetteer& out) {
    const GazetteerLocation where = LocateGazetteer(settings.source, settings.server(), stateIndex);
    out = DownloadedGazetteer{};
    out.url = UrlForMessages(where.url);
    out.zipped = where.zipped;
    // A name no file has yet; the download takes it only once complete.
    std::error_code ec;
    do {
        out.file = settings.outputFolder / (".gnis-" + UniqueSuffix() + (where.zipped ? ".zip" : ".txt"));
    } while (fs::exists(fs::symlink_status(out.file, ec)));
    reporter.setStatusText(where.zipped ? "Downloading GNIS Zip File" : "Downloading GNIS Text File");

    DownloadOptions options;
    options.connectTimeoutMs = settings.connectTimeoutMs;
    options.stallTimeoutMs = settings.stallTimeoutMs;
    options.maxTimeMs = settings.maxTimeMs;
    // An error page sent as success must not pass for the gazetteer; a text cut
    // off without a length ends inside a line (every line of it ends in CR LF).
    if (where.zipped) {
        options.mustBeginWith = {"PK"};
    } else {
        options.mustBeginWith = {"\xEF\xBB\xBF" "feature_id|", "feature_id|"};
        options.mustEndWith = "\n";
    }
    options.progress = [&](std::int64_t received, std::int64_t total) { reporter.progress(received, total); };
    options.cancelled = [&reporter] { return reporter.cancelRequested(); };
    const Outcome downloaded = DownloadFile(where.url, out.file, options);
    const std::string name(stateNames[static_cast<std::size_t>(stateIndex)]);
    if (!downloaded) {
        out.ours = false; // the download left nothing
        const fs::path older = settings.outputFolder / kZipFileName;
        if (!where.zipped || !FileExists(older) || reporter.cancelRequested())
            return Outcome::failure("Download failed for " + name + ": " + downloaded.error());
        out.file = older;
        // An offline user may rely on the archive of an earlier run; use it, but say so.
        out.downloadError = downloaded.error();
        out.warning = "The download failed (" + downloaded.error() + "); the older gnis.zip in the output folder was used.";
    } else if (!FileExists(out.file)) {
        out.ours = false;
        return Outcome::failure("GNIS file not found: " + name + " (" + out.url + ")");
    }
    return Outcome::success();
}

} // namespace gnis
