#pragma once

#include "base/outcome.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace gnis {

// True exactly when a plain file (not a folder) exists at the path.
bool FileExists(const std::filesystem::path& path);

// Removes a file. Without force, a read-only file is refused and left in place,
// as on Windows; with force it goes too. A file that is already gone is success.
Outcome DeleteFile(const std::filesystem::path& path, bool force);

// Moves a file to a name that no entry has (not even a link); false, moving
// nothing, when the name is taken or the move fails.
bool MoveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

// A part for a file name that no other name of this process or another has:
// random, and counted within the process.
std::string UniqueSuffix();

// Text of an errno value, for messages.
std::string ErrorText(int errnum);

// One run per folder: a hidden lock file of the run's own in the folder, held
// while the run lasts and removed when it ends. The operating system lets go
// of it when the process dies, however it dies.
class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock() { release(); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    // Fails with "another run is using FOLDER" while another process holds it.
    // On a file system without locks it succeeds without holding anything.
    Outcome acquire(const std::filesystem::path& folder);
    void release();
    bool held() const;
    static constexpr const char* kFileName = ".trailcrafter-gnis.lock";

private:
    std::filesystem::path file_;
#if defined(_WIN32)
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// Removes what a run killed outright (power loss, SIGKILL) left in the folder:
// only entries named as this program names its temporary files and scratch
// folders, never a link, never anything of another name. Call with the
// folder's lock held, so no running run's files are taken.
void RemoveLeftovers(const std::filesystem::path& folder);

// Writes a file under a temporary name beside its target and puts it in the
// target's place only on commit(), so a failed or abandoned write never leaves
// a truncated file where a good one was. Lines end with CR LF.
class TextFileWriter {
public:
    TextFileWriter() = default;
    ~TextFileWriter();
    TextFileWriter(const TextFileWriter&) = delete;
    TextFileWriter& operator=(const TextFileWriter&) = delete;

    // Synced: on disk before it takes the target's place, for what cannot be made
    // again (settings). Replaced: the rename alone, for output a run can redo; a
    // crash of the program still never leaves a partial file as the target.
    enum class Durability { Synced, Replaced };

    // OwnerOnly: readable and writable by its owner alone (a file holding a password).
    enum class Access { Default, OwnerOnly };

    Outcome open(const std::filesystem::path& target, Durability durability = Durability::Synced,
                 Access access = Access::Default);
#if !defined(_WIN32)
    // The same inside an opened folder: the temporary file and the rename are
    // relative to folderFd, so no link put in place of a folder level meanwhile
    // can carry the write elsewhere. shown names the target in messages.
    Outcome openIn(int folderFd, const std::string& name, const std::filesystem::path& shown,
                   Durability durability = Durability::Synced);
#endif
    // Raw text, buffered; the first failure sticks and is reported by commit().
    void write(std::string_view text);
    void writeLine(std::string_view text);
    // Writes out what is buffered; false once anything failed.
    bool flush();
    // Flushes, syncs and renames over the target. The temporary file is removed on failure.
    Outcome commit();
    // Drops the temporary file; the target stays as it was.
    void discard();

    const std::filesystem::path& target() const { return target_; }
    // The first failure so far ("" while all went well).
    const std::string& error() const { return error_; }

private:
    void flushBuffer();
    void writeRaw(std::string_view bytes);
    void fail(const std::string& what, int errnum);

    std::FILE* file_ = nullptr;
    std::filesystem::path target_;
    std::filesystem::path temp_;
    int folderFd_ = -1;        // with openIn: the folder, and the names in it
    std::string tempName_, targetName_;
    std::string buffer_;
    std::string error_;
    Durability durability_ = Durability::Synced;
    std::int64_t written_ = 0;
    std::int64_t synced_ = 0;
};

} // namespace gnis
