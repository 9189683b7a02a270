#include "app/ProgramDriver.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>

#include "common/Text.h"
#include "common/Unique.h"
#include "common/WinResult.h"

namespace quarry {
namespace testing {

namespace {

constexpr DWORD kPollMilliseconds = 10;
constexpr int kStatusControl = 1011;
constexpr int kMessageTextControl = 0xFFFF;  // the static text of a message box

struct Search {
    DWORD processId;
    bool messageBox;
    bool visibleOnly;
    HWND found;
};

bool IsDialogClass(HWND window) {
    wchar_t name[16] = {};
    ::GetClassNameW(window, name, 16);
    return std::wstring(name) == L"#32770";
}

BOOL CALLBACK MatchWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    if (processId != search->processId) return TRUE;
    if (search->visibleOnly) {
        if (!::IsWindowVisible(window)) return TRUE;
    } else {
        if (!IsDialogClass(window)) return TRUE;
        const int control = search->messageBox ? kMessageTextControl : kStatusControl;
        if (!::GetDlgItem(window, control)) return TRUE;
    }
    search->found = window;
    return FALSE;
}

std::u16string WindowText(HWND window) {
    wchar_t text[1024] = {};
    ::SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text),
                          SMTO_ABORTIFHUNG, 5000, nullptr);
    return FromWide(text);
}

struct TextSearch {
    DWORD processId;
    const std::u16string* fragment;
    HWND found;
};

BOOL CALLBACK MatchChildText(HWND child, LPARAM context) {
    auto* search = reinterpret_cast<TextSearch*>(context);
    wchar_t text[1024] = {};
    ::SendMessageTimeoutW(child, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text),
                          SMTO_ABORTIFHUNG, 2000, nullptr);
    if (FromWide(text).find(*search->fragment) == std::u16string::npos) return TRUE;
    search->found = child;
    return FALSE;
}

BOOL CALLBACK MatchWindowWithText(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<TextSearch*>(context);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    if (processId != search->processId || !::IsWindowVisible(window)) return TRUE;
    TextSearch inner = {processId, search->fragment, nullptr};
    ::EnumChildWindows(window, MatchChildText, reinterpret_cast<LPARAM>(&inner));
    if (!inner.found) return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

ProgramDriver::ProgramDriver(const std::u16string& program, const std::u16string& arguments) {
    std::u16string commandLine = u"\"" + program + u"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!::CreateProcessW(Wide(program), reinterpret_cast<wchar_t*>(&commandLine[0]), nullptr,
                          nullptr, FALSE, 0, nullptr, nullptr, &startup, &process_)) {
        ADD_FAILURE() << "CreateProcessW failed: " << ::GetLastError();
    }
}

ProgramDriver::~ProgramDriver() {
    if (!process_.hProcess) return;
    if (Running()) {
        ::TerminateProcess(process_.hProcess, 1);
        ::WaitForSingleObject(process_.hProcess, 5000);
    }
    ::CloseHandle(process_.hThread);
    ::CloseHandle(process_.hProcess);
}

bool ProgramDriver::Running() const {
    return process_.hProcess && ::WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

bool ProgramDriver::HasLoaded(const wchar_t* moduleName) const {
    const UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process_.dwProcessId));
    MODULEENTRY32W module = {};
    module.dwSize = sizeof module;
    for (BOOL more = snapshot && ::Module32FirstW(snapshot.Get(), &module); more;
         more = ::Module32NextW(snapshot.Get(), &module)) {
        if (::lstrcmpiW(module.szModule, moduleName) == 0) return true;
    }
    return false;
}

HWND ProgramDriver::FindWindowOfProcess(bool messageBox) const {
    Search search = {process_.dwProcessId, messageBox, false, nullptr};
    ::EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND ProgramDriver::WaitForDialog(DWORD milliseconds) {
    for (DWORD waited = 0; waited <= milliseconds; waited += kPollMilliseconds) {
        if (const HWND found = FindWindowOfProcess(false)) return found;
        if (!Running()) return nullptr;
        ::Sleep(kPollMilliseconds);
    }
    return nullptr;
}

HWND ProgramDriver::WaitForMessageBox(DWORD milliseconds) {
    for (DWORD waited = 0; waited <= milliseconds; waited += kPollMilliseconds) {
        if (const HWND found = FindWindowOfProcess(true)) {
            if (::IsWindowVisible(found)) return found;
        }
        if (!Running()) return nullptr;
        ::Sleep(kPollMilliseconds);
    }
    return nullptr;
}

HWND ProgramDriver::WaitForWindowContaining(const std::u16string& fragment, DWORD milliseconds) {
    for (DWORD waited = 0; waited <= milliseconds; waited += kPollMilliseconds) {
        TextSearch search = {process_.dwProcessId, &fragment, nullptr};
        ::EnumWindows(MatchWindowWithText, reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        if (!Running()) return nullptr;
        ::Sleep(kPollMilliseconds);
    }
    return nullptr;
}

bool ProgramDriver::WaitForStatus(HWND dialog, const std::u16string& text, DWORD milliseconds) {
    for (DWORD waited = 0; waited <= milliseconds; waited += kPollMilliseconds) {
        if (StatusText(dialog) == text) return true;
        if (!::IsWindow(dialog)) return false;
        ::Sleep(kPollMilliseconds);
    }
    return false;
}

HWND ProgramDriver::WaitForDialogShowing(const std::u16string& status) {
    const HWND dialog = WaitForDialog();
    if (!dialog) {
        ADD_FAILURE() << "no progress dialog";
        return nullptr;
    }
    if (!WaitForStatus(dialog, status)) {
        ADD_FAILURE() << "the status never read \"" << Utf16ToUtf8(status) << "\"; it reads \""
                      << Utf16ToUtf8(StatusText(dialog)) << "\"";
        return nullptr;
    }
    return dialog;
}

DWORD ProgramDriver::CloseWhenStatus(const std::u16string& status) {
    const HWND dialog = WaitForDialogShowing(status);
    if (!dialog) return 0xDEADBEEF;
    Press(dialog, IDCANCEL);
    return WaitForExit();
}

std::u16string ProgramDriver::StatusText(HWND dialog) {
    return WindowText(::GetDlgItem(dialog, kStatusControl));
}

std::u16string ProgramDriver::ButtonText(HWND dialog) {
    return WindowText(::GetDlgItem(dialog, IDCANCEL));
}

std::u16string ProgramDriver::MessageText(HWND box) {
    return WindowText(::GetDlgItem(box, kMessageTextControl));
}

std::u16string ProgramDriver::Caption(HWND window) { return WindowText(window); }

::testing::AssertionResult ProgramDriver::WorkFolderRemoved(const std::u16string& temporaryFolder) {
    std::u16string workRoot = temporaryFolder;
    if (!workRoot.empty() && workRoot.back() != u'\\') workRoot += u'\\';
    workRoot += u"QuarryTool";
    if (::GetFileAttributesW(Wide(workRoot)) == INVALID_FILE_ATTRIBUTES) {
        return ::testing::AssertionFailure() << "no run at all";
    }
    WIN32_FIND_DATAW found = {};
    const UniqueFind runFolders(::FindFirstFileW(Wide(workRoot + u"\\{*"), &found));
    if (runFolders) {
        return ::testing::AssertionFailure()
               << "left behind: " << Utf16ToUtf8(FromWide(found.cFileName));
    }
    return ::testing::AssertionSuccess();
}

void ProgramDriver::Press(HWND window, int id) {
    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(window, id)));
}

DWORD ProgramDriver::WaitForExit(DWORD milliseconds) {
    if (!process_.hProcess) return 0xDEADBEEF;
    for (DWORD waited = 0; waited <= milliseconds; waited += kPollMilliseconds) {
        Search search = {process_.dwProcessId, false, true, nullptr};
        ::EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) sawVisible_ = true;
        if (::WaitForSingleObject(process_.hProcess, kPollMilliseconds) == WAIT_OBJECT_0) {
            DWORD code = 0xDEADBEEF;
            ::GetExitCodeProcess(process_.hProcess, &code);
            return code;
        }
    }
    return 0xDEADBEEF;
}

std::vector<DWORD> ProgramDriver::ProcessesNamed(const wchar_t* name,
                                                 const std::vector<DWORD>* parents) {
    std::vector<DWORD> ids;
    const UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
         more = ::Process32NextW(snapshot.Get(), &entry)) {
        if (::lstrcmpiW(entry.szExeFile, name) != 0) continue;
        if (parents && std::find(parents->begin(), parents->end(), entry.th32ParentProcessID) ==
                           parents->end()) {
            continue;
        }
        ids.push_back(entry.th32ProcessID);
    }
    return ids;
}

void ProgramDriver::EndProcesses(const std::vector<DWORD>& ids) {
    for (DWORD id : ids) {
        const UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
        if (!process) continue;
        ::TerminateProcess(process.Get(), 1);
        ::WaitForSingleObject(process.Get(), 5000);
    }
}

std::vector<DWORD> ProgramDriver::StartedBy(const wchar_t* starterName,
                                            const wchar_t* programName,
                                            std::vector<DWORD>& starters) {
    std::vector<DWORD> started;
    for (int i = 0; i < 500 && started.empty(); ++i) {
        if (i != 0) ::Sleep(10);
        starters = ProcessesNamed(starterName);
        started = ProcessesNamed(programName, &starters);
    }
    return started;
}

bool ProgramDriver::EndSessionAndClose(HWND dialog) {
    DWORD_PTR answer = FALSE;
    EXPECT_TRUE(::SendMessageTimeoutW(dialog, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000,
                                      &answer));
    const bool cancelled = WaitForStatus(dialog, u"Cancelled.");
    EXPECT_TRUE(cancelled);
    if (cancelled) Press(dialog, IDCANCEL);
    return cancelled;
}

}  // namespace testing
}  // namespace quarry
