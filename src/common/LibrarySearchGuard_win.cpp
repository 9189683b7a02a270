#include "common/LibrarySearchGuard_win.h"

#include <shlwapi.h>

#include "common/Result.h"
#include "common/SystemLibrary.h"

namespace quarry {

namespace {

// Paths are cut at 260 characters; the buffers hold one more for the end.
constexpr DWORD kPathLimit = MAX_PATH;
constexpr DWORD kPathBuffer = MAX_PATH + 1;
constexpr int kTextBuffer = 1024;

constexpr UINT kStringBlockedByFile = 256;
constexpr UINT kStringCaption = 128;

constexpr DWORD kSearchSystem32 = 0x800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

const wchar_t* AsWide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// Appends `text` to the `length` characters in `buffer`, stopping at the
// limit; keeps the buffer terminated.
void AppendCut(wchar_t* buffer, DWORD& length, const wchar_t* text) {
    while (*text && length < kPathLimit) buffer[length++] = *text++;
    buffer[length] = L'\0';
}

void AppendBackslashIfMissing(wchar_t* buffer, DWORD& length) {
    if (length > 0 && buffer[length - 1] != L'\\') AppendCut(buffer, length, L"\\");
}

// `folder` + `name` into `path`, cut at 260 characters.
void JoinCut(wchar_t* path, const wchar_t* folder, const wchar_t* name) {
    DWORD length = 0;
    AppendCut(path, length, folder);
    AppendCut(path, length, name);
}

// The system folder with a trailing "\"; length 0 when the system gives none.
DWORD SystemFolderWithBackslash(wchar_t* buffer) {
    DWORD length = ::GetSystemDirectoryW(buffer, kPathBuffer);
    if (length > kPathLimit) length = 0;  // the buffer was too small: no text
    buffer[length] = L'\0';
    AppendBackslashIfMissing(buffer, length);
    return length;
}

}  // namespace

SetDefaultDllDirectoriesFunction FindSetDefaultDllDirectories(const wchar_t* kernel32Path) {
    return ProcAddress<SetDefaultDllDirectoriesFunction>(::GetModuleHandleW(kernel32Path),
                                                         "SetDefaultDllDirectories");
}

LibrarySearchGuard::LibrarySearchGuard(const LibrarySearchFunctions& functions)
    : functions_(functions) {
    wchar_t kernel32Path[kPathBuffer];
    DWORD length = SystemFolderWithBackslash(kernel32Path);
    AppendCut(kernel32Path, length, L"kernel32.dll");
    const HMODULE kernel32 = ::GetModuleHandleW(kernel32Path);

    // The current folder leaves the search order. Windows XP before its
    // first service pack has no SetDllDirectoryW.
    using SetDllDirectoryFunction = BOOL(WINAPI*)(LPCWSTR);
    if (const auto setDllDirectory =
            ProcAddress<SetDllDirectoryFunction>(kernel32, "SetDllDirectoryW")) {
        setDllDirectory(L"");
    }

    DWORD major = 0;
    DWORD minor = 0;
    ReadVersion(major, minor);

    if (const SetDefaultDllDirectoriesFunction setDefault =
            functions_.findSetDefaultDllDirectories(kernel32Path)) {
        // The system now searches only its own folder for this process; no
        // neighbour can stand in for a system library.
        defaultDirectoriesSet = true;
        setDefault(kSearchSystem32);
        if (IsBeforeWindows61(major, minor)) PreloadSystemLibraries(LegacyCryptoGroup());
        return;
    }

    ReadVersion(major, minor);
    if (!baseGroupLoaded) {
        baseGroupLoaded = true;
        PreloadSystemLibraries(BaseGroup(major, minor));
    }
    RefuseNeighbourFiles(NeighbourFiles());
    if (major < 6) RefuseNeighbourFiles(NeighbourFilesBefore60());
}

void LibrarySearchGuard::ReadVersion(DWORD& major, DWORD& minor) const {
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);  // the basic structure, 276 bytes
    if (functions_.getVersionEx(&info)) {
        major = info.dwMajorVersion;
        minor = info.dwMinorVersion;
    } else {
        major = 0;
        minor = 0;
    }
}

void LibrarySearchGuard::PreloadOnDemand(bool base, bool shell, bool explorer) {
    if (defaultDirectoriesSet) return;
    DWORD major = 0;
    DWORD minor = 0;
    ReadVersion(major, minor);
    if (base && !baseGroupLoaded) {
        baseGroupLoaded = true;
        PreloadSystemLibraries(BaseGroup(major, minor));
    }
    if (shell && !shellGroupLoaded) {
        shellGroupLoaded = true;
        PreloadSystemLibraries(ShellGroup(major, minor));
    }
    if (explorer && !explorerGroupLoaded) {
        explorerGroupLoaded = true;
        PreloadSystemLibraries(ExplorerGroup(major, minor));
    }
}

void LibrarySearchGuard::PreloadSystemLibraries(const LibraryList& list) {
    wchar_t folder[kPathBuffer];
    const DWORD folderLength = SystemFolderWithBackslash(folder);
    // A bare name would be looked for along the very search this guards.
    if (folderLength == 0) return;
    for (std::size_t i = 0; i < list.count; ++i) {
        const wchar_t* name = AsWide(list.names[i]);
        if (!name || !*name) continue;
        wchar_t path[kPathBuffer];
        JoinCut(path, folder, name);
        functions_.loadLibraryEx(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
}

void LibrarySearchGuard::RefuseNeighbourFiles(const LibraryList& list) {
    wchar_t folder[kPathBuffer];
    DWORD folderLength = ::GetModuleFileNameW(nullptr, folder, kPathBuffer);
    if (folderLength > kPathLimit) folderLength = kPathLimit;
    folder[folderLength] = L'\0';
    DWORD cut = 0;
    for (DWORD i = 0; i < folderLength; ++i) {
        if (folder[i] == L'\\') cut = i + 1;
    }
    folderLength = cut;
    folder[folderLength] = L'\0';
    AppendBackslashIfMissing(folder, folderLength);
    for (std::size_t i = 0; i < list.count; ++i) {
        const wchar_t* name = AsWide(list.names[i]);
        if (!name || !*name) continue;
        wchar_t path[kPathBuffer];
        JoinCut(path, folder, name);
        if (::PathFileExistsW(path)) ShowBlockedMessage(name);
    }
}

void LibrarySearchGuard::ShowBlockedMessage(const wchar_t* fileName) {
    // The program's language selection has not run yet: the system's
    // resource lookup picks the language.
    const HINSTANCE module = ::GetModuleHandleW(nullptr);
    wchar_t pattern[kTextBuffer] = {};
    ::LoadStringW(module, kStringBlockedByFile, pattern, kTextBuffer);
    wchar_t text[kTextBuffer] = {};
    DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(fileName)};
    if (!::FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY, pattern, 0,
                          0, text, kTextBuffer, reinterpret_cast<va_list*>(arguments))) {
        // Without its text the box still names the file to delete.
        DWORD length = 0;
        AppendCut(text, length, fileName);
    }
    wchar_t caption[kTextBuffer] = {};
    ::LoadStringW(module, kStringCaption, caption, kTextBuffer);
    ::MessageBoxW(nullptr, text, caption, MB_ICONERROR);
    ::ExitProcess(static_cast<UINT>(kResultUnexpected));
}

}  // namespace quarry
