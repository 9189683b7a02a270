// Scratch folders and files for the tests that run under Wine.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/WinResult.h"

namespace quarry {
namespace testing {

// A fresh folder under the temporary folder, removed with its contents when
// the object goes away. Path() ends in "\".
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::u16string& Path() const { return path_; }
    std::u16string operator/(const std::u16string& name) const { return path_ + name; }

private:
    std::u16string path_;
};

// Points TMP and TEMP, which GetTempPathW reads and child processes inherit,
// at `folder` for the object's lifetime.
class TemporaryFolderOverride {
public:
    explicit TemporaryFolderOverride(const std::u16string& folder);
    ~TemporaryFolderOverride();
    TemporaryFolderOverride(const TemporaryFolderOverride&) = delete;
    TemporaryFolderOverride& operator=(const TemporaryFolderOverride&) = delete;

private:
    std::vector<std::pair<std::wstring, std::wstring>> saved_;
};

std::u16string Utf16(const std::string& ascii);
// The Windows path of a Unix path the build passes in: Wine maps the root of
// the Unix file system to drive Z:.
std::u16string WindowsPathOf(const std::string& unixPath);
void RemoveTree(const std::u16string& folder);
bool WriteBytes(const std::u16string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadBytes(const std::u16string& path);
// UTF-16LE text with a byte-order mark, as the settings file is stored.
std::vector<std::uint8_t> Utf16WithBom(const std::u16string& text);
// Writes Utf16WithBom(text) to `path`.
bool WriteUtf16File(const std::u16string& path, const std::u16string& text);
std::uint64_t LastWriteTime(const std::u16string& path);
std::uint64_t NowFileTime();

// The UI language a ctest entry runs Wine in, as it names it in
// QUARRY_EXPECT_UI_LANGUAGE ("ja-JP" for LANG=ja_JP.UTF-8); "en-US" when it
// names none.
std::string ExpectedUiLanguage();
inline bool ExpectJapanese() { return ExpectedUiLanguage() == "ja-JP"; }

}  // namespace testing
}  // namespace quarry
