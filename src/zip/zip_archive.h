#pragma once

// Reads zip archives and writes their members into a folder. Plain C++ and
// zlib: the events go to a listener, and the yield between entries is the
// listener's too, so a front end can plug in its event loop.

#include <cstdint>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace gnis {

struct ZipListener {
    virtual ~ZipListener() = default;
    // Once per central directory entry during Extract; setting cancel stops it.
    virtual void onProgress(int percent, bool& cancel) { (void)percent; (void)cancel; }
    virtual void onStatus(const std::string& text) { (void)text; }
    virtual void onError(int number, const std::string& description) { (void)number; (void)description; }
    // Between entries, and now and then inside a long member, so a window can repaint.
    virtual void onYield() {}
    // How far the member being written has come, in bytes; sent with the yields
    // inside a long member, so a progress bar can move before the entry ends.
    virtual void onMemberProgress(std::uint64_t written, std::uint64_t size) { (void)written; (void)size; }
};

// Error numbers raised through ZipListener::onError.
enum ZipErrorNumber {
    kZipErrZlibMissing = 1,
    kZipErrNotZip = 2,
    kZipErrNotOpen = 3,
    kZipErrMethod = 4,
    kZipErrChecksum = 5,
    kZipErrUnsafeName = 6,
    kZipErrDamaged = 7,
    kZipErrEncrypted = 8,
    kZipErrCantWrite = 9,
    kZipErrNoFile = 10,
    kZipErrExists = 11,
    kZipErrCantRemove = 12,
    kZipErrCantMakeFolder = 13,
    kZipErrTooLarge = 14,
};

struct EndOfCentralDirRecord {
    std::uint32_t signature = 0;
    std::uint16_t thisDisk = 0;
    std::uint16_t centralDirDisk = 0;
    std::uint16_t entriesOnDisk = 0;
    std::uint64_t totalEntries = 0;     // from the ZIP64 end record where there is one
    std::uint64_t centralDirSize = 0;
    std::uint64_t centralDirOffset = 0;
    std::uint16_t commentLength = 0;
};

struct CentralFileHeader {
    std::uint32_t signature = 0;
    std::uint16_t versionMadeBy = 0;
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t modTime = 0;
    std::uint16_t modDate = 0;
    std::uint32_t crc32 = 0;
    std::uint64_t compressedSize = 0;   // from the ZIP64 extra field where it stands there
    std::uint64_t uncompressedSize = 0;
    std::uint16_t nameLength = 0;
    std::uint16_t extraLength = 0;
    std::uint16_t commentLength = 0;
    std::uint16_t diskStart = 0;
    std::uint16_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;
    std::uint64_t localHeaderOffset = 0;
};

struct LocalFileHeader {
    std::uint32_t signature = 0;
    std::uint16_t versionNeeded = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t modTime = 0;
    std::uint16_t modDate = 0;
    std::uint32_t crc32 = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint16_t nameLength = 0;
    std::uint16_t extraLength = 0;
};

// One entry of the central directory, as ForEachMember hands it out.
struct ZipMember {
    std::string name;        // decoded, as stored (folders included)
    std::uint64_t size = 0;  // uncompressed, as the central directory declares it
    CentralFileHeader header;
};

class ZipExtractionClass;

// Streams one member's bytes, inflated on demand in fixed memory, without
// writing anything to disk. The bytes are checked against the central
// directory's size and CRC-32 as they come: read() returns 0 only at a verified
// end, and -1 as soon as the member is found damaged. The archive it came from
// must stay open while it is read.
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
    int errorNumber() const { return errorNumber_; }
    const std::string& error() const { return error_; }
    std::uint64_t produced() const { return produced_; }
    std::uint64_t size() const { return expected_; }

private:
    friend class ZipExtractionClass;
    ZipMemberReader(ZipExtractionClass& zip, const ZipMember& member);
    std::ptrdiff_t fail(Status status, int number, std::string text);
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
    int errorNumber_ = 0;
    std::string error_;
    struct Inflater;
    std::unique_ptr<Inflater> inflater_;
};

class ZipExtractionClass {
public:
    explicit ZipExtractionClass(ZipListener& listener);
    ~ZipExtractionClass();
    ZipExtractionClass(const ZipExtractionClass&) = delete;
    ZipExtractionClass& operator=(const ZipExtractionClass&) = delete;

    // Closes what was open, opens the file and looks for the end record.
    bool OpenZip(const std::string& zipPath);
    void CloseZip();
    // Writes every member into folderPath, empty files and folders included;
    // true when the walk over all entries ran to its end, whatever single
    // members raised on the way. An archive whose members overlap, or that
    // declares more than the limit in all, is refused before anything is written.
    bool Extract(const std::string& folderPath, bool preservePath, bool overwrite);
    // Visits the central directory's entries in order until visit returns
    // false. False, with error 7, when the directory is damaged; nothing is
    // written.
    bool ForEachMember(const std::function<bool(const ZipMember&)>& visit);
    // Opens a member that ForEachMember handed out, for streaming reads. A
    // reader that cannot start says why through its status and error.
    std::unique_ptr<ZipMemberReader> OpenMember(const ZipMember& member);
    // zlib's version text, or "" (with error 1) when zlib cannot be used.
    std::string ZLibVersion();

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
    // Whether declared bytes (of all members, or of one read as a stream) stay
    // within both limits above; when not, says so as error 14.
    bool WithinLimits(std::uint64_t declared);
    // The most members an archive may have; more are refused the same way.
    void setMaxMembers(std::uint64_t members) { maxMembers_ = members; }

    // For tests: stands in for zlib's zlibVersion, so a missing zlib can be shown.
    using VersionFunction = const char* (*)();
    void setZlibVersionFunction(VersionFunction f) { zlibVersion_ = f; }

    // 1-based position of the end record's signature; 0 when none is recognised.
    std::int64_t endRecordPosition() const { return endRecordPosition_; }

private:
    friend class ZipMemberReader;
    std::int64_t FindEndRecord();
    enum class ReadResult { Ok, Mismatch, Damaged };
    ReadResult ReadEndRecord(std::int64_t position);
    ReadResult ReadCentralEntry(std::string& name);
    class FolderHandle;
    bool ExtractEntry(const ZipMember& member, const FolderHandle& folder, const std::string& name,
                      const std::filesystem::path& target, bool replacing);
    bool CheckLayout();
    enum class FolderResult { Ok, Unsafe, Failed };
    // Opens (making what is missing) the folders of parts below root.
    FolderResult MakeFolderPath(const FolderHandle& root, const std::vector<std::string>& parts, FolderHandle& opened);
    static bool HasFileIn(const FolderHandle& folder, const std::string& name);

    bool readAt(std::int64_t position, void* buffer, std::size_t size);
    void damaged();
    void status(const std::string& text) { listener_.onStatus(text); }
    void error(int number, const std::string& text) { listener_.onError(number, text); }

    ZipListener& listener_;
    VersionFunction zlibVersion_;
    std::FILE* archiveFile_ = nullptr;
    std::string zipPath_;
    std::int64_t archiveSize_ = 0;
    CentralFileHeader currentEntry_;
    EndOfCentralDirRecord endRecord_;
    std::int64_t endRecordPosition_ = 0;
    std::int64_t readPosition_ = 0; // next central directory record
    std::vector<unsigned char> out_; // fixed-size buffer for one member at a time
    std::uint64_t maxTotalBytes_ = kDefaultMaxTotalBytes;
    std::uint64_t maxRatio_ = kDefaultMaxRatio;
    std::uint64_t maxMembers_ = 1000000;
};

// An entry name as text: kept when it is valid UTF-8 (flagged as such or not),
// else read as code page 437, which old zip tools wrote.
std::string DecodeZipName(const std::string& raw);

} // namespace gnis
