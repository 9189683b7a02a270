// The process-tree watcher in this process: the test process is the root and
// the test program plays its children and grandchildren.
#include "execution/ProcessTreeWatcher.h"

#include <gtest/gtest.h>

#include "common/Text.h"
#include "execution/FsRedirection.h"
#include "execution/ProcessTestSupport.h"

namespace quarry {
namespace {

using testing::ChildrenOf;
using testing::ProcessGroup;
using testing::TestProgram;
using testing::WaitForChildOf;

std::u16string SelfPath() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return FromWide(path, length);
}

// Waits until `passes` passes have completed after the call; a pass pulses
// its event, so one that was under way when the call came may count.
void WaitForPasses(ProcessTreeWatcher& watcher, int passes) {
    for (int i = 0; i < passes; ++i) {
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(watcher.PassDoneEvent(), 5000))
            << "no pass completed";
    }
}

bool Tracks(ProcessTreeWatcher& watcher, DWORD processId) {
    return watcher.CopyTracked().count(processId) != 0;
}

// Polls the tracked set until `processId` is in it (or out of it).
bool WaitUntilTracked(ProcessTreeWatcher& watcher, DWORD processId, bool tracked) {
    const DWORD start = ::GetTickCount();
    while (Tracks(watcher, processId) != tracked) {
        if (::GetTickCount() - start > 6000) return false;
        ::Sleep(50);
    }
    return true;
}

TEST(ProcessTreeWatcher, TracksAChildUntilItEnds) {
    ProcessTreeWatcher watcher;
    watcher.SetRoot(SelfPath(), ::GetCurrentProcessId());
    watcher.SetRoot(u"", 0);  // not a process
    ASSERT_EQ(kResultOk, watcher.Start());
    EXPECT_TRUE(watcher.Running());

    ProcessGroup group;
    DWORD childId = 0;
    UniqueHandle child = group.Start(TestProgram(), u"sleep 3000 0", &childId);
    ASSERT_TRUE(child);
    ASSERT_TRUE(WaitUntilTracked(watcher, childId, true));
    TrackedProcesses tracked = watcher.CopyTracked();
    // The name kept for the child is not checked here: Wine, asked while a
    // process is still starting, may give neither its image path nor a file
    // name in the snapshot. The image path is checked by its own test.
    EXPECT_EQ(1u, tracked.count(childId));
    EXPECT_EQ(SelfPath(), tracked[::GetCurrentProcessId()]);
    EXPECT_EQ(0u, tracked.count(0));

    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(child.Get(), 10000));
    EXPECT_TRUE(WaitUntilTracked(watcher, childId, false));
    EXPECT_TRUE(Tracks(watcher, ::GetCurrentProcessId()));

    // The thread ends at once when asked, not after its 1-second interval
    // has run out many times over.
    const DWORD before = ::GetTickCount();
    watcher.Stop();
    EXPECT_LT(::GetTickCount() - before, 2000u);
    EXPECT_FALSE(watcher.Running());
    EXPECT_EQ(kResultUnexpected, watcher.Start());
}

TEST(ProcessTreeWatcher, TracksAGrandchildStartedWhileItsParentLives) {
    ProcessTreeWatcher watcher;
    watcher.SetRoot(SelfPath(), ::GetCurrentProcessId());
    ASSERT_EQ(kResultOk, watcher.Start());

    ProcessGroup group;
    DWORD childId = 0;
    // The child waits long enough to be seen, then starts the grandchild and
    // ends at once.
    UniqueHandle child = group.Start(TestProgram(), u"start 1500 0 sleep 4000 0", &childId);
    ASSERT_TRUE(child);
    ASSERT_TRUE(WaitUntilTracked(watcher, childId, true));
    const DWORD grandchildId = WaitForChildOf(childId, 10000, u"quarry_testprog.exe");
    ASSERT_NE(0u, grandchildId);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(child.Get(), 10000));
    // The pass that finds the child gone has seen the grandchild too.
    ASSERT_TRUE(WaitUntilTracked(watcher, childId, false));
    EXPECT_TRUE(Tracks(watcher, grandchildId));

    ASSERT_TRUE(testing::WaitForEnd(grandchildId, 10000));
    EXPECT_TRUE(WaitUntilTracked(watcher, grandchildId, false));
}

TEST(ProcessTreeWatcher, DoesNotTrackAGrandchildWhoseParentEndedUnseen) {
    ProcessGroup group;
    DWORD childId = 0;
    UniqueHandle child = group.Start(TestProgram(), u"start 0 0 sleep 4000 0", &childId);
    ASSERT_TRUE(child);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(child.Get(), 10000));
    const std::vector<DWORD> grandchildren = ChildrenOf(childId, u"quarry_testprog.exe");
    ASSERT_EQ(1u, grandchildren.size());

    // The grandchild descends from this process, but the link through its
    // parent is gone before the watcher looks.
    ProcessTreeWatcher watcher;
    watcher.SetRoot(SelfPath(), ::GetCurrentProcessId());
    ASSERT_EQ(kResultOk, watcher.Start());
    WaitForPasses(watcher, 2);
    EXPECT_TRUE(testing::IsRunning(grandchildren.front()));
    EXPECT_FALSE(Tracks(watcher, grandchildren.front()));
    EXPECT_FALSE(Tracks(watcher, childId));
}

TEST(ProcessTreeWatcher, KeepsEveryRootAndIgnoresTheCurrentOneRepeated) {
    ProcessTreeWatcher watcher;
    watcher.SetRoot(u"first", 4);
    ::ResetEvent(watcher.RootChangedEvent());
    watcher.SetRoot(u"again", 4);
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(watcher.RootChangedEvent(), 0));
    watcher.SetRoot(u"second", 8);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(watcher.RootChangedEvent(), 0));
    const TrackedProcesses tracked = watcher.CopyTracked();
    ASSERT_EQ(2u, tracked.size());
    EXPECT_EQ(u"first", tracked.at(4));
    EXPECT_EQ(u"second", tracked.at(8));
}

TEST(ProcessImagePath, NamesTheImageOfALiveProcessOnly) {
    EXPECT_EQ(SelfPath(), GetProcessImagePath(::GetCurrentProcessId()));
    EXPECT_EQ(u"", GetProcessImagePath(0));
    EXPECT_EQ(u"", GetProcessImagePath(0xFFFFFFF0u));
}

TEST(FsRedirection, IsSwitchedOffOnlyUnderWow64AndBackOnAfterwards) {
    using IsWow64Function = BOOL(WINAPI*)(HANDLE, PBOOL);
    const auto isWow64Process = reinterpret_cast<IsWow64Function>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    if (isWow64Process) isWow64Process(::GetCurrentProcess(), &wow64);

    FsRedirection redirection;
    DisableFsRedirection(redirection);
    EXPECT_EQ(wow64 != FALSE, redirection.off);
    RevertFsRedirection(redirection);
    EXPECT_FALSE(redirection.off);
    EXPECT_FALSE(redirection.kernel32);
}

}  // namespace
}  // namespace quarry
