#include "ui/FolderSelection.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <aclapi.h>


#include "common/Result.h"
#include "common/Unique.h"
#include "common/WinResult.h"
#include "ui/FolderSelectionRules.h"
#include "ui/Strings.h"

namespace quarry {

namespace {

// What the user needs on the chosen folder to extract into it.
constexpr DWORD kWritableFolderAccess = FILE_LIST_DIRECTORY | FILE_ADD_FILE |
                                        FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE |
                                        FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
static_assert(kWritableFolderAccess == 0x1A7, "list, add file and folder, traverse, attributes");

constexpr UINT kBrowseFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN | BIF_NEWDIALOGSTYLE;
static_assert(kBrowseFlags == 0x43, "file-system folders, no domain, resizable dialog");

// The caller's token as an impersonation token, as AccessCheck wants it: the
// thread's own token when it impersonates, else the process token.
UniqueHandle OpenImpersonationToken() {
    UniqueHandle token;
    if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_DUPLICATE | TOKEN_QUERY, TRUE,
                           token.Put())) {
        if (::GetLastError() != ERROR_NO_TOKEN) return UniqueHandle();
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY,
                                token.Put())) {
            return UniqueHandle();
        }
    }
    UniqueHandle impersonation;
    if (!::DuplicateTokenEx(token.Get(), GENERIC_ALL, nullptr, SecurityImpersonation,
                            TokenImpersonation, impersonation.Put())) {
        return UniqueHandle();
    }
    return impersonation;
}

// The item's file-system path; empty for virtual items (My Computer,
// Network) that have none.
std::u16string PathOfItem(LPCITEMIDLIST item) {
    wchar_t path[MAX_PATH] = {};
    if (!item || !::SHGetPathFromIDListW(item, path)) return std::u16string();
    return FromWide(path);
}

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM lParam, LPARAM data) {
    switch (message) {
    case BFFM_INITIALIZED:
        ::SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, data);
        ::SendMessageW(browser, BFFM_SETEXPANDED, TRUE, data);
        break;
    case BFFM_SELCHANGED: {
        bool confirmable = false;
        // Runs inside the browser's message loop: an exception must not
        // unwind through the shell, so no storage means no OK.
        CatchAllocationFailures([&] {
            confirmable = IsFolderConfirmable(PathOfItem(reinterpret_cast<LPCITEMIDLIST>(lParam)));
            return kResultOk;
        });
        ::SendMessageW(browser, BFFM_ENABLEOK, 0, confirmable ? TRUE : FALSE);
        break;
    }
    default:
        break;
    }
    return 0;
}

}  // namespace

bool IsFolderConfirmable(const std::u16string& path) {
    if (path.empty() || ::PathIsRootW(Wide(path))) return false;

    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD read = ::GetNamedSecurityInfoW(
        Wide(path), SE_FILE_OBJECT,
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
        nullptr, nullptr, nullptr, nullptr, &descriptor);
    UniqueLocal ownedDescriptor(descriptor);
    if (read != ERROR_SUCCESS || !descriptor) return true;

    const UniqueHandle token = OpenImpersonationToken();
    if (!token) return true;

    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                               FILE_ALL_ACCESS};
    DWORD desired = kWritableFolderAccess;
    ::MapGenericMask(&desired, &mapping);

    PRIVILEGE_SET privileges = {};
    DWORD privilegesLength = sizeof(privileges);
    DWORD granted = 0;
    BOOL accessGranted = FALSE;
    if (!::AccessCheck(descriptor, token.Get(), desired, &mapping, &privileges,
                       &privilegesLength, &granted, &accessGranted)) {
        return true;
    }
    return accessGranted != FALSE;
}

std::u16string BrowseForWritableFolder(HWND owner, const std::u16string& startFolder,
                                       const std::u16string& prompt) {
    wchar_t displayName[MAX_PATH] = {};
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.pidlRoot = nullptr;
    info.pszDisplayName = displayName;
    info.lpszTitle = Wide(prompt);
    info.ulFlags = kBrowseFlags;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(Wide(startFolder));

    LPITEMIDLIST chosen = ::SHBrowseForFolderW(&info);
    if (!chosen) return std::u16string();
    wchar_t path[MAX_PATH] = {};
    ::SHGetPathFromIDListW(chosen, path);
    ::CoTaskMemFree(chosen);
    return FromWide(path);
}

}  // namespace quarry
