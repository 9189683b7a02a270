// The manufacturer and model query: Wine's own WMI, and readers that stand
// in for a WMI service that answers, or never does. Each test runs in a
// process of its own, so each starts with an empty cache.
#include "restrictions/ComputerSystem_win.h"

#include <gtest/gtest.h>

#include "common/Unique.h"
#include "common/WinTestSupport.h"

namespace quarry {
namespace {

volatile LONG gReads = 0;
HANDLE gRelease = nullptr;

void CountingReader(ComputerSystemValues& values) {
    ::InterlockedIncrement(&gReads);
    values.manufacturerRead = true;
    values.manufacturer = u"Contoso Ltd.";
    values.modelRead = true;
    values.model = u"Model 7";
}

// A WMI service that hangs: answers only when the test lets it, and then
// with nothing.
void HangingReader(ComputerSystemValues&) {
    ::InterlockedIncrement(&gReads);
    ::WaitForSingleObject(gRelease, INFINITE);
}

void ManufacturerOnlyReader(ComputerSystemValues& values) {
    values.manufacturerRead = true;
    values.manufacturer = u"Contoso Ltd.";
}

TEST(ComputerSystemWinTest, WineAnswersWithItsOwnNames) {
    QUARRY_SKIP_OFF_WINE("its WMI names");
    ASSERT_EQ(kResultOk, QueryComputerSystem(nullptr));
    EXPECT_EQ(u"The Wine Project", CachedManufacturer());
    EXPECT_EQ(u"Wine", CachedModel());
}

TEST(ComputerSystemWinTest, QueriesOncePerProcess) {
    ASSERT_EQ(kResultOk, QueryComputerSystem(nullptr, INFINITE, CountingReader));
    ASSERT_EQ(kResultOk, QueryComputerSystem(nullptr, INFINITE, CountingReader));
    EXPECT_EQ(1, gReads);
    EXPECT_EQ(u"Contoso Ltd.", CachedManufacturer());
    EXPECT_EQ(u"Model 7", CachedModel());
}

TEST(ComputerSystemWinTest, BothValuesAreNeededForTheCacheToCount) {
    EXPECT_EQ(kResultNotReady, QueryComputerSystem(nullptr, INFINITE, ManufacturerOnlyReader));
    // The failed query is not remembered as an answer: the next call asks again.
    EXPECT_EQ(kResultOk, QueryComputerSystem(nullptr, INFINITE, CountingReader));
    EXPECT_EQ(1, gReads);
}

// A hung WMI service no longer holds the worker: the cancel event ends the
// wait with 0x80004004, a bounded wait with 0x80070015, and callers while it
// hangs join the one query rather than start more.
TEST(ComputerSystemWinTest, HungQueryGivesWayToCancelAndToTheTimeLimit) {
    gRelease = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    UniqueHandle cancel(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
    EXPECT_EQ(kResultAbort, QueryComputerSystem(cancel.Get(), INFINITE, HangingReader));
    ::ResetEvent(cancel.Get());
    EXPECT_EQ(kResultNotReady, QueryComputerSystem(cancel.Get(), 50, HangingReader));
    EXPECT_EQ(kResultNotReady, QueryComputerSystem(nullptr, 0, CountingReader));
    EXPECT_EQ(1, gReads) << "every call joined the one hung query";

    // Once it ends, with nothing, the next call starts a fresh query.
    ::SetEvent(gRelease);
    EXPECT_EQ(kResultNotReady, QueryComputerSystem(nullptr, INFINITE, HangingReader));
    EXPECT_EQ(kResultOk, QueryComputerSystem(nullptr, INFINITE, CountingReader));
    EXPECT_EQ(u"Contoso Ltd.", CachedManufacturer());
    ::CloseHandle(gRelease);
}

}  // namespace
}  // namespace quarry
