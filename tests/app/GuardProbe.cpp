// Stands in for the program in the tests of the library-search guard: a real
// program in a folder of its own, beside real files, that constructs the
// guard posing as the system its arguments name and records what the guard
// asks of that system in "probe.log" beside itself (UTF-16LE, one line each):
//   lookup PATH       the guard looked for SetDefaultDllDirectories in PATH
//   default 0xFLAGS   it called SetDefaultDllDirectories
//   load PATH 0xFLAGS it would load a library (nothing is loaded)
//   constructed       the constructor returned
//   request WORD      a PreloadOnDemand call follows
//   flags D B S E     the four flags at the end, 0 or 1
// Usage: quarry_guardprobe MAJOR MINOR default|none [base|shell|explorer]...
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string>

#include "common/LibrarySearchGuard_win.h"

namespace {

DWORD gMajor = 0;
DWORD gMinor = 0;
bool gHasDefault = false;
std::wstring gLogPath;

void Log(const std::wstring& line) {
    const HANDLE file = ::CreateFileW(gLogPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                      nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::wstring text = line + L"\n";
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written,
                nullptr);
    ::CloseHandle(file);
}

std::wstring Hex(DWORD value) {
    wchar_t text[16];
    ::wsprintfW(text, L"0x%X", value);
    return text;
}

BOOL WINAPI FakeSetDefaultDllDirectories(DWORD flags) {
    Log(L"default " + Hex(flags));
    return TRUE;
}

quarry::SetDefaultDllDirectoriesFunction FakeFind(const wchar_t* kernel32Path) {
    Log(std::wstring(L"lookup ") + kernel32Path);
    return gHasDefault ? FakeSetDefaultDllDirectories : nullptr;
}

// Only the basic structure is answered, as the guard is to ask for it.
BOOL WINAPI FakeGetVersionEx(LPOSVERSIONINFOW info) {
    if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW)) return FALSE;
    info->dwMajorVersion = gMajor;
    info->dwMinorVersion = gMinor;
    info->dwBuildNumber = 1;
    return TRUE;
}

HMODULE WINAPI FakeLoadLibraryEx(LPCWSTR path, HANDLE file, DWORD flags) {
    Log(std::wstring(L"load ") + path + L" " + Hex(flags) + (file ? L" with file" : L""));
    return nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return 2;
    gMajor = std::wcstoul(argv[1], nullptr, 10);
    gMinor = std::wcstoul(argv[2], nullptr, 10);
    gHasDefault = std::wstring(argv[3]) == L"default";
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    gLogPath = self;
    gLogPath = gLogPath.substr(0, gLogPath.rfind(L'\\') + 1) + L"probe.log";

    quarry::LibrarySearchFunctions functions;
    functions.findSetDefaultDllDirectories = FakeFind;
    functions.getVersionEx = FakeGetVersionEx;
    functions.loadLibraryEx = FakeLoadLibraryEx;
    quarry::LibrarySearchGuard guard(functions);
    Log(L"constructed");
    for (int i = 4; i < argc; ++i) {
        const std::wstring word = argv[i];
        Log(L"request " + word);
        guard.PreloadOnDemand(word == L"base", word == L"shell", word == L"explorer");
    }
    Log(std::wstring(L"flags ") + (guard.defaultDirectoriesSet ? L"1" : L"0") +
        (guard.baseGroupLoaded ? L" 1" : L" 0") + (guard.shellGroupLoaded ? L" 1" : L" 0") +
        (guard.explorerGroupLoaded ? L" 1" : L" 0"));
    return 0;
}
