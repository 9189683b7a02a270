// A small program for the run-mode tests, started by the executor in place of
// a configured file. What it does is chosen by its arguments:
//   exit N                   ends with N (base 0: "0x80070005" works)
//   sleep MS N               sleeps MS milliseconds, then ends with N
//   start DELAY N WORDS...   sleeps DELAY ms, starts a copy of itself with
//                            WORDS as its arguments, ends with N at once;
//                            nested, it makes children and grandchildren
//   args FILE                writes its command line (UTF-16LE) to FILE,
//                            its environment variables expanded
//   version                  ends with 1 when GetVersionExW, VerifyVersionInfoW
//                            and ntdll's RtlGetVersion name the same version
//                            and build, 2 when VerifyVersionInfoW disagrees,
//                            3 when only RtlGetVersion does
// It is built for the GUI subsystem (with wmain as its entry): a console
// program gets a console host (conhost.exe) as its own child, which would
// count as one more descendant for the run-mode wait.
#include <windows.h>

#include <cwchar>
#include <cstdlib>
#include <string>

namespace {

DWORD Number(const wchar_t* text) { return static_cast<DWORD>(std::wcstoul(text, nullptr, 0)); }

int StartCopy(int argc, wchar_t** argv, int first) {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\"";
    for (int i = first; i < argc; ++i) commandLine += L" " + std::wstring(argv[i]);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(self, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        return 0;
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return 1;
}

int VersionAgreement() {
    OSVERSIONINFOEXW reported = {};
    reported.dwOSVersionInfoSize = sizeof reported;
    if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&reported))) return 0x7E57;
    DWORDLONG conditions = 0;
    VER_SET_CONDITION(conditions, VER_MAJORVERSION, VER_EQUAL);
    VER_SET_CONDITION(conditions, VER_MINORVERSION, VER_EQUAL);
    VER_SET_CONDITION(conditions, VER_BUILDNUMBER, VER_EQUAL);
    OSVERSIONINFOEXW wanted = reported;
    if (!::VerifyVersionInfoW(&wanted, VER_MAJORVERSION | VER_MINORVERSION | VER_BUILDNUMBER,
                              conditions)) {
        return 2;
    }
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOW truth = {};
    truth.dwOSVersionInfoSize = sizeof truth;
    if (!rtlGetVersion || rtlGetVersion(&truth) != 0) return 0x7E57;
    const bool same = truth.dwMajorVersion == reported.dwMajorVersion &&
                      truth.dwMinorVersion == reported.dwMinorVersion &&
                      truth.dwBuildNumber == reported.dwBuildNumber;
    return same ? 1 : 3;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"exit" && argc == 3) return static_cast<int>(Number(argv[2]));
    if (mode == L"sleep" && argc == 4) {
        ::Sleep(Number(argv[2]));
        return static_cast<int>(Number(argv[3]));
    }
    if (mode == L"start" && argc >= 5) {
        ::Sleep(Number(argv[2]));
        if (!StartCopy(argc, argv, 4)) return 0x7E57;
        return static_cast<int>(Number(argv[3]));
    }
    if (mode == L"args" && argc >= 3) {
        wchar_t path[MAX_PATH] = {};
        ::ExpandEnvironmentStringsW(argv[2], path, MAX_PATH);
        const HANDLE file = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return 0x7E57;
        const wchar_t* commandLine = ::GetCommandLineW();
        DWORD written = 0;
        ::WriteFile(file, commandLine, static_cast<DWORD>(std::wcslen(commandLine) * 2),
                    &written, nullptr);
        ::CloseHandle(file);
        return 0;
    }
    if (mode == L"version") return VersionAgreement();
    return 0x7E57;  // unknown use
}
