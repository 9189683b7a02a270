// Scratch folders and files for the tests that run under Wine.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/NonCopyable.h"
#include "common/WinResult.h"

namespace quarry {
namespace testing {

// A fresh folder under the temporary folder, removed with its contents when
// the object goes away. Path() ends in "\".
class ScratchFolder : NonCopyable {
public:
    ScratchFolder();
    ~ScratchFolder();
    const std::u16string& Path() const { return path_; }
    std::u16string operator/(const std::u16string& name) const { return path_ + name; }

private:
    std::u16string path_;
};

// Points TMP and TEMP, which GetTempPathW reads and child processes inherit,
// at `folder` for the object's lifetime.
class TemporaryFolderOverride : NonCopyable {
public:
    explicit TemporaryFolderOverride(const std::u16string& folder);
    ~TemporaryFolderOverride();

private:
    std::vector<std::pair<std::wstring, std::wstring>> saved_;
};

// A scratch folder that is the temporary folder (TMP and TEMP) for the
// object's lifetime.
class ScratchTemporaryFolder : public ScratchFolder {
public:
    ScratchTemporaryFolder() : override_(Path()) {}

private:
    TemporaryFolderOverride override_;
};

std::u16string Utf16(const std::string& ascii);
// The Windows path of a Unix path the build passes in: Wine maps the root of
// the Unix file system to drive Z:. In an unpacked test bundle (its folder
// named by QUARRY_TEST_ROOT, or found as the folder above the test program's
// own that holds run-tests.cmd) a path below the build tree lies at the same
// place below the bundle's folder, and any other file directly in it.
std::u16string WindowsPathOf(const std::string& unixPath);
// The unpacked test bundle's folder, ending in "\"; empty outside a bundle.
std::u16string TestBundleFolder();
// Under Wine the symbolic links of the link tests are made by the build
// tree's CTest fixture (make-packages.sh), which an unpacked test bundle does
// not run and does not carry: true there, and such a test skips.
bool PreparedLinksMissing();
// Whether `path` is there and a reparse point (a link or a junction).
bool IsReparsePoint(const std::u16string& path);

// Starts `program` with `arguments` (handles inherited when asked): the
// process handle, or null.
HANDLE StartProgram(const std::u16string& program, const std::u16string& arguments,
                    bool inheritHandles = false);
// Runs `program` to its end, 20 seconds at most: its exit code, or 0xDEADBEEF.
DWORD RunProgram(const std::u16string& program, const std::u16string& arguments);

// Whether Wine runs the tests: its ntdll exports wine_get_version.
bool RunsUnderWine();
// Whether the process token holds the enabled Administrators group.
bool RunsAsAdministrator();
// Skips a test of what only real Windows shows, with the reason.
#define QUARRY_SKIP_UNDER_WINE(why) \
    if (::quarry::testing::RunsUnderWine()) GTEST_SKIP() << "needs real Windows: " << why
// Skips a test that expects what Wine is (Windows 6.1 build 7601 SP1 made by
// "The Wine Project", every user an administrator, a trust check of the
// digest only) on any other system.
#define QUARRY_SKIP_OFF_WINE(why) \
    if (!::quarry::testing::RunsUnderWine()) GTEST_SKIP() << "expects Wine: " << why
// Skips a test of links where the prepared links are missing
// (PreparedLinksMissing).
#define QUARRY_SKIP_WITHOUT_PREPARED_LINKS()       \
    if (::quarry::testing::PreparedLinksMissing()) \
        GTEST_SKIP() << "under Wine the links come from the build tree's fixture, not in a bundle"
// Removes a folder and everything below it; a link is removed as a link
// (never entered) on Windows and left alone under Wine, where removing it
// by name would delete what it points at.
void RemoveTree(const std::u16string& folder);
// A security descriptor read from SDDL as GetNamedSecurityInfoW returns one
// (owner and DACL pointers into it, LocalFree to release); an empty text is
// a descriptor with a null DACL owned by Administrators (Wine reads the SDDL
// "NO_ACCESS_CONTROL" as an empty list instead). A Win32 error, or 0.
DWORD SecurityFromSddl(const std::wstring& sddl, PSID* owner, PACL* dacl,
                       PSECURITY_DESCRIPTOR* descriptor);
// Puts a symbolic link at `link` to `target` (a folder when `folder`). On
// Windows with CreateSymbolicLinkW, which needs the privilege or developer
// mode; under Wine, whose CreateSymbolicLinkW makes nothing, by moving the
// link that tests/workflow/make-packages.sh made at `preparedUnderWine` to
// the same target. False when no link could be made.
bool PlantLink(const std::u16string& link, const std::u16string& target, bool folder,
               const std::u16string& preparedUnderWine);
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
