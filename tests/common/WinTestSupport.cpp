#include "WinTestSupport.h"

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
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
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

std::u16string WindowsPathOf(const std::string& unixPath) {
    std::string path = unixPath;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return u"Z:" + Utf8ToUtf16(path);
}

std::string ExpectedUiLanguage() {
    const char* expected = std::getenv("QUARRY_EXPECT_UI_LANGUAGE");
    return expected && *expected ? expected : "en-US";
}

}  // namespace testing
}  // namespace quarry
