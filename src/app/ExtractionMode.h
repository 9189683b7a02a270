// The start-up checks of extraction mode that need no settings file.
#pragma once

#include <windows.h>

#include <cstdint>

namespace quarry {

// Whether now lies in the debug window that starts at the package's time
// stamp `time1` (or the program file's last-write time, or today, when the
// stamp has a zero half).
bool IsInDebugWindow(std::uint64_t time1);

// Whether the process token holds the Guests group (S-1-5-32-546) under a
// name the system can look up.
bool IsGuestUser();

// The account lookup of the group walk below: whether the system has a name
// for `sid`. Tests pass their own: Wine maps every well-known group and runs
// everyone as an administrator.
using AccountLookupFn = BOOL (*)(PSID sid);
BOOL LookupAccountOfSid(PSID sid);

// The group walk of IsGuestUser: the first Guests entry whose name can be
// looked up decides; an entry the system cannot map (1332) is passed over;
// any other lookup failure ends the walk with false.
bool TokenGroupsHoldGuests(const TOKEN_GROUPS& groups, AccountLookupFn lookup = LookupAccountOfSid);

}  // namespace quarry
