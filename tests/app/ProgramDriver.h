// Starts a packed program as its own process and drives its windows as a
// person would: finds the progress dialog and message boxes of that process,
// reads their texts and presses their buttons.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "common/NonCopyable.h"

namespace quarry {
namespace testing {

class ProgramDriver : NonCopyable {
public:
    // Starts `program` with `arguments`; a failed start is a test failure.
    ProgramDriver(const std::u16string& program, const std::u16string& arguments);
    ~ProgramDriver();  // ends a process that is still running

    // The waits for a window allow a minute: the first program started in a
    // new UI language under Wine takes long to draw its first window, and a
    // longer wait costs nothing when the window comes.

    // The progress dialog (the dialog with a status line), or null after
    // `milliseconds`.
    HWND WaitForDialog(DWORD milliseconds = 60000);
    // A message box of the process, or null after `milliseconds`.
    HWND WaitForMessageBox(DWORD milliseconds = 60000);
    // A top-level window of the process that has a child whose text contains
    // `fragment`, or null after `milliseconds`.
    HWND WaitForWindowContaining(const std::u16string& fragment, DWORD milliseconds = 60000);
    // Waits until the dialog's status line reads `text`; false on timeout.
    bool WaitForStatus(HWND dialog, const std::u16string& text, DWORD milliseconds = 60000);
    // The progress dialog once its status line reads `status`; null, and a
    // test failure saying which wait failed, when either never comes.
    HWND WaitForDialogShowing(const std::u16string& status);

    // Waits for the dialog to read `status`, presses Close and returns the
    // exit code; 0xDEADBEEF (and a test failure) when the status never came.
    DWORD CloseWhenStatus(const std::u16string& status);

    static std::u16string StatusText(HWND dialog);
    static std::u16string ButtonText(HWND dialog);
    static std::u16string MessageText(HWND box);
    static std::u16string Caption(HWND window);
    // Success when a run made its work root below `temporaryFolder` (the TEMP
    // of the runs) and left no run's work folder in it; otherwise says which.
    static ::testing::AssertionResult WorkFolderRemoved(const std::u16string& temporaryFolder);
    // Ids of the running processes whose executable is named `name`; with
    // `parents`, only those started by one of them (other tests running at
    // the same time start the same programs).
    static std::vector<DWORD> ProcessesNamed(const wchar_t* name,
                                             const std::vector<DWORD>* parents = nullptr);
    // The processes named `programName` started by a process named
    // `starterName` (the packed program's copies), waited for up to five
    // seconds; `starters` receives those copies.
    static std::vector<DWORD> StartedBy(const wchar_t* starterName, const wchar_t* programName,
                                        std::vector<DWORD>& starters);
    // Ends those processes and waits for them a little.
    static void EndProcesses(const std::vector<DWORD>& ids);
    // Presses button `id` (IDOK, IDCANCEL, IDYES, IDNO, ...) of `window`.
    static void Press(HWND window, int id);

    // Ends the session as a log-off does (WM_QUERYENDSESSION to `dialog`),
    // waits for the dialog to read "Cancelled." and presses Close; false
    // (and a test failure) when that status never came.
    bool EndSessionAndClose(HWND dialog);

    // Waits for the process to end and returns its full exit code; 0xDEADBEEF
    // on timeout. While waiting it watches whether any window of the process
    // becomes visible.
    DWORD WaitForExit(DWORD milliseconds = 60000);
    // Whether a window of the process was seen visible during WaitForExit.
    bool SawVisibleWindow() const { return sawVisible_; }
    // True while the process runs.
    bool Running() const;
    // Whether the running process has loaded a module of this file name.
    bool HasLoaded(const wchar_t* moduleName) const;

private:
    HWND FindWindowOfProcess(bool messageBox) const;

    PROCESS_INFORMATION process_ = {};
    bool sawVisible_ = false;
};

}  // namespace testing
}  // namespace quarry
