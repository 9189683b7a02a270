#include "Create.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "CreatePlan.h"
#include "Destination.h"
#include "FileIo.h"
#include "FileTime.h"
#include "package/PackageFormat.h"

namespace quarry::pack {

namespace {

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



// Errors (with --strict, every finding) refuse the package unless --force.
Status RefuseOnFindings(const CreateOptions& options, const std::vector<Finding>& found) {
    const std::size_t errors = CountRefusing(found, options.strict);
    if (errors == 0 || options.force) return Status();
    const char* what = options.strict ? (errors == 1 ? " finding" : " findings")
                                      : (errors == 1 ? " error" : " errors");
    return Status::FileError(options.settingsPath,
                             std::to_string(errors) + what +
                                 (options.strict ? " (--strict)" : "") +
                                 " in the package's inputs; nothing written");
}

// The payload cabinet, written to `cabinet`, becomes the planned entry's data.
Status WritePayloadCabinet(const CreateOptions& options, PackagePlan& plan, TempFile& cabinet) {
    RETURN_IF_ERROR(cabinet.Create(options.outputPath));
    RETURN_IF_ERROR(WriteCabinet(plan.members, options.compression, cabinet.Path(),
                                 options.lzxWindowBits, options.progress));
    FileInfo info;
    RETURN_IF_ERROR(StatRegularFile(cabinet.Path(), info));
    if (info.size > kMaxEntrySize) {
        return Status::FileError(options.payloadFolder,
                                 "the payload cabinet is 4 GiB or larger; a package entry "
                                 "must be smaller");
    }
    plan.groups[0].group.entries[plan.cabinetIndex].size = info.size;
    plan.groups[0].data[plan.cabinetIndex].path = cabinet.Path();
    return Status();
}

// The stub, its version block and icon set as asked (`resourcesSet` tells
// whether it changed) and the package offset patched into its DOS header,
// then the directory, then the entries' data in directory order.
Status WriteProgram(const CreateOptions& options, PackagePlan& plan, TempFile& output,
                    bool& resourcesSet) {
    PackageDirectory directory;
    directory.time1 = FileTimeFromUnix(options.time);
    directory.time2 = directory.time1;
    directory.flags = options.flags;
    for (GroupPlan& group : plan.groups) {
        group.group.entryCount = static_cast<std::uint32_t>(group.group.entries.size());
        directory.groups.push_back(group.group);
    }
    std::vector<std::uint8_t> records;
    if (Failed(WriteDirectory(directory, records))) {
        return Status::FileError(options.outputPath, "the package directory cannot be written");
    }
    std::vector<std::uint8_t>& stub = plan.stub;
    RETURN_IF_ERROR(SetProgramResources(
        stub, options.stubPath, options.resources, SettingsProductName(plan.settingsAsGiven),
        std::filesystem::path(options.outputPath).filename().string(), resourcesSet));
    const std::uint64_t packageOffset = stub.size();
    for (int i = 0; i < 8; ++i) {
        stub[kPackageOffsetPosition + i] = static_cast<std::uint8_t>(packageOffset >> (8 * i));
    }
    RETURN_IF_ERROR(WriteAll(output.Fd(), stub.data(), stub.size(), output.Path()));
    RETURN_IF_ERROR(WriteAll(output.Fd(), records.data(), records.size(), output.Path()));
    std::vector<std::uint8_t> buffer(kCopyBufferSize);
    for (const GroupPlan& group : plan.groups) {
        for (std::size_t i = 0; i < group.data.size(); ++i) {
            RETURN_IF_ERROR(WriteEntryData(group.data[i], group.group.entries[i], output.Fd(),
                                           output.Path(), buffer));
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
    RETURN_IF_ERROR(RefuseOnFindings(options, found));

    TempFile output;
    RETURN_IF_ERROR(output.Create(options.outputPath));
    TempFile cabinet;
    if (!plan.members.empty()) RETURN_IF_ERROR(WritePayloadCabinet(options, plan, cabinet));
    bool resourcesSet = false;
    RETURN_IF_ERROR(WriteProgram(options, plan, output, resourcesSet));
    if (resourcesSet) RETURN_IF_ERROR(UpdateImageChecksum(output.Fd(), output.Path()));
    cabinet.Discard();
    RETURN_IF_ERROR(output.CommitAs(options.outputPath, plan.stubInfo.mode & 0777));
    if (summary != nullptr) {
        summary->payloadFiles = plan.members.size();
        summary->payloadBytes = plan.payloadBytes;
        summary->cabinetBytes =
            plan.members.empty() ? 0 : plan.groups[0].group.entries[plan.cabinetIndex].size;
        FileInfo info;
        RETURN_IF_ERROR(StatRegularFile(options.outputPath, info));
        summary->outputBytes = info.size;
    }
    return Status();
}

Status CheckSources(const CreateOptions& options, std::vector<Finding>& findings) {
    PackagePlan plan;
    RETURN_IF_ERROR(PlanPackage(options, false, plan));
    findings = CheckPlan(options, plan);
    return Status();
}

}  // namespace quarry::pack
