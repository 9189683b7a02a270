#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <optional>
#include <string>

#include "app/DebugWindow.h"
#include "app/ExtractionMode.h"
#include "app/Modes.h"
#include "app/VersionInfo.h"
#include "common/FieldLogText.h"
#include "common/FieldLog_win.h"
#include "common/SystemLibrary.h"
#include "common/Text.h"
#include "common/Unique.h"
#include "common/WinFile.h"
#include "common/WinResult.h"
#include "execution/ExitCodeSlot.h"
#include "package/PackageReader.h"
#include "restrictions/Signature.h"
#include "restrictions/WindowsVersion.h"
#include "settings/UpdateMode.h"
#include "ui/ErrorReportRules.h"
#include "ui/ExtractorDialog.h"
#include "ui/Strings.h"

namespace quarry {

namespace {

constexpr UINT kStringWindowsTooOldAtStart = 298;
constexpr DWORD kAccountNameLength = 256;

std::optional<std::uint64_t> ProgramWriteTime() {
    const std::u16string path = ModuleFileName();
    if (path.empty()) return std::nullopt;
    const UniqueFile file(::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    FILETIME written;
    if (!file || !::GetFileTime(file.Get(), nullptr, nullptr, &written)) return std::nullopt;
    return FileTimeValue(written);
}

std::uint64_t NowUtc() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return FileTimeValue(now);
}

void ShowStartupError(const std::u16string& text, const std::u16string& caption) {
    ::MessageBoxW(nullptr, Wide(text), Wide(caption), MB_ICONERROR);
}

// Registers the progress-bar class of comctl32 version 6. The library is
// loaded by name, not by full path: version 6 lives in the side-by-side
// store and is found through the manifest's activation context, ahead of any
// folder. By now the start-up guard has narrowed the search, and the module
// is not imported, so the loader never looked for it beside the program.
// Kept loaded for the life of the process: the class lives in it.
void InitializeCommonControls() {
    using InitCommonControlsExFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const HMODULE commonControls = ::LoadLibraryW(L"comctl32.dll");
    const auto initialize =
        ProcAddress<InitCommonControlsExFunction>(commonControls, "InitCommonControlsEx");
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    if (initialize) initialize(&controls);
}

}  // namespace

BOOL LookupAccountOfSid(PSID sid) {
    wchar_t name[kAccountNameLength];
    wchar_t domain[kAccountNameLength];
    DWORD nameLength = kAccountNameLength;
    DWORD domainLength = kAccountNameLength;
    SID_NAME_USE use;
    return ::LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use);
}

bool IsInDebugWindow(std::uint64_t time1) {
    const std::uint64_t now = NowUtc();
    return IsWithinDebugWindow(DebugWindowStart(time1, ProgramWriteTime(), now), now);
}

bool TokenGroupsHoldGuests(const TOKEN_GROUPS& groups, AccountLookupFn lookup) {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID guests = nullptr;
    if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                    DOMAIN_ALIAS_RID_GUESTS, 0, 0, 0, 0, 0, 0, &guests)) {
        return false;
    }
    bool member = false;
    for (DWORD i = 0; i < groups.GroupCount; ++i) {
        if (!::EqualSid(groups.Groups[i].Sid, guests)) continue;
        if (lookup(groups.Groups[i].Sid)) {
            member = true;
            break;
        }
        if (::GetLastError() != ERROR_NONE_MAPPED) break;
    }
    ::FreeSid(guests);
    return member;
}

bool IsGuestUser() {
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put())) return false;
    DWORD size = 0;
    if (::GetTokenInformation(token.Get(), TokenGroups, nullptr, 0, &size) ||
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return false;
    }
    const HGLOBAL block = ::GlobalAlloc(GMEM_ZEROINIT, size);
    if (!block) return false;
    bool member = false;
    if (::GetTokenInformation(token.Get(), TokenGroups, block, size, &size)) {
        member = TokenGroupsHoldGuests(*static_cast<const TOKEN_GROUPS*>(block));
    }
    ::GlobalFree(block);
    return member;
}

namespace {

// The program and package the log is about, and the switches of the run.
void LogProgramIdentity(FieldLog& log, const std::u16string& programPath, bool silent,
                        bool askAfterIntegrityFailure, bool askAfterRestrictionFailure,
                        const std::u16string& extraArguments) {
    if (!log.Enabled()) return;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    std::u16string identity = u"program " + programPath;
    if (::GetFileAttributesExW(Wide(programPath), GetFileExInfoStandard, &data)) {
        SYSTEMTIME written;
        ::FileTimeToSystemTime(&data.ftLastWriteTime, &written);
        char stamp[48];
        std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u UTC",
                      written.wYear, written.wMonth, written.wDay, written.wHour,
                      written.wMinute, written.wSecond);
        const std::uint64_t size =
            (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        identity += u", " + Ascii(std::to_string(size)) + u" bytes, written " + Ascii(stamp);
    }
    log.Line(u"start", identity);
    log.Line(u"start", VerifyFileSignature(programPath) ? u"the program's signature is valid"
                                                        : u"the program is not signed, or its "
                                                          u"signature is not valid");
    log.Line(u"start", std::u16string(u"switches:") + (silent ? u" silent" : u"") +
                           (askAfterIntegrityFailure ? u" -cont" : u"") +
                           (askAfterRestrictionFailure ? u" -debug" : u"") +
                           u"; arguments for the file: \"" + extraArguments + u"\"");
}

HResult RunExtraction(const std::u16string& extraArguments, bool silent,
                      bool askAfterIntegrityFailure, bool askAfterRestrictionFailure,
                      LibrarySearchGuard* libraryGuard, FieldLog& log);

}  // namespace

HResult RunExtractionMode(const std::u16string& extraArguments, bool silent,
                          bool askAfterIntegrityFailure, bool askAfterRestrictionFailure,
                          LibrarySearchGuard* libraryGuard, const std::u16string& logPath) {
    FieldLog log(logPath);
    LogProgramIdentity(log, ModuleFileName(), silent, askAfterIntegrityFailure,
                       askAfterRestrictionFailure, extraArguments);
    const HResult result = RunExtraction(extraArguments, silent, askAfterIntegrityFailure,
                                         askAfterRestrictionFailure, libraryGuard, log);
    const auto code = static_cast<std::uint32_t>(result);
    log.Line(u"end", u"exit code " + CodeText(code) + u": " + ExitCodeMeaning(code));
    return result;
}

namespace {

HResult RunExtraction(const std::u16string& extraArguments, bool silent,
                      bool askAfterIntegrityFailure, bool askAfterRestrictionFailure,
                      LibrarySearchGuard* libraryGuard, FieldLog& log) {
    std::u16string caption;
    const std::u16string programPath = ModuleFileName();
    caption = std::u16string(TrimWhite(ReadVersionProductName(programPath)));
    if (caption.empty()) caption = LoadResourceString(kStringProductDefault);

    std::uint64_t time1 = 0;
    std::uint64_t time2 = 0;
    std::uint64_t flags = 0;
    const HResult header = ReadPackageHeader(programPath, time1, time2, flags);
    if (Succeeded(header)) {
        if (!silent && (flags & 1)) silent = ReadSilentExecutionFlag();
        if (askAfterRestrictionFailure && !IsInDebugWindow(time1)) askAfterRestrictionFailure = false;
    }
    if (header == kResultPackageUnreadable) {
        // Shown even in a silent run: a deployment tool started something
        // that is not a package at all.
        ShowStartupError(FormatResourceString(kStringReportFrame,
                                              LoadResourceString(kStringPackageUnreadable),
                                              static_cast<std::uint32_t>(header)),
                         caption);
        return header;
    }
    if (Failed(header)) return header;

    if (!IsWindowsVersionOrLater(5, 1)) {
        if (!silent) ShowStartupError(LoadResourceString(kStringWindowsTooOldAtStart), caption);
        return kResultBadEnvironment;
    }
    if (IsGuestUser()) {
        if (!silent) ShowStartupError(LoadResourceString(kStringGuestUser), caption);
        return kResultGuestUser;
    }

    InitializeCommonControls();
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HResult result = 0;
    {
        CExtractorDialog dialog(silent, askAfterIntegrityFailure, askAfterRestrictionFailure,
                                extraArguments, libraryGuard, log.Enabled() ? &log : nullptr);
        const HWND owner = ::GetActiveWindow();
        const HGLOBAL block = dialog.BuildDialogTemplate();
        const void* locked = block ? ::GlobalLock(block) : nullptr;
        INT_PTR ended;
        if (locked) {
            ended = dialog.DoModalIndirect(owner, static_cast<const DLGTEMPLATE*>(locked));
            ::GlobalUnlock(block);
        } else {
            ended = dialog.DoModal(owner, dialog.templateId);
        }
        if (block) ::GlobalFree(block);
        result = ExtractionModeResult(ended, dialog.workerDone, dialog.endCode, ReadExitCodeSlot());
    }
    if (Succeeded(com)) ::CoUninitialize();
    return result;
}

}  // namespace

}  // namespace quarry
