// Finds the package behind the running program's image, parses its
// directory, copies entries out to files and loads "Settings.ini".
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/Result.h"
#include "common/Sha256.h"
#include "common/Unique.h"
#include "common/WinFile.h"
#include "package/CabinetExtract.h"
#include "package/PackageFormat.h"
#include "settings/PackageSettings.h"

namespace quarry {

// Opens the program file read-only and reads the package header alone.
// Returns 0, 0x80040006 when the header is unreadable, or 0x80004005 when
// the file cannot be opened; the outputs are zero on failure.
HResult ReadPackageHeader(const std::u16string& programPath, std::uint64_t& time1,
                          std::uint64_t& time2, std::uint64_t& flags);

// The caller-owned block that CopyEntryToFile copies through (5 MiB).
// Throws ResultError(0x8007000E) when the memory cannot be had.
std::unique_ptr<std::uint8_t[]> AllocateCopyBuffer();

class PackageReader {
public:
    // Throws ResultError when the progress lock cannot be created.
    PackageReader();
    ~PackageReader();
    PackageReader(const PackageReader&) = delete;
    PackageReader& operator=(const PackageReader&) = delete;

    // Closes any open package, stores both paths, opens the program file and
    // parses header and directory. Returns 0; 0x80040006 when the package is
    // unreadable or holds an unsafe name; 1 (not a failure) when the program
    // file cannot be opened, leaving the directory empty.
    HResult Open(const std::u16string& packagePath, const std::u16string& supportFolder);

    // Copies the main group's "Settings.ini" into the Support folder and
    // loads `settings` from it. 0x80070002 when there is none; otherwise the
    // copy's result.
    HResult LoadSettings();

    // Writes one entry's data to `targetPath`, a new file, through `buffer`
    // (5 MiB), complementing each chunk when `unscramble`, adding each chunk
    // to the progress when `countProgress` and to `fingerprint` (may be
    // null) as written. Results: 0; 0x80040006 seek failed, or a file of
    // that name is there already (two names of the package for one file);
    // 0x8007006E target not created; 0x8007001E short read; 0x8007001D
    // write failed; 0x8007xxxx the last-write time could not be set. A
    // partial file stays on disk after a failure.
    HResult CopyEntryToFile(const PackageEntry& entry, const std::u16string& targetPath,
                            bool unscramble, bool countProgress, std::uint8_t* buffer,
                            Sha256* fingerprint = nullptr);

    // Holds the file that the run starts, `relativePath` below the
    // destination folder, and the folders from the destination folder down
    // to it: each opened so that no one can write, rename or delete it while
    // `held` keeps the handles. The file must be one that ExtractAll wrote
    // and fingerprinted, with the same content now: SHA-256, so a same-size
    // rewrite is caught as well. Returns 0 with the handles in `held`;
    // otherwise 0x80040110 plus severity (the file changed, or cannot be
    // opened so) or 0x80040130 plus severity (no file of the package by that
    // name), with the difference appended to the log at `logPath` as
    // WriteExtractedFilesLog does, and nothing held.
    HResult HoldLaunchFile(const std::u16string& relativePath, const std::u16string& logPath,
                           const std::u16string& programPath, std::uint64_t programSize,
                           std::vector<UniqueFile>& held);

    // Compares the files below the destination folder (mode 0) or the
    // Support folder (mode 1) with what was written to it. 0 when the tree is
    // unchanged, and the log is not touched; otherwise 0x80040100 to
    // 0x8004013F, and the differences are appended to the log at `logPath`
    // (UTF-16LE; a new log starts with the program file's size, path and
    // signature). A log that cannot be written does not change the result.
    HResult WriteExtractedFilesLog(int mode, const std::u16string& logPath,
                                   const std::u16string& programPath,
                                   std::uint64_t programSize);

    // Writes every entry out and expands the payload cabinet. Main group
    // entries go to the Support folder ("Settings.ini" is skipped: LoadSettings
    // wrote it), the flat group's to `destinationFolder`, any other group's to
    // `destinationFolder` + group name + "\". The cabinet entry is expanded
    // into `destinationFolder` straight from the package, unscrambled as it
    // is read and without a copy of it, after the main group's other entries
    // (the next cabinets of a set among them) are written; the progress then
    // follows the cabinet bytes the expansion reads. Everything written is
    // appended to `destinationFiles` or `supportFiles`. `destinationFolder`
    // ends in "\" and exists; `cancelEvent` may be null. Results: 0;
    // 0x80004004 cancel seen at a group, an entry or during the expansion;
    // 0x8004000F a group folder could not be created; 0x80040006 the cabinet
    // could not be expanded; otherwise the failure of CopyEntryToFile. Throws
    // ResultError when the copy buffer cannot be had.
    HResult ExtractAll(const std::u16string& destinationFolder, HANDLE cancelEvent);

    // Progress counters, always read and written as a pair under the lock.
    void GetProgress(std::uint64_t& done, std::uint64_t& total);
    void SetProgress(std::uint64_t done, std::uint64_t total);
    void AddProgressTotal(std::uint64_t amount);
    void AddProgressDone(std::uint64_t amount);

    const PackageDirectory& Directory() const { return directory_; }
    const std::u16string& PackagePath() const { return packagePath_; }
    const std::u16string& SupportFolder() const { return supportFolder_; }
    std::uint64_t DataStart() const { return dataStart_; }

    PackageSettings settings;
    std::u16string destinationFolder;
    std::vector<ExtractedFileRecord> destinationFiles;
    std::vector<ExtractedFileRecord> supportFiles;
    // The file below `destinationFolder` that the run will start: ExtractAll
    // fingerprints it as it is written. Empty: none.
    std::u16string fingerprintPath;
    // How the expansion of the payload cabinet finishes its files.
    CabinetFileFunctions cabinetFileFunctions;

private:
    HResult ExpandPackagedCabinet(const PackageEntry& entry, HANDLE cancelEvent);

    std::u16string packagePath_;
    std::u16string supportFolder_;
    FileSource file_;
    std::uint64_t dataStart_ = 0;
    PackageDirectory directory_;
    CRITICAL_SECTION progressLock_;
    std::uint64_t progressTotal_ = 0;
    std::uint64_t progressDone_ = 0;
};

}  // namespace quarry
