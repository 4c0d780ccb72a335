#include "zip/zip_archive.h"

#include "base/file_system.h"
#include "base/utf8.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <system_error>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace gnis {
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kEndSignature = 0x06054B50;
constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr std::uint32_t kZip64EndSignature = 0x06064B50;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kInChunk = 64 * 1024;
constexpr std::size_t kOutChunk = 256 * 1024;
constexpr std::size_t kSearchBlock = 64 * 1024;

constexpr std::uint16_t kFlagEncrypted = 0x0001;

std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t le64(const unsigned char* p) { return le32(p) | (static_cast<std::uint64_t>(le32(p + 4)) << 32); }

// Code page 437, bytes 0x80..0xFF: what old zip tools wrote names in.
constexpr std::array<char16_t, 128> kCp437High{
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

bool seekTo(std::FILE* f, std::int64_t position) {
#if defined(_WIN32)
    return _fseeki64(f, position, SEEK_SET) == 0;
#else
    return fseeko(f, static_cast<off_t>(position), SEEK_SET) == 0;
#endif
}

// A plain file; folders do not count.
bool HasFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

// A plain folder, or a plain file, of that path.
bool HasFolder(const fs::path& path) {
    std::error_code ec;
    const auto st = fs::status(path, ec);
    return !ec && (fs::is_directory(st) || fs::is_regular_file(st));
}

bool MakeFolder(const fs::path& path) {
    std::error_code ec;
    return fs::create_directory(path, ec) && !ec;
}

} // namespace

// An opened folder of the target tree. On POSIX systems members are written
// relative to it, and every level below the target folder is opened with
// O_NOFOLLOW: a link swapped in for a folder while the walk goes on cannot
// carry a write outside. Elsewhere it is the folder's path.
class ZipExtractionClass::FolderHandle {
public:
    FolderHandle() = default;
    ~FolderHandle() { reset(); }
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;
    void reset(int fd = -1) {
#if !defined(_WIN32)
        if (fd_ >= 0)
            ::close(fd_);
#endif
        fd_ = fd;
    }
    int fd() const { return fd_; }
    fs::path path;

private:
    int fd_ = -1;
};

namespace {

// Splits a member name at "/" and "\" (archives made on Windows use either);
// empty and "." parts say nothing and are dropped.
std::vector<std::string> splitName(const std::string& name) {
    std::vector<std::string> parts;
    std::string part;
    for (const char c : name) {
        if (c == '/' || c == '\\') {
            if (!part.empty() && part != ".")
                parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty() && part != ".")
        parts.push_back(part);
    return parts;
}

bool isUnsafeName(const std::string& name, const std::vector<std::string>& parts, const CentralFileHeader& entry) {
    if (parts.empty() || name.find('\0') != std::string::npos)
        return true;
    if (name.front() == '/' || name.front() == '\\')
        return true; // absolute
    if (name.size() >= 2 && name[1] == ':' &&
        ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
        return true; // drive letter
    for (const auto& p : parts) {
        if (p == "..")
            return true;
    }
    // A symbolic link member (made on Unix, file type in the high attribute bits)
    // could point anywhere; later members would then be written through it.
    constexpr unsigned kUnix = 3;
    const unsigned fileType = (entry.externalAttributes >> 16) & 0170000u;
    return (entry.versionMadeBy >> 8) == kUnix && fileType == 0120000u;
}

} // namespace

std::string DecodeZipName(const std::string& raw) {
    if (IsValidUtf8(raw))
        return raw;
    std::string out;
    for (const char ch : raw) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80)
            out += ch;
        else
            AppendUtf8(out, kCp437High[c - 0x80]);
    }
    return out;
}

ZipExtractionClass::ZipExtractionClass(ZipListener& listener)
    : listener_(listener), zlibVersion_(&::zlibVersion), out_(kOutChunk) {}

ZipExtractionClass::~ZipExtractionClass() { CloseZip(); }

std::string ZipExtractionClass::ZLibVersion() {
    const char* version = zlibVersion_ ? zlibVersion_() : nullptr;
    if (!version) {
        error(kZipErrZlibMissing, "Zlib is not installed");
        return {};
    }
    return version;
}

bool ZipExtractionClass::OpenZip(const std::string& zipPath) {
    status("Opening Zip");
    CloseZip();
    if (!HasFile(zipPath)) {
        error(kZipErrNoFile, "The file " + zipPath + " doesn't exist");
        return false;
    }
    archiveFile_ = std::fopen(zipPath.c_str(), "rb");
    if (!archiveFile_) {
        error(kZipErrNoFile, "The file " + zipPath + " can't be read: " +
                                 std::error_code(errno, std::generic_category()).message());
        return false;
    }
    zipPath_ = zipPath;
    std::error_code ec;
    archiveSize_ = static_cast<std::int64_t>(fs::file_size(zipPath, ec));
    if (ec)
        archiveSize_ = 0;
    endRecordPosition_ = FindEndRecord();
    if (endRecordPosition_ > 0) {
        status("Zip Opened");
        return true;
    }
    error(kZipErrNotZip, "The file " + zipPath + " is not a Zip file");
    return false;
}

void ZipExtractionClass::CloseZip() {
    if (archiveFile_) {
        std::fclose(archiveFile_);
        archiveFile_ = nullptr;
        status("Zip Closed");
    }
    endRecordPosition_ = 0;
}

bool ZipExtractionClass::readAt(std::int64_t position, void* buffer, std::size_t size) {
    if (position < 0 || position > archiveSize_ || static_cast<std::int64_t>(size) > archiveSize_ - position)
        return false;
    return seekTo(archiveFile_, position) && std::fread(buffer, 1, size, archiveFile_) == size;
}

void ZipExtractionClass::damaged() { error(kZipErrDamaged, "The file " + zipPath_ + " is damaged"); }

// The first end-record signature counted from the end of the file, found by
// reading backwards in blocks; each block overlaps the next by three bytes so a
// signature across a block boundary is seen.
std::int64_t ZipExtractionClass::FindEndRecord() {
    std::vector<unsigned char> block(kSearchBlock);
    std::int64_t high = archiveSize_;
    while (high >= 4) {
        const std::int64_t low = high > static_cast<std::int64_t>(kSearchBlock) ? high - static_cast<std::int64_t>(kSearchBlock) : 0;
        const auto length = static_cast<std::size_t>(high - low);
        if (!readAt(low, block.data(), length))
            return 0;
        for (std::size_t i = length - 4 + 1; i-- > 0;) {
            if (le32(&block[i]) == kEndSignature)
                return low + static_cast<std::int64_t>(i) + 1;
        }
        if (low == 0)
            break;
        high = low + 3;
    }
    return 0;
}

ZipExtractionClass::ReadResult ZipExtractionClass::ReadEndRecord(std::int64_t position) {
    unsigned char b[kEndRecordSize];
    if (!readAt(position - 1, b, sizeof b))
        return ReadResult::Damaged;
    endRecord_.signature = le32(b);
    endRecord_.thisDisk = le16(b + 4);
    endRecord_.centralDirDisk = le16(b + 6);
    endRecord_.entriesOnDisk = le16(b + 8);
    endRecord_.totalEntries = le16(b + 10);
    endRecord_.centralDirSize = le32(b + 12);
    endRecord_.centralDirOffset = le32(b + 16);
    endRecord_.commentLength = le16(b + 20);
    if (endRecord_.thisDisk != endRecord_.centralDirDisk)
        return ReadResult::Mismatch;
    // A ZIP64 archive (4 GiB and more, 65535 entries and more, or a packer that
    // writes the records anyway) keeps the true counts in its ZIP64 end record,
    // which a locator right before the end record points to.
    unsigned char locator[kZip64LocatorSize];
    const std::int64_t locatorAt = position - 1 - static_cast<std::int64_t>(kZip64LocatorSize);
    if (locatorAt >= 0 && readAt(locatorAt, locator, sizeof locator) && le32(locator) == kZip64LocatorSignature) {
        const std::uint64_t at = le64(locator + 8);
        unsigned char z[kZip64EndSize];
        if (at > static_cast<std::uint64_t>(locatorAt) || !readAt(static_cast<std::int64_t>(at), z, sizeof z) ||
            le32(z) != kZip64EndSignature)
            return ReadResult::Damaged;
        if (le32(z + 16) != le32(z + 20))
            return ReadResult::Mismatch; // spread over several disks
        endRecord_.totalEntries = le64(z + 32);
        endRecord_.centralDirSize = le64(z + 40);
        endRecord_.centralDirOffset = le64(z + 48);
    } else if (endRecord_.centralDirOffset == 0xFFFFFFFFu) {
        // The true offset would be in a ZIP64 record that is missing. (A count of
        // 65535 is a real count: packers add the ZIP64 record only above it.)
        return ReadResult::Damaged;
    }
    if (endRecord_.centralDirOffset > static_cast<std::uint64_t>(archiveSize_) ||
        endRecord_.centralDirSize > static_cast<std::uint64_t>(archiveSize_) - endRecord_.centralDirOffset ||
        endRecord_.totalEntries > endRecord_.centralDirSize / kCentralHeaderSize)
        return ReadResult::Damaged;
    return ReadResult::Ok;
}

ZipExtractionClass::ReadResult ZipExtractionClass::ReadCentralEntry(std::string& name) {
    unsigned char b[kCentralHeaderSize];
    if (!readAt(readPosition_, b, sizeof b))
        return ReadResult::Damaged;
    CentralFileHeader& e = currentEntry_;
    e.signature = le32(b);
    if (e.signature != kCentralSignature)
        return ReadResult::Damaged;
    e.versionMadeBy = le16(b + 4);
    e.versionNeeded = le16(b + 6);
    e.flags = le16(b + 8);
    e.method = le16(b + 10);
    e.modTime = le16(b + 12);
    e.modDate = le16(b + 14);
    e.crc32 = le32(b + 16);
    e.compressedSize = le32(b + 20);
    e.uncompressedSize = le32(b + 24);
    e.nameLength = le16(b + 28);
    e.extraLength = le16(b + 30);
    e.commentLength = le16(b + 32);
    e.diskStart = le16(b + 34);
    e.internalAttributes = le16(b + 36);
    e.externalAttributes = le32(b + 38);
    e.localHeaderOffset = le32(b + 42);
    std::string raw(e.nameLength, '\0');
    if (!readAt(readPosition_ + static_cast<std::int64_t>(kCentralHeaderSize), raw.data(), raw.size()))
        return ReadResult::Damaged;
    const std::int64_t extraAt = readPosition_ + static_cast<std::int64_t>(kCentralHeaderSize) + e.nameLength;
    readPosition_ += static_cast<std::int64_t>(kCentralHeaderSize) + e.nameLength + e.extraLength + e.commentLength;
    if (readPosition_ > archiveSize_)
        return ReadResult::Damaged;
    // A value of all ones stands in for one in the ZIP64 extra field (id 1),
    // which holds the 8-byte values in this order, only those that stand in.
    std::uint64_t* const wide[] = {&e.uncompressedSize, &e.compressedSize, &e.localHeaderOffset};
    const bool needsWide = e.uncompressedSize == 0xFFFFFFFFu || e.compressedSize == 0xFFFFFFFFu ||
                           e.localHeaderOffset == 0xFFFFFFFFu;
    if (needsWide) {
        std::vector<unsigned char> extra(e.extraLength);
        if (!readAt(extraAt, extra.data(), extra.size()))
            return ReadResult::Damaged;
        bool found = false;
        for (std::size_t at = 0; at + 4 <= extra.size() && !found;) {
            const std::uint16_t id = le16(&extra[at]);
            const std::size_t size = le16(&extra[at + 2]);
            if (at + 4 + size > extra.size())
                break;
            if (id == 0x0001) {
                found = true;
                std::size_t next = at + 4;
                for (std::uint64_t* value : wide) {
                    if (*value != 0xFFFFFFFFu)
                        continue;
                    if (next + 8 > at + 4 + size)
                        return ReadResult::Damaged;
                    *value = le64(&extra[next]);
                    next += 8;
                }
            }
            at += 4 + size;
        }
        if (!found)
            return ReadResult::Damaged;
    }
    if (e.localHeaderOffset > static_cast<std::uint64_t>(archiveSize_) ||
        e.compressedSize > static_cast<std::uint64_t>(archiveSize_))
        return ReadResult::Damaged;
    name = DecodeZipName(raw);
    return ReadResult::Ok;
}

bool ZipExtractionClass::Extract(const std::string& folderPath, bool preservePath, bool overwrite) {
    if (ZLibVersion().empty())
        return false;
    status("Extracting Files");
    if (endRecordPosition_ == 0) {
        error(kZipErrNotOpen, "There is no Zip File Open");
        return false;
    }
    const fs::path folder(folderPath);
    if (!HasFolder(folder) && !MakeFolder(folder)) {
        error(kZipErrCantMakeFolder, "Can't create the folder " + folderPath);
        return false;
    }
    switch (ReadEndRecord(endRecordPosition_)) {
    case ReadResult::Mismatch:
        status("Extraction Complete");
        return false;
    case ReadResult::Damaged:
        damaged();
        return false;
    case ReadResult::Ok:
        break;
    }
    if (!CheckLayout())
        return false;
    FolderHandle root;
    root.path = folder;
#if !defined(_WIN32)
    root.reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (root.fd() < 0) {
        error(kZipErrCantMakeFolder, "Can't create the folder " + folderPath);
        return false;
    }
#endif
    readPosition_ = static_cast<std::int64_t>(endRecord_.centralDirOffset);
    const std::uint64_t total = endRecord_.totalEntries;
    ZipMember member;
    const std::string& name = member.name;
    bool cancel = false;
    for (std::uint64_t i = 1; i <= total; ++i) {
        if (ReadCentralEntry(member.name) != ReadResult::Ok) {
            damaged();
            return false;
        }
        member.header = currentEntry_;
        member.size = currentEntry_.uncompressedSize;
        std::vector<std::string> parts = splitName(name);
        const bool folderEntry = !name.empty() && (name.back() == '/' || name.back() == '\\');
        // Opens the folders of a member; false, with the error raised, when it cannot.
        auto openFolders = [&](const std::vector<std::string>& levels, FolderHandle& opened, int failure,
                               const std::string& failureText) {
            switch (MakeFolderPath(root, levels, opened)) {
            case FolderResult::Ok:
                return true;
            case FolderResult::Unsafe:
                error(kZipErrUnsafeName, "The file " + name + " is unsafe");
                return false;
            case FolderResult::Failed:
                break;
            }
            error(failure, failureText);
            return false;
        };
        if (parts.empty() || (folderEntry && !preservePath)) {
            // Nothing to make: "./", or a folder of an archive unpacked flat.
        } else if (isUnsafeName(name, parts, currentEntry_)) {
            error(kZipErrUnsafeName, "The file " + name + " is unsafe");
        } else if (folderEntry) {
            // Empty folders are part of what was archived.
            FolderHandle made;
            openFolders(parts, made, kZipErrCantMakeFolder, "Can't create the folder " + (folder / name).string());
        } else {
            if (!preservePath)
                parts.erase(parts.begin(), parts.end() - 1);
            fs::path relative;
            for (const auto& p : parts)
                relative /= p;
            const fs::path target = folder / relative;
            const std::vector<std::string> folders(parts.begin(), parts.end() - 1);
            FolderHandle parent;
            if (openFolders(folders, parent, kZipErrCantWrite, "Can't write the file " + target.string())) {
                status("Extracting ..." + std::string(1, fs::path::preferred_separator) + relative.string());
                const bool exists = HasFileIn(parent, parts.back());
                if (exists && !overwrite) {
                    error(kZipErrExists, "The file " + target.string() + " already exists");
                } else if (!ExtractEntry(member, parent, parts.back(), target, exists)) {
                    damaged();
                    return false;
                }
            }
        }
        listener_.onYield();
        const int percent = static_cast<int>(std::nearbyint(static_cast<double>(i) / static_cast<double>(total) * 100.0));
        listener_.onProgress(percent, cancel);
        if (cancel)
            return false;
    }
    status("Extraction Complete");
    return true;
}

// Before anything is written: members whose data overlap are the trick of a
// zip bomb (one local entry unpacked again and again); and what the central
// directory declares must fit the limit on the total.
bool ZipExtractionClass::CheckLayout() {
    // The check keeps 16 bytes a member, so the count of members is bounded too.
    if (endRecord_.totalEntries > maxMembers_) {
        error(kZipErrTooLarge, "The file " + zipPath_ + " has " + std::to_string(endRecord_.totalEntries) +
                                   " members, more than the " + std::to_string(maxMembers_) + " allowed");
        return false;
    }
    readPosition_ = static_cast<std::int64_t>(endRecord_.centralDirOffset);
    std::vector<std::pair<std::int64_t, std::int64_t>> extents; // local header offset, end of its data at the least
    extents.reserve(static_cast<std::size_t>(endRecord_.totalEntries));
    std::uint64_t declared = 0;
    std::string name;
    for (std::uint64_t i = 0; i < endRecord_.totalEntries; ++i) {
        if (ReadCentralEntry(name) != ReadResult::Ok) {
            damaged();
            return false;
        }
        const auto offset = static_cast<std::int64_t>(currentEntry_.localHeaderOffset);
        extents.emplace_back(offset, offset + static_cast<std::int64_t>(kLocalHeaderSize + currentEntry_.compressedSize));
        // ZIP64 sizes are 64-bit: a sum that wrapped would pass every limit below.
        declared = currentEntry_.uncompressedSize > UINT64_MAX - declared ? UINT64_MAX
                                                                          : declared + currentEntry_.uncompressedSize;
    }
    std::sort(extents.begin(), extents.end());
    for (std::size_t i = 1; i < extents.size(); ++i) {
        if (extents[i].first < extents[i - 1].second) {
            error(kZipErrDamaged, "The file " + zipPath_ + " is damaged: its members overlap");
            return false;
        }
    }
    return WithinLimits(declared);
}

bool ZipExtractionClass::WithinLimits(std::uint64_t declared) {
    if (declared > maxTotalBytes_) {
        error(kZipErrTooLarge, "The file " + zipPath_ + " would unpack to " + std::to_string(declared) +
                                   " bytes, more than the " + std::to_string(maxTotalBytes_) + " allowed");
        return false;
    }
    const auto size = static_cast<std::uint64_t>(std::max<std::int64_t>(archiveSize_, 1));
    if (maxRatio_ > 0 && declared > kRatioFloor && (declared - 1) / size >= maxRatio_) {
        error(kZipErrTooLarge, "The file " + zipPath_ + " would unpack to " + std::to_string(declared) +
                                   " bytes, more than " + std::to_string(maxRatio_) + " times its own " +
                                   std::to_string(archiveSize_) + " bytes");
        return false;
    }
    return true;
}

ZipExtractionClass::FolderResult ZipExtractionClass::MakeFolderPath(const FolderHandle& root,
                                                                    const std::vector<std::string>& parts,
                                                                    FolderHandle& opened) {
    opened.path = root.path;
    for (const auto& part : parts)
        opened.path /= part;
#if !defined(_WIN32)
    int fd = ::fcntl(root.fd(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return FolderResult::Failed;
    for (const auto& part : parts) {
        int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && (::mkdirat(fd, part.c_str(), 0777) == 0 || errno == EEXIST))
            next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            // A link lying in the target folder must not carry a write outside it.
            struct stat st {};
            const bool link = ::fstatat(fd, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
            ::close(fd);
            return link ? FolderResult::Unsafe : FolderResult::Failed;
        }
        ::close(fd);
        fd = next;
    }
    opened.reset(fd);
#else
    fs::path current = root.path;
    for (const auto& part : parts) {
        current /= part;
        std::error_code ec;
        const auto st = fs::symlink_status(current, ec);
        // A link lying in the target folder must not carry a write outside it.
        if (fs::is_symlink(st))
            return FolderResult::Unsafe;
        if (fs::is_directory(st))
            continue;
        if (fs::exists(st) || !MakeFolder(current))
            return FolderResult::Failed;
    }
#endif
    return FolderResult::Ok;
}

// A file of that name in the folder, or a link, which is the user's as much as a
// file is (it is replaced, never written through); a folder does not count.
bool ZipExtractionClass::HasFileIn(const FolderHandle& folder, const std::string& name) {
#if !defined(_WIN32)
    struct stat st {};
    return ::fstatat(folder.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode));
#else
    return HasFile(folder.path / name);
#endif
}

struct ZipMemberReader::Inflater {
    z_stream z{};
    bool ready = false;
    bool ended = false; // the deflate stream said it was complete
    std::vector<unsigned char> in = std::vector<unsigned char>(kInChunk);
    ~Inflater() {
        if (ready)
            inflateEnd(&z);
    }
};

ZipMemberReader::ZipMemberReader(ZipExtractionClass& zip, const ZipMember& member)
    : zip_(zip), name_(member.name), method_(member.header.method), crc_(member.header.crc32),
      expected_(member.header.uncompressedSize), runningCrc_(crc32(0L, Z_NULL, 0)) {
    const CentralFileHeader& entry = member.header;
    unsigned char b[kLocalHeaderSize];
    const auto offset = static_cast<std::int64_t>(entry.localHeaderOffset);
    if (!zip.readAt(offset, b, sizeof b) || le32(b) != kLocalSignature) {
        fail(Status::Damaged, kZipErrDamaged, "");
        return;
    }
    const std::uint16_t nameLength = le16(b + 26);
    const std::uint16_t extraLength = le16(b + 28);
    std::string localRaw(nameLength, '\0');
    if (!zip.readAt(offset + static_cast<std::int64_t>(kLocalHeaderSize), localRaw.data(), localRaw.size())) {
        fail(Status::Damaged, kZipErrDamaged, "");
        return;
    }
    const std::string localName = DecodeZipName(localRaw);
    // Sizes and CRC-32 come from the central record: a streaming writer leaves
    // them zero in the local header and puts them in a data descriptor.
    position_ = offset + static_cast<std::int64_t>(kLocalHeaderSize) + nameLength + extraLength;
    remaining_ = static_cast<std::int64_t>(entry.compressedSize);
    if (position_ > zip.archiveSize_ || remaining_ > zip.archiveSize_ - position_) {
        fail(Status::Damaged, kZipErrDamaged, "");
        return;
    }
    if (entry.flags & kFlagEncrypted) {
        fail(Status::MemberError, kZipErrEncrypted, "The file " + localName + " is encrypted");
        return;
    }
    if (method_ != 0 && method_ != 8) {
        fail(Status::MemberError, kZipErrMethod, "The compression Method for " + localName + " is unsupported");
        return;
    }
    if (method_ == 0 && entry.compressedSize != entry.uncompressedSize) {
        fail(Status::MemberError, kZipErrChecksum, "Data checksum error in " + name_);
        return;
    }
    if (method_ == 8) {
        inflater_ = std::make_unique<Inflater>();
        inflater_->ready = inflateInit2(&inflater_->z, -MAX_WBITS) == Z_OK;
        if (!inflater_->ready)
            fail(Status::MemberError, kZipErrChecksum, "Data checksum error in " + name_);
    }
}

ZipMemberReader::~ZipMemberReader() = default;

std::ptrdiff_t ZipMemberReader::fail(Status status, int number, std::string text) {
    if (status_ == Status::Ok) {
        status_ = status;
        errorNumber_ = number;
        error_ = status == Status::Damaged ? "The file " + zip_.zipPath_ + " is damaged" : std::move(text);
    }
    return -1;
}

// The end of the data: the member is good only when it has its declared size and CRC-32.
std::ptrdiff_t ZipMemberReader::finish() {
    if (produced_ != expected_ || runningCrc_ != crc_)
        return fail(Status::MemberError, kZipErrChecksum, "Data checksum error in " + name_);
    ended_ = true;
    return 0;
}

std::ptrdiff_t ZipMemberReader::read(char* buffer, std::size_t size) {
    if (status_ != Status::Ok)
        return -1;
    if (ended_ || size == 0)
        return 0;
    auto* out = reinterpret_cast<unsigned char*>(buffer);
    std::size_t got = 0;
    if (method_ == 0) {
        if (remaining_ == 0)
            return finish();
        got = static_cast<std::size_t>(std::min<std::int64_t>(remaining_, static_cast<std::int64_t>(size)));
        if (!zip_.readAt(position_, out, got))
            return fail(Status::Damaged, kZipErrDamaged, "");
        position_ += static_cast<std::int64_t>(got);
        remaining_ -= static_cast<std::int64_t>(got);
    } else {
        if (inflater_->ended)
            return finish();
        z_stream& z = inflater_->z;
        z.next_out = out;
        z.avail_out = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        const uInt room = z.avail_out;
        int rc = Z_OK;
        // Loop until some bytes come out: a chunk of input may yield none.
        while (z.avail_out == room && rc != Z_STREAM_END) {
            // With all input taken, zlib may still owe output (the rest of a
            // match); only when it can make no progress is the data cut off.
            if (z.avail_in == 0 && remaining_ > 0) {
                const auto n = static_cast<std::size_t>(
                    std::min<std::int64_t>(remaining_, static_cast<std::int64_t>(inflater_->in.size())));
                if (!zip_.readAt(position_, inflater_->in.data(), n))
                    return fail(Status::Damaged, kZipErrDamaged, "");
                position_ += static_cast<std::int64_t>(n);
                remaining_ -= static_cast<std::int64_t>(n);
                z.next_in = inflater_->in.data();
                z.avail_in = static_cast<uInt>(n);
            }
            rc = inflate(&z, Z_NO_FLUSH);
            if ((rc == Z_BUF_ERROR && z.avail_in == 0 && remaining_ == 0) ||
                (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR))
                return fail(Status::MemberError, kZipErrChecksum, "Data checksum error in " + name_);
        }
        inflater_->ended = rc == Z_STREAM_END;
        got = room - z.avail_out;
        if (got == 0) // the stream ended with nothing more
            return finish();
    }
    produced_ += got;
    if (produced_ > expected_) // more than declared: stop at once, whatever follows
        return fail(Status::MemberError, kZipErrChecksum, "Data checksum error in " + name_);
    runningCrc_ = crc32_z(runningCrc_, out, got);
    return static_cast<std::ptrdiff_t>(got);
}

bool ZipExtractionClass::ForEachMember(const std::function<bool(const ZipMember&)>& visit) {
    if (endRecordPosition_ == 0) {
        error(kZipErrNotOpen, "There is no Zip File Open");
        return false;
    }
    if (ReadEndRecord(endRecordPosition_) != ReadResult::Ok) {
        damaged(); // an archive spread over several disks cannot be read either
        return false;
    }
    readPosition_ = static_cast<std::int64_t>(endRecord_.centralDirOffset);
    ZipMember member;
    for (std::uint64_t i = 0; i < endRecord_.totalEntries; ++i) {
        if (ReadCentralEntry(member.name) != ReadResult::Ok) {
            damaged();
            return false;
        }
        member.header = currentEntry_;
        member.size = currentEntry_.uncompressedSize;
        if (!visit(member))
            break;
    }
    return true;
}

std::unique_ptr<ZipMemberReader> ZipExtractionClass::OpenMember(const ZipMember& member) {
    return std::unique_ptr<ZipMemberReader>(new ZipMemberReader(*this, member));
}

// Writes one member to target through a temporary file. Problems of this
// member alone are raised as errors and the walk goes on; false means the
// archive's structure is damaged and the walk must stop.
bool ZipExtractionClass::ExtractEntry(const ZipMember& member, const FolderHandle& folder, const std::string& name,
                                      const fs::path& target, bool replacing) {
    ZipMemberReader reader(*this, member);
    const std::string targetText = target.string();
    auto raise = [&] {
        if (reader.status() == ZipMemberReader::Status::Damaged)
            return false;
        // A checksum error names the file the user would have got.
        error(reader.errorNumber(), reader.errorNumber() == kZipErrChecksum ? "Data checksum error in " + targetText
                                                                          : reader.error());
        return true;
    };
    if (reader.status() != ZipMemberReader::Status::Ok)
        return raise();
    // Written beside the target and renamed into place only once verified; a
    // member given up on leaves no file. It can be had again from the archive,
    // so it is not worth a disk sync.
    TextFileWriter part;
#if !defined(_WIN32)
    const Outcome opened = part.openIn(folder.fd(), name, target, TextFileWriter::Durability::Replaced);
#else
    (void)name;
    const Outcome opened = part.open(folder.path / name, TextFileWriter::Durability::Replaced);
#endif
    if (!opened) {
        error(kZipErrCantWrite, "Can't write the file " + targetText);
        return true;
    }
    auto lastYield = std::chrono::steady_clock::now();
    for (;;) {
        const std::ptrdiff_t n = reader.read(reinterpret_cast<char*>(out_.data()), out_.size());
        if (n < 0)
            return raise();
        if (n == 0)
            break;
        part.write(std::string_view(reinterpret_cast<const char*>(out_.data()), static_cast<std::size_t>(n)));
        const auto now = std::chrono::steady_clock::now();
        if (now - lastYield >= std::chrono::milliseconds(50)) {
            lastYield = now;
            listener_.onMemberProgress(reader.produced(), reader.size());
            listener_.onYield();
        }
    }
    if (!part.flush()) {
        error(kZipErrCantWrite, "Can't write the file " + targetText);
        return true;
    }
    if (!part.commit()) {
        if (replacing)
            error(kZipErrCantRemove, "Can't remove the file " + targetText);
        else
            error(kZipErrCantWrite, "Can't write the file " + targetText);
    }
    return true;
}

} // namespace gnis
