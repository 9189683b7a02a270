// The launch request against the real registry, environment and system
// folder of the Wine prefix: file associations are registered under
// HKEY_CLASSES_ROOT for one test each and removed again.
#include "execution/Command_win.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <string>

#include "common/Text.h"
#include "common/WinTestSupport.h"

namespace quarry {
namespace {

using testing::ScratchFolder;

std::u16string SystemFolder() {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    return FromWide(folder, length);
}

// A name no other test or run uses.
std::u16string UniqueName(const char16_t* prefix) {
    return prefix + testing::Utf16(std::to_string(::GetCurrentProcessId()) + "x" +
                                   std::to_string(::GetTickCount()));
}

bool SetDefault(const std::u16string& subKey, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CLASSES_ROOT, Wide(subKey), 0, nullptr, 0, KEY_WRITE, nullptr,
                          &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const bool written = ::RegSetValueExW(key, nullptr, 0, type,
                                          static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    ::RegCloseKey(key);
    return written;
}

bool SetDefaultText(const std::u16string& subKey, const std::u16string& text,
                    DWORD type = REG_SZ) {
    return SetDefault(subKey, type, text.c_str(),
                      static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
}

// An extension with a class and an open command, removed with the object.
class Association {
public:
    Association() : extension(UniqueName(u".quarrytest")), className(UniqueName(u"QuarryTest.")) {}
    ~Association() {
        ::SHDeleteKeyW(HKEY_CLASSES_ROOT, Wide(extension));
        ::SHDeleteKeyW(HKEY_CLASSES_ROOT, Wide(className));
    }
    Association(const Association&) = delete;
    Association& operator=(const Association&) = delete;

    ::testing::AssertionResult Register(const std::u16string& command,
                                        DWORD classType = REG_SZ) {
        if (!SetDefaultText(extension, className, classType) ||
            !SetDefaultText(CommandKey(), command)) {
            return ::testing::AssertionFailure() << "cannot write HKEY_CLASSES_ROOT";
        }
        return ::testing::AssertionSuccess();
    }
    std::u16string CommandKey() const { return className + u"\\shell\\open\\command"; }

    const std::u16string extension;
    const std::u16string className;
};

TEST(AssociatedCommand, ReadsTheOpenCommandOfTheExtensionsClassInBothViews) {
    Association association;
    ASSERT_TRUE(association.Register(u" \t \"C:\\Viewer Dir\\view.exe\" \"%1\" %*"));
    for (bool view64 : {false, true}) {
        EXPECT_EQ(u"\"C:\\Viewer Dir\\view.exe\" \"%1\" %*",
                  FindAssociatedCommand(view64, association.extension))
            << view64;
    }
    // Extensions are looked up as the registry compares names.
    std::u16string upper = association.extension;
    for (char16_t& c : upper) c = FoldCase(c);
    EXPECT_FALSE(FindAssociatedCommand(false, upper).empty());
}

TEST(AssociatedCommand, TakesOnlyTextValuesAndNeedsEveryKey) {
    Association association;
    EXPECT_EQ(u"", FindAssociatedCommand(false, association.extension));
    EXPECT_EQ(u"", FindAssociatedCommand(false, u""));

    // The class name may be stored for expansion; it is used as it stands.
    ASSERT_TRUE(association.Register(u"view.exe %1", REG_EXPAND_SZ));
    EXPECT_EQ(u"view.exe %1", FindAssociatedCommand(false, association.extension));

    // An expandable command is handed on unexpanded.
    ASSERT_TRUE(SetDefaultText(association.CommandKey(), u"%SystemRoot%\\v.exe %1", REG_EXPAND_SZ));
    EXPECT_EQ(u"%SystemRoot%\\v.exe %1", FindAssociatedCommand(false, association.extension));

    const DWORD number = 1;
    ASSERT_TRUE(SetDefault(association.CommandKey(), REG_DWORD, &number, sizeof number));
    EXPECT_EQ(u"", FindAssociatedCommand(false, association.extension));

    ASSERT_TRUE(association.Register(u"view.exe %1"));
    ASSERT_TRUE(SetDefault(association.extension, REG_DWORD, &number, sizeof number));
    EXPECT_EQ(u"", FindAssociatedCommand(false, association.extension));

    ASSERT_TRUE(association.Register(u"view.exe %1"));
    ::SHDeleteKeyW(HKEY_CLASSES_ROOT, Wide(association.className));
    EXPECT_EQ(u"", FindAssociatedCommand(false, association.extension));
}

TEST(AssociatedCommand, ExpandsTheRegisteredCommandForTheFile) {
    Association association;
    ASSERT_TRUE(association.Register(u"\"C:\\Viewer Dir\\view.exe\" \"%1\""));
    const std::u16string file = u"C:\\Run Dir\\read me" + association.extension;
    ProgramCommand command = ExpandAssociatedCommand(file, u"/p");
    EXPECT_EQ(u"C:\\Viewer Dir\\view.exe", command.program);
    EXPECT_EQ(u" \"" + file + u"\" /p", command.arguments);
    EXPECT_FALSE(command.systemProgram);
    EXPECT_FALSE(command.hideWindow);

    // The environment is expanded in the program, and a program in the system
    // folder counts as a system one (on a 32-bit system the 64-bit lookup
    // reads the only registry there is).
    ASSERT_TRUE(SetDefaultText(association.CommandKey(), u"%SystemRoot%\\system32\\notepad.exe %1",
                               REG_EXPAND_SZ));
    command = BuildProgramCommand(file, u"", false);
    EXPECT_TRUE(EqualsNoCase(SystemFolder() + u"\\notepad.exe", command.program))
        << Utf16ToUtf8(command.program);
    EXPECT_EQ(u" \"" + file + u"\" ", command.arguments);
    EXPECT_TRUE(command.systemProgram);
}

TEST(ProgramCommand, BatchFilesRunThroughTheSystemCommandInterpreter) {
    for (const char16_t* name : {u"C:\\Run Dir\\setup.CMD", u"C:\\Run\\setup.bat"}) {
        for (bool silent : {false, true}) {
            const ProgramCommand command = BuildProgramCommand(name, u"/q", silent);
            EXPECT_EQ(SystemFolder() + u"\\cmd.exe", command.program);
            EXPECT_EQ(u"/D /S /C \"\"" + std::u16string(name) + u"\" /q\"", command.arguments);
            EXPECT_TRUE(command.systemProgram);
            EXPECT_EQ(silent, command.hideWindow);
        }
    }
}

TEST(ProgramCommand, ExecutableRunsItselfAndUnknownFilesTooWithoutAnAssociation) {
    const std::u16string unknown = u"C:\\Run Dir\\data" + UniqueName(u".quarrynone");
    for (const std::u16string& file : {std::u16string(u"C:\\Run Dir\\Setup.EXE"), unknown,
                                       std::u16string(u"C:\\Run Dir\\noextension")}) {
        const ProgramCommand command = BuildProgramCommand(file, u"/a b", true);
        EXPECT_EQ(file, command.program);
        EXPECT_EQ(u"/a b", command.arguments);
        EXPECT_FALSE(command.systemProgram);
        EXPECT_FALSE(command.hideWindow);
    }
}

class ArgumentStringTest : public ::testing::Test {
protected:
    void SetUp() override {
        workFolder = scratch / u"{WORK}\\";
        ASSERT_TRUE(::CreateDirectoryW(Wide(workFolder), nullptr));
        runFolder = workFolder + u"Package\\";
        execution.Options = u"/opt";
        execution.AdditionalOptionsForGuiMode = u"/gui";
        execution.AdditionalOptionsForSilentMode = u"/quiet";
    }
    bool TempExists() const {
        return ::GetFileAttributesW(Wide(workFolder + u"Temp")) != INVALID_FILE_ATTRIBUTES;
    }

    ScratchFolder scratch;
    std::u16string workFolder;
    std::u16string runFolder;
    PackageSettings settings;
    ExecutionSettings execution;
};

TEST_F(ArgumentStringTest, TempFolderIsMadeOnlyWhenItsPlaceholderIsUsed) {
    std::u16string arguments;
    ASSERT_EQ(kResultOk, PrepareArgumentString(settings, execution, true, u"/r=%QUARRYTOOLROOT%",
                                               runFolder, workFolder, arguments));
    EXPECT_EQ(u"/opt /quiet /r=" + workFolder + u"Package ", arguments);
    EXPECT_FALSE(TempExists());

    ASSERT_EQ(kResultOk, PrepareArgumentString(settings, execution, false, u"/t=%QUARRYTOOLTEMP%",
                                               runFolder, workFolder, arguments));
    EXPECT_EQ(u"/opt /gui /t=" + workFolder + u"Temp ", arguments);
    EXPECT_TRUE(TempExists());
    // A second use finds it there.
    EXPECT_EQ(kResultOk, PrepareArgumentString(settings, execution, false, u"%QUARRYTOOLTEMP%",
                                               runFolder, workFolder, arguments));
}

TEST_F(ArgumentStringTest, TempFolderThatCannotBeMadeStopsTheRun) {
    std::u16string arguments;
    const std::u16string missing = scratch / u"missing\\{WORK}\\";
    EXPECT_EQ(kResultFolderNotCreated,
              PrepareArgumentString(settings, execution, false, u"%QUARRYTOOLTEMP%", runFolder,
                                    missing, arguments));
    EXPECT_EQ(kResultOk, PrepareArgumentString(settings, execution, false, u"%QUARRYTOOLROOT%",
                                               runFolder, missing, arguments));
}

TEST_F(ArgumentStringTest, UpdateModeWithoutItsRegistryKeyKeepsTheGuiOptions) {
    settings.TervoUpdateMode = true;
    std::u16string arguments;
    ASSERT_EQ(kResultOk,
              PrepareArgumentString(settings, execution, true, u"", runFolder, workFolder, arguments));
    EXPECT_EQ(u"/opt /gui ", arguments);
}

}  // namespace
}  // namespace quarry
