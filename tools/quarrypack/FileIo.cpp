#include "FileIo.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace quarry::pack {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
}

int UniqueFd::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

Status UniqueFd::Close(const std::string& path) {
    if (fd_ < 0) return Status();
    const int fd = Release();
    if (::close(fd) != 0) return Status::FileError(path, ErrnoText(errno));
    return Status();
}

std::string ErrnoText(int error) {
    return std::strerror(error);
}

Status StatRegularFile(const std::string& path, FileInfo& info) {
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) return Status::FileError(path, ErrnoText(errno));
    if (S_ISDIR(status.st_mode)) return Status::FileError(path, "is a folder, not a file");
    if (!S_ISREG(status.st_mode)) return Status::FileError(path, "not a regular file");
    info.size = static_cast<std::uint64_t>(status.st_size);
    info.modifiedSeconds = status.st_mtim.tv_sec;
    info.modifiedNanoseconds = static_cast<std::uint32_t>(status.st_mtim.tv_nsec);
    info.mode = status.st_mode & 07777;
    return Status();
}

Status OpenForReading(const std::string& path, UniqueFd& fd, std::uint64_t& size) {
    UniqueFd opened(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!opened.Valid()) return Status::FileError(path, ErrnoText(errno));
    struct stat info;
    if (::fstat(opened.Get(), &info) != 0) return Status::FileError(path, ErrnoText(errno));
    if (S_ISDIR(info.st_mode)) return Status::FileError(path, "is a folder, not a file");
    if (!S_ISREG(info.st_mode)) return Status::FileError(path, "not a regular file");
    size = static_cast<std::uint64_t>(info.st_size);
    fd = std::move(opened);
    return Status();
}

Status ReadSmallFile(const std::string& path, std::uint64_t limit,
                     std::vector<std::uint8_t>& bytes) {
    UniqueFd fd;
    std::uint64_t size = 0;
    RETURN_IF_ERROR(OpenForReading(path, fd, size));
    if (size > limit) {
        return Status::FileError(path, "too large (more than " + std::to_string(limit) + " bytes)");
    }
    bytes.resize(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd.Get(), bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return Status::FileError(path, ErrnoText(errno));
        if (got == 0) return Status::FileError(path, "changed while being read");
        done += static_cast<std::size_t>(got);
    }
    return Status();
}

Status WriteAll(int fd, const void* data, std::size_t length, const std::string& path) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (length > 0) {
        const ssize_t put = ::write(fd, bytes, length);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return Status::FileError(path, put < 0 ? ErrnoText(errno) : "write failed");
        bytes += put;
        length -= static_cast<std::size_t>(put);
    }
    return Status();
}

Status CopyRange(CopyEnd in, std::uint64_t offset, std::uint64_t size, CopyEnd out, bool complement,
                 std::vector<std::uint8_t>& buffer) {
    while (size > 0) {
        const std::size_t chunk =
            size < buffer.size() ? static_cast<std::size_t>(size) : buffer.size();
        std::size_t got = 0;
        while (got < chunk) {
            const ssize_t n =
                ::pread(in.fd, buffer.data() + got, chunk - got, static_cast<off_t>(offset + got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return Status::FileError(in.path, ErrnoText(errno));
            if (n == 0) return Status::FileError(in.path, "ends early (changed or damaged)");
            got += static_cast<std::size_t>(n);
        }
        if (complement) UnscrambleBuffer(buffer.data(), chunk);
        RETURN_IF_ERROR(WriteAll(out.fd, buffer.data(), chunk, out.path));
        offset += chunk;
        size -= chunk;
    }
    return Status();
}

bool FileSource::Read(void* buffer, std::size_t length) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::size_t got = 0;
    while (got < length) {
        const ssize_t n =
            ::pread(fd_, bytes + got, length - got, static_cast<off_t>(position_ + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            position_ += got;
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    position_ += got;
    return true;
}

bool FileSource::Seek(std::uint64_t position) {
    struct stat info;
    if (::fstat(fd_, &info) != 0 || position > static_cast<std::uint64_t>(info.st_size)) {
        return false;
    }
    position_ = position;
    return true;
}

// Live temporary files, readable from a signal handler: a slot is in use
// while its flag is set, and the path is complete before the flag is.
namespace {

constexpr int kTempSlots = 4;
constexpr std::size_t kTempPathMax = 4096;
char gTempPaths[kTempSlots][kTempPathMax];
volatile sig_atomic_t gTempInUse[kTempSlots];

int ClaimTempSlot(const std::string& path) {
    if (path.size() >= kTempPathMax) return -1;
    for (int i = 0; i < kTempSlots; ++i) {
        if (!gTempInUse[i]) {
            std::memcpy(gTempPaths[i], path.c_str(), path.size() + 1);
            gTempInUse[i] = 1;
            return i;
        }
    }
    return -1;
}

void ReleaseTempSlot(int slot) {
    if (slot >= 0) gTempInUse[slot] = 0;
}

extern "C" void RemoveTempFilesAndExit(int signalNumber) {
    for (int i = 0; i < kTempSlots; ++i) {
        if (gTempInUse[i]) ::unlink(gTempPaths[i]);
    }
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

}  // namespace

Status TempFile::Create(const std::string& besidePath) {
    Discard();
    std::string pattern = besidePath + ".tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
    if (!fd.Valid()) return Status::FileError(besidePath, ErrnoText(errno));
    path_ = name.data();
    slot_ = ClaimTempSlot(path_);
    fd_ = std::move(fd);
    return Status();
}

Status TempFile::CommitAs(const std::string& finalPath, unsigned mode) {
    if (::fchmod(fd_.Get(), mode) != 0) return Status::FileError(path_, ErrnoText(errno));
    RETURN_IF_ERROR(fd_.Close(path_));
    if (::rename(path_.c_str(), finalPath.c_str()) != 0) {
        return Status::FileError(finalPath, ErrnoText(errno));
    }
    ReleaseTempSlot(slot_);
    slot_ = -1;
    path_.clear();
    return Status();
}

void TempFile::Discard() {
    fd_.Reset();
    if (!path_.empty()) {
        ReleaseTempSlot(slot_);
        ::unlink(path_.c_str());
    }
    slot_ = -1;
    path_.clear();
}

void InstallTempFileCleanup() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = RemoveTempFilesAndExit;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signalNumber, &action, nullptr);
}

Status MakeDirectories(const std::string& path) {
    std::string partial;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        partial = path.substr(0, end);
        if (!partial.empty() && ::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) {
            return Status::FileError(partial, ErrnoText(errno));
        }
        start = end + 1;
    }
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return Status::FileError(path, ErrnoText(errno));
    if (!S_ISDIR(info.st_mode)) return Status::FileError(path, "exists and is not a folder");
    return Status();
}

namespace {

// Access time untouched, modification time as given.
void ModificationTimes(struct timespec (&times)[2], std::int64_t unixSeconds,
                       std::uint32_t nanoseconds) {
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(unixSeconds);
    times[1].tv_nsec = static_cast<long>(nanoseconds);
}

}  // namespace

Status SetModificationTime(const std::string& path, std::int64_t unixSeconds,
                           std::uint32_t nanoseconds) {
    struct timespec times[2];
    ModificationTimes(times, unixSeconds, nanoseconds);
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        return Status::FileError(path, ErrnoText(errno));
    }
    return Status();
}

Status SetModificationTime(int fd, const std::string& shown, std::int64_t unixSeconds,
                           std::uint32_t nanoseconds) {
    struct timespec times[2];
    ModificationTimes(times, unixSeconds, nanoseconds);
    if (::futimens(fd, times) != 0) return Status::FileError(shown, ErrnoText(errno));
    return Status();
}

namespace {

// The reason an existing name was refused: a link, or simply there.
Status ExistingNameError(int parent, const std::string& name, const std::string& shown,
                         const char* what) {
    struct stat info;
    if (::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode)) {
        return Status::FileError(shown, "is a symbolic link; it is not followed");
    }
    return Status::FileError(shown, what);
}

}  // namespace

Status OpenFolderAt(int parent, const std::string& name, bool create, const std::string& shown,
                    UniqueFd& folder) {
    if (create && ::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) {
        return Status::FileError(shown, ErrnoText(errno));
    }
    UniqueFd opened(
        ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!opened.Valid()) {
        if (errno == ELOOP || errno == ENOTDIR) {
            return ExistingNameError(parent, name, shown, "exists and is not a folder");
        }
        return Status::FileError(shown, ErrnoText(errno));
    }
    folder = std::move(opened);
    return Status();
}

Status CreateNewFileAt(int parent, const std::string& name, const std::string& shown,
                       UniqueFd& file) {
    UniqueFd created(::openat(parent, name.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!created.Valid()) {
        if (errno == EEXIST) {
            return ExistingNameError(parent, name, shown,
                                     "exists already; files are only written new");
        }
        return Status::FileError(shown, ErrnoText(errno));
    }
    file = std::move(created);
    return Status();
}

Status MoveNewAt(int from, int to, const std::string& name, const std::string& shown) {
    auto failed = [&] {
        if (errno == EEXIST) {
            return ExistingNameError(to, name, shown, "exists already; files are only written new");
        }
        return Status::FileError(shown, ErrnoText(errno));
    };
    if (::renameat2(from, name.c_str(), to, name.c_str(), RENAME_NOREPLACE) == 0) return Status();
    if (errno != EINVAL && errno != ENOSYS) return failed();
    // A file system without RENAME_NOREPLACE: a new link, which never
    // replaces anything either, then the old name goes.
    if (::linkat(from, name.c_str(), to, name.c_str(), 0) != 0) return failed();
    ::unlinkat(from, name.c_str(), 0);
    return Status();
}

void RemoveTreeAt(int parent, const std::string& name) {
    const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        ::unlinkat(parent, name.c_str(), 0);
        return;
    }
    DIR* listing = ::fdopendir(fd);  // takes the descriptor
    if (listing == nullptr) {
        ::close(fd);
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string child = entry->d_name;
        if (child != "." && child != "..") names.push_back(child);
    }
    for (const std::string& child : names) RemoveTreeAt(::dirfd(listing), child);
    ::closedir(listing);
    ::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
}

}  // namespace quarry::pack
