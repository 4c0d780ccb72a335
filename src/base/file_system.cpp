#include "base/file_system.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <system_error>

#include <regex>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace gnis {
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kFlushAt = 1 << 20;
constexpr std::size_t kWriteDirect = 1 << 16;     // larger pieces skip the buffer
constexpr std::int64_t kWritebackStep = 8 << 20;  // start writing to disk every 8 MiB

std::string quoted(const fs::path& p) { return p.string(); }

bool isReadOnly(const fs::path& path) {
    std::error_code ec;
    const auto perms = fs::status(path, ec).permissions();
    if (ec)
        return false;
    return (perms & (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write)) ==
           fs::perms::none;
}

} // namespace

std::string UniqueSuffix() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    const auto now = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    return std::to_string(rd() ^ static_cast<unsigned>(now)) + "-" + std::to_string(++counter);
}

std::string ErrorText(int errnum) {
    return std::error_code(errnum, std::generic_category()).message();
}

bool FileExists(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

Outcome DeleteFile(const fs::path& path, bool force) {
    std::error_code ec;
    const auto st = fs::symlink_status(path, ec);
    if (ec || !fs::exists(st))
        return Outcome::success();
    if (fs::is_directory(st))
        return Outcome::failure("Can't delete " + quoted(path) + ": it is a folder");
    if (!force && isReadOnly(path))
        return Outcome::failure("Can't delete " + quoted(path) + ": the file is read-only");
    if (!fs::remove(path, ec) && ec)
        return Outcome::failure("Can't delete " + quoted(path) + ": " + ec.message());
    return Outcome::success();
}

bool MoveWithoutReplacing(const fs::path& from, const fs::path& to) {
#if defined(_WIN32)
    std::error_code ec;
    if (fs::exists(fs::symlink_status(to, ec)))
        return false;
    fs::rename(from, to, ec);
    return !ec;
#else
    // A hard link fails when the name is taken, so nothing is ever replaced.
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
#endif
}

Outcome FolderLock::acquire(const fs::path& folder) {
    release();
    const fs::path file = folder / kFileName;
    const std::string busy = "another run is using " + folder.string();
#if defined(_WIN32)
    // No sharing: a second opener fails until the first handle closes.
    HANDLE h = ::CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return Outcome::failure(::GetLastError() == ERROR_SHARING_VIOLATION ? busy : "Can't lock " + file.string());
    handle_ = h;
#else
    // The file may be removed by the run that held it between our open and our
    // lock: then the lock is on a name no more, and the open is tried again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            return Outcome::failure("Can't lock " + folder.string() + ": " + ErrorText(errno));
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            ::close(fd);
            if (err == ENOLCK || err == EOPNOTSUPP || err == ENOSYS) {
                // A file system without locks (some network and FUSE ones): the run goes on unlocked.
                ::unlink(file.c_str());
                return Outcome::success();
            }
            return Outcome::failure(err == EWOULDBLOCK ? busy : "Can't lock " + folder.string() + ": " + ErrorText(err));
        }
        struct stat held {}, named {};
        if (::fstat(fd, &held) == 0 && ::lstat(file.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino) {
            fd_ = fd;
            file_ = file;
            return Outcome::success();
        }
        ::close(fd);
    }
    return Outcome::failure(busy);
#endif
    file_ = file;
    return Outcome::success();
}

bool FolderLock::held() const {
#if defined(_WIN32)
    return handle_ != nullptr;
#else
    return fd_ >= 0;
#endif
}

void FolderLock::release() {
#if defined(_WIN32)
    if (handle_)
        ::CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
#else
    if (fd_ >= 0) {
        // While still held, so no other run locks the old file; and only our own
        // file, should another have taken the name meanwhile.
        struct stat held {}, named {};
        if (::fstat(fd_, &held) == 0 && ::lstat(file_.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino)
            ::unlink(file_.c_str());
        ::close(fd_);
        fd_ = -1;
    }
#endif
    file_.clear();
}

void RemoveLeftovers(const fs::path& folder) {
    // The names TextFileWriter, the downloads and ScratchFolder give: ".gnis.gpx.tmp-N-N",
    // ".gnis-N-N.zip", "..gnis-N-N.zip.tmp-N-N", ".gnis-work-N".
    static const std::regex temporary(R"(\.(gnis\.gpx|gnis\.mp|\.gnis-\d+-\d+\.(zip|txt)|\.gmapsupp\.img\.trailcrafter)\.tmp-\d+-\d+)");
    static const std::regex download(R"(\.gnis-\d+-\d+\.(zip|txt))");
    static const std::regex scratch(R"(\.gnis-work-\d+)");
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() > 80 || name[0] != '.')
            continue;
        const fs::file_status st = it->symlink_status(ec);
        if (ec)
            continue;
        std::error_code removed;
        if (fs::is_regular_file(st) && (std::regex_match(name, temporary) || std::regex_match(name, download)))
            fs::remove(it->path(), removed);
        else if (fs::is_directory(st) && std::regex_match(name, scratch))
            fs::remove_all(it->path(), removed); // never follows a link inside
    }
}

TextFileWriter::~TextFileWriter() { discard(); }

Outcome TextFileWriter::open(const fs::path& target, Durability durability, Access access) {
    discard();
    durability_ = durability;
    error_.clear();
    target_ = target;
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string name = ".";
        name += target.filename().string();
        name += ".tmp-";
        name += UniqueSuffix();
        temp_ = folder / name;
#if defined(_WIN32)
        // "x": never reuse or follow anything that already has this name.
        file_ = std::fopen(temp_.string().c_str(), "wbx");
#else
        // O_EXCL: never reuse or follow anything that already has this name. A
        // private file gets its mode at creation, so it is never readable by others.
        const int fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                              access == Access::OwnerOnly ? 0600 : 0666);
        file_ = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
        if (fd >= 0 && !file_)
            ::close(fd);
#endif
        if (file_ || errno != EEXIST)
            break;
    }
    if (!file_) {
        const int err = errno;
        temp_.clear();
        return Outcome::failure("Can't write " + quoted(target) + ": " + ErrorText(err));
    }
    if (access == Access::OwnerOnly) {
        // Where the mode could not be given at creation (Windows); before anything is written.
        std::error_code ec;
        fs::permissions(temp_, fs::perms::owner_read | fs::perms::owner_write, ec);
        if (ec) {
            discard();
            return Outcome::failure("Can't write " + quoted(target) + ": " + ec.message());
        }
    }
    // Our own buffer is the only one; stdio's would copy every byte again.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    buffer_.clear();
    buffer_.reserve(kFlushAt);
    written_ = synced_ = 0;
    return Outcome::success();
}

#if !defined(_WIN32)
Outcome TextFileWriter::openIn(int folderFd, const std::string& name, const fs::path& shown, Durability durability) {
    discard();
    durability_ = durability;
    error_.clear();
    target_ = shown;
    folderFd_ = ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
    if (folderFd_ < 0)
        return Outcome::failure("Can't write " + quoted(shown) + ": " + ErrorText(errno));
    targetName_ = name;
    for (int attempt = 0; attempt < 16; ++attempt) {
        tempName_ = "." + name + ".tmp-" + UniqueSuffix();
        const int fd = ::openat(folderFd_, tempName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        file_ = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
        if (fd >= 0 && !file_)
            ::close(fd);
        if (file_ || errno != EEXIST)
            break;
    }
    if (!file_) {
        const int err = errno;
        discard();
        return Outcome::failure("Can't write " + quoted(shown) + ": " + ErrorText(err));
    }
    temp_ = shown.parent_path() / tempName_; // for messages only
    std::setvbuf(file_, nullptr, _IONBF, 0);
    buffer_.clear();
    buffer_.reserve(kFlushAt);
    written_ = synced_ = 0;
    return Outcome::success();
}
#endif

void TextFileWriter::write(std::string_view text) {
    if (!file_ || !error_.empty())
        return;
    if (text.size() >= kWriteDirect || buffer_.size() + text.size() > kFlushAt)
        flushBuffer();
    if (text.size() >= kWriteDirect)
        writeRaw(text);
    else
        buffer_.append(text);
}

void TextFileWriter::writeLine(std::string_view text) {
    write(text);
    write("\r\n");
}

void TextFileWriter::flushBuffer() {
    writeRaw(buffer_);
    buffer_.clear();
}

bool TextFileWriter::flush() {
    flushBuffer();
    return file_ && error_.empty();
}

void TextFileWriter::writeRaw(std::string_view bytes) {
    if (!file_ || !error_.empty() || bytes.empty())
        return;
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        fail("Can't write", errno);
        return;
    }
    written_ += static_cast<std::int64_t>(bytes.size());
#if defined(__linux__)
    // Let the disk work while we go on, so the sync before the rename has little left to wait for.
    if (durability_ == Durability::Synced && written_ - synced_ >= kWritebackStep) {
        ::sync_file_range(fileno(file_), synced_, written_ - synced_, SYNC_FILE_RANGE_WRITE);
        synced_ = written_;
    }
#endif
}

void TextFileWriter::fail(const std::string& what, int errnum) {
    if (error_.empty())
        error_ = what + " " + quoted(target_) + ": " + (errnum ? ErrorText(errnum) : "write error");
}

Outcome TextFileWriter::commit() {
    if (!file_)
        return Outcome::failure(error_.empty() ? "Can't write " + quoted(target_) + ": not open" : error_);
    flushBuffer();
    errno = 0;
    if (error_.empty() && std::fflush(file_) != 0)
        fail("Can't write", errno);
#if !defined(_WIN32)
    // A synced file is on disk before it replaces the old one, even across a power cut.
    if (durability_ == Durability::Synced && error_.empty() && ::fsync(fileno(file_)) != 0)
        fail("Can't write", errno);
#endif
    errno = 0;
    const int closed = std::fclose(file_);
    file_ = nullptr;
    if (error_.empty() && closed != 0)
        fail("Can't write", errno);
    if (error_.empty()) {
#if !defined(_WIN32)
        if (folderFd_ >= 0) {
            if (::renameat(folderFd_, tempName_.c_str(), folderFd_, targetName_.c_str()) != 0)
                error_ = "Can't replace " + quoted(target_) + ": " + ErrorText(errno);
            else
                tempName_.clear();
        } else
#endif
        {
            std::error_code ec;
            fs::rename(temp_, target_, ec);
            if (ec)
                error_ = "Can't replace " + quoted(target_) + ": " + ec.message();
            else
                temp_.clear();
        }
    }
    const bool ok = error_.empty();
    discard(); // removes the temporary file when the rename did not take it
    return ok ? Outcome::success() : Outcome::failure(error_);
}

void TextFileWriter::discard() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
#if !defined(_WIN32)
    if (folderFd_ >= 0) {
        if (!tempName_.empty())
            ::unlinkat(folderFd_, tempName_.c_str(), 0);
        ::close(folderFd_);
        folderFd_ = -1;
        tempName_.clear();
        temp_.clear();
    }
#endif
    if (!temp_.empty()) {
        std::error_code ec;
        fs::remove(temp_, ec);
        temp_.clear();
    }
    buffer_.clear();
}

} // namespace gnis
