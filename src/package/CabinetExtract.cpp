#include "package/CabinetExtract.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cstddef>
#include <new>

#include "common/FileInformation.h"
#include "common/SystemLibrary.h"
#include "common/Text.h"
#include "common/Unique.h"
#include "common/WinResult.h"

namespace quarry {

BOOL SetBasicInformationByHandle(HANDLE file, const FILETIME* time, DWORD attributes) {
    using SetInformationFn = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);
    static const auto setInformation = ProcAddress<SetInformationFn>(
        ::GetModuleHandleW(L"kernel32.dll"), "SetFileInformationByHandle");
    if (!setInformation) return FALSE;
    FileBasicInfo info = {};
    if (time) {
        info.creationTime.LowPart = time->dwLowDateTime;
        info.creationTime.HighPart = static_cast<LONG>(time->dwHighDateTime);
        info.lastWriteTime = info.creationTime;
    }
    info.fileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    return setInformation(file, kFileBasicInfo, &info, sizeof info);
}

namespace {

// TLS_OUT_OF_INDEXES until InitializeExtractionSlot succeeded.
DWORD gExtractionSlot = TLS_OUT_OF_INDEXES;

// Cabinet file attributes beyond the DOS ones.
constexpr USHORT kAttributeNameIsUtf8 = _A_NAME_IS_UTF;  // 0x80
constexpr USHORT kAttributeUtcTime = 0x100;  // the stored date is UTC, not local time
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;  // 0x27

constexpr WORD kOrdinalFdiCreate = 20;
constexpr WORD kOrdinalFdiCopy = 22;
constexpr WORD kOrdinalFdiDestroy = 23;

using FdiCreateFn = HFDI(DIAMONDAPI*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE,
                                      PFNSEEK, int, PERF);
using FdiCopyFn = BOOL(DIAMONDAPI*)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*);
using FdiDestroyFn = BOOL(DIAMONDAPI*)(HFDI);

// cabinet.dll reads these as its own ABI lays them out: the sizes and key
// offsets of both the 32-bit program and the 64-bit test build.
constexpr bool k32BitBuild = sizeof(void*) == 4;
static_assert(sizeof(ERF) == 12, "ERF: three ints");
static_assert(sizeof(FDINOTIFICATION) == (k32BitBuild ? 40 : 64) &&
                  offsetof(FDINOTIFICATION, hf) == (k32BitBuild ? 20 : 40) &&
                  offsetof(FDINOTIFICATION, date) == (k32BitBuild ? 24 : 48) &&
                  offsetof(FDINOTIFICATION, fdie) == (k32BitBuild ? 36 : 60),
              "FDINOTIFICATION layout");

struct FdiFunctions {
    FdiCreateFn create = nullptr;
    FdiCopyFn copy = nullptr;
    FdiDestroyFn destroy = nullptr;
};

// Loads cabinet.dll from the system folder by its full path (a bare name
// would let the program's own folder supply a planted copy) and resolves the
// three FDI functions by ordinal. The module stays loaded until the process
// ends. Returns null when anything is missing; a later call tries again.
const FdiFunctions* LoadFdiFunctions() {
    static FdiFunctions* volatile loaded = nullptr;
    return LoadSystemFunctions(loaded, u"cabinet.dll", [](HMODULE module, FdiFunctions& table) {
        table.create = ProcAddress<FdiCreateFn>(module, MAKEINTRESOURCEA(kOrdinalFdiCreate));
        table.copy = ProcAddress<FdiCopyFn>(module, MAKEINTRESOURCEA(kOrdinalFdiCopy));
        table.destroy = ProcAddress<FdiDestroyFn>(module, MAKEINTRESOURCEA(kOrdinalFdiDestroy));
        return table.create && table.copy && table.destroy;
    });
}

bool IsSignalled(HANDLE event) {
    return event && ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

// A name inside the cabinet: UTF-8 when the file is flagged so, otherwise in
// the ANSI code page. "/" becomes "\" so that both separate folders alike.
std::u16string DecodeName(const char* raw, USHORT attributes) {
    if (!raw) return std::u16string();
    std::u16string name;
    if (attributes & kAttributeNameIsUtf8) {
        name = Utf8ToUtf16(raw);
    } else {
        const int length = ::MultiByteToWideChar(CP_ACP, 0, raw, -1, nullptr, 0);
        if (length <= 1) return std::u16string();
        std::wstring wide(static_cast<std::size_t>(length), L'\0');
        if (::MultiByteToWideChar(CP_ACP, 0, raw, -1, &wide[0], length) != length) {
            return std::u16string();
        }
        name = FromWide(wide.c_str());
    }
    for (char16_t& c : name) {
        if (c == u'/') c = u'\\';
    }
    return name;
}

// Creates `path`, a folder below the destination; an existing folder is
// fine, an existing file of that name is not (0x800700B7).
HResult CreateFolderLevel(const std::u16string& path) {
    if (::CreateDirectoryW(Wide(path), nullptr)) return kResultOk;
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(Wide(path));
    if (error != ERROR_ALREADY_EXISTS || attributes == INVALID_FILE_ATTRIBUTES ||
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return ResultFromWin32(error);
    }
    return kResultOk;
}

// The stored time of an expanded file as UTC; false when it is no valid
// DOS date and time.
bool StoredTime(USHORT date, USHORT time, USHORT attributes, FILETIME& utc) {
    FILETIME stored;
    if (!::DosDateTimeToFileTime(date, time, &stored)) return false;
    utc = stored;
    return (attributes & kAttributeUtcTime) != 0 || ::LocalFileTimeToFileTime(&stored, &utc);
}

// Gives an expanded file, still open as `descriptor`, its stored time and
// kept attributes. True when both were set through the handle; false when
// only the time could be, and the attributes follow by path once the file
// is closed (ApplyAttributes).
bool FinishOpenFile(int descriptor, USHORT date, USHORT time, USHORT attributes,
                    const CabinetFileFunctions& files) {
    const auto file = reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor));
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME utc;
    const bool timed = StoredTime(date, time, attributes, utc);
    if (files.setBasicInformation(file, timed ? &utc : nullptr, attributes & kKeptAttributes)) {
        return true;
    }
    if (timed) ::SetFileTime(file, &utc, nullptr, &utc);
    return false;
}

// Opens `path` for the expansion. Every file is created new, and nobody
// else may write it while it is being written: one of that name already
// there came from another name in the cabinet for the same file ("a.exe"
// and "A.EXE"), or was not made by this run at all.
int OpenForExpansion(const std::u16string& path, int oflag, int pmode) {
    if (oflag & _O_CREAT) oflag = (oflag & ~_O_TRUNC) | _O_EXCL;
    return ::_wsopen(Wide(path), oflag, (oflag & _O_CREAT) ? _SH_DENYWR : _SH_DENYNO, pmode);
}

void ApplyAttributes(const std::u16string& path, USHORT attributes,
                     const CabinetFileFunctions& files) {
    files.setFileAttributes(Wide(path), attributes & kKeptAttributes);
}

CExtract* CurrentExtract() {
    if (gExtractionSlot == TLS_OUT_OF_INDEXES) return nullptr;
    return static_cast<CExtract*>(::TlsGetValue(gExtractionSlot));
}

// Runs a callback's work: nothing may unwind through the cabinet library's
// frames, so anything thrown besides the allocation failures ends it as
// unexpected.
template <typename Body>
HResult RunInCallback(Body&& body) noexcept {
    try {
        return CatchAllocationFailures(body);
    } catch (...) {
        return kResultUnexpected;
    }
}

// The callbacks that map FDI's file access onto the C runtime's descriptors.
FNALLOC(FdiAllocate) { return ::HeapAlloc(::GetProcessHeap(), 0, cb); }

FNFREE(FdiFree) {
    if (pv) ::HeapFree(::GetProcessHeap(), 0, pv);
}

}  // namespace

// The file callbacks: the C runtime's descriptors, except for the packaged
// cabinet, which the expander of the thread serves from the package. Each
// failure is kept in the expander as its reason.
struct FdiCallbacks {
    static FNOPEN(Open) {
        CExtract* extract = CurrentExtract();
        INT_PTR handle = -1;
        const HResult opened = RunInCallback([&]() -> HResult {
            if (!pszFile) return kResultInvalidArg;
            const std::u16string path = Utf8ToUtf16(pszFile);
            if (extract) {
                handle = extract->OpenPackaged(path, oflag);
                if (handle == -1) return kResultOpenFailed;
                if (handle != 0) return kResultOk;
            }
            ::SetLastError(ERROR_SUCCESS);
            handle = OpenForExpansion(path, oflag, pmode);
            return handle == -1 ? LastErrorOr(kResultOpenFailed) : kResultOk;
        });
        if (Failed(opened)) return extract ? extract->Fail(opened) : -1;
        return handle;
    }

    static FNREAD(Read) {
        CExtract* extract = CurrentExtract();
        ::SetLastError(ERROR_SUCCESS);
        const UINT read = extract && extract->IsPackagedHandle(hf)
                              ? extract->ReadPackaged(hf, pv, cb)
                              : static_cast<UINT>(::_read(static_cast<int>(hf), pv, cb));
        if (read == static_cast<UINT>(-1) && extract) extract->Fail(LastErrorOr(kResultReadFault));
        return read;
    }

    static FNWRITE(Write) {
        CExtract* extract = CurrentExtract();
        if (extract && extract->IsPackagedHandle(hf)) {
            return static_cast<UINT>(extract->Fail(kResultWriteFault));
        }
        ::SetLastError(ERROR_SUCCESS);
        const int written = ::_write(static_cast<int>(hf), pv, cb);
        if (extract && written > 0) extract->OnWritten(hf, pv, static_cast<UINT>(written));
        // A short write is a failure to FDI too: the volume is full.
        if (extract && static_cast<UINT>(written) != cb) {
            extract->Fail(LastErrorOr(kResultWriteFault));
        }
        return static_cast<UINT>(written);
    }

    static FNSEEK(Seek) {
        CExtract* extract = CurrentExtract();
        ::SetLastError(ERROR_SUCCESS);
        const long position = extract && extract->IsPackagedHandle(hf)
                                  ? extract->SeekPackaged(hf, dist, seektype)
                                  : ::_lseek(static_cast<int>(hf), dist, seektype);
        if (position == -1 && extract) extract->Fail(LastErrorOr(kResultFail));
        return position;
    }

    static FNCLOSE(Close) {
        if (hf <= 0) return 0;
        CExtract* extract = CurrentExtract();
        if (extract && extract->IsPackagedHandle(hf)) {
            extract->ClosePackaged(hf);
            return 0;
        }
        const int descriptor = static_cast<int>(hf);
        ::SetLastError(ERROR_SUCCESS);
        const int result = ::_close(descriptor);
        if (extract) {
            if (result != 0) extract->Fail(LastErrorOr(kResultWriteFault));
            extract->OnDescriptorClosed(descriptor);
        }
        return result;
    }

    static FNFDINOTIFY(Notify) {
        CExtract* extract = CurrentExtract();
        if (!extract) return -1;
        INT_PTR answer = -1;
        const HResult handled = RunInCallback([&] {
            answer = extract->OnNotification(fdint, pfdin);
            return kResultOk;
        });
        return Failed(handled) ? extract->Fail(handled) : answer;
    }
};

HResult InitializeExtractionSlot() {
    if (gExtractionSlot == TLS_OUT_OF_INDEXES) gExtractionSlot = ::TlsAlloc();
    return gExtractionSlot != TLS_OUT_OF_INDEXES ? kResultOk : LastErrorResult();
}

void ReleaseExtractionSlot() {
    if (gExtractionSlot == TLS_OUT_OF_INDEXES) return;
    ::TlsFree(gExtractionSlot);
    gExtractionSlot = TLS_OUT_OF_INDEXES;
}

CExtract::CExtract(const CabinetFileFunctions& files)
    : files_(files), ownerThread_(::GetCurrentThreadId()) {}

void CExtract::Abort() { cancelled_ = true; }

CExtract::~CExtract() {
    // The FDI context and the slot entry are only valid on the owner thread.
    if (::GetCurrentThreadId() != ownerThread_) return;
    if (context_) {
        const FdiFunctions* fdi = LoadFdiFunctions();
        if (!fdi || !fdi->destroy(context_)) return;
        context_ = nullptr;
    }
    // Only this object's own entry is removed: a CExtract that was refused
    // because another one is active must leave that one registered.
    if (registered_ && CurrentExtract() == this) ::TlsSetValue(gExtractionSlot, nullptr);
}

HResult CExtract::Create() {
    if (::GetCurrentThreadId() != ownerThread_ || registered_) return kResultPackageUnreadable;
    if (gExtractionSlot == TLS_OUT_OF_INDEXES) return kResultPackageUnreadable;
    if (::TlsGetValue(gExtractionSlot) != nullptr) return kResultPackageUnreadable;
    if (!::TlsSetValue(gExtractionSlot, this) || ::TlsGetValue(gExtractionSlot) != this) {
        return kResultPackageUnreadable;
    }
    registered_ = true;
    const FdiFunctions* fdi = LoadFdiFunctions();
    if (!fdi) return kResultPackageUnreadable;
    context_ = fdi->create(FdiAllocate, FdiFree, FdiCallbacks::Open, FdiCallbacks::Read,
                           FdiCallbacks::Write, FdiCallbacks::Close, FdiCallbacks::Seek,
                           cpu80386, &error_);
    return context_ ? kResultOk : kResultPackageUnreadable;
}

bool CExtract::IsCancelRequested() const { return IsSignalled(cancelEvent_); }

INT_PTR CExtract::Fail(HResult reason) {
    if (Succeeded(failure_)) failure_ = reason;
    return -1;
}

void CExtract::ReadCabinetFrom(const std::u16string& path, PackagedCabinet cabinet) {
    packagedPath_ = path;
    packaged_.Reset(std::move(cabinet));
}

INT_PTR CExtract::OpenPackaged(const std::u16string& path, int flags) {
    if (packagedPath_.empty() || !packaged_.HasCabinet() || !EqualsNoCase(path, packagedPath_)) {
        return 0;
    }
    // The package is read, never written.
    if (flags & (_O_WRONLY | _O_RDWR | _O_CREAT | _O_TRUNC | _O_APPEND)) return -1;
    const int slot = packaged_.Open();
    return slot < 0 ? -1 : kPackagedHandleBase + slot;
}

bool CExtract::IsPackagedHandle(INT_PTR handle) const {
    const INT_PTR slot = handle - kPackagedHandleBase;
    return slot >= 0 && slot < PackagedCabinetViews::kMaxViews &&
           packaged_.IsOpen(static_cast<int>(slot));
}

UINT CExtract::ReadPackaged(INT_PTR handle, void* buffer, UINT length) {
    return static_cast<UINT>(
        packaged_.Read(static_cast<int>(handle - kPackagedHandleBase), buffer, length));
}

long CExtract::SeekPackaged(INT_PTR handle, long distance, int origin) {
    return static_cast<long>(
        packaged_.Seek(static_cast<int>(handle - kPackagedHandleBase), distance, origin));
}

void CExtract::ClosePackaged(INT_PTR handle) {
    packaged_.Close(static_cast<int>(handle - kPackagedHandleBase));
}

// Creates every missing level of `relativeFolder` below the destination,
// each at most once per expansion.
HResult CExtract::CreateTargetFolder(const std::u16string& relativeFolder) {
    std::u16string folded(relativeFolder);
    for (char16_t& c : folded) c = FoldCase(c);
    if (madeFolders_.count(folded)) return kResultOk;
    std::size_t end = 0;
    while (end != std::u16string::npos) {
        end = relativeFolder.find(u'\\', end + 1);
        const std::u16string level = folded.substr(0, end);
        if (madeFolders_.count(level)) continue;
        RETURN_IF_FAILED(CreateFolderLevel(destinationFolder_ + relativeFolder.substr(0, end)));
        madeFolders_.insert(level);
    }
    return kResultOk;
}

HResult CExtract::Expand(const std::u16string& cabinetPath,
                         const std::u16string& destinationFolder, HANDLE cancelEvent) {
    extractedFiles_.clear();
    failure_ = kResultOk;
    cancelEvent_ = cancelEvent;
    cancelled_ = false;
    current_ = OutputFile();
    abandonedPath_.clear();
    madeFolders_.clear();
    destinationFolder_ = destinationFolder;
    if (!destinationFolder_.empty() && destinationFolder_.back() != u'\\') {
        destinationFolder_ += u'\\';
    }
    const std::size_t slash = cabinetPath.rfind(u'\\');
    cabinetFolder_ = slash == std::u16string::npos ? std::u16string()
                                                   : cabinetPath.substr(0, slash + 1);
    cabinetName_ = cabinetPath.substr(slash == std::u16string::npos ? 0 : slash + 1);
    nextCabinetName_.clear();

    const FdiFunctions* fdi = context_ ? LoadFdiFunctions() : nullptr;
    HResult result = fdi ? kResultOk : kResultPackageUnreadable;
    // An empty destination would turn every name into one below the drive root.
    if (Succeeded(result) && destinationFolder_.empty()) result = kResultInvalidArg;
    std::vector<std::u16string> expanded;
    while (Succeeded(result) && !cancelled_) {
        if (IsCancelRequested()) break;
        std::string name = Utf16ToUtf8(cabinetName_);
        std::string folder = Utf16ToUtf8(cabinetFolder_);
        expanded.push_back(cabinetName_);
        nextCabinetName_.clear();
        if (!fdi->copy(context_, &name[0], &folder[0], 0, FdiCallbacks::Notify, nullptr,
                       nullptr)) {
            // A failure no callback saw is the decompressor's own: a damaged
            // cabinet, or no storage.
            result = Failed(failure_)                          ? failure_
                     : error_.erfOper == FDIERROR_ALLOC_FAIL ? kResultOutOfMemory
                                                             : kResultPackageUnreadable;
            break;
        }
        if (nextCabinetName_.empty()) break;
        // The next cabinet of a set is a plain file name in the same folder.
        // One already expanded means the set loops back on itself.
        bool seen = false;
        for (const std::u16string& done : expanded) {
            seen = seen || EqualsNoCase(done, nextCabinetName_);
        }
        if (seen || !IsSafeEntryName(nextCabinetName_)) {
            result = kResultPackageUnreadable;
            break;
        }
        cabinetName_ = nextCabinetName_;
    }

    if (IsCancelRequested()) cancelled_ = true;
    if (cancelled_) result = kResultAbort;
    if (current_.descriptor > 0) {
        const std::u16string unfinished = current_.fullPath;
        ::_close(current_.descriptor);
        current_ = OutputFile();
        if (cancelled_) ::DeleteFileW(Wide(unfinished));
    }
    if (cancelled_ && !abandonedPath_.empty()) ::DeleteFileW(Wide(abandonedPath_));
    abandonedPath_.clear();
    cancelEvent_ = nullptr;
    return result;
}

void CExtract::OnDescriptorClosed(int descriptor) {
    // FDI closes an output file itself only when it gives up on it.
    if (current_.descriptor != descriptor) return;
    abandonedPath_ = current_.fullPath;
    current_ = OutputFile();
}

INT_PTR CExtract::OnNotification(FDINOTIFICATIONTYPE type, PFDINOTIFICATION notification) {
    if (IsCancelRequested() || cancelled_) return Fail(kResultAbort);
    if (!notification) return Fail(kResultUnexpected);
    switch (type) {
    case fdintCABINET_INFO:
        nextCabinetName_ = notification->psz1 ? Utf8ToUtf16(notification->psz1) : u"";
        return 0;
    case fdintCOPY_FILE:
        return OnCopyFile(*notification);
    case fdintCLOSE_FILE_INFO:
        return OnCloseFileInfo(*notification);
    case fdintNEXT_CABINET:
        return notification->fdie != FDIERROR_NONE ? Fail(kResultPackageUnreadable) : 0;
    case fdintPARTIAL_FILE:
        return OnPartialFile(*notification);
    case fdintENUMERATE:
    default:
        return 0;
    }
}

// A file continued from an earlier cabinet of the set must have been written
// whole while that cabinet was expanded (the decompressor asks for the next
// cabinet itself to finish it). One that no earlier pass wrote was left out
// by the decompressor: the set cannot be expanded whole, so it fails rather
// than pass with a file missing.
INT_PTR CExtract::OnPartialFile(const FDINOTIFICATION& notification) {
    const std::u16string name = DecodeName(notification.psz1, notification.attribs);
    for (const ExtractedFileRecord& written : extractedFiles_) {
        if (EqualsNoCase(written.relativePath, name)) return 0;
    }
    return Fail(kResultPackageUnreadable);
}

INT_PTR CExtract::OnCopyFile(const FDINOTIFICATION& notification) {
    const std::u16string name = DecodeName(notification.psz1, notification.attribs);
    // A cabinet is data from the package: an absolute, drive, UNC or ".."
    // name would write outside the destination, so it ends the expansion
    // before anything is created for it.
    if (!IsSafeRelativePath(name)) return Fail(kResultPackageUnreadable);
    const std::size_t slash = name.rfind(u'\\');
    currentFileSize_ = static_cast<std::uint32_t>(notification.cb);
    if (slash != std::u16string::npos && slash != 0) {
        const HResult made = CreateTargetFolder(name.substr(0, slash));
        if (Failed(made)) return Fail(made);
    }
    const std::u16string fullPath = destinationFolder_ + name;
    ::SetLastError(ERROR_SUCCESS);
    const int descriptor = OpenForExpansion(
        fullPath, _O_WRONLY | _O_CREAT | _O_BINARY | _O_SEQUENTIAL, _S_IREAD | _S_IWRITE);
    current_ = OutputFile();
    if (descriptor == -1) return Fail(LastErrorOr(kResultOpenFailed));
    current_.descriptor = descriptor;
    current_.name = name;
    current_.fullPath = fullPath;
    current_.size = currentFileSize_;
    current_.fingerprinted = !fingerprintPath_.empty() && EqualsNoCase(name, fingerprintPath_);
    return descriptor;
}

void CExtract::OnWritten(INT_PTR handle, const void* data, UINT count) {
    if (current_.fingerprinted && current_.descriptor == handle) {
        current_.fingerprint.Update(data, count);
    }
}

INT_PTR CExtract::OnCloseFileInfo(const FDINOTIFICATION& notification) {
    const std::u16string name = DecodeName(notification.psz1, notification.attribs);
    const int descriptor = static_cast<int>(notification.hf);
    const bool safe = IsSafeRelativePath(name);
    ExtractedFileRecord record{name, currentFileSize_};
    if (current_.descriptor == descriptor && current_.fingerprinted) {
        record.fingerprinted = true;
        record.digest = current_.fingerprint.Finish();
    }
    bool finished = false;
    if (descriptor > 0) {
        finished = safe && FinishOpenFile(descriptor, notification.date, notification.time,
                                          notification.attribs, files_);
        ::_close(descriptor);
        if (current_.descriptor == descriptor) current_ = OutputFile();
    }
    if (!safe) return Fail(kResultPackageUnreadable);
    if (!finished) ApplyAttributes(destinationFolder_ + name, notification.attribs, files_);
    extractedFiles_.push_back(std::move(record));
    return TRUE;
}

}  // namespace quarry
