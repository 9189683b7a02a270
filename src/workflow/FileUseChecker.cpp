#include "workflow/FileUseChecker.h"

#include <vector>

#include "common/SystemLibrary.h"
#include "common/Text.h"
#include "common/Unique.h"
#include "common/WinResult.h"
#include "package/AccessControl_win.h"
#include "restrictions/WindowsVersion.h"
#include "workflow/Cleanup.h"

namespace quarry {

namespace {

constexpr DWORD kProbeReadDelete = GENERIC_READ | DELETE;                  // 0x80010000
constexpr DWORD kProbeReadWriteDelete = GENERIC_READ | GENERIC_WRITE | DELETE;  // 0xC0010000
constexpr DWORD kReleaseGraceMilliseconds = 90000;

}  // namespace

FileUseChecker::FileUseChecker(const RestartManagerApi& api)
    : api_(api), tried_(true),
      available_(api.startSession && api.registerResources && api.getList && api.endSession) {}

FileUseChecker::~FileUseChecker() {
    if (module_) ::FreeLibrary(module_);
}

bool FileUseChecker::LoadRestartManager() {
    if (tried_) return available_;
    tried_ = true;
    const std::u16string path = SystemFilePath(u"Rstrtmgr.dll");
    if (path.empty()) return false;
    module_ = ::LoadLibraryW(Wide(path));
    if (!module_) return false;
    api_.startSession = ProcAddress<decltype(api_.startSession)>(module_, "RmStartSession");
    api_.registerResources =
        ProcAddress<decltype(api_.registerResources)>(module_, "RmRegisterResources");
    api_.getList = ProcAddress<decltype(api_.getList)>(module_, "RmGetList");
    api_.endSession = ProcAddress<decltype(api_.endSession)>(module_, "RmEndSession");
    available_ = api_.startSession && api_.registerResources && api_.getList && api_.endSession;
    if (!available_) {
        api_ = RestartManagerApi();
        ::FreeLibrary(module_);
        module_ = nullptr;
    }
    return available_;
}

bool FileUseChecker::IsAnyFileInUse(const std::u16string& folder, DWORD& error) {
    error = ERROR_NOT_SUPPORTED;
    if (!LoadRestartManager()) return false;

    std::vector<std::u16string> files;
    WalkFiles(folder, [&files](const std::u16string& path, bool running) {
        files.push_back(path);
        return running;
    });
    std::vector<LPCWSTR> names;
    names.reserve(files.size());
    for (const std::u16string& file : files) names.push_back(Wide(file));

    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    error = api_.startSession(&session, 0, key);
    if (error != ERROR_SUCCESS) return false;
    api_.registerResources(session, static_cast<UINT>(names.size()),
                           names.empty() ? nullptr : names.data(), 0, nullptr, 0, nullptr);
    UINT needed = 0;
    UINT count = 0;
    DWORD reasons = 0;
    const DWORD listed = api_.getList(session, &needed, &count, nullptr, &reasons);
    const bool inUse = listed == ERROR_MORE_DATA && needed != 0;
    api_.endSession(session);
    return inUse;
}

bool IsAnyFileLocked(const std::u16string& folder, bool readOnly, DWORD& error) {
    const DWORD access = readOnly ? kProbeReadDelete : kProbeReadWriteDelete;
    const bool unlocked = WalkFiles(folder, [&](const std::u16string& path, bool running) {
        const UniqueFile file(::CreateFileW(Wide(path), access,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file || !running) return running;
        const DWORD failure = ::GetLastError();
        if (failure == ERROR_SHARING_VIOLATION) return false;
        error = failure;
        return true;
    });
    return !unlocked;
}

HResult WaitForFilesReleased(const ReleaseWait& wait) {
    const std::u16string& runFolder = wait.runFolder;
    const std::u16string& workFolder = wait.workFolder;
    if (workFolder.empty() || !wait.execution.waitForRelease) return kResultOk;
    // Only files in the work folder are waited for, not a visible extract
    // folder that the user keeps.
    if (runFolder.size() < workFolder.size() ||
        !EqualsNoCase(std::u16string_view(runFolder).substr(0, workFolder.size()), workFolder)) {
        return kResultOk;
    }
    const std::uint64_t allowed =
        static_cast<std::uint64_t>(wait.execution.WaitTimeout) * 1000 + kReleaseGraceMilliseconds;
    const bool restartManager = IsWindowsVersionOrLater(6, 0);
    FileUseChecker checker = wait.settings.restartManager
                                 ? FileUseChecker(*wait.settings.restartManager)
                                 : FileUseChecker();
    bool firstRound = true;
    for (;;) {
        if (static_cast<std::uint64_t>(::GetTickCount() - wait.startTick) >= allowed) {
            return ResultFromWin32(ERROR_TIMEOUT);
        }
        DWORD error = 0;
        bool inUse;
        if (restartManager) {
            inUse = checker.IsAnyFileInUse(runFolder, error);
        } else if (firstRound) {
            inUse = IsAnyFileLocked(runFolder, true, error);
            if (!inUse) {
                SetTreeAccess(runFolder, true, wait.accessControl);
                inUse = IsAnyFileLocked(runFolder, false, error);
            }
        } else {
            inUse = IsAnyFileLocked(runFolder, false, error);
        }
        firstRound = false;
        if (!inUse) return kResultOk;
        if (::WaitForSingleObject(wait.cancelEvent, wait.settings.recheckMilliseconds) !=
            WAIT_TIMEOUT) {
            return kResultAbort;
        }
    }
}

}  // namespace quarry
