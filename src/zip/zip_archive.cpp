#include "zip/zip_archive.h"

#include "base/file_system.h"
#include "base/utf8.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
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
constexpr unsigned kMadeOnUnix = 3;

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

// What the end record (or the ZIP64 one) says of the central directory.
struct ZipExtractionClass::Directory {
    std::uint64_t entries = 0;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;
};

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

bool isUnsafeName(const std::string& name, const std::vector<std::string>& parts, const ZipMember& member) {
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
    // A symbolic link could point anywhere; later members would then be written through it.
    return member.link;
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

std::string ZLibVersion() { return zlibVersion(); }

ZipExtractionClass::ZipExtractionClass() : out_(kOutChunk) {}

ZipExtractionClass::~ZipExtractionClass() { CloseZip(); }

Outcome ZipExtractionClass::OpenZip(const std::string& zipPath) {
    CloseZip();
    if (!HasFile(zipPath))
        return Outcome::failure("The file " + zipPath + " doesn't exist");
    archiveFile_ = std::fopen(zipPath.c_str(), "rb");
    if (!archiveFile_)
        return Outcome::failure("The file " + zipPath + " can't be read: " +
                                std::error_code(errno, std::generic_category()).message());
    zipPath_ = zipPath;
    std::error_code ec;
    archiveSize_ = static_cast<std::int64_t>(fs::file_size(zipPath, ec));
    if (ec)
        archiveSize_ = 0;
    endRecordPosition_ = FindEndRecord();
    if (endRecordPosition_ > 0)
        return Outcome::success();
    return Outcome::failure("The file " + zipPath + " is not a Zip file");
}

void ZipExtractionClass::CloseZip() {
    if (archiveFile_) {
        std::fclose(archiveFile_);
        archiveFile_ = nullptr;
    }
    endRecordPosition_ = 0;
}

bool ZipExtractionClass::readAt(std::int64_t position, void* buffer, std::size_t size) const {
    if (position < 0 || position > archiveSize_ || static_cast<std::int64_t>(size) > archiveSize_ - position)
        return false;
    return seekTo(archiveFile_, position) && std::fread(buffer, 1, size, archiveFile_) == size;
}

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

ZipExtractionClass::ReadResult ZipExtractionClass::ReadEndRecord(Directory& directory) const {
    const std::int64_t position = endRecordPosition_;
    unsigned char b[kEndRecordSize];
    if (position == 0 || !readAt(position - 1, b, sizeof b))
        return ReadResult::Damaged;
    if (le16(b + 4) != le16(b + 6)) // this disk, and the directory's
        return ReadResult::Mismatch;
    directory.entries = le16(b + 10);
    directory.size = le32(b + 12);
    directory.offset = le32(b + 16);
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
        directory.entries = le64(z + 32);
        directory.size = le64(z + 40);
        directory.offset = le64(z + 48);
    } else if (directory.offset == 0xFFFFFFFFu) {
        // The true offset would be in a ZIP64 record that is missing. (A count of
        // 65535 is a real count: packers add the ZIP64 record only above it.)
        return ReadResult::Damaged;
    }
    if (directory.offset > static_cast<std::uint64_t>(archiveSize_) ||
        directory.size > static_cast<std::uint64_t>(archiveSize_) - directory.offset ||
        directory.entries > directory.size / kCentralHeaderSize)
        return ReadResult::Damaged;
    return ReadResult::Ok;
}

// The central record at position, which moves on to the next one.
ZipExtractionClass::ReadResult ZipExtractionClass::ReadCentralEntry(std::int64_t& position, ZipMember& member) {
    unsigned char b[kCentralHeaderSize];
    if (!readAt(position, b, sizeof b) || le32(b) != kCentralSignature)
        return ReadResult::Damaged;
    const std::uint16_t versionMadeBy = le16(b + 4);
    ZipMember::Data& d = member.data;
    d.flags = le16(b + 8);
    d.method = le16(b + 10);
    d.crc32 = le32(b + 16);
    d.compressedSize = le32(b + 20);
    member.size = le32(b + 24);
    const std::uint16_t nameLength = le16(b + 28);
    const std::uint16_t extraLength = le16(b + 30);
    const std::uint16_t commentLength = le16(b + 32);
    const std::uint32_t externalAttributes = le32(b + 38);
    d.localHeaderOffset = le32(b + 42);
    // A symbolic link, made on Unix: the file type in the high attribute bits.
    member.link = (versionMadeBy >> 8) == kMadeOnUnix && ((externalAttributes >> 16) & 0170000u) == 0120000u;
    std::string raw(nameLength, '\0');
    if (!readAt(position + static_cast<std::int64_t>(kCentralHeaderSize), raw.data(), raw.size()))
        return ReadResult::Damaged;
    const std::int64_t extraAt = position + static_cast<std::int64_t>(kCentralHeaderSize) + nameLength;
    position += static_cast<std::int64_t>(kCentralHeaderSize) + nameLength + extraLength + commentLength;
    if (position > archiveSize_)
        return ReadResult::Damaged;
    // A value of all ones stands in for one in the ZIP64 extra field (id 1),
    // which holds the 8-byte values in this order, only those that stand in.
    std::uint64_t* const wide[] = {&member.size, &d.compressedSize, &d.localHeaderOffset};
    const bool needsWide = member.size == 0xFFFFFFFFu || d.compressedSize == 0xFFFFFFFFu ||
                           d.localHeaderOffset == 0xFFFFFFFFu;
    if (needsWide) {
        std::vector<unsigned char> extra(extraLength);
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
    if (d.localHeaderOffset > static_cast<std::uint64_t>(archiveSize_) ||
        d.compressedSize > static_cast<std::uint64_t>(archiveSize_))
        return ReadResult::Damaged;
    member.name = DecodeZipName(raw);
    member.folder = !member.name.empty() && (member.name.back() == '/' || member.name.back() == '\\');
    return ReadResult::Ok;
}

ExtractResult ZipExtractionClass::Extract(const std::string& folderPath, const ExtractOptions& options) {
    ExtractResult result;
    auto say = [&options](const std::string& text) {
        if (options.status)
            options.status(text);
    };
    auto refuse = [&result](ZipFailure reason, std::string message) {
        result.failures.push_back({reason, std::move(message)});
        return result;
    };
    say("Extracting Files");
    if (endRecordPosition_ == 0)
        return refuse(ZipFailure::NotOpen, "There is no Zip File Open");
    const fs::path folder(folderPath);
    if (!HasFolder(folder) && !MakeFolder(folder))
        return refuse(ZipFailure::CantMakeFolder, "Can't create the folder " + folderPath);
    Directory directory;
    switch (ReadEndRecord(directory)) {
    case ReadResult::Mismatch:
        return refuse(ZipFailure::Damaged, "The file " + zipPath_ + " is spread over several disks, which can't be read");
    case ReadResult::Damaged:
        return refuse(ZipFailure::Damaged, damaged());
    case ReadResult::Ok:
        break;
    }
    if (std::optional<ZipProblem> refused = CheckLayout(directory)) {
        result.failures.push_back(std::move(*refused));
        return result;
    }
    FolderHandle root;
    root.path = folder;
#if !defined(_WIN32)
    root.reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (root.fd() < 0)
        return refuse(ZipFailure::CantMakeFolder, "Can't create the folder " + folderPath);
#endif
    std::int64_t position = static_cast<std::int64_t>(directory.offset);
    const std::uint64_t total = directory.entries;
    ZipMember member;
    const std::string& name = member.name;
    for (std::uint64_t i = 1; i <= total; ++i) {
        if (ReadCentralEntry(position, member) != ReadResult::Ok)
            return refuse(ZipFailure::Damaged, damaged());
        std::vector<std::string> parts = splitName(name);
        // Opens the folders of a member; false, with the failure listed, when it cannot.
        auto openFolders = [&](const std::vector<std::string>& levels, FolderHandle& opened, ZipFailure failure,
                               const std::string& failureText) {
            switch (MakeFolderPath(root, levels, opened)) {
            case FolderResult::Ok:
                return true;
            case FolderResult::Unsafe:
                result.failures.push_back({ZipFailure::UnsafeName, "The file " + name + " is unsafe"});
                return false;
            case FolderResult::Failed:
                break;
            }
            result.failures.push_back({failure, failureText});
            return false;
        };
        if (parts.empty() || (member.folder && !options.keepFolders)) {
            // Nothing to make: "./", or a folder of an archive unpacked flat.
        } else if (isUnsafeName(name, parts, member)) {
            result.failures.push_back({ZipFailure::UnsafeName, "The file " + name + " is unsafe"});
        } else if (member.folder) {
            // Empty folders are part of what was archived.
            FolderHandle made;
            openFolders(parts, made, ZipFailure::CantMakeFolder, "Can't create the folder " + (folder / name).string());
        } else {
            if (!options.keepFolders)
                parts.erase(parts.begin(), parts.end() - 1);
            fs::path relative;
            for (const auto& p : parts)
                relative /= p;
            const fs::path target = folder / relative;
            const std::vector<std::string> folders(parts.begin(), parts.end() - 1);
            FolderHandle parent;
            if (openFolders(folders, parent, ZipFailure::CantWrite, "Can't write the file " + target.string())) {
                say("Extracting ..." + std::string(1, fs::path::preferred_separator) + relative.string());
                const bool exists = HasFileIn(parent, parts.back());
                if (exists && !options.overwrite) {
                    result.failures.push_back({ZipFailure::Exists, "The file " + target.string() + " already exists"});
                } else {
                    ExtractEntry(member, parent, parts.back(), target, exists, result);
                    if (!result.failures.empty() && result.failures.back().reason == ZipFailure::Damaged)
                        return result; // the structure is broken: no later member can be trusted
                }
            }
        }
        if (options.progress)
            options.progress(static_cast<int>(std::nearbyint(static_cast<double>(i) / static_cast<double>(total) * 100.0)));
    }
    say("Extraction Complete");
    result.complete = true;
    return result;
}

// Before anything is written: members whose data overlap are the trick of a
// zip bomb (one local entry unpacked again and again); and what the central
// directory declares must fit the limits.
std::optional<ZipProblem> ZipExtractionClass::CheckLayout(const Directory& directory) {
    // The check keeps 16 bytes a member, so the count of members is bounded too.
    if (directory.entries > maxMembers_)
        return ZipProblem{ZipFailure::TooLarge, "The file " + zipPath_ + " has " + std::to_string(directory.entries) +
                                                    " members, more than the " + std::to_string(maxMembers_) + " allowed"};
    std::int64_t position = static_cast<std::int64_t>(directory.offset);
    std::vector<std::pair<std::int64_t, std::int64_t>> extents; // local header offset, end of its data at the least
    extents.reserve(static_cast<std::size_t>(directory.entries));
    std::uint64_t declared = 0;
    ZipMember member;
    for (std::uint64_t i = 0; i < directory.entries; ++i) {
        if (ReadCentralEntry(position, member) != ReadResult::Ok)
            return ZipProblem{ZipFailure::Damaged, damaged()};
        const auto offset = static_cast<std::int64_t>(member.data.localHeaderOffset);
        extents.emplace_back(offset, offset + static_cast<std::int64_t>(kLocalHeaderSize + member.data.compressedSize));
        // ZIP64 sizes are 64-bit: a sum that wrapped would pass every limit below.
        declared = member.size > UINT64_MAX - declared ? UINT64_MAX : declared + member.size;
    }
    std::sort(extents.begin(), extents.end());
    for (std::size_t i = 1; i < extents.size(); ++i) {
        if (extents[i].first < extents[i - 1].second)
            return ZipProblem{ZipFailure::Damaged, damaged() + ": its members overlap"};
    }
    if (Outcome fits = WithinLimits(declared); !fits)
        return ZipProblem{ZipFailure::TooLarge, fits.error()};
    return std::nullopt;
}

Outcome ZipExtractionClass::WithinLimits(std::uint64_t declared) const {
    if (declared > maxTotalBytes_)
        return Outcome::failure("The file " + zipPath_ + " would unpack to " + std::to_string(declared) +
                                " bytes, more than the " + std::to_string(maxTotalBytes_) + " allowed");
    const auto size = static_cast<std::uint64_t>(std::max<std::int64_t>(archiveSize_, 1));
    if (maxRatio_ > 0 && declared > kRatioFloor && (declared - 1) / size >= maxRatio_)
        return Outcome::failure("The file " + zipPath_ + " would unpack to " + std::to_string(declared) +
                                " bytes, more than " + std::to_string(maxRatio_) + " times its own " +
                                std::to_string(archiveSize_) + " bytes");
    return Outcome::success();
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
    : zip_(zip), name_(member.name), method_(member.data.method), crc_(member.data.crc32), expected_(member.size),
      runningCrc_(crc32(0L, Z_NULL, 0)) {
    const ZipMember::Data& entry = member.data;
    unsigned char b[kLocalHeaderSize];
    const auto offset = static_cast<std::int64_t>(entry.localHeaderOffset);
    if (!zip.readAt(offset, b, sizeof b) || le32(b) != kLocalSignature) {
        fail(Status::Damaged, ZipFailure::Damaged, "");
        return;
    }
    const std::uint16_t nameLength = le16(b + 26);
    const std::uint16_t extraLength = le16(b + 28);
    std::string localRaw(nameLength, '\0');
    if (!zip.readAt(offset + static_cast<std::int64_t>(kLocalHeaderSize), localRaw.data(), localRaw.size())) {
        fail(Status::Damaged, ZipFailure::Damaged, "");
        return;
    }
    const std::string localName = DecodeZipName(localRaw);
    // Sizes and CRC-32 come from the central record: a streaming writer leaves
    // them zero in the local header and puts them in a data descriptor.
    position_ = offset + static_cast<std::int64_t>(kLocalHeaderSize) + nameLength + extraLength;
    remaining_ = static_cast<std::int64_t>(entry.compressedSize);
    if (position_ > zip.archiveSize_ || remaining_ > zip.archiveSize_ - position_) {
        fail(Status::Damaged, ZipFailure::Damaged, "");
        return;
    }
    if (entry.flags & kFlagEncrypted) {
        fail(Status::MemberError, ZipFailure::Encrypted, "The file " + localName + " is encrypted");
        return;
    }
    if (method_ != 0 && method_ != 8) {
        fail(Status::MemberError, ZipFailure::Method, "The compression Method for " + localName + " is unsupported");
        return;
    }
    if (method_ == 0 && entry.compressedSize != member.size) {
        fail(Status::MemberError, ZipFailure::Checksum, "Data checksum error in " + name_);
        return;
    }
    if (method_ == 8) {
        inflater_ = std::make_unique<Inflater>();
        inflater_->ready = inflateInit2(&inflater_->z, -MAX_WBITS) == Z_OK;
        if (!inflater_->ready)
            fail(Status::MemberError, ZipFailure::Checksum, "Data checksum error in " + name_);
    }
}

ZipMemberReader::~ZipMemberReader() = default;

std::ptrdiff_t ZipMemberReader::fail(Status status, ZipFailure reason, std::string text) {
    if (status_ == Status::Ok) {
        status_ = status;
        failure_ = reason;
        error_ = status == Status::Damaged ? zip_.damaged() : std::move(text);
    }
    return -1;
}

// The end of the data: the member is good only when it has its declared size and CRC-32.
std::ptrdiff_t ZipMemberReader::finish() {
    if (produced_ != expected_ || runningCrc_ != crc_)
        return fail(Status::MemberError, ZipFailure::Checksum, "Data checksum error in " + name_);
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
            return fail(Status::Damaged, ZipFailure::Damaged, "");
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
                    return fail(Status::Damaged, ZipFailure::Damaged, "");
                position_ += static_cast<std::int64_t>(n);
                remaining_ -= static_cast<std::int64_t>(n);
                z.next_in = inflater_->in.data();
                z.avail_in = static_cast<uInt>(n);
            }
            rc = inflate(&z, Z_NO_FLUSH);
            if ((rc == Z_BUF_ERROR && z.avail_in == 0 && remaining_ == 0) ||
                (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR))
                return fail(Status::MemberError, ZipFailure::Checksum, "Data checksum error in " + name_);
        }
        inflater_->ended = rc == Z_STREAM_END;
        got = room - z.avail_out;
        if (got == 0) // the stream ended with nothing more
            return finish();
    }
    produced_ += got;
    if (produced_ > expected_) // more than declared: stop at once, whatever follows
        return fail(Status::MemberError, ZipFailure::Checksum, "Data checksum error in " + name_);
    runningCrc_ = crc32_z(runningCrc_, out, got);
    return static_cast<std::ptrdiff_t>(got);
}

Outcome ZipExtractionClass::ForEachMember(const std::function<bool(const ZipMember&)>& visit) {
    if (endRecordPosition_ == 0)
        return Outcome::failure("There is no Zip File Open");
    Directory directory;
    if (ReadEndRecord(directory) != ReadResult::Ok)
        return Outcome::failure(damaged()); // an archive spread over several disks cannot be read either
    std::int64_t position = static_cast<std::int64_t>(directory.offset);
    ZipMember member;
    for (std::uint64_t i = 0; i < directory.entries; ++i) {
        if (ReadCentralEntry(position, member) != ReadResult::Ok)
            return Outcome::failure(damaged());
        if (!visit(member))
            break;
    }
    return Outcome::success();
}

std::unique_ptr<ZipMemberReader> ZipExtractionClass::OpenMember(const ZipMember& member) {
    return std::unique_ptr<ZipMemberReader>(new ZipMemberReader(*this, member));
}

// Writes one member to target through a temporary file. A failure of this
// member alone is listed and the walk goes on; a Damaged one ends the walk.
void ZipExtractionClass::ExtractEntry(const ZipMember& member, const FolderHandle& folder, const std::string& name,
                                      const fs::path& target, bool replacing, ExtractResult& result) {
    ZipMemberReader reader(*this, member);
    const std::string targetText = target.string();
    auto fail = [&](ZipFailure reason, std::string message) { result.failures.push_back({reason, std::move(message)}); };
    auto readerFailed = [&] {
        // A checksum error names the file the user would have got.
        fail(reader.failure(), reader.failure() == ZipFailure::Checksum ? "Data checksum error in " + targetText
                                                                        : reader.error());
    };
    if (reader.status() != ZipMemberReader::Status::Ok)
        return readerFailed();
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
    if (!opened)
        return fail(ZipFailure::CantWrite, "Can't write the file " + targetText);
    for (;;) {
        const std::ptrdiff_t n = reader.read(reinterpret_cast<char*>(out_.data()), out_.size());
        if (n < 0)
            return readerFailed();
        if (n == 0)
            break;
        part.write(std::string_view(reinterpret_cast<const char*>(out_.data()), static_cast<std::size_t>(n)));
    }
    if (!part.flush())
        return fail(ZipFailure::CantWrite, "Can't write the file " + targetText);
    if (!part.commit())
        fail(replacing ? ZipFailure::CantRemove : ZipFailure::CantWrite,
             (replacing ? "Can't remove the file " : "Can't write the file ") + targetText);
}

} // namespace gnis
