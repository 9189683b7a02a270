// Run mode's choice of caller. In this process, through the seam, for what
// Wine cannot show (an elevated copy, whose parent Windows makes the process
// that asked for the elevation); against the system, for the facts the
// choice rests on; and on real Windows, an elevated request from a stranger.
#include "execution/RunModeGate_win.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include "app/Modes.h"
#include "common/Text.h"
#include "execution/ProcessTestSupport.h"
#include "execution/RunRequest.h"

namespace quarry {
namespace {

using testing::NewGuid;
using testing::ScratchFolder;
using testing::TestProgram;

constexpr DWORD kFakeParentId = 0x4242;
constexpr std::uint64_t kSelfCreated = 0x01DB000000001000ull;

// What the fake process list and process queries answer.
struct FakeProcesses {
    bool listed = true;        // the list names kFakeParentId as the parent
    bool parentOpens = true;   // and that process can be queried through a handle
    bool parentInList = true;  // or read from the process list
    ProcessIdentity self;
    ProcessIdentity parent;
};
FakeProcesses gFake;

bool FakeParentProcessId(DWORD processId, DWORD& parentId) {
    if (!gFake.listed || processId != ::GetCurrentProcessId()) return false;
    parentId = kFakeParentId;
    return true;
}

// This process, and the fake parent where `parentKnown`.
bool FakeIdentity(DWORD processId, bool parentKnown, ProcessIdentity& identity) {
    if (processId == ::GetCurrentProcessId()) {
        identity = gFake.self;
        return true;
    }
    if (processId == kFakeParentId && parentKnown) {
        identity = gFake.parent;
        return true;
    }
    return false;
}

bool FakeProcessIdentity(DWORD processId, ProcessIdentity& identity) {
    return FakeIdentity(processId, gFake.parentOpens, identity);
}

bool FakeListedProcessIdentity(DWORD processId, ProcessIdentity& identity) {
    return FakeIdentity(processId, gFake.parentInList, identity);
}

RunModeGateFunctions FakeGate() {
    RunModeGateFunctions functions;
    functions.parentProcessId = FakeParentProcessId;
    functions.processIdentity = FakeProcessIdentity;
    functions.listedProcessIdentity = FakeListedProcessIdentity;
    return functions;
}

// A request for the test program with these arguments, and its event.
struct RequestForTestProgram {
    explicit RequestForTestProgram(const std::u16string& arguments)
        : guid(NewGuid()),
          event(::CreateEventW(nullptr, TRUE, FALSE, Wide(u"Local\\Quarry_Exec_" + guid))),
          arguments(arguments) {
        RunRequest request;
        request.program = TestProgram();
        record = EncodeRunRequest(request);
    }
    std::u16string guid;
    UniqueHandle event;
    std::u16string arguments;
    std::u16string record;
};

TEST(RunModeGateWin, ElevatedCopyWhoseParentIsTheExtractionCopyRuns) {
    // What Windows shows for "runas": the elevated copy's parent is the
    // extraction-mode copy that asked, from the same file. Wine starts
    // "runas" as a plain child and cannot show the elevated side.
    gFake = FakeProcesses();
    gFake.self = {u"C:\\Users\\Ann\\Downloads\\Setup Tool.exe", kSelfCreated};
    gFake.parent = {u"c:\\users\\ann\\downloads\\SETUP TOOL.EXE", kSelfCreated - 20000};
    RequestForTestProgram run(u"exit 42");
    ASSERT_TRUE(run.event);
    EXPECT_EQ(42, RunExecutor(run.guid, run.record, run.arguments, FakeGate()));
    // Elevated under another account (an administrator's name typed into a
    // standard user's consent prompt): the parent cannot be opened, and the
    // process list tells the same.
    gFake.parentOpens = false;
    RequestForTestProgram otherAccount(u"exit 43");
    EXPECT_EQ(43, RunExecutor(otherAccount.guid, otherAccount.record, otherAccount.arguments,
                              FakeGate()));
}

TEST(RunModeGateWin, AnyOtherParentGetsMalformedAndNothingStarts) {
    ScratchFolder folder;
    const std::u16string output = folder / u"out.txt";
    const ProcessIdentity self{u"C:\\Users\\Ann\\Downloads\\Setup Tool.exe", kSelfCreated};
    const struct {
        const char* what;
        bool listed;
        bool parentOpens;
        bool parentInList;
        ProcessIdentity parent;
    } cases[] = {
        {"a stranger", true, true, true, {u"C:\\Tools\\launcher.exe", kSelfCreated - 1}},
        {"a stranger read from the list", true, false, true,
         {u"C:\\Tools\\launcher.exe", kSelfCreated - 1}},
        {"its id reused after it ended", true, true, true, {self.imagePath, kSelfCreated + 1}},
        {"no parent in the process list", false, true, true, self},
        {"gone", true, false, false, self},
    };
    for (const auto& c : cases) {
        gFake = FakeProcesses();
        gFake.self = self;
        gFake.listed = c.listed;
        gFake.parentOpens = c.parentOpens;
        gFake.parentInList = c.parentInList;
        gFake.parent = c.parent;
        RequestForTestProgram run(u"args \"" + output + u"\"");
        EXPECT_EQ(kResultRunRequestMalformed,
                  RunExecutor(run.guid, run.record, run.arguments, FakeGate()))
            << c.what;
    }
    ::Sleep(500);  // time for a wrongly started program to write
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(output)));
}

TEST(RunModeGateWin, SystemNamesTheParentItsProgramFileAndWhenItStarted) {
    testing::ProcessGroup group;
    DWORD childId = 0;
    const UniqueHandle child = group.Start(TestProgram(), u"exit 0", &childId, nullptr, true);
    ASSERT_TRUE(child);
    DWORD parentId = 0;
    ASSERT_TRUE(ParentProcessId(childId, parentId));
    EXPECT_EQ(::GetCurrentProcessId(), parentId);
    ProcessIdentity self;
    ASSERT_TRUE(ReadProcessIdentity(::GetCurrentProcessId(), self));
    ProcessIdentity started;
    ASSERT_TRUE(ReadProcessIdentity(childId, started));
    EXPECT_TRUE(EqualsNoCase(TestProgram(), started.imagePath)) << Utf16ToUtf8(started.imagePath);
    EXPECT_LE(self.creationTime, started.creationTime);
    // This test program's own parent runs another program.
    EXPECT_FALSE(IsStartedBySameProgram(RunModeGateFunctions()));
}

TEST(RunModeGateWin, ProcessListTellsTheSameWithoutAHandle) {
    QUARRY_SKIP_UNDER_WINE("Wine 8 answers no SystemProcessIdInformation query");
    testing::ProcessGroup group;
    DWORD childId = 0;
    const UniqueHandle child = group.Start(TestProgram(), u"exit 0", &childId, nullptr, true);
    ASSERT_TRUE(child);
    ProcessIdentity opened;
    ASSERT_TRUE(ReadProcessIdentity(childId, opened));
    ProcessIdentity listed;
    ASSERT_TRUE(ReadListedProcessIdentity(childId, listed));
    EXPECT_EQ(opened.creationTime, listed.creationTime);
    // The system's own form of the path ends as the other does.
    const std::u16string name = u"\\quarry_testprog.exe";
    ASSERT_GE(listed.imagePath.size(), name.size());
    EXPECT_TRUE(EqualsNoCase(name, listed.imagePath.substr(listed.imagePath.size() - name.size())))
        << Utf16ToUtf8(listed.imagePath);
    ProcessIdentity self;
    ASSERT_TRUE(ReadListedProcessIdentity(::GetCurrentProcessId(), self));
    EXPECT_LE(self.creationTime, listed.creationTime);
}

TEST(RunModeGateWin, ElevatedRequestFromAStrangerStartsNothing) {
    QUARRY_SKIP_UNDER_WINE(
        "Wine starts \"runas\" as a plain child with the caller's token; the plain request "
        "from a stranger is RunMode.RequestFromAnyoneButACopyOfTheSameFileStartsNothing");
    if (!testing::RunsAsAdministrator()) {
        GTEST_SKIP() << "needs an elevated test process: otherwise \"runas\" waits at the "
                        "consent prompt";
    }
    ScratchFolder folder;
    const std::u16string output = folder / u"out.txt";
    RequestForTestProgram run(u"args \"" + output + u"\"");
    RunRequest request;
    request.program = TestProgram();
    const std::u16string parameters = RunModeParameters(run.guid, request, run.arguments);
    const std::u16string program = testing::WindowsPathOf(QUARRY_EXE_PATH);
    SHELLEXECUTEINFOW execute = {};
    execute.cbSize = sizeof execute;
    execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    execute.lpVerb = L"runas";
    execute.lpFile = Wide(program);
    execute.lpParameters = Wide(parameters);
    execute.nShow = SW_HIDE;
    ASSERT_TRUE(::ShellExecuteExW(&execute)) << ::GetLastError();
    ASSERT_NE(nullptr, execute.hProcess);
    const UniqueHandle process(execute.hProcess);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.Get(), 60000));
    EXPECT_EQ(0x80040001u, testing::ExitCodeOf(process.Get()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(output)));
}

}  // namespace
}  // namespace quarry
