#include "app/ExtractionMode.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/WinTestSupport.h"
#include "execution/ExitCodeSlot.h"
#include "ui/ExtractorDialog.h"

namespace quarry {
namespace {

constexpr std::uint64_t kHour = 36000000000ull;
constexpr std::uint64_t kDay = 24 * kHour;

// A token group list made of the given well-known groups.
class GroupList {
public:
    explicit GroupList(const std::vector<DWORD>& aliases) {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        for (DWORD alias : aliases) {
            PSID sid = nullptr;
            EXPECT_TRUE(::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, alias, 0,
                                                   0, 0, 0, 0, 0, &sid));
            sids_.push_back(sid);
        }
        storage_.resize(sizeof(TOKEN_GROUPS) + aliases.size() * sizeof(SID_AND_ATTRIBUTES));
        auto* groups = reinterpret_cast<TOKEN_GROUPS*>(storage_.data());
        groups->GroupCount = static_cast<DWORD>(sids_.size());
        for (size_t i = 0; i < sids_.size(); ++i) groups->Groups[i] = {sids_[i], 0};
    }
    ~GroupList() {
        for (PSID sid : sids_) ::FreeSid(sid);
    }
    const TOKEN_GROUPS& Groups() const {
        return *reinterpret_cast<const TOKEN_GROUPS*>(storage_.data());
    }

private:
    std::vector<PSID> sids_;
    std::vector<std::uint8_t> storage_;
};

// Lookup answers in order; the last one repeats.
std::vector<DWORD> gLookupErrors;
size_t gLookups = 0;
BOOL ScriptedLookup(PSID) {
    const DWORD error = gLookupErrors[std::min(gLookups++, gLookupErrors.size() - 1)];
    ::SetLastError(error);
    return error == 0;
}

class GuestsTest : public ::testing::Test {
protected:
    void SetUp() override { gLookups = 0; }
    void Script(std::vector<DWORD> errors) { gLookupErrors = std::move(errors); }
};

TEST_F(GuestsTest, GuestsGroupWithANameMakesAGuest) {
    const GroupList groups({DOMAIN_ALIAS_RID_USERS, DOMAIN_ALIAS_RID_GUESTS});
    Script({0});
    EXPECT_TRUE(TokenGroupsHoldGuests(groups.Groups(), ScriptedLookup));
    EXPECT_EQ(1u, gLookups) << "only the Guests entry is looked up";
}

TEST_F(GuestsTest, UnmappedEntryIsPassedOverOtherLookupFailuresEndTheWalk) {
    const GroupList twice({DOMAIN_ALIAS_RID_GUESTS, DOMAIN_ALIAS_RID_GUESTS});
    Script({ERROR_NONE_MAPPED, 0});
    EXPECT_TRUE(TokenGroupsHoldGuests(twice.Groups(), ScriptedLookup));

    gLookups = 0;
    Script({ERROR_ACCESS_DENIED, 0});
    EXPECT_FALSE(TokenGroupsHoldGuests(twice.Groups(), ScriptedLookup));
    EXPECT_EQ(1u, gLookups);

    gLookups = 0;
    Script({ERROR_NONE_MAPPED});
    EXPECT_FALSE(TokenGroupsHoldGuests(twice.Groups(), ScriptedLookup));
    EXPECT_EQ(2u, gLookups);
}

TEST_F(GuestsTest, NoGuestsGroupIsNoGuest) {
    const GroupList groups({DOMAIN_ALIAS_RID_USERS, DOMAIN_ALIAS_RID_ADMINS});
    Script({0});
    EXPECT_FALSE(TokenGroupsHoldGuests(groups.Groups(), ScriptedLookup));
    EXPECT_EQ(0u, gLookups);
}

TEST_F(GuestsTest, ThisTestRunsAsNoGuest) { EXPECT_FALSE(IsGuestUser()); }

TEST(DebugWindow, FollowsTheStampOrTheProgramFileTime) {
    const std::uint64_t now = testing::NowFileTime();
    EXPECT_TRUE(IsInDebugWindow(now - kHour));
    EXPECT_FALSE(IsInDebugWindow(now - 8 * kDay));
    EXPECT_FALSE(IsInDebugWindow(now + kDay));
    // A zero half: the test program's own write time, which the build has
    // just set.
    EXPECT_TRUE(IsInDebugWindow(0));
    EXPECT_TRUE(IsInDebugWindow(now & 0xFFFFFFFF00000000ull));
}

TEST(ExtractorDialogRules, MeasuredProgressRunsFrom100To990Truncated) {
    EXPECT_EQ(100, MeasuredProgressPosition(0, 3));
    EXPECT_EQ(396, MeasuredProgressPosition(1, 3));
    EXPECT_EQ(990, MeasuredProgressPosition(3, 3));
    EXPECT_EQ(545, MeasuredProgressPosition(1ull << 40, 1ull << 41));
}

TEST(ExtractorDialogRules, FinishTextFollowsTheResult) {
    EXPECT_EQ(UINT{kStringCompleted}, FinishStatusString(0));
    EXPECT_EQ(UINT{kStringCompleted}, FinishStatusString(1));
    EXPECT_EQ(UINT{kStringCancelled}, FinishStatusString(kResultAbort));
    EXPECT_EQ(UINT{kStringCancelled}, FinishStatusString(MakeResult(0x800704C7)));
    EXPECT_EQ(UINT{kStringCancelled}, FinishStatusString(kResultCancelledByUser));
    EXPECT_EQ(UINT{kStringFailed}, FinishStatusString(kResultNotEnoughSpace));
    EXPECT_EQ(UINT{kStringFailed}, FinishStatusString(kResultFail));
}

// A deployment tool reads the exit code alone: a loop that ended before the
// worker's last word never passes for success or for "still running".
TEST(ExtractorDialogRules, ExitCodeIsTheSlotOnlyOnceTheWorkerIsDone) {
    const struct {
        INT_PTR modal;
        bool workerDone;
        HResult endCode;
        DWORD slot;
        HResult expected;
    } cases[] = {
        {-1, false, kResultCancelledByUser, 0, static_cast<HResult>(-1)},
        {static_cast<INT_PTR>(kResultNotEnoughSpace), true, kResultNotEnoughSpace, 0,
         kResultNotEnoughSpace},
        {0, true, 0, 3010, 3010},
        {0, true, 1, 0, 0},
        // A quit message ends the loop with 0 after a cancelled run.
        {0, true, kResultAbort, kExitCodeStillRunning, kResultAbort},
        {0, false, kResultCancelledByUser, 0, kResultCancelledByUser},
        {0, false, kResultCancelledByUser, kExitCodeStillRunning, kResultCancelledByUser},
        {0, false, kResultNotEnoughSpace, 0, kResultNotEnoughSpace},
        {0, false, 0, 0, kResultCancelledByUser},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, ExtractionModeResult(c.modal, c.workerDone, c.endCode, c.slot))
            << c.modal << " " << c.workerDone << " " << c.endCode << " " << c.slot;
    }
}

}  // namespace
}  // namespace quarry
