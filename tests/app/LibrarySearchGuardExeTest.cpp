// The library-search guard as the program meets it at start-up: the probe
// program (GuardProbe.cpp) is copied into a folder of its own, real files are
// put beside it, and it constructs the guard posing as a system with or
// without SetDefaultDllDirectories, of the version each case names. Wine has
// SetDefaultDllDirectories, so only this seam reaches the preloading and the
// neighbour check; the shipped program is run beside the same files too.
#include "common/LibrarySearchGuard_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ProgramDriver.h"
#include "common/SystemLibrary.h"
#include "common/Text.h"
#include "common/WinTestSupport.h"

namespace quarry {
namespace {

using testing::ProgramDriver;
using testing::ScratchFolder;

constexpr DWORD kBlockedExitCode = 0x8000FFFF;

std::u16string BlockedText(const std::u16string& name) {
    return u"The package cannot execute.\r\nThere is a file that prevent the execution of this "
           u"package. Delete \"" +
           name + u"\" file in the same folder as this package file, and then try again.";
}

std::u16string Hex(DWORD value) {
    wchar_t text[16];
    ::wsprintfW(text, L"0x%X", value);
    return FromWide(text);
}

// The log lines the guard gives for loading `list` from the system folder.
std::vector<std::u16string> LoadLines(const LibraryList& list) {
    std::vector<std::u16string> lines;
    for (std::size_t i = 0; i < list.count; ++i) {
        lines.push_back(u"load " + SystemFilePath(list.names[i]) + u" " +
                        Hex(LOAD_WITH_ALTERED_SEARCH_PATH));
    }
    return lines;
}

void Append(std::vector<std::u16string>& lines, const std::vector<std::u16string>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
}

// The probe's log in `folder`, one entry a line.
std::vector<std::u16string> LogLines(const ScratchFolder& folder) {
    const std::vector<std::uint8_t> bytes = testing::ReadBytes(folder / u"probe.log");
    std::u16string text(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    std::vector<std::u16string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(u'\n', start)) != std::u16string::npos;
         start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

// The constructor's lines: the lookup of SetDefaultDllDirectories in the
// system's kernel32, then `after`.
std::vector<std::u16string> StartLines(const std::vector<std::u16string>& after) {
    std::vector<std::u16string> lines = {u"lookup " + SystemFilePath(u"kernel32.dll")};
    Append(lines, after);
    return lines;
}

std::u16string VersionArguments(unsigned major, unsigned minor) {
    return testing::Utf16(std::to_string(major) + " " + std::to_string(minor));
}

class GuardProbe : public ::testing::Test {
protected:
    void SetUp() override {
        if (testing::ExpectJapanese()) GTEST_SKIP() << "English texts expected";
        probe = folder / u"Setup.exe";
        ASSERT_TRUE(::CopyFileW(Wide(testing::WindowsPathOf(QUARRY_GUARDPROBE)), Wide(probe),
                                FALSE));
    }

    void Place(const std::u16string& name) {
        ASSERT_TRUE(testing::WriteBytes(folder / name, {'M', 'Z'}));
    }

    // Runs the probe posing as Windows `major`.`minor` with `requests` and
    // returns the lines of its fresh log.
    std::vector<std::u16string> ProbeLog(unsigned major, unsigned minor,
                                         const std::u16string& requests) {
        ::DeleteFileW(Wide(folder / u"probe.log"));
        ProgramDriver program(probe, VersionArguments(major, minor) + u" " + requests);
        EXPECT_EQ(0u, program.WaitForExit());
        return LogLines(folder);
    }

    ScratchFolder folder;
    std::u16string probe;
};

// With SetDefaultDllDirectories the system searches only its own folder: a
// neighbour file is harmless, and nothing is preloaded but the two crypto
// libraries before 6.1, not even when groups are asked for.
TEST_F(GuardProbe, WithDefaultDirectoriesPreloadsOnlyCryptoBefore61AndChecksNoNeighbour) {
    Place(u"imageres.dll");
    Place(u"shell32.dll");
    const struct {
        unsigned major, minor;
        bool crypto;
    } cases[] = {{10, 0, false}, {6, 1, false}, {6, 0, true}, {5, 1, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(VersionArguments(c.major, c.minor)));
        std::vector<std::u16string> expected = StartLines({u"default 0x800"});
        if (c.crypto) Append(expected, LoadLines(LegacyCryptoGroup()));
        Append(expected, {u"constructed", u"request base", u"request shell", u"request explorer",
                          u"flags 1 0 0 0"});
        EXPECT_EQ(expected, ProbeLog(c.major, c.minor, u"default base shell explorer"));
    }
}

// Without it, the base group of the version is loaded at once, and a group
// asked for is loaded the first time only; the explorer group is empty but
// on 6.0.
TEST_F(GuardProbe, WithoutDefaultDirectoriesLoadsEachGroupOnce) {
    const struct {
        unsigned major, minor;
    } cases[] = {{6, 1}, {10, 0}, {6, 0}, {5, 1}, {5, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(VersionArguments(c.major, c.minor)));
        std::vector<std::u16string> expected = StartLines(LoadLines(BaseGroup(c.major, c.minor)));
        expected.push_back(u"constructed");
        expected.push_back(u"request shell");
        Append(expected, LoadLines(ShellGroup(c.major, c.minor)));
        expected.push_back(u"request explorer");
        Append(expected, LoadLines(ExplorerGroup(c.major, c.minor)));
        Append(expected, {u"request shell", u"request base", u"request explorer", u"flags 0 1 1 1"});
        EXPECT_EQ(expected,
                  ProbeLog(c.major, c.minor, u"none shell explorer shell base explorer"));
    }
}

// A file that could stand in for a system library stops the program before
// anything else of it runs: the message names the first such file in list
// order, and the process ends with 0x8000FFFF. shell32.dll counts only
// before 6.0.
TEST_F(GuardProbe, NeighbourFileStopsTheProgramNamingTheFirstInListOrder) {
    const struct {
        unsigned major, minor;
        std::vector<std::u16string> files;
        const char16_t* named;  // null: not stopped
    } cases[] = {
        {6, 1, {u"imageres.dll"}, u"imageres.dll"},
        {10, 0, {u"msTracer.dll"}, u"msTracer.dll"},
        {5, 1, {u"shell32.dll"}, u"shell32.dll"},
        {6, 0, {u"shell32.dll"}, nullptr},
        {6, 1, {u"shell32.dll"}, nullptr},
        // Made in the other order: the list decides, not the folder.
        {6, 1, {u"imageres.dll", u"rsaenh.dll"}, u"rsaenh.dll"},
        {6, 1, {u"msfte.dll", u"api-ms-win-core-synch-l1-2-0.dll"},
         u"api-ms-win-core-synch-l1-2-0.dll"},
        // The list every version checks comes before the one for old ones.
        {5, 1, {u"shell32.dll", u"msTracer.dll"}, u"msTracer.dll"},
        // Loaded by full path when needed (version.dll too, but Wine loads
        // that one by itself, from wherever it finds it first).
        {6, 1, {u"psapi.dll"}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(VersionArguments(c.major, c.minor) + u" " + c.files.front()));
        ScratchFolder own;
        const std::u16string program = own / u"Setup.exe";
        ASSERT_TRUE(::CopyFileW(Wide(probe), Wide(program), FALSE));
        for (const std::u16string& file : c.files) {
            ASSERT_TRUE(testing::WriteBytes(own / file, {'M', 'Z'}));
        }
        ProgramDriver driver(program, VersionArguments(c.major, c.minor) + u" none shell");
        if (!c.named) {
            EXPECT_EQ(0u, driver.WaitForExit());
            continue;
        }
        const HWND box = driver.WaitForMessageBox();
        ASSERT_TRUE(box);
        EXPECT_EQ(BlockedText(c.named), ProgramDriver::MessageText(box));
        EXPECT_EQ(u"Norvik Quarry Tool", ProgramDriver::Caption(box));
        ProgramDriver::Press(box, IDOK);
        EXPECT_EQ(kBlockedExitCode, driver.WaitForExit());
        // The base group was loaded, and the program went no further.
        EXPECT_EQ(StartLines(LoadLines(BaseGroup(c.major, c.minor))), LogLines(own));
    }
}

// The same stop with Wine in Japanese: message 256 in the user's language.
TEST(GuardProbeJapanese, NeighbourFileStopsTheProgramInTheUsersLanguage) {
    if (!testing::ExpectJapanese()) GTEST_SKIP() << "Japanese texts expected";
    ScratchFolder own;
    const std::u16string program = own / u"Setup.exe";
    ASSERT_TRUE(::CopyFileW(Wide(testing::WindowsPathOf(QUARRY_GUARDPROBE)), Wide(program),
                            FALSE));
    ASSERT_TRUE(testing::WriteBytes(own / u"imageres.dll", {'M', 'Z'}));
    ProgramDriver driver(program, VersionArguments(6, 1) + u" none shell");
    const HWND box = driver.WaitForMessageBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(u"パッケージを実行できません。\r\nこのパッケージの実行を妨げるファイルがあります。"
              u"このパッケージ ファイルと同じフォルダーにある \"imageres.dll\" ファイルを削除して"
              u"から、もう一度実行してください。",
              ProgramDriver::MessageText(box));
    ProgramDriver::Press(box, IDOK);
    EXPECT_EQ(kBlockedExitCode, driver.WaitForExit());
}

// Under Wine the system offers SetDefaultDllDirectories: the shipped program
// takes the short path and runs beside files that would stop it elsewhere,
// in both of its modes' start.
TEST(LibrarySearchGuardShipped, RunsBesideNeighbourFilesWhereTheSystemNarrowsTheSearch) {
    if (testing::ExpectJapanese()) GTEST_SKIP() << "English texts expected";
    const std::u16string kernel32 = SystemFilePath(u"kernel32.dll");
    ASSERT_NE(nullptr, FindSetDefaultDllDirectories(Wide(kernel32)));

    ScratchFolder folder;
    const std::u16string program = folder / u"basic.exe";
    ASSERT_TRUE(::CopyFileW(
        Wide(testing::WindowsPathOf(std::string(QUARRY_TEST_DATA) + "/ui/basic.exe")),
        Wide(program), FALSE));
    // Not shell32.dll: the loader resolves the import table before any code
    // runs, and only Windows serves it from its known libraries rather than
    // the program's folder. Not version.dll: Wine loads it by itself.
    for (const char16_t* name : {u"imageres.dll", u"psapi.dll", u"comctl32.dll"}) {
        ASSERT_TRUE(testing::WriteBytes(folder / name, {'M', 'Z'}));
    }
    ProgramDriver silent(program, u"-s");
    EXPECT_EQ(0u, silent.WaitForExit());
    // Run mode without its arguments ends at once with its own code.
    ProgramDriver runMode(program, u"-run");
    EXPECT_EQ(0x80040000u, runMode.WaitForExit());
}

// On Windows the loader takes KnownDLLs from the system and the guard narrows
// the search for the rest: marker libraries named like system libraries that
// are no KnownDLLs, beside the shipped program, are never loaded.
TEST(LibrarySearchGuardShipped, LoadsNoSystemLibraryNamesakeFromItsFolder) {
    QUARRY_SKIP_UNDER_WINE("Wine resolves imported and its own libraries from the program's folder");
    ScratchFolder folder;
    const std::u16string program = folder / u"basic.exe";
    ASSERT_TRUE(::CopyFileW(
        Wide(testing::WindowsPathOf(std::string(QUARRY_TEST_DATA) + "/ui/basic.exe")),
        Wide(program), FALSE));
    const char16_t* names[] = {u"version.dll", u"uxtheme.dll",  u"dwmapi.dll",  u"cryptbase.dll",
                               u"cryptsp.dll", u"comctl32.dll", u"cabinet.dll", u"wintrust.dll",
                               u"crypt32.dll", u"propsys.dll",  u"profapi.dll", u"userenv.dll",
                               u"sspicli.dll", u"msimg32.dll",  u"winmm.dll",   u"dbghelp.dll"};
    for (const char16_t* name : names) {
        ASSERT_TRUE(::CopyFileW(Wide(testing::WindowsPathOf(QUARRY_MARKER_LIBRARY)),
                                Wide(folder / name), FALSE));
    }
    ProgramDriver silent(program, u"-s");
    // Without SetDefaultDllDirectories the neighbour check stops the program.
    if (!FindSetDefaultDllDirectories(Wide(SystemFilePath(u"kernel32.dll")))) {
        const HWND box = silent.WaitForMessageBox();
        ASSERT_TRUE(box);
        ProgramDriver::Press(box, IDOK);
        EXPECT_EQ(kBlockedExitCode, silent.WaitForExit());
    } else {
        EXPECT_EQ(0u, silent.WaitForExit());
    }
    for (const char16_t* name : names) {
        const std::u16string mark = folder / name + u".loaded";
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(mark)))
            << Utf16ToUtf8(name) << " was loaded from the program's folder";
    }
}

// The real loader: the names of the group that this system has are loaded
// from the system folder, the ones it lacks are skipped.
TEST(LibrarySearchGuardLoader, PreloadsFromTheSystemFolderAndSkipsMissingNames) {
    QUARRY_SKIP_OFF_WINE("the groups of Windows 6.1");
    LibrarySearchFunctions functions;
    functions.findSetDefaultDllDirectories = [](const wchar_t*) {
        return static_cast<SetDefaultDllDirectoriesFunction>(nullptr);
    };
    // Wine is 6.1: wintrust and cabinet are in its base group, psapi in its
    // shell group.
    const std::u16string wintrust = SystemFilePath(u"wintrust.dll");
    const std::u16string cabinet = SystemFilePath(u"cabinet.dll");
    const std::u16string psapi = SystemFilePath(u"psapi.dll");
    ASSERT_EQ(nullptr, ::GetModuleHandleW(Wide(wintrust)));
    ASSERT_EQ(nullptr, ::GetModuleHandleW(Wide(psapi)));
    LibrarySearchGuard guard(functions);
    EXPECT_FALSE(guard.defaultDirectoriesSet);
    EXPECT_TRUE(guard.baseGroupLoaded);
    EXPECT_NE(nullptr, ::GetModuleHandleW(Wide(wintrust)));
    EXPECT_NE(nullptr, ::GetModuleHandleW(Wide(cabinet)));
    EXPECT_EQ(nullptr, ::GetModuleHandleW(Wide(psapi)));
    guard.PreloadOnDemand(false, true, false);
    EXPECT_TRUE(guard.shellGroupLoaded);
    EXPECT_FALSE(guard.explorerGroupLoaded);
    EXPECT_NE(nullptr, ::GetModuleHandleW(Wide(psapi)));
}

}  // namespace
}  // namespace quarry
