#pragma once

// Reads zip archives and writes their members into a folder. Plain C++ and
// zlib: the events go to a listener, and the yield between entries is the
// listener's too, so a front end can plug in its event loop.

#include <cstdint>
#include <cstdio>
#include <filesystem>
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
};

struct EndOfCentralDirRecord {
    std::uint32_t signature = 0;
    std::uint16_t thisDisk = 0;
    std::uint16_t centralDirDisk = 0;
    std::uint16_t entriesOnDisk = 0;
    std::uint16_t totalEntries = 0;
    std::uint32_t centralDirSize = 0;
    std::uint32_t centralDirOffset = 0;
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
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint16_t nameLength = 0;
    std::uint16_t extraLength = 0;
    std::uint16_t commentLength = 0;
    std::uint16_t diskStart = 0;
    std::uint16_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;
    std::uint32_t localHeaderOffset = 0;
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

class ZipExtractionClass {
public:
    explicit ZipExtractionClass(ZipListener& listener);
    ~ZipExtractionClass();
    ZipExtractionClass(const ZipExtractionClass&) = delete;
    ZipExtractionClass& operator=(const ZipExtractionClass&) = delete;

    // Closes what was open, opens the file and looks for the end record.
    bool OpenZip(const std::string& zipPath);
    void CloseZip();
    // Writes every member into folderPath; true when the walk over all entries
    // ran to its end, whatever single members raised on the way.
    bool Extract(const std::string& folderPath, bool preservePath, bool overwrite);
    // zlib's version text, or "" (with error 1) when zlib cannot be used.
    std::string ZLibVersion();

    // For tests: stands in for zlib's zlibVersion, so a missing zlib can be shown.
    using VersionFunction = const char* (*)();
    void setZlibVersionFunction(VersionFunction f) { zlibVersion_ = f; }

    // 1-based position of the end record's signature; 0 when none is recognised.
    std::int64_t endRecordPosition() const { return endRecordPosition_; }

private:
    std::int64_t FindEndRecord();
    enum class ReadResult { Ok, Mismatch, Damaged };
    ReadResult ReadEndRecord(std::int64_t position);
    ReadResult ReadCentralEntry(std::string& name);
    bool ExtractEntry(const std::filesystem::path& target, bool replacing);
    enum class FolderResult { Ok, Unsafe, Failed };
    FolderResult MakeFolderPath(const std::filesystem::path& root, const std::vector<std::string>& parts);

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
    std::vector<unsigned char> in_, out_; // fixed-size buffers for one member at a time
};

// An entry name as text: kept when it is valid UTF-8 (flagged as such or not),
// else read as code page 437, which old zip tools wrote.
std::string DecodeZipName(const std::string& raw);

} // namespace gnis
