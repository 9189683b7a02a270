// Expands a cabinet with the platform's own decompressor: the FDI functions
// of cabinet.dll, loaded from the system folder on first use and resolved by
// ordinal (20 FDICreate, 22 FDICopy, 23 FDIDestroy).
//
// The FDI callback interface carries no context pointer, so the expander of
// the calling thread is found through one thread-local slot that the program
// allocates at start-up (InitializeExtractionSlot). The FDI context and the
// slot entry belong to the thread that created the CExtract.
#pragma once

#include <windows.h>

#include <fdi.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/Result.h"
#include "common/Sha256.h"
#include "package/PackageFormat.h"
#include "package/PackagedCabinet.h"

namespace quarry {

// Allocates the thread-local slot that expansions register in. Called once
// at start-up; further calls keep the slot. Returns 0, or the error of
// TlsAlloc when no slot could be had, in which case every expansion fails
// with 0x80040006.
HResult InitializeExtractionSlot();

// Frees the slot again (for a test of the slot-less state); expansions fail
// until InitializeExtractionSlot is called again.
void ReleaseExtractionSlot();

// Gives an expanded file, still open as `file`, its stored time (when `time`
// is not null) and `attributes` (0 for none) through its handle in one call,
// as Windows Vista and later can. False, with nothing changed, where the
// system has no such call or refuses it.
BOOL SetBasicInformationByHandle(HANDLE file, const FILETIME* time, DWORD attributes);

// The attribute changes of an expansion go through here, so that a test can
// see the exact values handed to the file system: Wine keeps only read-only,
// hidden and system, and reports every regular file as archived. A written
// file is finished through its handle; only where that fails are its time
// and attributes set one by one, the attributes by path once it is closed.
struct CabinetFileFunctions {
    BOOL(WINAPI* setFileAttributes)(LPCWSTR path, DWORD attributes) = ::SetFileAttributesW;
    BOOL (*setBasicInformation)(HANDLE file, const FILETIME* time,
                                DWORD attributes) = SetBasicInformationByHandle;
};

class CExtract {
public:
    // Records the calling thread as the owner; nothing else happens yet.
    // `files` finishes the expanded files (a test's, or the system's).
    explicit CExtract(const CabinetFileFunctions& files = CabinetFileFunctions());
    virtual void Abort();
    // On the owner thread: destroys the FDI context and, once that succeeded
    // (or there was none), takes this object out of the thread's slot.
    virtual ~CExtract();
    CExtract(const CExtract&) = delete;
    CExtract& operator=(const CExtract&) = delete;

    // Registers the object in the calling thread's slot and creates the FDI
    // context. Returns 0, or 0x80040006 when the slot is invalid, already
    // holds an expander on this thread, cannot be written, when cabinet.dll
    // or its functions cannot be loaded, or when FDICreate fails.
    HResult Create();

    // Expands the cabinet at `cabinetPath` (and the following cabinets of
    // its set, looked for in the same folder) below `destinationFolder`,
    // creating relative folders as needed. `cancelEvent` (may be null) is
    // polled at every FDI notification and before every cabinet. Returns 0,
    // or the first reason a step failed for:
    //   0x80004004  cancelled (the event is set, at any point) or aborted;
    //   0x80040006  no FDI context (Create did not succeed), a cabinet that
    //               names an unsafe path, a damaged cabinet, a file continued
    //               from an earlier cabinet that was not written by then, or
    //               a set that loops or leaves the folder;
    //   0x80070057  an empty destination;
    //   0x8007000E  no storage (0x8000FFFF: anything else a step threw);
    //   the Win32 error of a file that could not be opened, read, written or
    //   sought, or a folder that could not be created (0x8007006E, 0x8007001E,
    //   0x8007001D or 0x80004005 where the system recorded none).
    // A file cut short by a cancel is deleted, other files written before a
    // failure stay.
    HResult Expand(const std::u16string& cabinetPath, const std::u16string& destinationFolder,
                   HANDLE cancelEvent);

    // Makes every later Expand read the cabinet at `path` from `cabinet`
    // instead of a file (complementing each chunk as it is read); the other
    // cabinets of its set are still files. `cabinet.source` must outlive the
    // expansions.
    void ReadCabinetFrom(const std::u16string& path, PackagedCabinet cabinet);

    // Makes the expansion fingerprint the file at `relativePath` (compared
    // without regard to case) as it is written: its record then carries the
    // SHA-256 of the bytes the decompressor handed over. Empty: none.
    void FingerprintFile(const std::u16string& relativePath) { fingerprintPath_ = relativePath; }

    // One record per file closed during the last Expand, in cabinet order:
    // its path inside the cabinet and the size the cabinet announced.
    const std::vector<ExtractedFileRecord>& ExtractedFiles() const { return extractedFiles_; }

private:
    friend struct FdiCallbacks;

    struct OutputFile {
        int descriptor = 0;  // 0: none
        std::u16string name;
        std::u16string fullPath;
        std::uint32_t size = 0;
        bool fingerprinted = false;
        Sha256 fingerprint;
    };

    bool IsCancelRequested() const;
    // Keeps `reason` when no failure was kept yet in this Expand; returns -1,
    // the value by which every FDI callback fails.
    INT_PTR Fail(HResult reason);
    INT_PTR OnNotification(FDINOTIFICATIONTYPE type, PFDINOTIFICATION notification);
    INT_PTR OnCopyFile(const FDINOTIFICATION& notification);
    INT_PTR OnPartialFile(const FDINOTIFICATION& notification);
    INT_PTR OnCloseFileInfo(const FDINOTIFICATION& notification);
    void OnDescriptorClosed(int descriptor);
    void OnWritten(INT_PTR handle, const void* data, UINT count);

    // The packaged cabinet's views: its handles are kPackagedHandleBase +
    // slot, far above any descriptor.
    static constexpr INT_PTR kPackagedHandleBase = 0x7FFF0000;
    INT_PTR OpenPackaged(const std::u16string& path, int flags);
    bool IsPackagedHandle(INT_PTR handle) const;
    UINT ReadPackaged(INT_PTR handle, void* buffer, UINT length);
    long SeekPackaged(INT_PTR handle, long distance, int origin);
    void ClosePackaged(INT_PTR handle);
    HResult CreateTargetFolder(const std::u16string& relativeFolder);

    std::vector<ExtractedFileRecord> extractedFiles_;
    std::uint32_t currentFileSize_ = 0;
    OutputFile current_;
    // A file that FDI closed itself before its close notification: unfinished.
    std::u16string abandonedPath_;
    std::u16string destinationFolder_;
    std::u16string nextCabinetName_;
    HFDI context_ = nullptr;
    ERF error_ = {};
    CabinetFileFunctions files_;
    // The first reason a callback failed for during this Expand.
    HResult failure_ = kResultOk;
    std::atomic<bool> cancelled_{false};
    HANDLE cancelEvent_ = nullptr;
    DWORD ownerThread_ = 0;
    bool registered_ = false;
    std::u16string cabinetFolder_;
    std::u16string cabinetName_;
    std::u16string fingerprintPath_;
    std::u16string packagedPath_;  // empty: every cabinet is a file
    PackagedCabinetViews packaged_;
    // Folded relative folders made (or found) during this Expand: each level
    // is created once, not once per file in it.
    std::unordered_set<std::u16string> madeFolders_;
};

}  // namespace quarry
