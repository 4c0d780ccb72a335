#pragma once

#include "base/outcome.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace gnis {

// A downloaded archive kept for later runs, with what the server said of it.
struct CachedCopy {
    std::filesystem::path file;
    std::string etag;         // for If-None-Match
    std::string lastModified; // for If-Modified-Since
    std::int64_t fetched = 0; // when it was fetched, seconds since the epoch
    std::int64_t size = 0;
    // "2026-10-01": the server's date of the copy, else the day it was fetched.
    std::string date() const;
};

// The user's download cache: one file per URL, named from a hash of the URL
// (never from what the server sends), with a record of its ETag and
// Last-Modified beside it. Files are the owner's alone (0600, the folder
// 0700); nothing is followed through a link; a damaged or foreign file is
// dropped, never trusted. A new copy takes the old one's place in one rename,
// and past the size limit the copies used longest ago go first.
class DownloadCache {
public:
    static constexpr std::int64_t kDefaultMaxBytes = std::int64_t(2) << 30;
    // $XDG_CACHE_HOME/trailcrafter-gnis, else ~/.cache/trailcrafter-gnis.
    static std::filesystem::path DefaultFolder();

    explicit DownloadCache(std::filesystem::path folder, std::int64_t maxBytes = kDefaultMaxBytes)
        : folder_(std::move(folder)), maxBytes_(maxBytes) {}
    const std::filesystem::path& folder() const { return folder_; }

    // The sound copy of a URL, when there is one (its use is recorded, for the
    // size limit); a copy that is not sound is removed.
    std::optional<CachedCopy> find(const std::string& url);
    // A temporary name in the cache folder for a new download of a URL; the
    // folder is made (0700) when missing. Fails when it cannot be, or is a link.
    Outcome temporaryFor(const std::string& url, std::filesystem::path& file);
    // Takes a complete, checked download as the URL's copy, given back in copy;
    // the oldest copies go past the size limit (never this one). The download
    // is moved, so on success it is gone from its old name.
    Outcome store(const std::string& url, const std::filesystem::path& download, const std::string& etag,
                  const std::string& lastModified, CachedCopy& copy);
    // Makes the folder when missing (0700); an existing one must be the user's, and is made theirs alone.
    Outcome prepare();
    // After another file was kept in the folder (a run's record): the oldest
    // copies and records go past the size limit, never that file.
    void keepWithinLimit(const std::filesystem::path& kept);
    // Removes every copy and record, and any temporary file of this cache.
    Outcome clear();
    // The bytes of the copies held.
    std::int64_t bytes() const;

private:
    std::filesystem::path dataOf(const std::string& url) const;
    std::filesystem::path recordOf(const std::string& url) const;
    void drop(const std::string& key);
    void trim(const std::string& keep);
    std::filesystem::path folder_;
    std::int64_t maxBytes_;
};

} // namespace gnis
