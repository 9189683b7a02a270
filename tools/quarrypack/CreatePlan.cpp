#include "CreatePlan.h"

#include <algorithm>
#include <filesystem>

#include "Destination.h"
#include "FileTime.h"
#include "IniText.h"
#include "Names.h"
#include "PackageFile.h"
#include "Pe.h"
#include "common/Text.h"
#include "package/PackageLayout.h"

namespace quarry::pack {

namespace {

constexpr std::uint64_t kMaxStubSize = 256ull * 1024 * 1024;

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

}  // namespace


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

namespace {

// The stub: a PE image with nothing behind its last section.
Status PlanStub(const CreateOptions& options, PackagePlan& plan) {
    RETURN_IF_ERROR(ReadSmallFile(options.stubPath, kMaxStubSize, plan.stub));
    PeImage image;
    RETURN_IF_ERROR(CheckStub(plan.stub.data(), plan.stub.size(), image).WithPath(options.stubPath));
    return StatRegularFile(options.stubPath, plan.stubInfo);
}

Status ReadSettings(const CreateOptions& options, PackagePlan& plan, FileInfo& settingsInfo) {
    std::vector<std::uint8_t> settingsInput;
    RETURN_IF_ERROR(ReadSmallFile(options.settingsPath, kMaxSettingsSize, settingsInput));
    TextEncoding encoding;
    RETURN_IF_ERROR(
        DecodeSettingsText(settingsInput, plan.settings, encoding).WithPath(options.settingsPath));
    return StatRegularFile(options.settingsPath, settingsInfo);
}

Status PlanPayload(const CreateOptions& options, PackagePlan& plan) {
    RETURN_IF_ERROR(CollectPayload(options.payloadFolder, options.clampSeconds, plan.members));
    for (const CabinetMember& member : plan.members) {
        plan.payloadBytes += member.size;
        plan.payloadFiles.insert(FoldedKey(member.name));
        for (const std::u16string& folder : ParentFolders(member.name)) {
            plan.folders.insert(FoldedKey(folder));
        }
    }
    return Status();
}

// The settings as stored: TotalFileSize added when it is missing.
void StoreSettings(PackagePlan& plan) {
    plan.settingsAsGiven = plan.settings;
    if (!HasProfileKey(plan.settings, u"Package", u"TotalFileSize")) {
        AddProfileKey(plan.settings, u"Package", u"TotalFileSize",
                      Ascii(std::to_string(plan.payloadBytes)));
        plan.totalFileSizeAdded = true;
    }
    plan.settingsBytes = EncodeUtf16LeWithBom(plan.settings);
}

Status PlanMainGroup(const CreateOptions& options, const FileInfo& settingsInfo,
                     PackagePlan& plan) {
    plan.groups.resize(1);
    GroupPlan& mainPlan = plan.groups[0];
    mainPlan.group.name = kMainGroupName;
    RETURN_IF_ERROR(AddEntry(mainPlan, kSettingsEntryName, plan.settingsBytes.size(),
                             StoredFileTime(settingsInfo.modifiedSeconds,
                                            settingsInfo.modifiedNanoseconds, options.clampSeconds),
                             EntryData{"", &plan.settingsBytes, false}, options.settingsPath));
    if (!plan.members.empty()) {
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
    return Status();
}

Status PlanNamedGroup(const NamedGroupSource& source, const CreateOptions& options,
                      std::set<std::u16string>& groupNames, PackagePlan& plan) {
    const std::u16string name = Utf8ToUtf16(source.name);
    RETURN_IF_ERROR(CheckGroupName(name, source.name));
    const std::u16string folder = FoldedKey(NormalizedFolder(name));
    if (!groupNames.insert(folder).second) {
        return Status::Error("group " + Quoted(name) +
                             ": given twice (names are compared without regard to case)");
    }
    RETURN_IF_ERROR(CheckGroupParent(name, plan.folders));
    if (plan.payloadFiles.count(folder) != 0) {
        return Status::Error("group " + Quoted(name) + ": the payload has a file of that name");
    }
    plan.folders.insert(folder);
    plan.groups.emplace_back();
    plan.groups.back().group.name = name;
    return AddFolderEntries(plan.groups.back(), source.folder, options.clampSeconds);
}

// The runner writes the flat and named groups after expanding the payload:
// an entry must neither replace a payload file nor take the place of a
// folder.
Status RefuseGroupsOverPayload(const PackagePlan& plan) {
    for (std::size_t g = 1; g < plan.groups.size(); ++g) {
        const PackageGroup& group = plan.groups[g].group;
        for (std::size_t i = 0; i < group.entries.size(); ++i) {
            const std::u16string path = GroupEntryPath(group.name, group.entries[i].name);
            const std::u16string key = FoldedKey(path);
            if (plan.payloadFiles.count(key) != 0 || plan.folders.count(key) != 0) {
                return Status::FileError(
                    plan.groups[g].data[i].path,
                    "would be written over " +
                        std::string(plan.payloadFiles.count(key) ? "the payload file "
                                                                 : "the folder ") +
                        Quoted(path));
            }
        }
    }
    return Status();
}

}  // namespace

Status PlanPackage(const CreateOptions& options, bool needStub, PackagePlan& plan) {
    if (needStub) RETURN_IF_ERROR(PlanStub(options, plan));
    FileInfo settingsInfo;
    RETURN_IF_ERROR(ReadSettings(options, plan, settingsInfo));
    RETURN_IF_ERROR(PlanPayload(options, plan));
    StoreSettings(plan);

    // Plan every group before anything slow happens.
    RETURN_IF_ERROR(PlanMainGroup(options, settingsInfo, plan));
    if (!options.flatFolder.empty()) {
        plan.groups.emplace_back();
        plan.groups.back().group.name = kFlatGroupName;
        RETURN_IF_ERROR(
            AddFolderEntries(plan.groups.back(), options.flatFolder, options.clampSeconds));
    }
    std::set<std::u16string> groupNames;
    for (const NamedGroupSource& source : options.groups) {
        RETURN_IF_ERROR(PlanNamedGroup(source, options, groupNames, plan));
    }
    return RefuseGroupsOverPayload(plan);
}

}  // namespace quarry::pack
