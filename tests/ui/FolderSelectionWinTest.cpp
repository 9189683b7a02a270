#include "ui/FolderSelection.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "common/Unique.h"
#include "common/WinResult.h"
#include "common/WinTestSupport.h"

namespace quarry {
namespace {

using testing::ScratchFolder;

std::u16string WithoutTrailingBackslash(std::u16string path) {
    if (!path.empty() && path.back() == u'\\') path.pop_back();
    return path;
}

// The SID of the user the test runs as.
std::vector<BYTE> CurrentUserSid() {
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put())) return {};
    DWORD size = 0;
    ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 ||
        !::GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) {
        return {};
    }
    const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    const BYTE* first = static_cast<const BYTE*>(sid);
    return std::vector<BYTE>(first, first + ::GetLengthSid(sid));
}

// Replaces the DACL of `folder` by one that denies the current user `denied`
// and allows everyone everything else. Returns the Win32 error.
DWORD DenyCurrentUser(const std::u16string& folder, DWORD denied) {
    std::vector<BYTE> user = CurrentUserSid();
    if (user.empty()) return ERROR_INVALID_SID;
    BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD everyoneSize = sizeof(everyone);
    if (!::CreateWellKnownSid(WinWorldSid, nullptr, everyone, &everyoneSize)) {
        return ::GetLastError();
    }
    EXPLICIT_ACCESSW entries[2] = {};
    entries[0].grfAccessPermissions = denied;
    entries[0].grfAccessMode = DENY_ACCESS;
    entries[0].Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entries[0].Trustee.TrusteeType = TRUSTEE_IS_USER;
    entries[0].Trustee.ptstrName = reinterpret_cast<LPWSTR>(user.data());
    entries[1].grfAccessPermissions = FILE_ALL_ACCESS;
    entries[1].grfAccessMode = SET_ACCESS;
    entries[1].Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entries[1].Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    entries[1].Trustee.ptstrName = reinterpret_cast<LPWSTR>(everyone);
    PACL acl = nullptr;
    const DWORD made = ::SetEntriesInAclW(2, entries, nullptr, &acl);
    if (made != ERROR_SUCCESS) return made;
    UniqueLocal ownedAcl(acl);
    return ::SetNamedSecurityInfoW(const_cast<wchar_t*>(Wide(folder)), SE_FILE_OBJECT,
                                   DACL_SECURITY_INFORMATION |
                                       PROTECTED_DACL_SECURITY_INFORMATION,
                                   nullptr, nullptr, acl, nullptr);
}

TEST(IsFolderConfirmable, RefusesEmptyPathsAndRoots) {
    EXPECT_FALSE(IsFolderConfirmable(u""));
    EXPECT_FALSE(IsFolderConfirmable(u"C:\\"));
    EXPECT_FALSE(IsFolderConfirmable(u"Z:\\"));
    EXPECT_FALSE(IsFolderConfirmable(u"\\\\server\\share"));
}

TEST(IsFolderConfirmable, AcceptsWritableFoldersAndFoldersWithoutReadableDescriptor) {
    ScratchFolder scratch;
    EXPECT_TRUE(IsFolderConfirmable(scratch.Path()));
    EXPECT_TRUE(IsFolderConfirmable(WithoutTrailingBackslash(scratch.Path())));
    // No descriptor can be read for a folder that is not there.
    EXPECT_TRUE(IsFolderConfirmable(scratch / u"missing\\deeper"));
}

// Wine (without stored ACLs) keeps of a new DACL only what the Unix mode can
// say: a denied FILE_ADD_FILE takes the write bits away, so the descriptor it
// reads back denies the current user every write right. Denials of single
// rights such as FILE_WRITE_ATTRIBUTES or FILE_TRAVERSE are lost there.
TEST(IsFolderConfirmable, RefusesAFolderThatDeniesAddingFiles) {
    ScratchFolder scratch;
    const std::u16string folder = scratch / u"read-only";
    ASSERT_TRUE(::CreateDirectoryW(Wide(folder), nullptr));
    ASSERT_EQ(DenyCurrentUser(folder, FILE_ADD_FILE), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(IsFolderConfirmable(folder));
}

// Pumps this thread's messages until `done` holds or `milliseconds` pass.
template <typename Done>
bool PumpUntil(Done done, DWORD milliseconds) {
    const DWORD start = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - start > milliseconds) return false;
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

constexpr DWORD kBrowserTimeout = 30000;

// Whether a browser dialog was asked to disable OK. Wine's browser enables OK
// by its own rules (any file-system folder) right after the selection
// callback returns, so the button's state there does not show what the
// callback asked for; a hook on the browser's thread sees the request. Only
// the callback ever asks to disable OK for a file-system folder.
LONG gDisableOkRequested = 0;

LRESULT CALLBACK WatchEnableOk(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == BFFM_ENABLEOK && call->lParam == FALSE) {
        ::InterlockedExchange(&gDisableOkRequested, 1);
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// The real browser on a thread of its own, as the worker shows it, owned by
// a window of the test thread, which pumps messages like the dialog does.
class BrowserRun {
public:
    explicit BrowserRun(const std::u16string& startFolder) : start_(startFolder) {
        owner_ = ::CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                   nullptr, nullptr, nullptr, nullptr);
        ::InterlockedExchange(&gDisableOkRequested, 0);
        thread_.Reset(
            ::CreateThread(nullptr, 0, ThreadProc, this, CREATE_SUSPENDED, &threadId_));
        hook_ = ::SetWindowsHookExW(WH_CALLWNDPROC, WatchEnableOk, nullptr, threadId_);
        ::ResumeThread(thread_.Get());
    }
    ~BrowserRun() {
        if (::WaitForSingleObject(thread_.Get(), 0) == WAIT_TIMEOUT) {
            if (Browser()) ::PostMessageW(Browser(), WM_COMMAND, IDCANCEL, 0);
            Finish();
        }
        if (hook_) ::UnhookWindowsHookEx(hook_);
        ::DestroyWindow(owner_);
    }

    // The browser's dialog window, once it is shown.
    HWND Browser() {
        if (!window_) {
            ::EnumThreadWindows(threadId_, FindDialog, reinterpret_cast<LPARAM>(&window_));
        }
        return window_;
    }
    bool WaitForBrowser() {
        return hook_ && PumpUntil([this] { return Browser() != nullptr; }, kBrowserTimeout);
    }
    HWND Owner() const { return owner_; }
    bool OkButtonEnabled() { return ::IsWindowEnabled(::GetDlgItem(Browser(), IDOK)) != FALSE; }

    // Clicks `button` and returns what the browser returned.
    std::u16string Press(int button) {
        ::PostMessageW(Browser(), WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(Browser(), button)));
        Finish();
        return result_;
    }

private:
    static DWORD WINAPI ThreadProc(void* context) {
        auto* run = static_cast<BrowserRun*>(context);
        run->result_ = BrowseForWritableFolder(run->owner_, run->start_, u"Pick a folder");
        return 0;
    }
    static BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
        wchar_t className[16] = {};
        ::GetClassNameW(window, className, 16);
        if (std::wstring(className) != L"#32770" || !::IsWindowVisible(window)) return TRUE;
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    void Finish() {
        PumpUntil([this] { return ::WaitForSingleObject(thread_.Get(), 0) == WAIT_OBJECT_0; },
                  kBrowserTimeout);
    }

    std::u16string start_;
    std::u16string result_ = u"<unset>";
    HWND owner_ = nullptr;
    HWND window_ = nullptr;
    HHOOK hook_ = nullptr;
    DWORD threadId_ = 0;
    UniqueHandle thread_;
};

// A scratch folder directly under C:\. Wine's browser also lists the user's
// profile folder at the top, where the hidden Temp folder is missing, and may
// walk that way to a start folder under it and stop at the wrong item; a
// folder under C:\ can be reached through the drive only.
class DriveScratchFolder {
public:
    DriveScratchFolder()
        : path_(u"C:\\quarry-browse-" + testing::Utf16(std::to_string(::GetCurrentProcessId()))) {
        testing::RemoveTree(path_);
        ::CreateDirectoryW(Wide(path_), nullptr);
    }
    ~DriveScratchFolder() { testing::RemoveTree(path_); }
    const std::u16string& Path() const { return path_; }

private:
    std::u16string path_;
};

TEST(BrowseForWritableFolder, StartsAtTheStartFolderAndReturnsItOnOk) {
    DriveScratchFolder scratch;
    BrowserRun run(scratch.Path());
    ASSERT_TRUE(run.WaitForBrowser());
    EXPECT_EQ(::GetWindow(run.Browser(), GW_OWNER), run.Owner());
    EXPECT_EQ(gDisableOkRequested, 0);
    EXPECT_TRUE(run.OkButtonEnabled());
    EXPECT_EQ(run.Press(IDOK), scratch.Path());
}

TEST(BrowseForWritableFolder, DisablesOkAtARootAndReturnsNothingOnCancel) {
    BrowserRun run(u"C:\\");
    ASSERT_TRUE(run.WaitForBrowser());
    EXPECT_EQ(gDisableOkRequested, 1);
    EXPECT_EQ(run.Press(IDCANCEL), u"");
}

TEST(BrowseForWritableFolder, DisablesOkAtAFolderThatDeniesAddingFiles) {
    DriveScratchFolder scratch;
    ASSERT_EQ(DenyCurrentUser(scratch.Path(), FILE_ADD_FILE), static_cast<DWORD>(ERROR_SUCCESS));
    BrowserRun run(scratch.Path());
    ASSERT_TRUE(run.WaitForBrowser());
    EXPECT_EQ(gDisableOkRequested, 1);
}

}  // namespace
}  // namespace quarry
