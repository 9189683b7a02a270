// LaunchAndWait as extraction mode runs it: the shipped
// quarry.exe is started in run mode and starts the configured file, whose
// exit code comes back through the exit-code slot. The command scripts are
// written at test time into a folder whose name cmd.exe treats specially.
// The administrator test and the shell call go through their seam where
// Wine, which makes every user an administrator, cannot show the other way.
#include "execution/Launch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Text.h"
#include "common/Unique.h"
#include "common/WinTestSupport.h"
#include "execution/ExitCodeSlot.h"
#include "execution/ProcessTestSupport.h"

namespace quarry {
namespace {

using testing::ScratchFolder;

// The launch as the extraction worker makes it. The files all live in
// `runFolder`; the program file is the shipped quarry.exe, which the launch
// starts as the run-mode copy.
struct JobLaunch {
    explicit JobLaunch(const std::u16string& runFolder)
        : programPath(testing::WindowsPathOf(QUARRY_EXE_PATH)),
          runFolder(runFolder),
          cancelEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

    HResult LaunchAndWait(const std::u16string& filePath, const std::u16string& arguments,
                          bool forceElevation, std::uint32_t waitSeconds) {
        // Kept: the shell request the fakes record points into it.
        // Silent: no console window for the scripts.
        launch = LaunchRequest{programPath, runFolder, filePath, arguments, forceElevation,
                               /*silent=*/true, waitSeconds, cancelEvent.Get(), logPath};
        return quarry::LaunchAndWait(launch, launchFunctions);
    }

    std::u16string programPath;
    std::u16string runFolder;
    std::u16string logPath;
    LaunchFunctions launchFunctions;
    UniqueHandle cancelEvent;
    LaunchRequest launch;
};

// Run mode takes requests only from a copy of its own program file, and this
// test program is none: a suspended quarry.exe stands in for the
// extraction-mode copy, and the launch's shell call starts the run-mode copy
// as its child, in the folder the request names.
struct StandInParent {
    StandInParent() {
        parent = group.Start(testing::WindowsPathOf(QUARRY_EXE_PATH), u"-run", nullptr,
                             nullptr, true);
    }
    testing::ProcessGroup group;
    UniqueHandle parent;
};
StandInParent* gStandIn = nullptr;

BOOL WINAPI StartAsChildOfStandIn(SHELLEXECUTEINFOW* request) {
    UniqueHandle process = gStandIn->group.Start(
        FromWide(request->lpFile), request->lpParameters ? FromWide(request->lpParameters) : u"",
        nullptr, gStandIn->parent.Get(), false, request->lpDirectory);
    if (!process) return FALSE;
    request->hProcess = process.Release();
    return TRUE;
}

std::u16string ReadAscii(const std::u16string& path) {
    const std::vector<std::uint8_t> bytes = testing::ReadBytes(path);
    return std::u16string(bytes.begin(), bytes.end());
}

// setup.cmd in `folder`, holding `text`.
std::u16string WriteSetupScript(const ScratchFolder& folder, const std::string& text) {
    const std::u16string script = folder / u"setup.cmd";
    EXPECT_TRUE(
        testing::WriteBytes(script, std::vector<std::uint8_t>(text.begin(), text.end())));
    return script;
}

// Launches `script` from its folder with a stand-in parent, with `cancelled`
// set first or not.
HResult LaunchFromStandIn(const ScratchFolder& folder, const std::u16string& script,
                          bool cancelled) {
    StandInParent standIn;
    EXPECT_TRUE(standIn.parent);
    gStandIn = &standIn;
    JobLaunch job(folder.Path());
    job.launchFunctions.shellExecuteEx = StartAsChildOfStandIn;
    if (cancelled) ::SetEvent(job.cancelEvent.Get());
    const HResult result = job.LaunchAndWait(script, u"", false, 0);
    gStandIn = nullptr;
    return result;
}

TEST(Launch, CommandScriptGetsItsArgumentsAndEndsWithItsCode) {
    ScratchFolder scratch;
    // Parentheses and spaces, as in the shell's second name for a folder.
    const std::u16string runFolder = scratch / u"Run Dir (x86)\\Setup (2)\\";
    ASSERT_TRUE(::CreateDirectoryW(Wide(scratch / u"Run Dir (x86)"), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(Wide(runFolder), nullptr));

    struct Case {
        const char16_t* arguments;
        DWORD exitCode;
        const char16_t* echoed;  // %* in brackets
    };
    const Case cases[] = {
        {u"\"one arg\"", 7, u"[\"one arg\"]"},
        {u"/quiet \"C:\\Program Files\\x y\" /norestart", 8,
         u"[/quiet \"C:\\Program Files\\x y\" /norestart]"},
        {u"", 9, u"[]"},
        {u"\"\"", 10, u"[\"\"]"},
        {u"a  \"b (c)\" d", 1000, u"[a  \"b (c)\" d]"},
        // The launcher trims the trailing blank the argument string keeps.
        {u"/q ", 11, u"[/q]"},
    };
    StandInParent standIn;
    ASSERT_TRUE(standIn.parent);
    gStandIn = &standIn;
    int round = 0;
    for (const Case& c : cases) {
        const std::u16string name = u"Write Args " + testing::Utf16(std::to_string(++round));
        const std::u16string script = runFolder + name + u".cmd";
        const std::string code = std::to_string(c.exitCode);
        // The output goes beside the script, named after it.
        const std::string text = "@echo off\r\necho [%*]>\"%~dpn0.txt\"\r\nexit /b " + code + "\r\n";
        ASSERT_TRUE(testing::WriteBytes(script, std::vector<std::uint8_t>(text.begin(), text.end())));

        JobLaunch job(runFolder);
        job.launchFunctions.shellExecuteEx = StartAsChildOfStandIn;
        EXPECT_EQ(kResultOk, job.LaunchAndWait(script, c.arguments, false, 0))
            << Utf16ToUtf8(c.arguments);
        EXPECT_EQ(c.exitCode, ReadExitCodeSlot()) << Utf16ToUtf8(c.arguments);
        EXPECT_EQ(std::u16string(c.echoed) + u"\r\n", ReadAscii(runFolder + name + u".txt"))
            << Utf16ToUtf8(c.arguments);
    }
    gStandIn = nullptr;
}

TEST(Launch, CommandScriptRunsWithoutTheUsersAutoRunCommands) {
    QUARRY_SKIP_UNDER_WINE("Wine's cmd.exe reads no AutoRun value");
    ScratchFolder scratch;
    const std::u16string marker = scratch / u"autorun ran.txt";
    const std::u16string script = WriteSetupScript(scratch, "@exit /b 5\r\n");

    // The user's own AutoRun command, put back as it was afterwards.
    UniqueKey key;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Command Processor", 0,
                                nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key.Put(),
                                nullptr));
    DWORD type = 0;
    DWORD size = 0;
    const bool hadValue =
        ::RegQueryValueExW(key.Get(), L"AutoRun", nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
    std::vector<std::uint8_t> saved(size);
    if (hadValue) {
        ASSERT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(key.Get(), L"AutoRun", nullptr, &type,
                                                    saved.data(), &size));
    }
    ScopeExit restore([&] {
        if (hadValue) {
            ::RegSetValueExW(key.Get(), L"AutoRun", 0, type, saved.data(), size);
        } else {
            ::RegDeleteValueW(key.Get(), L"AutoRun");
        }
    });
    const std::u16string command = u"echo ran>\"" + marker + u"\"";
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegSetValueExW(key.Get(), L"AutoRun", 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(Wide(command)),
                               static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))));

    EXPECT_EQ(kResultOk, LaunchFromStandIn(scratch, script, false));
    EXPECT_EQ(5u, ReadExitCodeSlot());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(marker)));
}

// A cancel that comes before the run-mode copy has started the file: the
// copy starts nothing, and the launch returns only once the copy has ended
// (the caller's hold on the file lasts that long), with the code of a
// cancel before the launch.
TEST(Launch, CancelBeforeTheStartStartsNothing) {
    ScratchFolder scratch;
    const std::u16string marker = scratch / u"started.txt";
    const std::u16string script =
        WriteSetupScript(scratch, "@echo ran>\"%~dp0started.txt\"\r\n@exit /b 5\r\n");
    EXPECT_EQ(kResultCancelledByUser, LaunchFromStandIn(scratch, script, true));
    EXPECT_EQ(static_cast<DWORD>(kResultCancelledByUser), ReadExitCodeSlot())
        << "the run-mode copy has ended";
    ::Sleep(1000);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(marker)));
}

// What the fake system functions saw and answer.
struct FakeSystem {
    int membershipCalls = 0;
    bool tokenWasNull = false;
    bool sidWasAdministrators = false;
    BOOL membershipResult = TRUE;  // what CheckTokenMembership returns
    BOOL member = FALSE;           // and reports
    int shellCalls = 0;
    std::u16string verb;
    SHELLEXECUTEINFOW request = {};
    std::u16string parameters;
    std::u16string directory;
};
FakeSystem gFake;

BOOL WINAPI FakeCheckTokenMembership(HANDLE token, PSID sid, PBOOL member) {
    ++gFake.membershipCalls;
    gFake.tokenWasNull = token == nullptr;
    // The SID as the system itself makes it, not as the code under test does.
    BYTE expected[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof expected;
    gFake.sidWasAdministrators =
        ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, expected, &size) &&
        ::IsValidSid(sid) && ::EqualSid(sid, expected);
    *member = gFake.member;
    return gFake.membershipResult;
}

// Records the request and fails as a refused consent prompt does.
BOOL WINAPI FakeShellExecuteEx(SHELLEXECUTEINFOW* request) {
    ++gFake.shellCalls;
    gFake.request = *request;
    gFake.verb = request->lpVerb ? FromWide(request->lpVerb) : u"";
    gFake.parameters = request->lpParameters ? FromWide(request->lpParameters) : u"";
    gFake.directory = request->lpDirectory ? FromWide(request->lpDirectory) : u"";
    ::SetLastError(ERROR_CANCELLED);
    return FALSE;
}

LaunchFunctions FakeFunctions() {
    LaunchFunctions functions;
    functions.checkTokenMembership = FakeCheckTokenMembership;
    functions.shellExecuteEx = FakeShellExecuteEx;
    return functions;
}

TEST(Launch, WineUserIsAnAdministrator) {
    QUARRY_SKIP_OFF_WINE("every user an administrator");
    EXPECT_TRUE(IsAdministrator(LaunchFunctions()));
    EXPECT_STREQ(L"open", LaunchVerb(true, LaunchFunctions()));
}

TEST(Launch, VerbIsRunasOnlyWhenElevationIsDemandedOfSomeoneNoAdministrator) {
    struct Case {
        bool forceElevation;
        BOOL membershipResult;
        BOOL member;
        const wchar_t* verb;
        int membershipCalls;
    };
    const Case cases[] = {
        {false, TRUE, FALSE, L"open", 0},
        {true, TRUE, TRUE, L"open", 1},
        {true, TRUE, FALSE, L"runas", 1},
        // A test that fails answers no, even with the flag set.
        {true, FALSE, TRUE, L"runas", 1},
    };
    for (const Case& c : cases) {
        gFake = FakeSystem();
        gFake.membershipResult = c.membershipResult;
        gFake.member = c.member;
        EXPECT_STREQ(c.verb, LaunchVerb(c.forceElevation, FakeFunctions()))
            << c.forceElevation << c.membershipResult << c.member;
        EXPECT_EQ(c.membershipCalls, gFake.membershipCalls);
        if (c.membershipCalls) {
            EXPECT_TRUE(gFake.tokenWasNull);
            EXPECT_TRUE(gFake.sidWasAdministrators);
        }
    }
}

TEST(Launch, RefusedElevationOfTheRunModeCopyEndsAsACancellation) {
    ScratchFolder scratch;
    gFake = FakeSystem();
    WriteExitCodeSlot(0);
    JobLaunch job(scratch.Path());
    job.launchFunctions = FakeFunctions();
    const std::u16string file = scratch / u"setup.exe";

    EXPECT_EQ(ResultFromWin32(ERROR_CANCELLED), job.LaunchAndWait(file, u"/q", true, 5));
    ASSERT_EQ(1, gFake.shellCalls);
    EXPECT_EQ(u"runas", gFake.verb);
    EXPECT_EQ(job.programPath, FromWide(gFake.request.lpFile));
    EXPECT_EQ(scratch.Path(), gFake.directory);
    EXPECT_EQ(static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI),
              gFake.request.fMask);
    EXPECT_EQ(SW_SHOWNORMAL, gFake.request.nShow);
    EXPECT_EQ(nullptr, gFake.request.hwnd);
    EXPECT_EQ(u"-run {", gFake.parameters.substr(0, 6));
    EXPECT_EQ(u" /q", gFake.parameters.substr(gFake.parameters.size() - 3));
    // Nothing ran: the slot keeps its value.
    EXPECT_EQ(0u, ReadExitCodeSlot());
}

// The run-mode copy gets the field log's path only when it runs with the
// caller's own rights: an elevated copy would write where the caller chose
// but may not write.
TEST(Launch, ElevatedRunModeCopyGetsNoLog) {
    ScratchFolder scratch;
    for (const BOOL administrator : {FALSE, TRUE}) {
        gFake = FakeSystem();
        gFake.member = administrator;
        JobLaunch job(scratch.Path());
        job.launchFunctions = FakeFunctions();
        job.logPath = scratch / u"run.log";
        job.LaunchAndWait(scratch / u"setup.exe", u"/q", true, 5);
        ASSERT_EQ(1, gFake.shellCalls);
        EXPECT_EQ(administrator ? u"open" : u"runas", gFake.verb);
        EXPECT_EQ(administrator != FALSE, gFake.parameters.find(u"run.log") != std::u16string::npos)
            << Utf16ToUtf8(gFake.parameters);
    }
}

}  // namespace
}  // namespace quarry
