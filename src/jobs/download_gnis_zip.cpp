#include "jobs/download_gnis_zip.h"

#include "base/file_system.h"
#include "gazetteer/states.h"
#include "jobs/output_files.h"
#include "platform/download_cache.h"
#include "platform/download_file.h"
#include "zip/zip_archive.h"

#include <optional>

namespace gnis {
namespace fs = std::filesystem;

namespace {

DownloadOptions optionsFor(const JobSettings& settings, bool zipped, StatusReporter& reporter) {
    DownloadOptions options;
    options.connectTimeoutMs = settings.connectTimeoutMs;
    options.stallTimeoutMs = settings.stallTimeoutMs;
    options.maxTimeMs = settings.maxTimeMs;
    // An error page sent as success must not pass for the gazetteer; a text cut
    // off without a length ends inside a line (every line of it ends in CR LF).
    if (zipped) {
        options.mustBeginWith = {"PK"};
    } else {
        options.mustBeginWith = {"\xEF\xBB\xBF" "feature_id|", "feature_id|"};
        options.mustEndWith = "\n";
    }
    options.progress = [&reporter](std::int64_t received, std::int64_t total) { reporter.progress(received, total); };
    options.cancelled = [&reporter] { return reporter.cancelRequested(); };
    return options;
}

// A download the cache may keep: a whole archive, or a text (checked as it came).
bool soundArchive(const fs::path& file, bool zipped) {
    if (!zipped)
        return true;
    ZipExtractionClass zip;
    const bool ok = zip.OpenZip(file.string()).ok();
    zip.CloseZip();
    return ok;
}

} // namespace

Outcome DownloadGnisZip(const JobSettings& settings, int stateIndex, StatusReporter& reporter,
                            DownloadedGazetteer& out) {
    const GazetteerLocation where = LocateGazetteer(settings.source, settings.server(), stateIndex);
    out = DownloadedGazetteer{};
    out.url = UrlForMessages(where.url);
    out.zipped = where.zipped;
    const std::string name(stateNames[static_cast<std::size_t>(stateIndex)]);
    // A mirror on this machine is its own cache.
    const bool local = IsLocalServer(settings.server());
    const bool cacheable = !settings.cacheFolder.empty() && !local;
    std::optional<DownloadCache> cache;
    std::optional<CachedCopy> copy;
    if (cacheable) {
        cache.emplace(settings.cacheFolder, settings.cacheMaxBytes);
        copy = cache->find(where.url);
    }
    auto useCopy = [&] {
        out.file = copy->file;
        out.ours = false;
        out.cached = true;
    };
    // An older gnis.zip of the user's in the folder, when nothing else is at hand: used, never removed.
    const fs::path older = settings.outputFolder / kZipFileName;
    auto useOlder = [&](const std::string& why, std::string warning) {
        out.file = older;
        out.ours = false;
        out.downloadError = why;
        out.warning = std::move(warning);
        return Outcome::success();
    };
    if (settings.offline && !local) {
        if (copy) {
            useCopy();
            out.warning = "Using the copy of " + name + " from " + copy->date() + "; working without Internet.";
            return Outcome::success();
        }
        if (where.zipped && FileExists(older))
            return useOlder("working without Internet",
                            "Working without Internet; the older gnis.zip in the output folder was used.");
        return Outcome::failure("No copy of " + name + " in the download cache " +
                                (cacheable ? settings.cacheFolder.string() : std::string("(not used)")) +
                                "; start with Internet once to fetch it");
    }

    // Where the body goes: the cache folder, so a complete download becomes the
    // copy in one rename; else a hidden name of this run's own in the output folder.
    std::error_code ec;
    bool intoCache = false;
    if (cache) {
        if (Outcome ready = cache->temporaryFor(where.url, out.file); ready)
            intoCache = true;
    }
    if (!intoCache) {
        do {
            out.file = settings.outputFolder / (".gnis-" + UniqueSuffix() + (where.zipped ? ".zip" : ".txt"));
        } while (fs::exists(fs::symlink_status(out.file, ec)));
    }
    reporter.setStatusText(where.zipped ? "Downloading GNIS Zip File" : "Downloading GNIS Text File");
    DownloadOptions options = optionsFor(settings, where.zipped, reporter);
    if (copy && !settings.refresh) {
        options.ifNoneMatch = copy->etag;
        options.ifModifiedSince = copy->lastModified;
    }
    DownloadInfo info;
    bool damaged = false;
    Outcome downloaded = DownloadFile(where.url, out.file, options, &info);
    if (downloaded && info.notModified) {
        useCopy();
        out.note = name + ": unchanged since " + copy->date() + " (the cached copy)";
        return Outcome::success();
    }
    if (downloaded && !FileExists(out.file)) {
        out.ours = false;
        return Outcome::failure("GNIS file not found: " + name + " (" + out.url + ")");
    }
    if (downloaded && intoCache) {
        if (!soundArchive(out.file, where.zipped)) {
            // Not kept, and not trusted either: the conversion would fail on it the same way.
            fs::remove(out.file, ec);
            downloaded = Outcome::failure("the downloaded archive is damaged (" + out.url + ")");
            damaged = true;
        } else {
            CachedCopy kept;
            const Outcome stored = cache->store(where.url, out.file, info.etag, info.lastModified, kept);
            if (stored) {
                copy = kept;
                useCopy();
                return Outcome::success();
            }
            if (!FileExists(out.file)) { // moved, then lost: nothing to convert
                out.ours = false;
                return Outcome::failure("The download of " + name + " could not be kept: " + stored.error());
            }
            // Used once as an ordinary download, then removed; the cache keeps its old copy.
            out.warning = "The download was not kept in the cache: " + stored.error() + ".";
            return Outcome::success();
        }
    }
    if (downloaded)
        return Outcome::success();

    out.ours = false; // the download left nothing
    if (reporter.cancelRequested())
        return Outcome::failure("Download failed for " + name + ": " + downloaded.error());
    // Offline, or the server is down: a copy of the same URL stands in, said with its date.
    if (copy) {
        useCopy();
        out.downloadError = downloaded.error();
        out.warning = "Using the copy of " + name + " from " + copy->date() +
                      (damaged ? "; the download was damaged." : "; the server could not be reached (" + downloaded.error() + ").");
        return Outcome::success();
    }
    if (!where.zipped || !FileExists(older))
        return Outcome::failure("Download failed for " + name + ": " + downloaded.error());
    // An offline user may rely on the archive of an earlier run; use it, but say so.
    return useOlder(downloaded.error(),
                    "The download failed (" + downloaded.error() + "); the older gnis.zip in the output folder was used.");
}

} // namespace gnis
