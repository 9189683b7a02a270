// PackageReader: opening the package and reading its settings, writing
// every entry out and expanding the payload cabinet straight from the
// package, and the checks of what was written.
#include "package/PackageReader.h"

#include <new>

#include "common/Text.h"
#include "common/WinResult.h"
#include "package/CabinetExtract.h"
#include "package/ExtractedFilesLog_win.h"
#include "package/PackageLayout.h"

namespace quarry {

HResult ReadPackageHeader(const std::u16string& programPath, std::uint64_t& time1,
                          std::uint64_t& time2, std::uint64_t& flags) {
    time1 = time2 = flags = 0;
    FileSource source;
    if (Failed(source.Open(programPath))) return kResultFail;
    std::uint64_t packageOffset = 0;
    PackageHeader header;
    RETURN_IF_FAILED(ReadHeader(source, packageOffset, header));
    time1 = header.time1;
    time2 = header.time2;
    flags = header.flags;
    return kResultOk;
}

std::unique_ptr<std::uint8_t[]> AllocateCopyBuffer() {
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kCopyBufferSize]);
    if (!buffer) throw ResultError{kResultOutOfMemory};
    return buffer;
}

PackageReader::PackageReader() {
    if (!::InitializeCriticalSectionAndSpinCount(&progressLock_, 0)) {
        throw ResultError{LastErrorResult()};
    }
}

PackageReader::~PackageReader() {
    file_.Close();
    ::DeleteCriticalSection(&progressLock_);
}

HResult PackageReader::Open(const std::u16string& packagePath,
                            const std::u16string& supportFolder) {
    file_.Close();
    directory_ = PackageDirectory();
    dataStart_ = 0;
    packagePath_ = packagePath;
    supportFolder_ = supportFolder;
    if (Failed(file_.Open(packagePath_))) {
        // Not a failure here: LoadSettings then finds no "Settings.ini".
        return kResultNothingRun;
    }
    std::uint64_t packageOffset = 0;
    PackageHeader header;
    RETURN_IF_FAILED(ReadHeader(file_, packageOffset, header));
    return ReadDirectory(file_, header, directory_, dataStart_);
}

HResult PackageReader::LoadSettings() {
    const std::unique_ptr<std::uint8_t[]> buffer = AllocateCopyBuffer();
    const std::u16string target = supportFolder_ + kSettingsEntryName;
    const PackageEntry* entry = FindMainEntry(directory_, kSettingsEntryName);
    if (entry == nullptr) return kResultFileNotFound;
    RETURN_IF_FAILED(CopyEntryToFile(*entry, target, false, false, buffer.get()));
    supportFiles.push_back({kSettingsEntryName, entry->size});
    // The file was just written, so loading it cannot miss it.
    settings.Load(target);
    return kResultOk;
}

HResult PackageReader::CopyEntryToFile(const PackageEntry& entry,
                                       const std::u16string& targetPath, bool unscramble,
                                       bool countProgress, std::uint8_t* buffer,
                                       Sha256* fingerprint) {
    if (!file_.Seek(entry.offset)) return kResultPackageUnreadable;

    // Every file goes into a folder this run made: one that is there
    // already came from another name of the package for the same file
    // ("a.exe" and "A.EXE"), and must not be written over.
    UniqueFile target(::CreateFileW(Wide(targetPath), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                   ? kResultPackageUnreadable
                   : kResultOpenFailed;
    }
    std::uint64_t remaining = entry.size;
    while (remaining != 0) {
        const DWORD chunk = remaining < kCopyBufferSize ? static_cast<DWORD>(remaining)
                                                        : static_cast<DWORD>(kCopyBufferSize);
        if (!file_.Read(buffer, chunk)) return kResultReadFault;
        if (unscramble) UnscrambleBuffer(buffer, chunk);
        DWORD written = 0;
        const bool wrote =
            ::WriteFile(target.Get(), buffer, chunk, &written, nullptr) && written == chunk;
        if (countProgress) AddProgressDone(chunk);
        if (!wrote) return kResultWriteFault;
        if (fingerprint) fingerprint->Update(buffer, chunk);
        remaining -= chunk;
    }
    if (!entry.HasLastWriteTime()) return kResultOk;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(entry.lastWriteTime);
    time.dwHighDateTime = static_cast<DWORD>(entry.lastWriteTime >> 32);
    RETURN_IF_WIN32_BOOL_FALSE(::SetFileTime(target.Get(), nullptr, nullptr, &time));
    return kResultOk;
}

void PackageReader::GetProgress(std::uint64_t& done, std::uint64_t& total) {
    ::EnterCriticalSection(&progressLock_);
    done = progressDone_;
    total = progressTotal_;
    ::LeaveCriticalSection(&progressLock_);
}

void PackageReader::SetProgress(std::uint64_t done, std::uint64_t total) {
    ::EnterCriticalSection(&progressLock_);
    progressDone_ = done;
    progressTotal_ = total;
    ::LeaveCriticalSection(&progressLock_);
}

void PackageReader::AddProgressTotal(std::uint64_t amount) {
    ::EnterCriticalSection(&progressLock_);
    progressTotal_ += amount;
    ::LeaveCriticalSection(&progressLock_);
}

void PackageReader::AddProgressDone(std::uint64_t amount) {
    ::EnterCriticalSection(&progressLock_);
    progressDone_ += amount;
    ::LeaveCriticalSection(&progressLock_);
}

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
        const std::u16string prefix = GroupDestinationPrefix(group.name);
        const std::u16string folder =
            kind == GroupKind::Main ? supportFolder_ : destinationFolder + prefix;
        if (Failed(CreateFolderIfMissing(folder))) return kResultFolderNotCreated;
        const std::unique_ptr<std::uint8_t[]> buffer = AllocateCopyBuffer();
        const PackageEntry* cabinet = GroupPayloadCabinet(group);

        for (const PackageEntry& entry : group.entries) {
            if (IsSignalled(cancelEvent)) return kResultAbort;
            if (kind == GroupKind::Main) {
                if (EqualsNoCase(entry.name, kSettingsEntryName)) continue;
                if (&entry == cabinet) {
                    AddProgressTotal(entry.size);
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

HResult PackageReader::HoldLaunchFile(const std::u16string& relativePath,
                                      const std::u16string& logPath,
                                      const std::u16string& programPath,
                                      std::uint64_t programSize,
                                      std::vector<UniqueFile>& held) {
    const TreeCheck check = {destinationFolder, destinationFiles, logPath, programPath,
                             programSize};
    return quarry::HoldLaunchFile(check, relativePath, held);
}

HResult PackageReader::WriteExtractedFilesLog(int mode, const std::u16string& logPath,
                                              const std::u16string& programPath,
                                              std::uint64_t programSize) {
    const TreeCheck check = {mode == 0 ? destinationFolder : supportFolder_,
                             mode == 0 ? destinationFiles : supportFiles, logPath, programPath,
                             programSize};
    return VerifyExtractedTree(check);
}

}  // namespace quarry
