// The wait for the extracted files to be released. Wine's Restart Manager
// cannot tell whether a file is in use, so the Restart Manager rounds run
// over scripted entry points; the open probe runs for real.
#include "workflow/FileUseChecker.h"

#include <gtest/gtest.h>

#include "common/Unique.h"
#include "common/WinTestSupport.h"

namespace quarry {
namespace {

using testing::ScratchFolder;
using testing::WriteBytes;

// Scripted Restart Manager: "in use" for the first `busyRounds` lists.
int gBusyRounds = 0;
int gLists = 0;
UINT gRegistered = 0;

DWORD WINAPI FakeStart(DWORD* session, DWORD, WCHAR[]) {
    *session = 7;
    return ERROR_SUCCESS;
}
DWORD WINAPI FakeRegister(DWORD, UINT files, LPCWSTR[], UINT, RM_UNIQUE_PROCESS[], UINT, LPCWSTR[]) {
    gRegistered = files;
    return ERROR_SUCCESS;
}
DWORD WINAPI FakeList(DWORD, UINT* needed, UINT* count, RM_PROCESS_INFO[], LPDWORD) {
    *count = 0;
    *needed = gLists++ < gBusyRounds ? 1 : 0;
    return *needed ? ERROR_MORE_DATA : ERROR_SUCCESS;
}
DWORD WINAPI FakeEnd(DWORD) { return ERROR_SUCCESS; }

class InUseWaitTest : public ::testing::Test {
protected:
    void SetUp() override {
        api.startSession = FakeStart;
        api.registerResources = FakeRegister;
        api.getList = FakeList;
        api.endSession = FakeEnd;
        inUseWait.restartManager = &api;
        inUseWait.recheckMilliseconds = 20;
        gLists = 0;
        gBusyRounds = 0;
        workFolder = scratch.Path();
        runFolder = scratch / u"Package\\";
        ASSERT_TRUE(::CreateDirectoryW(Wide(runFolder), nullptr));
        ASSERT_TRUE(WriteBytes(runFolder + u"a.bin", {1}));
        ASSERT_TRUE(WriteBytes(runFolder + u"b.bin", {2}));
        execution.waitForRelease = true;
        execution.WaitTimeout = 60;
    }

    void Wait(DWORD startTick) {
        const ReleaseWait wait = {workFolder, runFolder,          execution,
                                  startTick,  cancelEvent.Get(), inUseWait};
        WaitForFilesReleased(wait);
    }

    ScratchFolder scratch;
    RestartManagerApi api;
    std::u16string workFolder;
    std::u16string runFolder;
    UniqueHandle cancelEvent{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    InUseWaitSettings inUseWait;
    ExecutionSettings execution;
};

TEST_F(InUseWaitTest, ChecksAgainUntilNothingIsInUse) {
    gBusyRounds = 3;
    Wait(::GetTickCount());
    EXPECT_EQ(4, gLists);
    EXPECT_EQ(2u, gRegistered) << "every extracted file is registered";
}

TEST_F(InUseWaitTest, RunsOnlyForFilesInTheWorkFolderAndWhenAsked) {
    gBusyRounds = 100;
    execution.waitForRelease = false;
    Wait(::GetTickCount());
    EXPECT_EQ(0, gLists);

    execution.waitForRelease = true;
    runFolder = u"C:\\Elsewhere\\Extracted\\";
    Wait(::GetTickCount());
    EXPECT_EQ(0, gLists);
}

TEST_F(InUseWaitTest, EndsAtTheDeadlineOrOnCancel) {
    gBusyRounds = 1000000;
    // WaitTimeout + 90 s after the start of execution has passed.
    execution.WaitTimeout = 0;
    Wait(::GetTickCount() - 90000);
    EXPECT_EQ(0, gLists);

    execution.WaitTimeout = 60;
    ::SetEvent(cancelEvent.Get());
    Wait(::GetTickCount());
    EXPECT_EQ(1, gLists);
}

// On Windows the system's Restart Manager sees a file that another process
// holds open, and the wait lasts until that process has let it go.
TEST_F(InUseWaitTest, RestartManagerReportsAHeldFileAndTheWaitOutlastsIt) {
    QUARRY_SKIP_UNDER_WINE("Wine's Restart Manager cannot tell whether a file is in use");
    inUseWait.restartManager = nullptr;
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    const HANDLE held = ::CreateFileW(Wide(runFolder + u"a.bin"), GENERIC_READ,
                                      FILE_SHARE_READ, &inherited, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    // The test program inherits the handle and keeps it for two seconds.
    const UniqueHandle process(testing::StartProgram(
        testing::WindowsPathOf(QUARRY_TESTPROG), u"sleep 2000 0", true));
    ::CloseHandle(held);
    ASSERT_TRUE(process.Get());

    FileUseChecker checker;
    ASSERT_TRUE(checker.LoadRestartManager());
    DWORD error = 0;
    EXPECT_TRUE(checker.IsAnyFileInUse(runFolder, error)) << "error " << error;
    Wait(::GetTickCount());
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.Get(), 0));
    EXPECT_FALSE(checker.IsAnyFileInUse(runFolder, error));
    ::TerminateProcess(process.Get(), 1);
}

TEST(FileUseChecker, MissingEntryPointsAnswerNothingInUse) {
    RestartManagerApi partial;
    partial.startSession = FakeStart;
    FileUseChecker checker(partial);
    DWORD error = 0;
    EXPECT_FALSE(checker.IsAnyFileInUse(u"C:\\", error));
    EXPECT_EQ(DWORD{ERROR_NOT_SUPPORTED}, error);
}

TEST(FileUseChecker, OpenProbeFindsAFileHeldWithoutSharing) {
    ScratchFolder scratch;
    const std::u16string path = scratch / u"held.bin";
    ASSERT_TRUE(WriteBytes(path, {1, 2, 3}));
    DWORD error = 0;
    EXPECT_FALSE(IsAnyFileLocked(scratch.Path(), true, error));
    EXPECT_FALSE(IsAnyFileLocked(scratch.Path(), false, error));

    const HANDLE held = ::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    // Reading alongside is shared, deleting is not.
    EXPECT_TRUE(IsAnyFileLocked(scratch.Path(), true, error));
    ::CloseHandle(held);
    EXPECT_FALSE(IsAnyFileLocked(scratch.Path(), false, error));
}

}  // namespace
}  // namespace quarry
