// The shipped quarry.exe in run mode, started the way the extraction-mode
// process starts it: the test creates the cancel event, starts
// "quarry.exe -run {GUID} RECORD ARGUMENTS" and reads the full 32-bit exit
// code. The test program stands in for the configured file. Run mode takes
// requests only from a copy of its own program file as its parent, so a
// suspended quarry.exe stands in for the extraction-mode copy and the test
// starts run mode as its child (the parent-process attribute), which is what
// a caller who spoofs its parent can do too.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "execution/ProcessTestSupport.h"
#include "execution/RunRequest.h"

namespace quarry {
namespace {

using testing::NewGuid;
using testing::ProcessGroup;
using testing::ScratchFolder;
using testing::TestProgram;
using testing::WaitForChildOf;

constexpr DWORD kExecutorTimeout = 60000;
// Other processes may join the tree (a console host for a console program).
constexpr char16_t kTestProgramName[] = u"quarry_testprog.exe";

RunRequest Request(std::uint32_t waitSeconds, const std::u16string& program) {
    RunRequest request;
    request.waitSeconds = waitSeconds;
    request.program = program;
    return request;
}

std::u16string QuarryExe() { return testing::WindowsPathOf(QUARRY_EXE_PATH); }

// Who starts the run-mode copy.
enum class Caller {
    SameProgram,  // a copy of quarry.exe from the same file, as extraction mode does
    Stranger,     // the test process itself
};

// One executor run with its own cancel event.
class Executor {
public:
    explicit Executor(bool createEvent = true, Caller caller = Caller::SameProgram,
                      const std::u16string& parentProgram = QuarryExe())
        : guid_(NewGuid()) {
        if (caller == Caller::SameProgram) {
            // Never resumed: it only has to exist, from this file, before
            // the run-mode copy does.
            parent_ = group_.Start(parentProgram, u"-run", nullptr, nullptr, true);
        }
        if (createEvent) {
            event_.Reset(::CreateEventW(nullptr, TRUE, FALSE,
                                        Wide(u"Local\\Quarry_Exec_" + guid_)));
        }
    }

    void Start(const RunRequest& request, const std::u16string& arguments) {
        StartRaw(RunModeParameters(guid_, request, arguments));
    }
    void StartRaw(const std::u16string& parameters) {
        process_ = group_.Start(QuarryExe(), parameters, &id_, parent_.Get());
        started_ = ::GetTickCount();
    }
    // The exit code, or 0xDEADBEEF when it did not end in time.
    DWORD Finish() {
        if (!process_ || ::WaitForSingleObject(process_.Get(), kExecutorTimeout) != WAIT_OBJECT_0) {
            return 0xDEADBEEF;
        }
        duration_ = ::GetTickCount() - started_;
        return testing::ExitCodeOf(process_.Get());
    }
    DWORD Run(const RunRequest& request, const std::u16string& arguments) {
        Start(request, arguments);
        return Finish();
    }
    void Cancel() { ASSERT_TRUE(::SetEvent(event_.Get())); }

    DWORD Id() const { return id_; }
    HANDLE Process() const { return process_.Get(); }
    // Milliseconds from the start to the end of the executor.
    DWORD Duration() const { return duration_; }

private:
    ProcessGroup group_;
    UniqueHandle parent_;
    std::u16string guid_;
    UniqueHandle event_;
    UniqueHandle process_;
    DWORD id_ = 0;
    DWORD started_ = 0;
    DWORD duration_ = 0;
};

std::u16string ReadText(const std::u16string& path) {
    const std::vector<std::uint8_t> bytes = testing::ReadBytes(path);
    return FromWide(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
}

bool CopyTestProgram(const std::u16string& target) {
    return ::CopyFileW(Wide(TestProgram()), Wide(target), FALSE) != FALSE;
}

TEST(RunMode, EndsWithTheProgramsFullExitCode) {
    Executor small;
    EXPECT_EQ(42u, small.Run(Request(0, TestProgram()), u"exit 42"));
    Executor large;
    EXPECT_EQ(0x80070005u, large.Run(Request(0, TestProgram()), u"exit 0x80070005"));
    // With a wait argument but nothing left running, neither the program
    // (gone) nor the executor itself keeps it waiting.
    Executor waiting;
    EXPECT_EQ(3u, waiting.Run(Request(20, TestProgram()), u"exit 3"));
    EXPECT_LT(waiting.Duration(), 4000u);
}

TEST(RunMode, HandsProgramPathAndArgumentsOverUnchanged) {
    ScratchFolder folder;
    const std::u16string tools = folder / u"100% Tools";
    ASSERT_TRUE(::CreateDirectoryW(Wide(tools), nullptr));
    const std::u16string program = tools + u"\\set up%20.exe";
    ASSERT_TRUE(CopyTestProgram(program));
    const std::u16string output = folder / u"command line.txt";
    const std::u16string arguments =
        u"args \"" + output + u"\" a|b  %1 100% \"%20 x\"  %QUARRYTOOLROOT% |";

    Executor executor;
    ASSERT_EQ(0u, executor.Run(Request(0, program), arguments));
    const std::u16string commandLine = ReadText(output);
    // The shell puts the program in front; the arguments follow as given.
    ASSERT_GE(commandLine.size(), arguments.size());
    EXPECT_EQ(arguments, commandLine.substr(commandLine.size() - arguments.size()));
    EXPECT_NE(std::u16string::npos, commandLine.find(u"\\100% Tools\\set up%20.exe"));
}

TEST(RunMode, WithoutWaitArgumentReturnsWhenTheProgramEnds) {
    Executor executor;
    // The program leaves a child running for 6 s.
    EXPECT_EQ(5u, executor.Run(Request(0, TestProgram()), u"start 0 5 sleep 6000 0"));
    EXPECT_LT(executor.Duration(), 4000u);
}

TEST(RunMode, WaitsForDescendantsStartedWhileTheirParentLives) {
    Executor executor;
    // The program ends at once; its child starts a grandchild after 0.5 s and
    // ends; the grandchild lives 6 s more. The executor looks again every 5 s,
    // so it ends at the look after the grandchild has gone.
    EXPECT_EQ(7u, executor.Run(Request(20, TestProgram()), u"start 0 7 start 500 0 sleep 6000 0"));
    EXPECT_GE(executor.Duration(), 6500u);
}

TEST(RunMode, StopsWaitingForDescendantsAfterTheWaitArgument) {
    Executor executor;
    EXPECT_EQ(6u, executor.Run(Request(3, TestProgram()), u"start 0 6 sleep 20000 0"));
    // The first look after 3 s comes 5 s after the program ended, long
    // before the child does.
    EXPECT_GE(executor.Duration(), 3000u);
    EXPECT_LT(executor.Duration(), 15000u);
}

TEST(RunMode, CancelWhileTheProgramRunsEndsWith1223AndLeavesItRunning) {
    Executor executor;
    executor.Start(Request(30, TestProgram()), u"sleep 30000 3");
    const DWORD programId = WaitForChildOf(executor.Id(), 10000, kTestProgramName);
    ASSERT_NE(0u, programId);
    executor.Cancel();
    EXPECT_EQ(1223u, executor.Finish());
    EXPECT_TRUE(testing::IsRunning(programId));
}

TEST(RunMode, CancelDuringTheDescendantWaitKeepsTheProgramsExitCode) {
    Executor executor;
    // The program lives 1 s, long enough to be found, then leaves its child.
    executor.Start(Request(60, TestProgram()), u"start 1000 9 sleep 30000 0");
    const DWORD programId = WaitForChildOf(executor.Id(), 10000, kTestProgramName);
    ASSERT_NE(0u, programId);
    ASSERT_TRUE(testing::WaitForEnd(programId, 10000));
    ::Sleep(1500);  // into the descendant wait
    const DWORD cancelled = ::GetTickCount();
    executor.Cancel();
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(executor.Process(), 10000));
    EXPECT_LT(::GetTickCount() - cancelled, 3000u);
    EXPECT_EQ(9u, executor.Finish());
}

TEST(RunMode, MissingProgramEndsWithTheSystemError) {
    ScratchFolder folder;
    Executor executor;
    EXPECT_EQ(2u, executor.Run(Request(0, folder / u"no such program.exe"), u""));
}

TEST(RunMode, BadRequestOrMissingEventStartsNothing) {
    ScratchFolder folder;
    const std::u16string output = folder / u"out.txt";
    Executor noEvent(false);
    EXPECT_EQ(0x80040001u, noEvent.Run(Request(0, TestProgram()), u"args \"" + output + u"\""));
    Executor threeFields;
    threeFields.StartRaw(u"-run {00000000-0000-0000-0000-000000000000} 0|No|" +
                         TestProgram() + u" args \"" + output + u"\"");
    EXPECT_EQ(0x80040001u, threeFields.Finish());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(output)));
}

TEST(RunMode, BatchFileExitCodeComesThrough) {
    ScratchFolder folder;
    const std::u16string batch = folder / u"exit seven.bat";
    ASSERT_TRUE(testing::WriteBytes(batch, {'@', 'e', 'x', 'i', 't', ' ', '/', 'b', ' ', '7',
                                            '\r', '\n'}));
    // As a batch file is launched: the command interpreter from the system
    // folder, hidden, with redirection off.
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    RunRequest request = Request(0, FromWide(system) + u"\\cmd.exe");
    request.systemProgram = true;
    request.hideWindow = true;
    Executor throughCmd;
    EXPECT_EQ(7u, throughCmd.Run(request, u"/C \"" + batch + u"\""));
    // And handed to the shell directly, through its association.
    Executor direct;
    EXPECT_EQ(7u, direct.Run(Request(0, batch), u""));
}

TEST(RunMode, RequestFromAnyoneButACopyOfTheSameFileStartsNothing) {
    ScratchFolder folder;
    const std::u16string output = folder / u"out.txt";
    // The test process itself, with a well-formed request and the event in
    // place: only who asks is wrong.
    Executor stranger(true, Caller::Stranger);
    EXPECT_EQ(0x80040001u, stranger.Run(Request(0, TestProgram()), u"args \"" + output + u"\""));
    // The same program, but another copy of its file.
    const std::u16string copy = folder / u"quarry.exe";
    ASSERT_TRUE(::CopyFileW(Wide(QuarryExe()), Wide(copy), TRUE));
    Executor otherCopy(true, Caller::SameProgram, copy);
    EXPECT_EQ(0x80040001u,
              otherCopy.Run(Request(0, TestProgram()), u"args \"" + output + u"\""));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(output)));
    // The same request from the program's own file runs.
    Executor same;
    EXPECT_EQ(0u, same.Run(Request(0, TestProgram()), u"args \"" + output + u"\""));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(output)));
}

}  // namespace
}  // namespace quarry
