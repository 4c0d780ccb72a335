#include "platform/download_cache.h"

#include "base/file_system.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace gnis {
namespace fs = std::filesystem;

namespace {

constexpr const char* kDataSuffix = ".cache";
constexpr const char* kRecordSuffix = ".record";
constexpr std::uintmax_t kMostRecordBytes = 4096;

std::string keyOf(const std::string& url) {
    const QByteArray hash = QCryptographicHash::hash(QByteArray::fromStdString(url), QCryptographicHash::Sha256);
    return hash.toHex().left(32).toStdString();
}

// A plain file of this user's that no one else may write: what a cache file must be.
bool ownFile(const fs::path& file, std::int64_t* size = nullptr, std::int64_t* mtime = nullptr) {
#if !defined(_WIN32)
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 077) != 0)
        return false;
    if (size)
        *size = static_cast<std::int64_t>(st.st_size);
    if (mtime)
        *mtime = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
#else
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(file, ec)))
        return false;
    if (size)
        *size = static_cast<std::int64_t>(fs::file_size(file, ec));
    if (mtime)
        *mtime = static_cast<std::int64_t>(fs::last_write_time(file, ec).time_since_epoch().count());
    return true;
#endif
}

struct Record {
    std::string url, etag, lastModified;
    std::int64_t fetched = 0, size = -1, mtime = -1;
};

bool readRecord(const fs::path& file, Record& r) {
    std::int64_t size = 0;
    if (!ownFile(file, &size) || static_cast<std::uintmax_t>(size) > kMostRecordBytes)
        return false;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        try {
            if (key == "url")
                r.url = value;
            else if (key == "etag")
                r.etag = value;
            else if (key == "last-modified")
                r.lastModified = value;
            else if (key == "fetched")
                r.fetched = std::stoll(value);
            else if (key == "size")
                r.size = std::stoll(value);
            else if (key == "mtime")
                r.mtime = std::stoll(value);
        } catch (const std::exception&) {
            return false;
        }
    }
    return !r.url.empty() && r.size >= 0 && r.mtime >= 0;
}

// The folder as a cache may use it: a real folder of this user's, made when missing.
Outcome ensureFolder(const fs::path& folder) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(folder, ec);
    if (fs::is_symlink(status))
        return Outcome::failure("The download cache " + folder.string() + " is a link; it is not used");
    if (!fs::exists(status)) {
        fs::create_directories(folder, ec);
        if (ec)
            return Outcome::failure("Can't make the download cache " + folder.string() + ": " + ec.message());
        fs::permissions(folder, fs::perms::owner_all, ec);
    } else if (!fs::is_directory(status)) {
        return Outcome::failure("The download cache " + folder.string() + " is not a folder");
    }
#if !defined(_WIN32)
    // The user's own, and theirs alone: what it holds says which states they map.
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || st.st_uid != ::getuid())
        return Outcome::failure("The download cache " + folder.string() + " is not yours; it is not used");
    if ((st.st_mode & 077) != 0)
        ::chmod(folder.c_str(), 0700);
#endif
    return Outcome::success();
}

std::int64_t now() { return QDateTime::currentSecsSinceEpoch(); }

// Held while the cache is looked at or changed: a run that stores a copy and
// another that checks it never see a copy without its own record.
class CacheLock {
public:
    explicit CacheLock(const fs::path& folder) {
#if !defined(_WIN32)
        fd_ = ::open((folder / ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ >= 0)
            ::flock(fd_, LOCK_EX); // short: a lookup or a rename or two
#endif
    }
    ~CacheLock() {
#if !defined(_WIN32)
        if (fd_ >= 0)
            ::close(fd_);
#endif
    }
    CacheLock(const CacheLock&) = delete;
    CacheLock& operator=(const CacheLock&) = delete;

private:
    int fd_ = -1;
};

// A file a writer or a download left under a temporary name.
bool temporaryName(const std::string& name) {
    return name.find(".part-") != std::string::npos || name.find(".tmp-") != std::string::npos;
}

} // namespace

std::string CachedCopy::date() const {
    const QDateTime server = QDateTime::fromString(QString::fromStdString(lastModified), Qt::RFC2822Date);
    if (server.isValid())
        return server.toUTC().toString("yyyy-MM-dd").toStdString();
    return QDateTime::fromSecsSinceEpoch(fetched).toString("yyyy-MM-dd").toStdString();
}

fs::path DownloadCache::DefaultFolder() {
    const QByteArray xdg = qgetenv("XDG_CACHE_HOME");
    // A relative XDG_CACHE_HOME is ignored, as the freedesktop.org base directory rules have it.
    const QString base = !xdg.isEmpty() && QDir::isAbsolutePath(QString::fromLocal8Bit(xdg))
                             ? QString::fromLocal8Bit(xdg)
                             : QDir::homePath() + "/.cache";
    return fs::path(base.toStdString()) / "trailcrafter-gnis";
}

Outcome DownloadCache::prepare() { return ensureFolder(folder_); }

fs::path DownloadCache::dataOf(const std::string& url) const { return folder_ / (keyOf(url) + kDataSuffix); }
fs::path DownloadCache::recordOf(const std::string& url) const { return folder_ / (keyOf(url) + kRecordSuffix); }

void DownloadCache::drop(const std::string& key) {
    std::error_code ec;
    fs::remove(folder_ / (key + kDataSuffix), ec); // a link goes itself, never what it points at
    fs::remove(folder_ / (key + kRecordSuffix), ec);
}

std::optional<CachedCopy> DownloadCache::find(const std::string& url) {
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(folder_, ec)))
        return std::nullopt;
    const fs::path data = dataOf(url), record = recordOf(url);
    if (!fs::exists(fs::symlink_status(record, ec)) && !fs::exists(fs::symlink_status(data, ec)))
        return std::nullopt;
    const CacheLock lock(folder_);
    Record r;
    std::int64_t size = 0, mtime = 0;
    // The copy is the one its record describes, or it is not trusted.
    if (!readRecord(record, r) || r.url != url || !ownFile(data, &size, &mtime) || size != r.size || mtime != r.mtime) {
        drop(keyOf(url));
        return std::nullopt;
    }
    // Its use, for the size limit: the record's time is the last use.
    fs::last_write_time(record, fs::file_time_type::clock::now(), ec);
    return CachedCopy{data, r.etag, r.lastModified, r.fetched, r.size};
}

Outcome DownloadCache::temporaryFor(const std::string& url, fs::path& file) {
    if (Outcome ready = ensureFolder(folder_); !ready)
        return ready;
    std::error_code ec;
    // What a run killed outright left: a day old, so no run still writes it.
    const auto dayAgo = fs::file_time_type::clock::now() - std::chrono::hours(24);
    for (const auto& entry : fs::directory_iterator(folder_, ec)) {
        if (temporaryName(entry.path().filename().string()) && fs::last_write_time(entry.path(), ec) < dayAgo)
            fs::remove(entry.path(), ec);
    }
    do {
        // Appended piece by piece: GCC 12 at -O3 warns of an overlapping copy for "." + a temporary.
        std::string name = ".";
        name += keyOf(url);
        name += ".part-";
        name += UniqueSuffix();
        file = folder_ / name;
    } while (fs::exists(fs::symlink_status(file, ec)));
    return Outcome::success();
}

Outcome DownloadCache::store(const std::string& url, const fs::path& download, const std::string& etag,
                             const std::string& lastModified, CachedCopy& copy) {
    std::error_code ec;
    fs::permissions(download, fs::perms::owner_read | fs::perms::owner_write, ec);
    std::int64_t size = 0, mtime = 0;
    if (ec || !ownFile(download, &size, &mtime))
        return Outcome::failure("Can't keep " + download.string() + " in the download cache");
    {
        const CacheLock lock(folder_);
        // The copy first, then its record, under the lock: no other run sees one without the other.
        fs::rename(download, dataOf(url), ec);
        if (ec)
            return Outcome::failure("Can't keep the download in " + folder_.string() + ": " + ec.message());
        TextFileWriter record;
        if (Outcome opened = record.open(recordOf(url), TextFileWriter::Durability::Replaced, TextFileWriter::Access::OwnerOnly);
            !opened) {
            drop(keyOf(url));
            return opened;
        }
        const std::int64_t fetched = now();
        record.write("url=" + url + "\netag=" + etag + "\nlast-modified=" + lastModified + "\nfetched=" +
                     std::to_string(fetched) + "\nsize=" + std::to_string(size) + "\nmtime=" + std::to_string(mtime) + "\n");
        if (Outcome written = record.commit(); !written) {
            drop(keyOf(url));
            return written;
        }
        copy = CachedCopy{dataOf(url), etag, lastModified, fetched, size};
    }
    trim(keyOf(url));
    return Outcome::success();
}

void DownloadCache::trim(const std::string& keep) {
    // The copies and the runs' records of what they wrote share the limit; the
    // ones used longest ago go first, never the one just kept.
    struct Held {
        std::string key;  // a copy's key, or a run record's file name
        bool runRecord;
        std::int64_t size;
        fs::file_time_type used;
    };
    const CacheLock lock(folder_);
    std::vector<Held> held;
    std::int64_t total = 0;
    std::error_code ec;
    const std::string suffix = kRecordSuffix;
    for (const auto& entry : fs::directory_iterator(folder_, ec)) {
        const std::string name = entry.path().filename().string();
        std::int64_t size = 0;
        if (name.starts_with("changes-") && name.ends_with(".features") && ownFile(entry.path(), &size)) {
            held.push_back({name, true, size, fs::last_write_time(entry.path(), ec)});
            total += size;
            continue;
        }
        if (name.size() <= suffix.size() || !name.ends_with(suffix))
            continue;
        Record r;
        if (!readRecord(entry.path(), r))
            continue;
        held.push_back({name.substr(0, name.size() - suffix.size()), false, r.size, fs::last_write_time(entry.path(), ec)});
        total += r.size;
    }
    std::sort(held.begin(), held.end(), [](const Held& a, const Held& b) { return a.used < b.used; });
    for (const Held& h : held) {
        if (total <= maxBytes_)
            break;
        if (h.key == keep)
            continue;
        if (h.runRecord)
            fs::remove(folder_ / h.key, ec);
        else
            drop(h.key);
        total -= h.size;
    }
}

void DownloadCache::keepWithinLimit(const fs::path& kept) { trim(kept.filename().string()); }

Outcome DownloadCache::clear() {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(folder_, ec)))
        return Outcome::success();
    if (!fs::is_directory(fs::symlink_status(folder_, ec)))
        return Outcome::failure("The download cache " + folder_.string() + " is not a folder");
    const CacheLock lock(folder_);
    for (const auto& entry : fs::directory_iterator(folder_, ec)) {
        const std::string name = entry.path().filename().string();
        // Only what a cache writes: its copies, their records, its temporary files,
        // and the runs' records of what they wrote.
        if (name.ends_with(kDataSuffix) || name.ends_with(kRecordSuffix) || temporaryName(name) ||
            (name.starts_with("changes-") && name.ends_with(".features"))) {
            fs::remove(entry.path(), ec);
            if (ec)
                return Outcome::failure("Can't remove " + entry.path().string() + ": " + ec.message());
        }
    }
    return Outcome::success();
}

std::int64_t DownloadCache::bytes() const {
    std::int64_t total = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder_, ec)) {
        std::int64_t size = 0;
        if (entry.path().filename().string().ends_with(kDataSuffix) && ownFile(entry.path(), &size))
            total += size;
    }
    return total;
}

} // namespace gnis
