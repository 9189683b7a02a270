#include "common/FieldLog_win.h"

#include "common/FieldLogText.h"
#include "common/LinkSafe.h"
#include "common/SystemLibrary.h"
#include "common/Text.h"
#include "common/Unique.h"
#include "common/WinResult.h"

namespace quarry {

namespace {

// How long a line waits for the other process's line. A mutex held longer
// is someone else's: the log goes off rather than hold the run up.
constexpr DWORD kMutexWaitMilliseconds = 2000;

using GetFinalPathFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

// The path the system reached for `file`, without the "\\?\" it puts in
// front; empty where it cannot tell (Windows XP).
std::u16string FinalPath(HANDLE file) {
    static const auto getFinalPath = ProcAddress<GetFinalPathFn>(
        ::GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW");
    if (!getFinalPath) return std::u16string();
    wchar_t buffer[1024];
    const DWORD length = getFinalPath(file, buffer, 1024, 0);
    if (length == 0 || length >= 1024) return std::u16string();
    std::u16string path = FromWide(buffer);
    if (path.rfind(u"\\\\?\\UNC\\", 0) == 0) return u"\\" + path.substr(7);
    if (path.rfind(u"\\\\?\\", 0) == 0) return path.substr(4);
    return path;
}

// The full path of `path` as the system resolves it by name, without
// touching the disk.
std::u16string FullPath(const std::u16string& path) {
    wchar_t buffer[1024];
    const DWORD length = ::GetFullPathNameW(Wide(path), 1024, buffer, nullptr);
    return length == 0 || length >= 1024 ? std::u16string() : FromWide(buffer);
}

}  // namespace

FieldLog::FieldLog(std::u16string path) : path_(FullPath(path)) {
    if (!path.empty() && path_.empty()) failed_ = true;
}

void FieldLog::Line(const char16_t* phase, const std::u16string& text) {
    if (!Enabled()) return;
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    const LogTime time = {now.wYear, now.wMonth,  now.wDay,         now.wHour,
                          now.wMinute, now.wSecond, now.wMilliseconds};
    if (!Append(FormatLogLine(time, ::GetCurrentProcessId(), phase, text))) failed_ = true;
}

bool FieldLog::Append(const std::string& line) {
    const UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, Wide(FieldLogMutexName(path_))));
    const bool owned = mutex && ::WaitForSingleObject(mutex.Get(), kMutexWaitMilliseconds) !=
                                    WAIT_TIMEOUT;
    if (mutex && !owned) return false;
    // Appending only: every write goes to the end of the file, whoever else
    // has it open. A file this line makes can be deleted again through its
    // handle, should it turn out to lie somewhere else.
    constexpr DWORD kAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    bool created = false;
    UniqueFile file(::CreateFileW(Wide(path_), kAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, kFlags, nullptr));
    if (!file && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
        file.Reset(::CreateFileW(Wide(path_), kAccess | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, CREATE_NEW, kFlags, nullptr));
        created = file.Valid();
    }
    bool written = false;
    BY_HANDLE_FILE_INFORMATION information;
    if (file && ::GetFileInformationByHandle(file.Get(), &information) &&
        !(information.dwFileAttributes &
          (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
        information.nNumberOfLinks == 1) {
        const std::u16string reached = FinalPath(file.Get());
        if (reached.empty() || EqualsNoCase(reached, path_)) {
            DWORD done = 0;
            written = ::WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &done,
                                  nullptr) &&
                      done == line.size();
        } else if (created) {
            MarkForDeletion(file.Get(), SystemLinkSafeFunctions());
        }
    }
    file.Reset();
    if (owned) ::ReleaseMutex(mutex.Get());
    return written;
}

}  // namespace quarry
