#include "Packer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <set>

#include "Authenticode.h"
#include "Check.h"
#include "FileIo.h"
#include "FileTime.h"
#include "IniText.h"
#include "Names.h"
#include "Pe.h"
#include "common/Text.h"
#include "package/PackageFormat.h"

namespace quarry::pack {

namespace {

constexpr std::uint64_t kMaxEntrySize = 0xFFFFFFFFull;  // the directory stores 32 bits
constexpr std::uint64_t kMaxStubSize = 256ull * 1024 * 1024;
constexpr std::uint64_t kMaxSettingsSize = 16ull * 1024 * 1024;
const char16_t kMessageEntryName[] = u"MessageInfo.xml";

// Where an entry's bytes come from when the package is written.
struct EntryData {
    std::string path;  // a file, or empty for `bytes`
    const std::vector<std::uint8_t>* bytes = nullptr;
    bool scrambled = false;  // the cabinet: complemented
};

struct GroupPlan {
    PackageGroup group;
    std::vector<EntryData> data;
    std::set<std::u16string> foldedNames;
};

Status CheckEntryName(const std::u16string& name, const std::string& where) {
    if (name.size() >= kMaxNameLength) {
        return Status::FileError(where, "name is 32,000 UTF-16 units or longer");
    }
    const NameFault fault = NameComponentFault(name);
    if (fault != NameFault::None) {
        return Status::FileError(where, "cannot be stored under the name " + Quoted(name) + ": " +
                                            NameFaultReason(fault, name));
    }
    return Status();
}

Status AddEntry(GroupPlan& plan, const std::u16string& name, std::uint64_t size,
                std::uint64_t lastWriteTime, EntryData data, const std::string& where) {
    RETURN_IF_ERROR(CheckEntryName(name, where));
    if (size > kMaxEntrySize) {
        return Status::FileError(where, "4 GiB or larger; a package entry must be smaller");
    }
    if (!plan.foldedNames.insert(FoldedKey(name)).second) {
        return Status::FileError(where, "a second entry named " + Quoted(name) + " in group " +
                                            Quoted(plan.group.name) +
                                            " (names are compared without regard to case)");
    }
    PackageEntry entry;
    entry.name = name;
    entry.size = size;
    entry.lastWriteTime = lastWriteTime;
    plan.group.entries.push_back(std::move(entry));
    plan.data.push_back(std::move(data));
    return Status();
}

Status AddFileEntry(GroupPlan& plan, const std::u16string& name, const std::string& path,
                    std::optional<std::int64_t> clampSeconds) {
    FileInfo info;
    RETURN_IF_ERROR(StatRegularFile(path, info));
    return AddEntry(plan, name, info.size,
                    StoredFileTime(info.modifiedSeconds, info.modifiedNanoseconds, clampSeconds),
                    EntryData{path, nullptr, false}, path);
}

Status NameFromPath(const std::string& path, std::u16string& name) {
    const std::string leaf = std::filesystem::path(path).filename().native();
    if (!IsValidUtf8(leaf)) return Status::FileError(path, "file name is not UTF-8");
    name = Utf8ToUtf16(leaf);
    return Status();
}

// The files of a folder that becomes one group; subfolders are refused
// because a group holds plain files.
Status AddFolderEntries(GroupPlan& plan, const std::string& folder,
                        std::optional<std::int64_t> clampSeconds) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        return Status::FileError(folder, error ? error.message() : "not a folder");
    }
    std::vector<fs::path> children;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        children.push_back(it->path());
    }
    if (error) return Status::FileError(folder, error.message());
    std::sort(children.begin(), children.end());
    for (const fs::path& child : children) {
        if (fs::is_directory(child, error)) {
            return Status::FileError(child.string(),
                                     "a group holds plain files only; subfolders are not allowed");
        }
        std::u16string name;
        RETURN_IF_ERROR(NameFromPath(child.string(), name));
        RETURN_IF_ERROR(AddFileEntry(plan, name, child.string(), clampSeconds));
    }
    return Status();
}

// "a\\b\" -> "a\b": the folder a group name stands for, for comparisons.
std::u16string NormalizedFolder(std::u16string_view name) {
    std::u16string out;
    for (char16_t c : name) {
        if (c == u'\\' && (out.empty() || out.back() == u'\\')) continue;
        out.push_back(c);
    }
    while (!out.empty() && out.back() == u'\\') out.pop_back();
    return out;
}

Status CheckGroupName(const std::u16string& name, const std::string& text) {
    const std::string where = "group " + Quoted(name);
    if (name.size() >= kMaxNameLength) {
        return Status::Error(where + ": name is 32,000 UTF-16 units or longer");
    }
    const NameFault fault = RelativePathFault(name, u"\\");
    if (!IsValidUtf8(text) || fault != NameFault::None) {
        return Status::Error(where +
                             ": not a safe group name (no \"/\", \":\", \".\" or \"..\" "
                             "parts; \"\\\" separates subfolders)" +
                             (fault != NameFault::None ? ": " + NameFaultReason(fault, name) : ""));
    }
    if (ClassifyGroup(name) != GroupKind::Other) {
        return Status::Error(where + ": reserved name of the main or the flat group");
    }
    return Status();
}

// The runner creates a group's folder one level deep only, so the parent of
// "a\b" must already exist when the group is written: a folder of the
// payload (the cabinet is expanded first) or an earlier group.
Status CheckGroupParent(const std::u16string& name, const std::set<std::u16string>& folders) {
    const std::u16string folder = NormalizedFolder(name);
    const std::size_t last = folder.rfind(u'\\');
    if (last == std::u16string::npos) return Status();
    const std::u16string parent = folder.substr(0, last);
    if (folders.count(FoldedKey(parent)) == 0) {
        return Status::Error("group " + Quoted(name) + ": its parent folder " + Quoted(parent) +
                             " is neither a payload folder nor an earlier group, and the "
                             "runner creates only the last level");
    }
    return Status();
}

Status WriteEntryData(const EntryData& data, const PackageEntry& entry, int out,
                      const std::string& outPath, std::vector<std::uint8_t>& buffer) {
    if (data.bytes != nullptr)
        return WriteAll(out, data.bytes->data(), data.bytes->size(), outPath);
    UniqueFd in;
    std::uint64_t size = 0;
    RETURN_IF_ERROR(OpenForReading(data.path, in, size));
    if (size != entry.size) return Status::FileError(data.path, "changed while packing");
    return CopyRange(CopyEnd{in.Get(), data.path}, 0, size, CopyEnd{out, outPath}, data.scrambled,
                     buffer);
}

// Everything create decides before it writes a byte.
struct PackagePlan {
    std::vector<std::uint8_t> stub;
    FileInfo stubInfo;
    std::u16string settings;         // as stored
    std::u16string settingsAsGiven;  // as read, for the checks' line numbers
    bool totalFileSizeAdded = false;
    std::vector<std::uint8_t> settingsBytes;
    std::vector<std::uint8_t> messageBytes;
    std::vector<CabinetMember> members;
    std::uint64_t payloadBytes = 0;
    // Folded paths below the destination: the payload's files, and the
    // folders that the payload and the named groups create.
    std::set<std::u16string> payloadFiles;
    std::set<std::u16string> folders;
    std::vector<GroupPlan> groups;  // the main group first
    std::size_t cabinetIndex = 0;
};

// Files that the flat and named groups put below the destination folder.
void AddGroupFiles(const PackageGroup& group, std::vector<std::u16string>& files) {
    const GroupKind kind = ClassifyGroup(group.name);
    if (kind == GroupKind::Main) return;
    const std::u16string prefix = kind == GroupKind::Flat ? u"" : NormalizedFolder(group.name) + u"\\";
    for (const PackageEntry& entry : group.entries) files.push_back(prefix + entry.name);
}

std::vector<Finding> CheckPlan(const CreateOptions& options, const PackagePlan& plan) {
    CheckInputs inputs;
    inputs.settingsFile = options.settingsPath;
    inputs.settingsText = plan.settingsAsGiven;
    inputs.totalFileSizeAdded = plan.totalFileSizeAdded;
    inputs.payloadBytes = plan.payloadBytes;
    for (const CabinetMember& member : plan.members) inputs.destinationFiles.push_back(member.name);
    for (const GroupPlan& group : plan.groups) AddGroupFiles(group.group, inputs.destinationFiles);
    inputs.destinationFolders.assign(plan.folders.begin(), plan.folders.end());
    inputs.messageFile = options.messagePath;
    inputs.messageBytes = plan.messageBytes;
    return CheckPackageInputs(inputs);
}

std::size_t CountRefusing(const std::vector<Finding>& findings, bool strict) {
    return static_cast<std::size_t>(
        std::count_if(findings.begin(), findings.end(), [strict](const Finding& f) {
            return strict || f.severity == Severity::Error;
        }));
}

// create writes its output beside the output path and renames it at the
// end, so an output that is one of the inputs would replace that input (the
// stub, the settings...) or, inside an input folder, be packed by the next
// run. Files are compared by identity, not by how their paths are spelt.
Status RefuseOutputAmongInputs(const CreateOptions& options) {
    namespace fs = std::filesystem;
    struct stat output;
    if (::stat(options.outputPath.c_str(), &output) == 0) {
        std::vector<std::pair<const char*, std::string>> files = {
            {"--stub", options.stubPath},
            {"--settings", options.settingsPath},
            {"--message", options.messagePath}};
        for (const std::string& support : options.supportPaths) files.push_back({"--support", support});
        for (const auto& [option, path] : files) {
            struct stat input;
            if (path.empty() || ::stat(path.c_str(), &input) != 0) continue;
            if (input.st_dev == output.st_dev && input.st_ino == output.st_ino) {
                return Status::FileError(options.outputPath,
                                         std::string("is the ") + option +
                                             " input; choose another output file");
            }
        }
    }
    std::error_code error;
    const fs::path parent =
        fs::weakly_canonical(fs::absolute(fs::path(options.outputPath), error).parent_path(), error);
    if (error) return Status();
    std::vector<std::pair<std::string, std::string>> folders = {{"--payload", options.payloadFolder},
                                                                {"--flat", options.flatFolder}};
    for (const NamedGroupSource& group : options.groups) folders.push_back({"--group", group.folder});
    for (const auto& [option, folder] : folders) {
        if (folder.empty()) continue;
        const fs::path canonical = fs::canonical(folder, error);
        if (error) {
            error.clear();
            continue;
        }
        for (fs::path at = parent;; at = at.parent_path()) {
            if (fs::equivalent(at, canonical, error)) {
                return Status::FileError(options.outputPath,
                                         "lies inside the " + option +
                                             " folder, so it would be packed into the next "
                                             "package; choose another output folder");
            }
            if (at == at.root_path() || at.empty()) break;
        }
        error.clear();
    }
    return Status();
}

Status PlanPackage(const CreateOptions& options, bool needStub, PackagePlan& plan) {
    // The stub: a PE image with nothing behind its last section.
    if (needStub) {
        RETURN_IF_ERROR(ReadSmallFile(options.stubPath, kMaxStubSize, plan.stub));
        PeImage image;
        RETURN_IF_ERROR(
            CheckStub(plan.stub.data(), plan.stub.size(), image).WithPath(options.stubPath));
        RETURN_IF_ERROR(StatRegularFile(options.stubPath, plan.stubInfo));
    }

    std::vector<std::uint8_t> settingsInput;
    RETURN_IF_ERROR(ReadSmallFile(options.settingsPath, kMaxSettingsSize, settingsInput));
    std::u16string& settings = plan.settings;
    TextEncoding encoding;
    RETURN_IF_ERROR(
        DecodeSettingsText(settingsInput, settings, encoding).WithPath(options.settingsPath));
    FileInfo settingsInfo;
    RETURN_IF_ERROR(StatRegularFile(options.settingsPath, settingsInfo));

    std::vector<CabinetMember>& members = plan.members;
    RETURN_IF_ERROR(CollectPayload(options.payloadFolder, options.clampSeconds, members));
    std::uint64_t& payloadBytes = plan.payloadBytes;
    // Folded paths below the destination: the payload's files, and the
    // folders that the payload and the named groups create.
    std::set<std::u16string>& payloadFiles = plan.payloadFiles;
    std::set<std::u16string>& folders = plan.folders;
    for (const CabinetMember& member : members) {
        payloadBytes += member.size;
        payloadFiles.insert(FoldedKey(member.name));
        for (std::size_t slash = member.name.find(u'\\'); slash != std::u16string::npos;
             slash = member.name.find(u'\\', slash + 1)) {
            folders.insert(FoldedKey(member.name.substr(0, slash)));
        }
    }
    plan.settingsAsGiven = settings;
    if (!HasProfileKey(settings, u"Package", u"TotalFileSize")) {
        AddProfileKey(settings, u"Package", u"TotalFileSize", Ascii(std::to_string(payloadBytes)));
        plan.totalFileSizeAdded = true;
    }
    plan.settingsBytes = EncodeUtf16LeWithBom(settings);
    const std::vector<std::uint8_t>& settingsBytes = plan.settingsBytes;

    // Plan every group before anything slow happens.
    std::vector<GroupPlan>& plans = plan.groups;
    plans.resize(1);
    GroupPlan& mainPlan = plans[0];  // valid until more groups are added
    mainPlan.group.name = kMainGroupName;
    RETURN_IF_ERROR(AddEntry(mainPlan, kSettingsEntryName, settingsBytes.size(),
                             StoredFileTime(settingsInfo.modifiedSeconds,
                                            settingsInfo.modifiedNanoseconds, options.clampSeconds),
                             EntryData{"", &settingsBytes, false}, options.settingsPath));
    if (!members.empty()) {
        plan.cabinetIndex = mainPlan.group.entries.size();
        // Size and path are filled in once the cabinet exists.
        RETURN_IF_ERROR(AddEntry(mainPlan, kCabinetEntryName, 0,
                                 StoredFileTime(options.time, 0, options.clampSeconds),
                                 EntryData{"", nullptr, true}, options.payloadFolder));
    }
    if (!options.messagePath.empty()) {
        RETURN_IF_ERROR(
            AddFileEntry(mainPlan, kMessageEntryName, options.messagePath, options.clampSeconds));
        RETURN_IF_ERROR(ReadSmallFile(options.messagePath, kMaxSettingsSize, plan.messageBytes));
    }
    for (const std::string& path : options.supportPaths) {
        std::u16string name;
        RETURN_IF_ERROR(NameFromPath(path, name));
        RETURN_IF_ERROR(AddFileEntry(mainPlan, name, path, options.clampSeconds));
    }
    if (!options.flatFolder.empty()) {
        plans.emplace_back();
        plans.back().group.name = kFlatGroupName;
        RETURN_IF_ERROR(AddFolderEntries(plans.back(), options.flatFolder, options.clampSeconds));
    }
    std::set<std::u16string> groupNames;
    for (const NamedGroupSource& source : options.groups) {
        const std::u16string name = Utf8ToUtf16(source.name);
        RETURN_IF_ERROR(CheckGroupName(name, source.name));
        const std::u16string folder = FoldedKey(NormalizedFolder(name));
        if (!groupNames.insert(folder).second) {
            return Status::Error("group " + Quoted(name) +
                                 ": given twice (names are compared without regard to case)");
        }
        RETURN_IF_ERROR(CheckGroupParent(name, folders));
        if (payloadFiles.count(folder) != 0) {
            return Status::Error("group " + Quoted(name) + ": the payload has a file of that name");
        }
        folders.insert(folder);
        plans.emplace_back();
        plans.back().group.name = name;
        RETURN_IF_ERROR(AddFolderEntries(plans.back(), source.folder, options.clampSeconds));
    }

    // The runner writes the flat and named groups after expanding the
    // payload: an entry must neither replace a payload file nor take the
    // place of a folder.
    for (std::size_t g = 1; g < plans.size(); ++g) {
        const PackageGroup& group = plans[g].group;
        const std::u16string prefix = ClassifyGroup(group.name) == GroupKind::Flat
                                          ? u""
                                          : NormalizedFolder(group.name) + u"\\";
        for (std::size_t i = 0; i < group.entries.size(); ++i) {
            const std::u16string key = FoldedKey(prefix + group.entries[i].name);
            if (payloadFiles.count(key) != 0 || folders.count(key) != 0) {
                return Status::FileError(
                    plans[g].data[i].path,
                    "would be written over " +
                        std::string(payloadFiles.count(key) ? "the payload file " : "the folder ") +
                        Quoted(prefix + group.entries[i].name));
            }
        }
    }
    return Status();
}

}  // namespace

Status CreatePackage(const CreateOptions& options, std::vector<Finding>* findings,
                     CreateSummary* summary) {
    RETURN_IF_ERROR(RefuseOutputAmongInputs(options));
    PackagePlan plan;
    RETURN_IF_ERROR(PlanPackage(options, true, plan));
    std::vector<Finding> found = CheckPlan(options, plan);
    if (findings != nullptr) *findings = found;
    const std::size_t errors = CountRefusing(found, options.strict);
    if (errors != 0 && !options.force) {
        const char* what = options.strict ? (errors == 1 ? " finding" : " findings")
                                          : (errors == 1 ? " error" : " errors");
        return Status::FileError(options.settingsPath,
                                 std::to_string(errors) + what +
                                     (options.strict ? " (--strict)" : "") +
                                     " in the package's inputs; nothing written");
    }
    std::vector<std::uint8_t>& stub = plan.stub;
    std::vector<GroupPlan>& plans = plan.groups;
    const std::vector<CabinetMember>& members = plan.members;
    const std::size_t cabinetIndex = plan.cabinetIndex;

    TempFile output;
    RETURN_IF_ERROR(output.Create(options.outputPath));
    TempFile cabinet;
    if (!members.empty()) {
        RETURN_IF_ERROR(cabinet.Create(options.outputPath));
        RETURN_IF_ERROR(WriteCabinet(members, options.compression, cabinet.Path(),
                                     options.lzxWindowBits, options.progress));
        FileInfo info;
        RETURN_IF_ERROR(StatRegularFile(cabinet.Path(), info));
        if (info.size > kMaxEntrySize) {
            return Status::FileError(options.payloadFolder,
                                     "the payload cabinet is 4 GiB or larger; a package entry "
                                     "must be smaller");
        }
        plans[0].group.entries[cabinetIndex].size = info.size;
        plans[0].data[cabinetIndex].path = cabinet.Path();
    }

    PackageDirectory directory;
    directory.time1 = FileTimeFromUnix(options.time);
    directory.time2 = directory.time1;
    directory.flags = options.flags;
    for (GroupPlan& plan : plans) {
        plan.group.entryCount = static_cast<std::uint32_t>(plan.group.entries.size());
        directory.groups.push_back(plan.group);
    }
    std::vector<std::uint8_t> records;
    if (Failed(WriteDirectory(directory, records))) {
        return Status::FileError(options.outputPath, "the package directory cannot be written");
    }

    // The stub, with the package offset patched into its DOS header, then
    // the directory, then the entries' data in directory order.
    const std::uint64_t packageOffset = stub.size();
    for (int i = 0; i < 8; ++i) {
        stub[kPackageOffsetPosition + i] = static_cast<std::uint8_t>(packageOffset >> (8 * i));
    }
    RETURN_IF_ERROR(WriteAll(output.Fd(), stub.data(), stub.size(), output.Path()));
    RETURN_IF_ERROR(WriteAll(output.Fd(), records.data(), records.size(), output.Path()));
    std::vector<std::uint8_t> buffer(kCopyBufferSize);
    for (const GroupPlan& plan : plans) {
        for (std::size_t i = 0; i < plan.data.size(); ++i) {
            RETURN_IF_ERROR(WriteEntryData(plan.data[i], plan.group.entries[i], output.Fd(),
                                           output.Path(), buffer));
        }
    }
    cabinet.Discard();
    RETURN_IF_ERROR(output.CommitAs(options.outputPath, plan.stubInfo.mode & 0777));
    if (summary != nullptr) {
        summary->payloadFiles = members.size();
        summary->payloadBytes = plan.payloadBytes;
        summary->cabinetBytes = members.empty() ? 0 : plans[0].group.entries[cabinetIndex].size;
        FileInfo info;
        RETURN_IF_ERROR(StatRegularFile(options.outputPath, info));
        summary->outputBytes = info.size;
    }
    return Status();
}

namespace {

struct OpenedPackage {
    UniqueFd fd;
    std::uint64_t fileSize = 0;
    std::uint64_t offset = 0;
    std::uint64_t dataStart = 0;
    std::uint64_t dataEnd = 0;
    PackageDirectory directory;
};

Status OpenPackage(const std::string& path, OpenedPackage& package) {
    RETURN_IF_ERROR(OpenForReading(path, package.fd, package.fileSize));
    FileSource source(package.fd.Get());
    std::uint8_t field[8];
    if (!source.Seek(kPackageOffsetPosition) || !source.Read(field, sizeof field)) {
        return Status::FileError(path, "too short to hold a package");
    }
    const std::uint64_t offset = LoadLE64(field);
    if (offset == 0) return Status::FileError(path, "holds no package (bytes 32 to 39 are zero)");
    if (static_cast<std::int64_t>(offset) < 0 || offset >= package.fileSize) {
        return Status::FileError(path, "damaged package: its offset " + std::to_string(offset) +
                                           " lies outside the file");
    }
    PackageHeader header;
    if (Failed(ReadHeader(source, package.offset, header))) {
        return Status::FileError(path,
                                 "damaged package: the header is cut short or its time "
                                 "stamp is zero");
    }
    if (Failed(ReadDirectory(source, header, package.directory, package.dataStart))) {
        return Status::FileError(path,
                                 "damaged package: the directory is cut short, has a name "
                                 "of 32,000 units or more, or an unsafe name");
    }
    package.dataEnd = package.dataStart;
    for (const PackageGroup& group : package.directory.groups) {
        for (const PackageEntry& entry : group.entries) package.dataEnd += entry.size;
    }
    if (package.dataEnd > package.fileSize) {
        return Status::FileError(path, "damaged package: the entries' data end at byte " +
                                           std::to_string(package.dataEnd) +
                                           ", after the end "
                                           "of the file (" +
                                           std::to_string(package.fileSize) + " bytes)");
    }
    return Status();
}

// The program file's PE headers, from the start of the file.
Status ReadProgramHeaders(const OpenedPackage& package, PeImage& image) {
    std::vector<std::uint8_t> head(
        static_cast<std::size_t>(std::min<std::uint64_t>(package.fileSize, 1024 * 1024)));
    FileSource source(package.fd.Get());
    if (!source.Seek(0) || !source.Read(head.data(), head.size())) {
        return Status::Error("cannot read the program headers");
    }
    return ReadPeHeaders(head.data(), head.size(), package.fileSize, image);
}

// A small entry read into memory, unscrambled when asked.
Status ReadEntry(const OpenedPackage& package, const std::string& path, const PackageEntry& entry,
                 bool scrambled, std::uint64_t limit, std::vector<std::uint8_t>& bytes) {
    if (entry.size > limit) {
        return Status::FileError(path, Quoted(entry.name) + " is larger than " +
                                           std::to_string(limit) + " bytes");
    }
    bytes.resize(static_cast<std::size_t>(entry.size));
    FileSource source(package.fd.Get());
    if (!source.Seek(entry.offset) || !source.Read(bytes.data(), bytes.size())) {
        return Status::FileError(path, "cannot read " + Quoted(entry.name));
    }
    if (scrambled) UnscrambleBuffer(bytes.data(), bytes.size());
    return Status();
}

// Reads the complemented cabinet entry in blocks for ListCabinet.
struct CabinetWindow {
    int fd = -1;
    std::uint64_t base = 0;
    std::uint64_t size = 0;
    std::uint64_t blockStart = 0;
    std::vector<std::uint8_t> block;

    static bool Read(void* context, std::uint64_t offset, void* buffer, std::size_t length) {
        auto& self = *static_cast<CabinetWindow*>(context);
        auto* out = static_cast<std::uint8_t*>(buffer);
        while (length > 0) {
            if (offset < self.blockStart || offset >= self.blockStart + self.block.size()) {
                if (offset >= self.size) return false;
                const std::size_t want =
                    static_cast<std::size_t>(std::min<std::uint64_t>(64 * 1024, self.size - offset));
                self.block.resize(want);
                FileSource source(self.fd);
                if (!source.Seek(self.base + offset) || !source.Read(self.block.data(), want)) {
                    self.block.clear();
                    return false;
                }
                UnscrambleBuffer(self.block.data(), want);
                self.blockStart = offset;
            }
            const std::size_t at = static_cast<std::size_t>(offset - self.blockStart);
            const std::size_t take = std::min(length, self.block.size() - at);
            std::copy(self.block.begin() + static_cast<std::ptrdiff_t>(at),
                      self.block.begin() + static_cast<std::ptrdiff_t>(at + take), out);
            out += take;
            offset += take;
            length -= take;
        }
        return true;
    }
};

Status ListPackedCabinet(const OpenedPackage& package, const PackageEntry& entry,
                         std::vector<CabinetListing>& members) {
    CabinetWindow window;
    window.fd = package.fd.Get();
    window.base = entry.offset;
    window.size = entry.size;
    return ListCabinet(&CabinetWindow::Read, &window, entry.size, members);
}

std::string Hex(std::uint64_t value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*" PRIx64, digits, value);
    return text;
}

const char* RoleName(GroupKind kind) {
    switch (kind) {
        case GroupKind::Main:
            return "main";
        case GroupKind::Flat:
            return "flat";
        case GroupKind::Other:
            break;
    }
    return "named";
}

}  // namespace

Status CheckSources(const CreateOptions& options, std::vector<Finding>& findings) {
    PackagePlan plan;
    RETURN_IF_ERROR(PlanPackage(options, false, plan));
    findings = CheckPlan(options, plan);
    return Status();
}

namespace {

constexpr std::uint64_t kCertificateAlignment = 8;  // signing pads the file to this

// Where the package lies in the file: behind the image, every entry's data
// inside the file and ahead of any certificate table, and nothing behind the
// last entry that belongs to nothing (a directory whose sizes were changed
// leaves bytes over, or claims bytes of the certificate table).
void CheckLayout(const OpenedPackage& package, const PeImage& image, const std::string& path,
                 std::vector<Finding>& findings) {
    if (package.offset < image.imageEnd) {
        findings.push_back({Severity::Error, path, 0, "",
                            "the package begins at byte " + std::to_string(package.offset) +
                                ", inside the program image (which ends at byte " +
                                std::to_string(image.imageEnd) + ")"});
    }
    const bool signedFile = image.certificateSize != 0;
    const std::uint64_t end = signedFile ? image.certificateOffset : package.fileSize;
    if (package.dataEnd > end) {
        findings.push_back({Severity::Error, path, 0, "",
                            "the entries' data end at byte " + std::to_string(package.dataEnd) +
                                ", inside the certificate table (at byte " + std::to_string(end) +
                                "): the directory is damaged"});
        return;
    }
    // Signing pads the file to a multiple of 8 before the table.
    const std::uint64_t slack = signedFile ? kCertificateAlignment - 1 : 0;
    if (end - package.dataEnd > slack) {
        findings.push_back({Severity::Error, path, 0, "",
                            std::to_string(end - package.dataEnd) + " bytes after the last "
                            "entry (from byte " + std::to_string(package.dataEnd) +
                                ") belong to no entry: the directory is damaged, or something "
                                "was appended"});
    }
}

// The payload cabinet's data blocks against their checksums.
Status CheckCabinetEntry(const OpenedPackage& package, const PackageEntry& entry,
                         const std::string& path, std::vector<Finding>& findings,
                         std::vector<std::string>* notes) {
    CabinetWindow window;
    window.fd = package.fd.Get();
    window.base = entry.offset;
    window.size = entry.size;
    std::vector<std::string> problems;
    CabinetDataSummary summary;
    RETURN_IF_ERROR(
        CheckCabinetData(&CabinetWindow::Read, &window, entry.size, problems, summary).WithPath(path));
    for (const std::string& problem : problems) {
        findings.push_back({Severity::Error, path + ":" + Utf16ToUtf8(kCabinetEntryName), 0, "",
                            problem});
    }
    if (notes) {
        std::string note = "payload cabinet: " + std::to_string(summary.blocks) + " data blocks";
        if (!problems.empty()) {
            note += ", damaged (below)";
        } else if (summary.uncheckedBlocks == 0) {
            note += ", each matching its checksum";
        } else {
            note += ", " + std::to_string(summary.uncheckedBlocks) + " without a checksum";
        }
        notes->push_back(note);
    }
    return Status();
}

// The signature, where there is one.
Status CheckSignature(const OpenedPackage& package, const PeImage& image, const std::string& path,
                      std::vector<Finding>& findings, std::vector<std::string>* notes) {
    if (image.certificateSize == 0) {
        if (notes) notes->push_back("signature: none (the program file is not signed)");
        return Status();
    }
    SignatureReport report;
    RETURN_IF_ERROR(CheckAuthenticode(package.fd.Get(), package.fileSize, image, report).WithPath(path));
    for (const std::string& problem : report.problems) {
        findings.push_back({Severity::Error, path, 0, "", "signature: " + problem});
    }
    if (notes) {
        notes->push_back(report.problems.empty()
                             ? "signature: the " + report.digestAlgorithm +
                                   " digest of the file matches the signed one; signed by " +
                                   (report.signer.empty() ? "an unnamed certificate"
                                                          : "\"" + report.signer + "\"") +
                                   " (whether Windows trusts that certificate is not checked here)"
                             : "signature: does not verify");
    }
    return Status();
}

}  // namespace

Status CheckPackedProgram(const std::string& path, std::vector<Finding>& findings,
                          std::vector<std::string>* notes) {
    OpenedPackage package;
    RETURN_IF_ERROR(OpenPackage(path, package));
    CheckInputs inputs;
    inputs.settingsFile = path + ":Settings.ini";
    inputs.programSigned = false;
    PeImage image;
    RETURN_IF_ERROR(ReadProgramHeaders(package, image).WithPath(path));
    inputs.programSigned = image.certificateSize != 0;
    CheckLayout(package, image, path, findings);
    RETURN_IF_ERROR(CheckSignature(package, image, path, findings, notes));

    const PackageEntry* settings = nullptr;
    const PackageEntry* message = nullptr;
    const PackageEntry* cabinet = nullptr;
    std::set<std::u16string> folders;
    for (const PackageGroup& group : package.directory.groups) {
        const GroupKind kind = ClassifyGroup(group.name);
        if (kind == GroupKind::Main) {
            for (const PackageEntry& entry : group.entries) {
                if (!settings && EqualsNoCase(entry.name, kSettingsEntryName)) settings = &entry;
                if (!message && EqualsNoCase(entry.name, kMessageEntryName)) message = &entry;
                if (!cabinet && EqualsNoCase(entry.name, kCabinetEntryName)) cabinet = &entry;
            }
            continue;
        }
        AddGroupFiles(group, inputs.destinationFiles);
        if (kind == GroupKind::Other) folders.insert(NormalizedFolder(group.name));
    }
    if (settings == nullptr) {
        return Status::FileError(path, "the package holds no Settings.ini; the program would end "
                                       "with 0x80070002");
    }
    std::vector<std::uint8_t> bytes;
    RETURN_IF_ERROR(ReadEntry(package, path, *settings, false, kMaxSettingsSize, bytes));
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) {
        findings.push_back({Severity::Error, inputs.settingsFile, 0, "",
                            "not UTF-16LE with a byte-order mark, the only form the program's "
                            "profile reader reads as Unicode"});
    }
    TextEncoding encoding;
    RETURN_IF_ERROR(DecodeSettingsText(bytes, inputs.settingsText, encoding)
                        .WithPath(inputs.settingsFile));
    if (message != nullptr) {
        inputs.messageFile = path + ":MessageInfo.xml";
        RETURN_IF_ERROR(ReadEntry(package, path, *message, false, kMaxSettingsSize, inputs.messageBytes));
    }
    if (cabinet != nullptr) {
        RETURN_IF_ERROR(CheckCabinetEntry(package, *cabinet, path, findings, notes));
        std::vector<CabinetListing> members;
        RETURN_IF_ERROR(ListPackedCabinet(package, *cabinet, members).WithPath(path));
        for (const CabinetListing& member : members) {
            inputs.destinationFiles.push_back(member.name);
            inputs.payloadBytes += member.size;
            for (std::size_t slash = member.name.find(u'\\'); slash != std::u16string::npos;
                 slash = member.name.find(u'\\', slash + 1)) {
                folders.insert(member.name.substr(0, slash));
            }
        }
    }
    inputs.destinationFolders.assign(folders.begin(), folders.end());
    std::vector<Finding> found = CheckPackageInputs(inputs);
    findings.insert(findings.end(), found.begin(), found.end());
    return Status();
}

// One line for each folder of the packed cabinet: its compression.
Status ListPackedFolders(const OpenedPackage& package, const PackageEntry& entry,
                         std::ostream& out) {
    CabinetWindow window;
    window.fd = package.fd.Get();
    window.base = entry.offset;
    window.size = entry.size;
    std::vector<CabinetFolderListing> folders;
    RETURN_IF_ERROR(ListCabinetFolders(&CabinetWindow::Read, &window, entry.size, folders));
    for (std::size_t i = 0; i < folders.size(); ++i) {
        out << "  folder " << i + 1 << ": " << folders[i].compression << ", " << folders[i].blocks
            << (folders[i].blocks == 1 ? " data block\n" : " data blocks\n");
    }
    return Status();
}

Status ListPackage(const std::string& path, std::ostream& out) {
    OpenedPackage package;
    RETURN_IF_ERROR(OpenPackage(path, package));
    const PackageDirectory& directory = package.directory;
    out << "package   " << path << "\n"
        << "offset    " << package.offset << " (" << Hex(package.offset, 8) << ")\n"
        << "data      " << package.dataStart << " to " << package.dataEnd << "\n"
        << "time1     " << FormatFileTimeUtc(directory.time1) << " (" << Hex(directory.time1, 16)
        << ")\n"
        << "time2     " << FormatFileTimeUtc(directory.time2) << " (" << Hex(directory.time2, 16)
        << ")\n"
        << "flags     " << Hex(directory.flags, 16) << "\n";
    if ((directory.flags & kFlagConsultSilentRegistry) != 0) {
        out << "          bit 0: consult SilentExecution registry value\n";
    }
    if ((directory.flags & ~kFlagConsultSilentRegistry) != 0) {
        out << "          other bits: not used by the runner\n";
    }
    PeImage image;
    const Status pe = ReadProgramHeaders(package, image);
    out << "signature ";
    if (!pe.Ok()) {
        out << "unknown (" << pe.Message() << ")\n";
    } else if (image.certificateSize == 0) {
        out << "none (the program file is not signed)\n";
    } else {
        out << "a certificate table of " << image.certificateSize << " bytes at offset "
            << image.certificateOffset << " (present; check verifies it)\n";
    }
    out << "groups    " << directory.groups.size() << "\n";

    char line[128];
    for (const PackageGroup& group : directory.groups) {
        out << "\ngroup " << Printable(group.name) << " (" << RoleName(ClassifyGroup(group.name))
            << ", " << group.entries.size() << (group.entries.size() == 1 ? " entry" : " entries")
            << ")\n";
        if (group.entries.empty()) continue;
        std::snprintf(line, sizeof line, "  %12s  %12s  %-23s  %s\n", "size", "offset",
                      "last write", "name");
        out << line;
        for (const PackageEntry& entry : group.entries) {
            std::snprintf(line, sizeof line, "  %12" PRIu64 "  %12" PRIu64 "  %-23s  ", entry.size,
                          entry.offset, FormatFileTimeUtc(entry.lastWriteTime).c_str());
            out << line << Printable(entry.name) << "\n";
        }
    }

    for (const PackageGroup& group : directory.groups) {
        if (ClassifyGroup(group.name) != GroupKind::Main) continue;
        for (const PackageEntry& entry : group.entries) {
            if (!EqualsNoCase(entry.name, kCabinetEntryName)) continue;
            std::vector<CabinetListing> members;
            RETURN_IF_ERROR(ListPackedCabinet(package, entry, members).WithPath(path));
            std::uint64_t total = 0;
            for (const CabinetListing& member : members) total += member.size;
            out << "\npayload cabinet (" << members.size()
                << (members.size() == 1 ? " file, " : " files, ") << total << " bytes)\n";
            RETURN_IF_ERROR(ListPackedFolders(package, entry, out).WithPath(path));
            if (members.empty()) continue;
            std::snprintf(line, sizeof line, "  %12s  %-23s  %s\n", "size", "time", "name");
            out << line;
            for (const CabinetListing& member : members) {
                const std::string time =
                    FormatFileTimeUtc(FileTimeFromUnix(member.time)).substr(0, 19) +
                    (member.utc ? " UTC" : " loc");
                std::snprintf(line, sizeof line, "  %12" PRIu32 "  %-23s  ", member.size,
                              time.c_str());
                out << line << Printable(member.name) << "\n";
            }
        }
    }
    return Status();
}

namespace {

// "a\\b/c" as its parts, empty ones left out.
std::vector<std::string> PathParts(std::u16string_view path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of(u"\\/", start);
        if (end == std::u16string_view::npos) end = path.size();
        if (end > start) parts.push_back(Utf16ToUtf8(path.substr(start, end - start)));
        start = end + 1;
    }
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
    const PackageEntry* settings = nullptr;
    for (const PackageGroup& group : package.directory.groups) {
        if (ClassifyGroup(group.name) != GroupKind::Main) continue;
        for (const PackageEntry& entry : group.entries) {
            if (settings == nullptr && EqualsNoCase(entry.name, kSettingsEntryName)) {
                settings = &entry;
            }
        }
    }

    std::vector<std::uint8_t> buffer(kCopyBufferSize);
    for (const PackageGroup& group : package.directory.groups) {
        const GroupKind kind = ClassifyGroup(group.name);
        const bool isMain = kind == GroupKind::Main;
        std::string shownTarget = isMain ? supportFolder : packageFolder;
        UniqueFd target;
        RETURN_IF_ERROR(OpenFolderPath(isMain ? support.Get() : packageFd.Get(),
                                       kind == GroupKind::Other ? PathParts(group.name)
                                                                : std::vector<std::string>(),
                                       shownTarget, target));
        for (const PackageEntry& entry : group.entries) {
            if (isMain && EqualsNoCase(entry.name, kSettingsEntryName) && &entry != settings) {
                continue;
            }
            if (isMain && EqualsNoCase(entry.name, kCabinetEntryName)) {
                // The runner's copy of the cabinet is deleted once expanded.
                RETURN_IF_ERROR(ExpandCabinetEntry(package, path, entry, output.Get(), folder,
                                                   packageFd.Get(), packageFolder, buffer));
                continue;
            }
            const std::string shown = shownTarget + "/" + Printable(entry.name);
            UniqueFd out;
            RETURN_IF_ERROR(CreateNewFileAt(target.Get(), Utf16ToUtf8(entry.name), shown, out));
            RETURN_IF_ERROR(CopyRange(CopyEnd{package.fd.Get(), path}, entry.offset, entry.size,
                                      CopyEnd{out.Get(), shown}, false, buffer));
            if (entry.HasLastWriteTime()) {
                const std::uint64_t units = entry.lastWriteTime % kFileTimeUnitsPerSecond;
                RETURN_IF_ERROR(SetModificationTime(out.Get(), shown,
                                                    UnixFromFileTime(entry.lastWriteTime),
                                                    static_cast<std::uint32_t>(units * 100)));
            }
            RETURN_IF_ERROR(out.Close(shown));
        }
    }
    return Status();
}

}  // namespace quarry::pack
