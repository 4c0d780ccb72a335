#pragma once

#include "base/outcome.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace gnis {

struct DownloadOptions {
    int connectTimeoutMs = 30000; // no answer from the server within this: give up
    int stallTimeoutMs = 60000;   // no byte arriving for this long: give up
    // Slower than this many bytes a second over a whole window of lowSpeedTimeMs: give up,
    // so a server that drips a byte at a time cannot hold the job for ever.
    std::int64_t lowSpeedBytesPerSecond = 1024;
    int lowSpeedTimeMs = 30000;
    // A body announced or grown past this is refused (the national file is about 100 MB).
    std::int64_t maxBytes = std::int64_t(2) << 30;
    // The whole transfer may take this long at the most, however steadily it
    // goes: a body that crawls just above the speed floor must end too.
    std::int64_t maxTimeMs = 3600000;
    // When set, a body that begins with none of these (ASCII case aside: an error
    // page sent with a success status, as proxies and captive portals do) fails
    // and replaces nothing.
    std::vector<std::string> mustBeginWith;
    // When set, a body that came without an announced length and does not end
    // with this fails: it was cut off.
    std::string mustEndWith;
    // Bytes received so far and the total when the server said it (else 0).
    std::function<void(std::int64_t received, std::int64_t total)> progress;
    // Asked a few times a second; true stops the transfer, which then fails as "cancelled".
    std::function<bool()> cancelled;
    // A conditional request for a copy at hand, as the server described it
    // (If-None-Match, If-Modified-Since): "304 Not Modified" then succeeds
    // without touching the target. A 304 to a request without them fails.
    std::string ifNoneMatch;     // the copy's ETag
    std::string ifModifiedSince; // the copy's Last-Modified
};

// What the server said of what it sent, for a cache.
struct DownloadInfo {
    bool notModified = false; // 304 to a conditional request: the copy at hand is current
    std::string etag;         // the body's ETag and Last-Modified, when the server gave them
    std::string lastModified;
};

// Fetches a URL into a file, bypassing every cache and following redirects. The
// body streams to disk in bounded chunks: memory stays small whatever its size.
// http(s) URLs go over the network; a file: URL or a plain path copies a local
// file (an offline mirror). The body goes to a temporary file beside the target
// that replaces it only when the whole body arrived with a success status, so a
// failed download never touches an existing target. A symbolic link at the
// target's name is removed first, never written through. Runs a local event loop
// while it waits, so a window stays responsive; needs a QCoreApplication.
// On failure the message names the URL and the reason; a file the server does
// not have (HTTP 403 or 404, or no such local file) reads "URL not found".
Outcome DownloadFile(const std::string& url, const std::filesystem::path& target,
                     const DownloadOptions& options = {}, DownloadInfo* info = nullptr);

// Whether a server (as gnisserver or --server gives it) lies on this machine: a
// file: URL or a plain folder, which needs no Internet.
bool IsLocalServer(const std::string& server);
// Its folder, for a local one.
std::filesystem::path LocalServerFolder(const std::string& server);

// A URL as messages show it: without the user name and password a server URL
// may carry, which must not reach a terminal, a log or a screenshot.
std::string UrlForMessages(const std::string& url);

} // namespace gnis
