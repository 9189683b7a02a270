#include "Extract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <vector>

#include "FileTime.h"
#include "Names.h"
#include "PackageFile.h"
#include "common/Text.h"
#include "package/PackageLayout.h"

namespace quarry::pack {

namespace {

// "a\\b/c" as its parts, empty ones left out.
std::vector<std::string> PathParts(std::u16string_view path) {
    std::vector<std::string> parts;
    for (std::u16string_view part : SplitNonEmpty(path, u"\\/")) parts.push_back(Utf16ToUtf8(part));
    return parts;
}

// The folder below `base` that the parts name, made as needed; no part may
// be a symbolic link.
Status OpenFolderPath(int base, const std::vector<std::string>& parts, std::string& shown,
                      UniqueFd& folder) {
    UniqueFd at;
    for (const std::string& part : parts) {
        shown += "/" + Printable(Utf8ToUtf16(part));
        UniqueFd next;
        RETURN_IF_ERROR(OpenFolderAt(at.Valid() ? at.Get() : base, part, true, shown, next));
        at = std::move(next);
    }
    if (!at.Valid()) {
        at.Reset(::fcntl(base, F_DUPFD_CLOEXEC, 0));
        if (!at.Valid()) return Status::FileError(shown, ErrnoText(errno));
    }
    folder = std::move(at);
    return Status();
}

// A folder of our own inside the output folder, for the cabinet and its
// expansion: mkdtemp makes it with mode 0700, so no other user can put
// anything into it, and it is reached through its descriptor only. It goes,
// with what is left in it, when the object does.
class StagingFolder {
public:
    StagingFolder() = default;
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;
    ~StagingFolder() {
        fd_.Reset();
        if (!name_.empty()) RemoveTreeAt(parent_, name_);
    }

    Status Create(int parent, const std::string& shownParent) {
        std::string pattern = FdPath(parent) + "/.quarrypack-XXXXXX";
        if (::mkdtemp(&pattern[0]) == nullptr) return Status::FileError(shownParent, ErrnoText(errno));
        parent_ = parent;
        name_ = pattern.substr(pattern.rfind('/') + 1);
        RETURN_IF_ERROR(OpenFolderAt(parent, name_, false, shownParent + "/" + name_, fd_));
        struct stat info;
        if (::fstat(fd_.Get(), &info) != 0 || info.st_uid != ::geteuid() ||
            (info.st_mode & 077) != 0) {
            return Status::FileError(shownParent + "/" + name_, "was changed by someone else");
        }
        return Status();
    }
    int Fd() const { return fd_.Get(); }
    // A path that the library calls can take and that leads through the
    // descriptor, whatever happens to the names above it.
    std::string Path() const { return FdPath(fd_.Get()); }

private:
    static std::string FdPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

    int parent_ = -1;
    std::string name_;
    UniqueFd fd_;
};

// Expands the unscrambled cabinet entry into `packageFolder` as the runner
// does, through a staging folder: libgcab writes by path and would follow
// a link that someone placed in the output folder, so it writes only into
// the staging folder, and each file is then moved into place by
// descriptor, never over anything that exists.
Status ExpandCabinetEntry(const OpenedPackage& package, const std::string& path,
                          const PackageEntry& entry, int outputFolder,
                          const std::string& shownOutput, int packageFolder,
                          const std::string& shownPackage, std::vector<std::uint8_t>& buffer) {
    // libgcab takes a block whose data is not its content as it comes; the
    // program's expansion refuses the package, and so does this.
    std::vector<std::string> problems;
    CabinetDataSummary summary;
    RETURN_IF_ERROR(CheckPackedCabinet(package, entry, problems, summary).WithPath(path));
    if (summary.damaged != 0) {
        return Status::FileError(path, "cannot expand the cabinet: " + problems.front());
    }
    StagingFolder staging;
    RETURN_IF_ERROR(staging.Create(outputFolder, shownOutput));
    const std::string cabinetName = Utf16ToUtf8(kCabinetEntryName);
    {
        UniqueFd cabinet;
        RETURN_IF_ERROR(CreateNewFileAt(staging.Fd(), cabinetName, cabinetName, cabinet));
        RETURN_IF_ERROR(CopyRange(CopyEnd{package.fd.Get(), path}, entry.offset, entry.size,
                                  CopyEnd{cabinet.Get(), cabinetName}, true, buffer));
        RETURN_IF_ERROR(cabinet.Close(cabinetName));
    }
    UniqueFd expanded;
    RETURN_IF_ERROR(OpenFolderAt(staging.Fd(), "out", true, "out", expanded));
    std::vector<ExpandedFile> files;
    RETURN_IF_ERROR(ExpandCabinet(staging.Path() + "/" + cabinetName, staging.Path() + "/out", files)
                        .WithPath(path));
    std::set<std::vector<std::string>> moved;
    for (const ExpandedFile& file : files) {
        std::vector<std::string> parts = PathParts(file.name);
        if (parts.empty()) continue;
        if (!moved.insert(parts).second) {
            return Status::FileError(path, "the cabinet holds two members named " +
                                               Quoted(file.name));
        }
        const std::string leaf = parts.back();
        parts.pop_back();
        std::string shownSource;
        UniqueFd from;
        RETURN_IF_ERROR(OpenFolderPath(expanded.Get(), parts, shownSource, from));
        std::string shown = shownPackage;
        UniqueFd to;
        RETURN_IF_ERROR(OpenFolderPath(packageFolder, parts, shown, to));
        RETURN_IF_ERROR(
            MoveNewAt(from.Get(), to.Get(), leaf, shown + "/" + Printable(Utf8ToUtf16(leaf))));
    }
    return Status();
}

// The output folder, made with its missing parents; a symbolic link in its
// own place is refused like any inside it.
Status OpenOutputFolder(const std::string& folder, UniqueFd& fd) {
    std::string name = folder;
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    const std::size_t slash = name.rfind('/');
    if (slash != std::string::npos && slash != 0) {
        RETURN_IF_ERROR(MakeDirectories(name.substr(0, slash)));
    }
    return OpenFolderAt(AT_FDCWD, name, true, folder, fd);
}

// One entry as a new file in `folder`, with its time when it has one.
Status WriteEntryFile(const OpenedPackage& package, const std::string& path,
                      const PackageEntry& entry, int folder, const std::string& shown,
                      std::vector<std::uint8_t>& buffer) {
    UniqueFd out;
    RETURN_IF_ERROR(CreateNewFileAt(folder, Utf16ToUtf8(entry.name), shown, out));
    RETURN_IF_ERROR(CopyRange(CopyEnd{package.fd.Get(), path}, entry.offset, entry.size,
                              CopyEnd{out.Get(), shown}, false, buffer));
    if (entry.HasLastWriteTime()) {
        const std::uint64_t units = entry.lastWriteTime % kFileTimeUnitsPerSecond;
        RETURN_IF_ERROR(SetModificationTime(out.Get(), shown, UnixFromFileTime(entry.lastWriteTime),
                                            static_cast<std::uint32_t>(units * 100)));
    }
    return out.Close(shown);
}

}  // namespace

Status ExtractPackage(const std::string& path, const std::string& folder) {
    OpenedPackage package;
    RETURN_IF_ERROR(OpenPackage(path, package));
    UniqueFd output;
    RETURN_IF_ERROR(OpenOutputFolder(folder, output));
    const std::string supportFolder = folder + "/Support";
    const std::string packageFolder = folder + "/Package";
    UniqueFd support;
    UniqueFd packageFd;
    RETURN_IF_ERROR(OpenFolderAt(output.Get(), "Support", true, supportFolder, support));
    RETURN_IF_ERROR(OpenFolderAt(output.Get(), "Package", true, packageFolder, packageFd));

    // The runner writes the first "Settings.ini" of the main group(s) when it
    // loads the settings and skips every such entry afterwards.
    const PackageEntry* settings = FindMainEntry(package.directory, kSettingsEntryName);

    std::vector<std::uint8_t> buffer(kCopyBufferSize);
    for (const PackageGroup& group : package.directory.groups) {
        const bool isMain = ClassifyGroup(group.name) == GroupKind::Main;
        std::string shownTarget = isMain ? supportFolder : packageFolder;
        UniqueFd target;
        RETURN_IF_ERROR(OpenFolderPath(isMain ? support.Get() : packageFd.Get(),
                                       PathParts(GroupDestinationPrefix(group.name)),
                                       shownTarget, target));
        const PackageEntry* cabinet = GroupPayloadCabinet(group);
        for (const PackageEntry& entry : group.entries) {
            if (isMain && EqualsNoCase(entry.name, kSettingsEntryName) && &entry != settings) {
                continue;
            }
            if (&entry == cabinet) {
                // The runner's copy of the cabinet is deleted once expanded.
                RETURN_IF_ERROR(ExpandCabinetEntry(package, path, entry, output.Get(), folder,
                                                   packageFd.Get(), packageFolder, buffer));
                continue;
            }
            RETURN_IF_ERROR(WriteEntryFile(package, path, entry, target.Get(),
                                           shownTarget + "/" + Printable(entry.name), buffer));
        }
    }
    return Status();
}

}  // namespace quarry::pack
