// PackageReader::ExtractAll: every entry of the package written out and the
// payload cabinet expanded straight from the package.
#include "common/Text.h"
#include "common/WinResult.h"
#include "package/CabinetExtract.h"
#include "package/PackageReader.h"

namespace quarry {

namespace {

bool IsSignalled(HANDLE event) {
    return event && ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

}  // namespace

// The cabinet is read from the open program file where it lies, so no copy
// of it is written; the next cabinets of a set are main group entries, all
// written to the Support folder before the expansion starts, and are opened
// from there.
HResult PackageReader::ExpandPackagedCabinet(const PackageEntry& entry, HANDLE cancelEvent) {
    std::uint64_t counted = 0;
    CExtract extract(cabinetFileFunctions);
    RETURN_IF_FAILED(extract.Create());
    extract.FingerprintFile(fingerprintPath);
    const std::u16string path = supportFolder_ + entry.name;
    extract.ReadCabinetFrom(path, {&file_, entry.offset, entry.size, [&](std::uint64_t bytes) {
                                       counted += bytes;
                                       AddProgressDone(bytes);
                                   }});
    // The user learns of a cancel as such, and of every other failure of
    // the expansion as a package that cannot be read.
    const HResult expanded = extract.Expand(path, destinationFolder, cancelEvent);
    if (Failed(expanded)) return expanded == kResultAbort ? kResultAbort : kResultPackageUnreadable;
    // What the expansion did not need to read counts as done all the same.
    if (counted < entry.size) AddProgressDone(entry.size - counted);
    const std::vector<ExtractedFileRecord>& files = extract.ExtractedFiles();
    destinationFiles.insert(destinationFiles.end(), files.begin(), files.end());
    return kResultOk;
}

HResult PackageReader::ExtractAll(const std::u16string& destination, HANDLE cancelEvent) {
    destinationFolder = destination;
    SetProgress(0, static_cast<std::uint64_t>(settings.TotalFileSize));

    for (const PackageGroup& group : directory_.groups) {
        if (IsSignalled(cancelEvent)) return kResultAbort;
        const GroupKind kind = ClassifyGroup(group.name);
        std::u16string folder = destinationFolder;
        if (kind == GroupKind::Main) folder = supportFolder_;
        if (kind == GroupKind::Other) folder += group.name + u"\\";
        if (Failed(CreateFolderIfMissing(folder))) return kResultFolderNotCreated;
        const std::unique_ptr<std::uint8_t[]> buffer = AllocateCopyBuffer();
        const std::u16string prefix = kind == GroupKind::Other ? group.name + u"\\" : u"";
        const PackageEntry* cabinet = nullptr;

        for (const PackageEntry& entry : group.entries) {
            if (IsSignalled(cancelEvent)) return kResultAbort;
            if (kind == GroupKind::Main) {
                if (EqualsNoCase(entry.name, kSettingsEntryName)) continue;
                if (!cabinet && EqualsNoCase(entry.name, kCabinetEntryName)) {
                    AddProgressTotal(entry.size);
                    cabinet = &entry;
                    continue;
                }
            }
            const std::u16string target = folder + entry.name;
            ExtractedFileRecord record{prefix + entry.name, entry.size};
            Sha256 fingerprint;
            record.fingerprinted = kind != GroupKind::Main && !fingerprintPath.empty() &&
                                   EqualsNoCase(record.relativePath, fingerprintPath);
            RETURN_IF_FAILED(CopyEntryToFile(entry, target, false, kind != GroupKind::Main,
                                             buffer.get(),
                                             record.fingerprinted ? &fingerprint : nullptr));
            if (record.fingerprinted) record.digest = fingerprint.Finish();
            std::vector<ExtractedFileRecord>& records =
                kind == GroupKind::Main ? supportFiles : destinationFiles;
            records.push_back(std::move(record));
        }
        if (cabinet) {
            if (IsSignalled(cancelEvent)) return kResultAbort;
            RETURN_IF_FAILED(ExpandPackagedCabinet(*cabinet, cancelEvent));
        }
    }
    return kResultOk;
}

}  // namespace quarry
