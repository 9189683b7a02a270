// POSIX file helpers for the packager: owned descriptors, streamed copies
// through one reusable buffer, a ByteSource over a file for the shared
// package parser, and temporary files that never outlive a failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Status.h"
#include "package/PackageFormat.h"

namespace quarry::pack {

// An owned file descriptor; -1 is empty. Move-only.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release();
    void Reset(int fd = -1);
    // Closes and reports a failed close (a delayed write error).
    Status Close(const std::string& path);

private:
    int fd_ = -1;
};

// The description of the current errno, for messages.
std::string ErrnoText(int error);

struct FileInfo {
    std::uint64_t size = 0;
    std::int64_t modifiedSeconds = 0;  // Unix time
    std::uint32_t modifiedNanoseconds = 0;
    unsigned mode = 0;  // permission bits
};

// Facts about a regular file (symbolic links followed); folders and special
// files are refused.
Status StatRegularFile(const std::string& path, FileInfo& info);

// Opens a regular file for reading; `size` receives its length.
Status OpenForReading(const std::string& path, UniqueFd& fd, std::uint64_t& size);

// Reads a whole file that is expected to be small; files above `limit` bytes
// are refused.
Status ReadSmallFile(const std::string& path, std::uint64_t limit,
                     std::vector<std::uint8_t>& bytes);

Status WriteAll(int fd, const void* data, std::size_t length, const std::string& path);

// Copies `size` bytes starting at `offset` of `in` to the current position of
// `out` in chunks of `buffer`'s size, complementing every byte when
// `complement` is set. A short read means the source changed or is damaged.
struct CopyEnd {
    int fd;
    const std::string& path;
};
Status CopyRange(CopyEnd in, std::uint64_t offset, std::uint64_t size, CopyEnd out, bool complement,
                 std::vector<std::uint8_t>& buffer);

// A ByteSource over an open file, for ReadHeader and ReadDirectory.
class FileSource : public ByteSource {
public:
    explicit FileSource(int fd) : fd_(fd) {}
    bool Read(void* buffer, std::size_t length) override;
    bool Seek(std::uint64_t position) override;
    std::uint64_t Position() const override { return position_; }

private:
    int fd_;
    std::uint64_t position_ = 0;
};

// A file created next to `besidePath` under a unique name. It is deleted when
// the object goes away without CommitAs, and by the signal handlers of
// InstallTempFileCleanup when the program is interrupted.
class TempFile {
public:
    TempFile() = default;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() { Discard(); }

    Status Create(const std::string& besidePath);
    int Fd() const { return fd_.Get(); }
    const std::string& Path() const { return path_; }
    // Closes the file and renames it to `finalPath`, replacing what is there.
    Status CommitAs(const std::string& finalPath, unsigned mode);
    // Closes and deletes the file; nothing when there is none.
    void Discard();

private:
    UniqueFd fd_;
    std::string path_;
    int slot_ = -1;
};

// Deletes the live temporary files on SIGINT, SIGTERM and SIGHUP, then lets
// the signal end the process as it would have.
void InstallTempFileCleanup();

// Creates a folder and its missing parents; an existing folder is fine.
Status MakeDirectories(const std::string& path);

// Sets a file's modification time; the access time stays.
Status SetModificationTime(const std::string& path, std::int64_t unixSeconds,
                           std::uint32_t nanoseconds);
// The same for an open file; `shown` names it in messages.
Status SetModificationTime(int fd, const std::string& shown, std::int64_t unixSeconds,
                           std::uint32_t nanoseconds);

// The calls below work relative to an open folder and never follow a
// symbolic link in the name they are given, so that whoever can write to
// that folder cannot send a write elsewhere. `shown` names the object in
// messages.

// Opens the folder `name` inside `parent` (a descriptor or AT_FDCWD),
// creating it first when `create` and it is missing. A symbolic link or
// anything else that is not a folder is refused.
Status OpenFolderAt(int parent, const std::string& name, bool create, const std::string& shown,
                    UniqueFd& folder);

// Creates the file `name` inside `parent` for writing. A name that exists,
// a symbolic link included, is refused: the file must be new.
Status CreateNewFileAt(int parent, const std::string& name, const std::string& shown,
                       UniqueFd& file);

// Moves `name` from the folder `from` to the folder `to` under the same
// name, refusing a name that exists in `to` (a symbolic link included)
// rather than replacing it.
Status MoveNewAt(int from, int to, const std::string& name, const std::string& shown);

// Deletes `name` inside `parent` with everything below it, following no
// symbolic link; nothing when it is missing.
void RemoveTreeAt(int parent, const std::string& name);

}  // namespace quarry::pack
