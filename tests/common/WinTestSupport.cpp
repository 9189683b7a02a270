#include "WinTestSupport.h"

#include <sddl.h>
#include <shlobj.h>

#include <cstdlib>

#include "common/Text.h"
#include "common/Unique.h"

namespace quarry {
namespace testing {

ScratchFolder::ScratchFolder() {
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, temp);
    static LONG counter = 0;
    const std::u16string base = FromWide(temp) + u"quarry-test-" +
                                Utf16(std::to_string(::GetCurrentProcessId())) + u"-" +
                                Utf16(std::to_string(::InterlockedIncrement(&counter)));
    path_ = base + u"\\";
    RemoveTree(path_);
    ::CreateDirectoryW(Wide(base), nullptr);
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

TemporaryFolderOverride::TemporaryFolderOverride(const std::u16string& folder) {
    for (const wchar_t* name : {L"TMP", L"TEMP"}) {
        wchar_t old[MAX_PATH] = {};
        ::GetEnvironmentVariableW(name, old, MAX_PATH);
        saved_.emplace_back(name, old);
        ::SetEnvironmentVariableW(name, Wide(folder));
    }
}

TemporaryFolderOverride::~TemporaryFolderOverride() {
    for (const auto& saved : saved_) {
        ::SetEnvironmentVariableW(saved.first.c_str(), saved.second.c_str());
    }
}

std::u16string Utf16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

void RemoveTree(const std::u16string& folder) {
    std::u16string base = folder;
    if (!base.empty() && base.back() != u'\\') base += u'\\';
    WIN32_FIND_DATAW data;
    UniqueFind find(::FindFirstFileW(Wide(base + u"*"), &data));
    if (find) {
        do {
            const std::u16string name = FromWide(data.cFileName);
            if (name == u"." || name == u"..") continue;
            const std::u16string path = base + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                // A link is never entered. Windows removes the link itself
                // by name; Wine would delete what it points at instead, so
                // there it stays.
                if (RunsUnderWine()) continue;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    ::RemoveDirectoryW(Wide(path));
                } else {
                    ::DeleteFileW(Wide(path));
                }
            } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                ::SetFileAttributesW(Wide(path), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(Wide(path));
            }
        } while (::FindNextFileW(find.Get(), &data));
    }
    find.Reset();
    ::RemoveDirectoryW(Wide(base));
}

DWORD SecurityFromSddl(const std::wstring& sddl, PSID* owner, PACL* dacl,
                       PSECURITY_DESCRIPTOR* descriptor) {
    if (sddl.empty()) {
        static PSID administrators = nullptr;
        if (!administrators) ::ConvertStringSidToSidW(L"S-1-5-32-544", &administrators);
        *descriptor = ::LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
        ::InitializeSecurityDescriptor(*descriptor, SECURITY_DESCRIPTOR_REVISION);
        ::SetSecurityDescriptorDacl(*descriptor, TRUE, nullptr, FALSE);
        *dacl = nullptr;
        if (owner) *owner = administrators;
        return ERROR_SUCCESS;
    }
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                descriptor, nullptr)) {
        return ::GetLastError();
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ::GetSecurityDescriptorDacl(*descriptor, &present, dacl, &defaulted);
    if (!present) *dacl = nullptr;
    if (owner) ::GetSecurityDescriptorOwner(*descriptor, owner, &defaulted);
    return ERROR_SUCCESS;
}

bool PlantLink(const std::u16string& link, const std::u16string& target, bool folder,
               const std::u16string& preparedUnderWine) {
    if (RunsUnderWine()) {
        return ::MoveFileW(Wide(preparedUnderWine), Wide(link)) != FALSE;
    }
    using CreateLinkFn = BOOLEAN(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);
    const auto createLink = reinterpret_cast<CreateLinkFn>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "CreateSymbolicLinkW")));
    if (!createLink) return false;
    // SYMBOLIC_LINK_FLAG_DIRECTORY, and ..._ALLOW_UNPRIVILEGED_CREATE for a
    // developer-mode Windows 10 and later; older ones need the privilege.
    const DWORD flags = (folder ? 0x1 : 0x0) | 0x2;
    if (createLink(Wide(link), Wide(target), flags)) return true;
    return createLink(Wide(link), Wide(target), folder ? 0x1 : 0x0) != FALSE;
}

bool WriteBytes(const std::u16string& path, const std::vector<std::uint8_t>& bytes) {
    UniqueFile file(::CreateFileW(Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return bytes.empty() ||
           (::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                        nullptr) &&
            written == bytes.size());
}

std::vector<std::uint8_t> ReadBytes(const std::u16string& path) {
    std::vector<std::uint8_t> bytes;
    UniqueFile file(::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return bytes;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.Get(), &size)) return bytes;
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    if (!bytes.empty() &&
        !::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) {
        bytes.clear();
    }
    return bytes;
}

std::vector<std::uint8_t> Utf16WithBom(const std::u16string& text) {
    std::vector<std::uint8_t> bytes = {0xFF, 0xFE};
    for (char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return bytes;
}

bool WriteUtf16File(const std::u16string& path, const std::u16string& text) {
    return WriteBytes(path, Utf16WithBom(text));
}

std::uint64_t LastWriteTime(const std::u16string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

std::uint64_t NowFileTime() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

std::u16string TestBundleFolder() {
    wchar_t given[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"QUARRY_TEST_ROOT", given, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        std::u16string folder = FromWide(given);
        if (folder.back() != u'\\') folder += u'\\';
        return folder;
    }
    wchar_t self[MAX_PATH] = {};
    const DWORD selfLength = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (selfLength == 0 || selfLength >= MAX_PATH) return {};
    std::u16string folder = FromWide(self);
    for (int up = 0; up < 2; ++up) {
        const std::size_t slash = folder.rfind(u'\\');
        if (slash == std::u16string::npos) return {};
        folder.resize(slash);
    }
    folder += u'\\';
    const bool bundle =
        ::GetFileAttributesW(Wide(folder + u"run-tests.cmd")) != INVALID_FILE_ATTRIBUTES;
    return bundle ? folder : std::u16string();
}

bool PreparedLinksMissing() { return RunsUnderWine() && !TestBundleFolder().empty(); }

bool IsReparsePoint(const std::u16string& path) {
    const DWORD attributes = ::GetFileAttributesW(Wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::u16string WindowsPathOf(const std::string& unixPath) {
    static const std::u16string bundle = TestBundleFolder();
    std::string path = unixPath;
    if (!bundle.empty()) {
        const std::string tree = std::string(QUARRY_BUILD_TREE) + "/";
        path = path.compare(0, tree.size(), tree) == 0 ? path.substr(tree.size())
                                                        : path.substr(path.rfind('/') + 1);
    }
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return (bundle.empty() ? u"Z:" : bundle) + Utf8ToUtf16(path);
}

HANDLE StartProgram(const std::u16string& program, const std::u16string& arguments,
                    bool inheritHandles) {
    std::wstring commandLine = L"\"" + std::wstring(Wide(program)) + L"\" " +
                               std::wstring(Wide(arguments));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, inheritHandles, 0, nullptr,
                          nullptr, &startup, &started)) {
        return nullptr;
    }
    ::CloseHandle(started.hThread);
    return started.hProcess;
}

DWORD RunProgram(const std::u16string& program, const std::u16string& arguments) {
    const UniqueHandle process(StartProgram(program, arguments));
    DWORD exitCode = 0xDEADBEEF;
    if (process.Get() && ::WaitForSingleObject(process.Get(), 20000) == WAIT_OBJECT_0) {
        ::GetExitCodeProcess(process.Get(), &exitCode);
    }
    return exitCode;
}

bool RunsUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

bool RunsAsAdministrator() { return ::IsUserAnAdmin() != FALSE; }

std::string ExpectedUiLanguage() {
    const char* expected = std::getenv("QUARRY_EXPECT_UI_LANGUAGE");
    return expected && *expected ? expected : "en-US";
}

}  // namespace testing
}  // namespace quarry
