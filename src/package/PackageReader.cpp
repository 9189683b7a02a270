#include "package/PackageReader.h"

#include <new>

#include "common/Text.h"
#include "common/WinResult.h"
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

}  // namespace quarry
