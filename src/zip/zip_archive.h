#pragma once

// Reads zip archives: lists their members, streams one, or writes them all into
// a folder. Plain C++ and zlib. Failures come back as values; progress, where
// someone listens, through a callback.

#include "base/outcome.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace gnis {

// zlib's version text.
std::string ZLibVersion();

// Why a member, or the whole archive, could not be read or written. The
// numbers are the ones gnis-convert prints ("error 11: ...").
enum class ZipFailure {
    NotZip = 2,
    NotOpen = 3,
    Method = 4,
    Checksum = 5,
    UnsafeName = 6,
    Damaged = 7,
    Encrypted = 8,
    CantWrite = 9,
    NoFile = 10,
    Exists = 11,
    CantRemove = 12,
    CantMakeFolder = 13,
    TooLarge = 14,
};

// One failure: its reason and a message that names the file.
struct ZipProblem {
    ZipFailure reason;
    std::string message;
};

// One entry of the central directory.
struct ZipMember {
    std::string name;        // decoded, as stored (folders included)
    std::uint64_t size = 0;  // uncompressed, as the central directory declares it
    bool folder = false;     // a folder entry ("dir/")
    bool link = false;       // a symbolic link made on Unix: its data is a path, never a file's content
    // Where and how its data lies, for the reader's own use.
    struct Data {
        std::uint16_t method = 0;
        std::uint16_t flags = 0;
        std::uint32_t crc32 = 0;
        std::uint64_t compressedSize = 0;
        std::uint64_t localHeaderOffset = 0;
    } data;
};

struct ExtractOptions {
    bool keepFolders = true; // false: every file straight into the folder
    bool overwrite = true;   // false: a file that exists stays, and that member fails
    // After each entry: how far the walk has come, 0 to 100.
    std::function<void(int percent)> progress;
    // What is being done: "Extracting Files", "Extracting .../d.txt", "Extraction Complete".
    std::function<void(const std::string& text)> status;
};

struct ExtractResult {
    // The walk went over every entry; false when the archive was refused or
    // found damaged (that failure is the last one listed).
    bool complete = false;
    std::vector<ZipProblem> failures; // one per member that could not be written
    bool ok() const { return complete && failures.empty(); }
};

class ZipExtractionClass;

// Streams one member's bytes, inflated on demand in fixed memory, without
// writing anything to disk. The bytes are checked against the central
// directory's size and CRC-32 as they come: read() returns 0 only at a verified
// end, and -1 as soon as the member is found damaged (or yields more than its
// declared size). The archive it came from must stay open while it is read.
class ZipMemberReader {
public:
    enum class Status { Ok, MemberError, Damaged };
    ~ZipMemberReader();
    ZipMemberReader(const ZipMemberReader&) = delete;
    ZipMemberReader& operator=(const ZipMemberReader&) = delete;

    // Bytes read into buffer; 0 at the verified end; -1 on failure.
    std::ptrdiff_t read(char* buffer, std::size_t size);
    // MemberError: this member alone is unusable (encrypted, unknown method,
    // checksum); Damaged: the archive's structure is broken.
    Status status() const { return status_; }
    ZipFailure failure() const { return failure_; }
    const std::string& error() const { return error_; }
    std::uint64_t size() const { return expected_; }

private:
    friend class ZipExtractionClass;
    ZipMemberReader(ZipExtractionClass& zip, const ZipMember& member);
    std::ptrdiff_t fail(Status status, ZipFailure reason, std::string text);
    std::ptrdiff_t finish();

    ZipExtractionClass& zip_;
    std::string name_;
    std::uint16_t method_ = 0;
    std::uint32_t crc_ = 0;       // expected
    std::uint64_t expected_ = 0;
    std::uint64_t produced_ = 0;
    unsigned long runningCrc_ = 0;
    std::int64_t position_ = 0;   // next compressed byte in the archive
    std::int64_t remaining_ = 0;  // compressed bytes not yet read
    bool ended_ = false;
    Status status_ = Status::Ok;
    ZipFailure failure_ = ZipFailure::Damaged;
    std::string error_;
    struct Inflater;
    std::unique_ptr<Inflater> inflater_;
};

class ZipExtractionClass {
public:
    ZipExtractionClass();
    ~ZipExtractionClass();
    ZipExtractionClass(const ZipExtractionClass&) = delete;
    ZipExtractionClass& operator=(const ZipExtractionClass&) = delete;

    // Closes what was open, opens the file and finds its end record.
    Outcome OpenZip(const std::string& zipPath);
    void CloseZip();
    // Visits the central directory's entries in order until visit returns false.
    // Fails, having written nothing, when the directory is damaged.
    Outcome ForEachMember(const std::function<bool(const ZipMember&)>& visit);
    // Opens a member that ForEachMember handed out, for streaming reads. A
    // reader that cannot start says why through its status and error.
    std::unique_ptr<ZipMemberReader> OpenMember(const ZipMember& member);
    // Writes every member into the folder (made when missing), empty files and
    // folders included, each through a temporary file renamed into place once
    // verified. An archive whose members overlap, or that declares more than the
    // limits, is refused before anything is written; a member's own failure is
    // listed and the walk goes on.
    ExtractResult Extract(const std::string& folderPath, const ExtractOptions& options = {});

    // The most an archive may unpack to, all members together, as the central
    // directory declares them; a larger one is refused before anything is written.
    void setMaxTotalBytes(std::uint64_t bytes) { maxTotalBytes_ = bytes; }
    static constexpr std::uint64_t kDefaultMaxTotalBytes = std::uint64_t(16) << 30;
    // The most an archive may unpack to per byte of its own size, for archives
    // that declare more than kRatioFloor in all: a small download that would
    // fill the disk is refused the same way. 0 lifts the limit.
    void setMaxRatio(std::uint64_t ratio) { maxRatio_ = ratio; }
    static constexpr std::uint64_t kDefaultMaxRatio = 200;
    static constexpr std::uint64_t kRatioFloor = std::uint64_t(64) << 20;
    // The most members an archive may have; more are refused the same way.
    void setMaxMembers(std::uint64_t members) { maxMembers_ = members; }
    // Whether declared bytes (of all members, or of one read as a stream) stay
    // within both limits above.
    Outcome WithinLimits(std::uint64_t declared) const;

private:
    friend class ZipMemberReader;
    struct Directory;
    std::int64_t FindEndRecord();
    enum class ReadResult { Ok, Mismatch, Damaged };
    ReadResult ReadEndRecord(Directory& directory) const;
    ReadResult ReadCentralEntry(std::int64_t& position, ZipMember& member);
    class FolderHandle;
    void ExtractEntry(const ZipMember& member, const FolderHandle& folder, const std::string& name,
                      const std::filesystem::path& target, bool replacing, ExtractResult& result);
    std::optional<ZipProblem> CheckLayout(const Directory& directory);
    enum class FolderResult { Ok, Unsafe, Failed };
    // Opens (making what is missing) the folders of parts below root.
    FolderResult MakeFolderPath(const FolderHandle& root, const std::vector<std::string>& parts, FolderHandle& opened);
    static bool HasFileIn(const FolderHandle& folder, const std::string& name);

    bool readAt(std::int64_t position, void* buffer, std::size_t size) const;
    std::string damaged() const { return "The file " + zipPath_ + " is damaged"; }

    std::FILE* archiveFile_ = nullptr;
    std::string zipPath_;
    std::int64_t archiveSize_ = 0;
    std::int64_t endRecordPosition_ = 0; // 1-based; 0: none found
    std::vector<unsigned char> out_;     // fixed-size buffer for one member at a time
    std::uint64_t maxTotalBytes_ = kDefaultMaxTotalBytes;
    std::uint64_t maxRatio_ = kDefaultMaxRatio;
    std::uint64_t maxMembers_ = 1000000;
};

// An entry name as text: kept when it is valid UTF-8 (flagged as such or not),
// else read as code page 437, which old zip tools wrote.
std::string DecodeZipName(const std::string& raw);

} // namespace gnis
