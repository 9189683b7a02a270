// Packed programs that run their configured file: quarry.exe, started as its
// own process, ends with that file's exit code.
#include <gtest/gtest.h>

#include <algorithm>

#include <windows.h>

#include <string>
#include <vector>

#include "app/ProgramDriver.h"
#include "common/Text.h"
#include "common/Unique.h"
#include "common/WinTestSupport.h"

namespace quarry {
namespace {

using testing::ProgramDriver;

std::u16string UiData(const std::string& name) {
    return testing::WindowsPathOf(std::string(QUARRY_TEST_DATA) + "/ui/" + name);
}

// What cmd.exe of the native processor sets as PROCESSOR_ARCHITECTURE.
std::string NativeArchitecture() {
    SYSTEM_INFO info = {};
    ::GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture) {
        case PROCESSOR_ARCHITECTURE_AMD64:
            return "AMD64";
        case PROCESSOR_ARCHITECTURE_ARM64:
            return "ARM64";
        default:
            return "x86";
    }
}

TEST(ExecutionExe, ExitCodeIsTheConfiguredProgramsSilentOrVisible) {
    ProgramDriver silent(UiData("run-exit.exe"), u"-s");
    EXPECT_EQ(42u, silent.WaitForExit());
    EXPECT_FALSE(silent.SawVisibleWindow());

    ProgramDriver visible(UiData("run-exit.exe"), u"");
    EXPECT_EQ(42u, visible.CloseWhenStatus(u"Completed."));
}

TEST(ExecutionExe, CommandScriptRunsThroughCmdWithItsExitCode) {
    ProgramDriver program(UiData("run-cmd.exe"), u"-s");
    EXPECT_EQ(7u, program.WaitForExit());
}

// cmd.exe drops the quotes around the script's path when the line holds
// more than two quotes or a parenthesis between them: neither a quoted
// argument nor the folder "Setup (2)" of a second run may split the path.
TEST(ExecutionExe, CommandScriptGetsQuotedArgumentsAlsoFromAFolderWithParentheses) {
    testing::ScratchFolder folder;
    const std::u16string program = folder / u"run cmd setup.exe";
    ASSERT_TRUE(::CopyFileW(Wide(UiData("run-cmd-setup.exe")), Wide(program), FALSE));
    const std::u16string record = folder / u"args.txt";
    struct Run {
        const char16_t* arguments;
        const char16_t* folder;  // the extract folder this run makes
        const char* echoed;      // what the script sees as its arguments
    };
    const Run runs[] = {
        {u"-s -p \"one arg\"", u"Setup", "[\"one arg\"]\r\n"},
        {u"-s -p /quiet \"C:\\Program Files\\x y\" /norestart", u"Setup (2)",
         "[/quiet \"C:\\Program Files\\x y\" /norestart]\r\n"},
        {u"-s", u"Setup (3)", "[]\r\n"},
    };
    for (const Run& run : runs) {
        ::DeleteFileW(Wide(record));
        ProgramDriver driver(program, run.arguments);
        EXPECT_EQ(8u, driver.WaitForExit()) << Utf16ToUtf8(run.arguments);
        EXPECT_NE(INVALID_FILE_ATTRIBUTES,
                  ::GetFileAttributesW(Wide(folder / run.folder + u"\\Write Args.cmd")))
            << Utf16ToUtf8(run.folder);
        const std::vector<std::uint8_t> bytes = testing::ReadBytes(record);
        EXPECT_EQ(run.echoed, std::string(bytes.begin(), bytes.end()))
            << Utf16ToUtf8(run.arguments);
        // The file runs in the run folder: here the extract folder.
        const std::vector<std::uint8_t> cwd = testing::ReadBytes(folder / u"cwd.txt");
        EXPECT_EQ(Utf16ToUtf8(folder / run.folder) + "\r\n", std::string(cwd.begin(), cwd.end()));
        // cmd.exe is the system's own, also for the 32-bit program on 64-bit
        // Windows: the script runs as the native processor.
        const std::vector<std::uint8_t> arch = testing::ReadBytes(folder / u"arch.txt");
        EXPECT_EQ(NativeArchitecture() + "\r\n", std::string(arch.begin(), arch.end()));
    }
}

// Under Wine every user is an administrator: a package that demands
// elevation runs with the verb "open", without a consent prompt, and cleans
// up after itself as any other.
TEST(ExecutionExe, ForceElevationForAnAdministratorRunsAndRemovesTheWorkFolder) {
    if (!testing::RunsAsAdministrator()) {
        GTEST_SKIP() << "needs an administrator (an elevated prompt): anyone else is asked for "
                        "consent";
    }
    testing::ScratchTemporaryFolder temp;
    {
        ProgramDriver program(UiData("run-elevated.exe"), u"-s");
        EXPECT_EQ(42u, program.WaitForExit());
    }
    EXPECT_TRUE(ProgramDriver::WorkFolderRemoved(temp.Path()));
}

TEST(ExecutionExe, ProgramGetsOptionsModeOptionsPlaceholdersAndExtraArguments) {
    const std::u16string record = UiData("args.txt");
    ::DeleteFileW(Wide(record));
    ::SetEnvironmentVariableW(L"QUARRY_ARGS_RECORD", Wide(record));
    ProgramDriver program(UiData("run-args.exe"), u"-s -p extra|1 50%");
    EXPECT_EQ(0u, program.WaitForExit());
    const std::vector<std::uint8_t> bytes = testing::ReadBytes(record);
    const std::u16string line(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2);
    // The run folder is the Package folder of the run's work folder, without
    // its trailing backslash.
    const size_t root = line.find(u"\\QuarryTool\\{");
    ASSERT_NE(std::u16string::npos, root) << Utf16ToUtf8(line);
    EXPECT_NE(std::u16string::npos, line.find(u"}\\Package \"100% sure|x\" /silent extra|1 50%"))
        << Utf16ToUtf8(line);
    EXPECT_EQ(line.size(), line.find(u"50%") + 3) << "no trailing blank";
}

// While the file runs, the window's X, End task or taskkill (all WM_CLOSE)
// do what the Close button does: the window hides, the run goes on, and the
// process ends with the file's own code once it has ended, with the work
// folder removed. A silent run's hidden dialog takes a close alike.
TEST(ExecutionExe, CloseWhileTheFileRunsEndsWithItsCodeAndCleansUp) {
    const struct {
        const char* name;
        bool silent;
        bool button;  // the Close button instead of WM_CLOSE
    } cases[] = {{"close", false, false}, {"button", false, true}, {"silent close", true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::ScratchTemporaryFolder temp;
        ProgramDriver program(UiData("run-short.exe"), c.silent ? u"-s" : u"");
        const HWND dialog = program.WaitForDialogShowing(u"Executing file...");
        ASSERT_TRUE(dialog);
        if (c.button) {
            ProgramDriver::Press(dialog, IDCANCEL);
        } else {
            ::PostMessageW(dialog, WM_CLOSE, 0, 0);
        }
        for (int i = 0; i < 200 && ::IsWindowVisible(dialog); ++i) ::Sleep(10);
        EXPECT_FALSE(::IsWindowVisible(dialog));
        EXPECT_TRUE(program.Running()) << "the run goes on";
        EXPECT_EQ(23u, program.WaitForExit());
        EXPECT_TRUE(ProgramDriver::WorkFolderRemoved(temp.Path()));
    }
}

// A session end cancels the run while the program runs: the run-mode copy
// gives up waiting and ends, the program itself keeps running.
TEST(ExecutionExe, CancelWhileTheProgramRunsEndsTheRunModeCopy) {
    ProgramDriver program(UiData("run-sleep.exe"), u"");
    const HWND dialog = program.WaitForDialogShowing(u"Executing file...");
    ASSERT_TRUE(dialog);
    EXPECT_EQ(ProgramDriver::ButtonText(dialog), u"Close");
    // The packed program and its run-mode copy; the program this run started
    // is the test program whose parent is one of them.
    std::vector<DWORD> copies;
    const std::vector<DWORD> started =
        ProgramDriver::StartedBy(L"run-sleep.exe", L"testprog.exe", copies);
    EXPECT_EQ(2u, copies.size());
    ASSERT_EQ(1u, started.size());

    ASSERT_TRUE(program.EndSessionAndClose(dialog));
    EXPECT_EQ(0x80004004u, program.WaitForExit());
    for (int i = 0; i < 500 && !ProgramDriver::ProcessesNamed(L"run-sleep.exe").empty(); ++i) {
        ::Sleep(10);
    }
    EXPECT_TRUE(ProgramDriver::ProcessesNamed(L"run-sleep.exe").empty());
    const std::vector<DWORD> running = ProgramDriver::ProcessesNamed(L"testprog.exe");
    EXPECT_NE(running.end(), std::find(running.begin(), running.end(), started[0]))
        << "the program keeps running";
    ProgramDriver::EndProcesses(started);
}

}  // namespace
}  // namespace quarry
