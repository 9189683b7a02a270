// PackageReader::ExtractAll: every entry of the package written out, the
// payload cabinet unscrambled, expanded and removed again.
#include "common/Text.h"
#include "common/WinResult.h"
#include "package/CabinetExtract.h"
#include "package/PackageReader.h"

namespace quarry {

namespace {

bool IsSignalled(HANDLE event) {
    return event && ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

// Expands the copied cabinet into `destination` and, on success, deletes the
// copy and appends what came out to `records` with `prefix`. A failure
// leaves the copy where it is.
HResult ExpandCopiedCabinet(const std::u16string& cabinetPath, const std::u16string& destination,
                            const std::u16string& prefix, HANDLE cancelEvent,
                            std::vector<ExtractedFileRecord>& records) {
    CExtract extract;
    RETURN_IF_FAILED(extract.Create());
    if (!extract.Expand(cabinetPath, destination, cancelEvent)) {
        return IsSignalled(cancelEvent) ? kResultAbort : kResultPackageUnreadable;
    }
    ::SetFileAttributesW(Wide(cabinetPath), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(Wide(cabinetPath));
    for (const ExtractedFileRecord& file : extract.ExtractedFiles()) {
        records.push_back({prefix + file.relativePath, file.size});
    }
    return kResultOk;
}

}  // namespace

HResult PackageReader::ExtractAll(const std::u16string& destination, HANDLE cancelEvent) {
    destinationFolder = destination;
    SetProgress(0, static_cast<std::uint64_t>(settings.TotalFileSize));

    for (const PackageGroup& group : directory_.groups) {
        if (IsSignalled(cancelEvent)) return kResultAbort;
        const GroupKind kind = ClassifyGroup(group.name);
        std::u16string folder = destinationFolder;
        if (kind == GroupKind::Main) folder = supportFolder_;
        if (kind == GroupKind::Other) folder += group.name + u"\\";
        if (!CreateFolderIfMissing(folder)) {
            return kResultFolderNotCreated;
        }
        const std::unique_ptr<std::uint8_t[]> buffer = AllocateCopyBuffer();
        const std::u16string prefix = kind == GroupKind::Other ? group.name + u"\\" : u"";

        for (const PackageEntry& entry : group.entries) {
            if (IsSignalled(cancelEvent)) return kResultAbort;
            bool isCabinet = false;
            if (kind == GroupKind::Main) {
                if (EqualsNoCase(entry.name, kSettingsEntryName)) continue;
                isCabinet = EqualsNoCase(entry.name, kCabinetEntryName);
                if (isCabinet) AddProgressTotal(entry.size);
            }
            const std::u16string target = folder + entry.name;
            RETURN_IF_FAILED(CopyEntryToFile(entry, target, isCabinet,
                                             isCabinet || kind != GroupKind::Main, buffer.get()));
            if (isCabinet) {
                RETURN_IF_FAILED(ExpandCopiedCabinet(target, destinationFolder, prefix,
                                                     cancelEvent, destinationFiles));
            } else {
                std::vector<ExtractedFileRecord>& records =
                    kind == GroupKind::Main ? supportFiles : destinationFiles;
                records.push_back({prefix + entry.name, entry.size});
            }
        }
    }
    return kResultOk;
}

}  // namespace quarry
