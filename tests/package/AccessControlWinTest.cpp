// The access control on real folders under Wine. Wine keeps no access lists
// on files (it reads back a default list whatever was set) and its
// TreeResetNamedSecurityInfoW changes nothing, so the lists are handed in by
// a stand-in reader and the reset goes through a recording stand-in: the
// tests look at the list that would have been applied.
#include "package/AccessControl_win.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <map>
#include <string>
#include <vector>

#include "common/Text.h"
#include "common/Unique.h"
#include "common/WinTestSupport.h"
#include "package/AccessControl.h"
#include "workflow/Cleanup.h"

namespace quarry {
namespace {

using testing::ScratchFolder;

struct ResetCall {
    std::u16string path;
    std::vector<ACCESS_ALLOWED_ACE> entries;  // header and mask of each entry
    std::vector<std::string> trustees;        // string SIDs
};
std::vector<ResetCall> gResets;

DWORD WINAPI RecordReset(LPWSTR path, SE_OBJECT_TYPE, SECURITY_INFORMATION information, PSID,
                         PSID, PACL dacl, PACL, BOOL keepExplicit, FN_PROGRESS,
                         PROG_INVOKE_SETTING, PVOID) {
    EXPECT_EQ(0x20000004u, information);
    EXPECT_FALSE(keepExplicit);
    ResetCall call;
    call.path = FromWide(path);
    ACL_SIZE_INFORMATION size = {};
    EXPECT_TRUE(::GetAclInformation(dacl, &size, sizeof(size), AclSizeInformation));
    for (DWORD i = 0; i < size.AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(dacl, i, &ace)) continue;
        auto* entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        call.entries.push_back(*entry);
        LPWSTR text = nullptr;
        ::ConvertSidToStringSidW(&entry->SidStart, &text);
        call.trustees.push_back(text ? Utf16ToUtf8(FromWide(text)) : "");
        ::LocalFree(text);
    }
    gResets.push_back(call);
    return ERROR_SUCCESS;
}
TreeResetNamedSecurityInfoFn FindRecordingReset() { return RecordReset; }
TreeResetNamedSecurityInfoFn FindNoReset() { return nullptr; }

// The list each path reads as, in SDDL (flags such as "ID", inherited, are
// read as given; an empty text is a null list); a path not named reads as
// Wine's own.
std::map<std::u16string, std::wstring> gLists;

DWORD WINAPI ReadGivenList(LPCWSTR path, SE_OBJECT_TYPE type, SECURITY_INFORMATION information,
                           PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                           PSECURITY_DESCRIPTOR* descriptor) {
    const auto given = gLists.find(FromWide(path));
    if (given == gLists.end()) {
        return ::GetNamedSecurityInfoW(path, type, information, owner, group, dacl, sacl,
                                       descriptor);
    }
    return testing::SecurityFromSddl(given->second, owner, dacl, descriptor);
}

class AccessControlWinTest : public ::testing::Test {
protected:
    void SetUp() override {
        gResets.clear();
        gLists.clear();
        access.findTreeReset = FindRecordingReset;
        access.readSecurity = ReadGivenList;
    }
    // Makes the folder `name` in the scratch folder, whose list the fake
    // reader reports as `list`.
    std::u16string FolderWithList(const std::u16string& name, const std::wstring& list) {
        const std::u16string folder = scratch / name;
        EXPECT_TRUE(::CreateDirectoryW(Wide(folder), nullptr)) << Utf16ToUtf8(folder);
        gLists[folder] = list;
        return folder;
    }
    ScratchFolder scratch;
    AccessControlFunctions access;
};

// Users inherit full control, Everyone read, and an account that no longer
// exists full control: the lock denies Users the locked rights (writing,
// deleting, renaming, re-permitting), with the inheritance of the entry they
// come from, nobody else anything, and gives OWNER RIGHTS reading alone.
TEST_F(AccessControlWinTest, LockDeniesInheritedWriteRightsOfKnownAccounts) {
    const std::u16string folder = FolderWithList(
        u"locked", L"D:(A;OICIID;GA;;;BU)(A;OICIID;GR;;;WD)(A;OICIID;FA;;;S-1-5-21-1-2-3-4242)");

    EXPECT_EQ(kResultOk, SetTreeAccess(folder, false, access));
    ASSERT_EQ(1u, gResets.size());
    const ResetCall& lock = gResets[0];
    EXPECT_EQ(folder, lock.path);
    ASSERT_EQ(2u, lock.entries.size());
    EXPECT_EQ(ACCESS_DENIED_ACE_TYPE, lock.entries[0].Header.AceType);
    EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, lock.entries[0].Header.AceFlags);
    EXPECT_EQ(kLockedRights, lock.entries[0].Mask);
    EXPECT_EQ(0xD0156u, lock.entries[0].Mask);
    EXPECT_EQ("S-1-5-32-545", lock.trustees[0]);
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, lock.entries[1].Header.AceType);
    EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, lock.entries[1].Header.AceFlags);
    EXPECT_EQ(kOwnerRightsAccess, lock.entries[1].Mask);
    EXPECT_EQ("S-1-3-4", lock.trustees[1]);
}

// The run's own identities are never denied: it must undo the lock and
// delete the tree. CREATOR OWNER, whoever makes an object below, is the
// run. A run that is not elevated counts its account among them; an
// elevated one does not, since its account is also the same user's
// unelevated programs. An OWNER RIGHTS entry already there is kept.
TEST_F(AccessControlWinTest, LockLeavesTheRunsOwnIdentitiesAlone) {
    const std::u16string folder = scratch / u"own";
    ASSERT_TRUE(::CreateDirectoryW(Wide(folder), nullptr));
    const RunIdentity self = CurrentRunIdentity();
    ASSERT_FALSE(self.account.empty());
    LPWSTR text = nullptr;
    ASSERT_TRUE(::ConvertSidToStringSidW(const_cast<BYTE*>(self.account.data()), &text));
    const std::wstring account = text;
    ::LocalFree(text);
    gLists[folder] = L"D:(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;FA;;;" + account +
                     L")(A;OICIID;0x1200a9;;;OW)(A;OICIIOID;GA;;;CO)";

    for (const bool privileged : {false, true}) {
        gResets.clear();
        access.runIdentity = privileged ? [] {
            RunIdentity run = CurrentRunIdentity();
            run.privileged = true;
            return run;
        } : [] {
            RunIdentity run = CurrentRunIdentity();
            run.privileged = false;
            return run;
        };
        EXPECT_EQ(kResultOk, SetTreeAccess(folder, false, access));
        ASSERT_EQ(1u, gResets.size());
        std::vector<std::string> denied;
        for (std::size_t i = 0; i < gResets[0].entries.size(); ++i) {
            EXPECT_EQ(ACCESS_DENIED_ACE_TYPE, gResets[0].entries[i].Header.AceType);
            denied.push_back(gResets[0].trustees[i]);
        }
        EXPECT_EQ(privileged ? std::vector<std::string>{Utf16ToUtf8(FromWide(account.c_str()))}
                             : std::vector<std::string>{},
                  denied)
            << "privileged " << privileged;
    }
}

// A folder created with the run's protected list is locked already when
// only the run can write it: nothing is reset (a reset would make it
// inherit from its parent). One that grants others write cannot be locked.
TEST_F(AccessControlWinTest, ProtectedListIsLockedAlreadyOrNotAtAll) {
    const std::u16string mine = FolderWithList(
        u"mine", L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;OW)(A;OICI;0x1200a9;;;BU)");
    const std::u16string shared =
        FolderWithList(u"shared", L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x100116;;;BU)");
    EXPECT_EQ(kResultOk, SetTreeAccess(mine, false, access));
    EXPECT_EQ(kResultTreeNotLocked, SetTreeAccess(shared, false, access));
    EXPECT_TRUE(gResets.empty());
}

// A lock that has no one to deny holds even where the reset cannot be made
// (Windows XP, Wine); one that has someone to deny then fails.
TEST_F(AccessControlWinTest, LockWithoutResetHoldsOnlyWhenNoOneIsToBeDenied) {
    access.findTreeReset = FindNoReset;
    const std::u16string closed =
        FolderWithList(u"closed", L"D:(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;FR;;;BU)");
    const std::u16string open =
        FolderWithList(u"open", L"D:(A;OICIID;FA;;;SY)(A;OICIID;0x100116;;;BU)");
    const std::u16string explicitlyOpen =
        FolderWithList(u"explicit", L"D:(A;OICI;0x100116;;;BU)(A;OICIID;FA;;;SY)");
    // Without the reset an entry of the list's own stays as well.
    EXPECT_EQ(kResultOk, SetTreeAccess(closed, false, access));
    EXPECT_EQ(ResultFromWin32(120), SetTreeAccess(open, false, access));
    EXPECT_EQ(ResultFromWin32(120), SetTreeAccess(explicitlyOpen, false, access));
    EXPECT_EQ(120u, ::GetLastError());
}

// An explicit entry behind an inherited one: first a reset to pure
// inheritance (an empty list), then the lock.
TEST_F(AccessControlWinTest, OutOfOrderListIsResetBeforeTheLock) {
    const std::u16string folder = FolderWithList(u"disorder", L"D:(A;OICIID;GA;;;BU)(A;;FA;;;WD)");

    EXPECT_EQ(kResultOk, SetTreeAccess(folder, false, access));
    ASSERT_EQ(2u, gResets.size());
    EXPECT_TRUE(gResets[0].entries.empty());
    ASSERT_EQ(2u, gResets[1].entries.size());
    EXPECT_EQ(ACCESS_DENIED_ACE_TYPE, gResets[1].entries[0].Header.AceType);
}

// The unlock of a folder below the lock grants the same rights back; the
// unlock of one above it (no deny inherited) writes an empty list.
TEST_F(AccessControlWinTest, UnlockGrantsBackOnlyBelowALock) {
    const std::u16string below =
        FolderWithList(u"below", L"D:(D;OICIID;0xC0016;;;BU)(A;OICIID;GA;;;BU)");
    const std::u16string above = FolderWithList(u"above", L"D:(A;OICIID;GA;;;BU)");

    EXPECT_EQ(kResultOk, SetTreeAccess(below, true, access));
    EXPECT_EQ(kResultOk, SetTreeAccess(above, true, access));
    ASSERT_EQ(2u, gResets.size());
    ASSERT_EQ(1u, gResets[0].entries.size());
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, gResets[0].entries[0].Header.AceType);
    EXPECT_EQ(kLockedRights, gResets[0].entries[0].Mask);
    EXPECT_TRUE(gResets[1].entries.empty());
}

TEST_F(AccessControlWinTest, MissingTreeResetFailsWithError120AndChangesNothing) {
    access.findTreeReset = FindNoReset;
    const std::u16string folder = FolderWithList(u"untouched", L"D:(A;OICIID;GA;;;BU)");
    EXPECT_EQ(ResultFromWin32(120), SetTreeAccess(folder, false, access));
    EXPECT_EQ(120u, ::GetLastError());
}

// A null list grants everyone everything: nothing is locked, and the lock
// says it failed.
TEST_F(AccessControlWinTest, NullListLocksNothingAndFails) {
    const std::u16string folder = FolderWithList(u"open", L"");
    EXPECT_EQ(kResultTreeNotLocked, SetTreeAccess(folder, false, access));
    EXPECT_TRUE(gResets.empty());
}

// The tree reset walks by name: a link in the tree is removed as a link
// first, and where that cannot be done (Wine opens what a link points at)
// the tree is not reset at all. The folder the link points at keeps its
// files either way.
TEST_F(AccessControlWinTest, ResetNeverReachesThroughALinkInTheTree) {
    QUARRY_SKIP_WITHOUT_PREPARED_LINKS();
    const std::u16string data = testing::WindowsPathOf(QUARRY_TEST_DATA) + u"\\workflow\\links\\";
    std::u16string tree = data + u"access\\tree";
    std::u16string user = data + u"access\\user";
    if (!testing::RunsUnderWine()) {
        tree = scratch / u"tree";
        user = scratch / u"user";
        for (const std::u16string& made : {tree, tree + u"\\sub", user}) {
            ASSERT_TRUE(::CreateDirectoryW(Wide(made), nullptr));
        }
        ASSERT_TRUE(testing::WriteBytes(user + u"\\mine.txt", {'m'}));
        if (!testing::PlantLink(tree + u"\\sub\\link", user, true, u"")) {
            GTEST_SKIP() << "no symbolic link could be made: needs the privilege or developer mode";
        }
    }
    ASSERT_TRUE(testing::IsReparsePoint(tree + u"\\sub\\link"));
    gLists[tree] = L"D:(A;OICIID;GA;;;BU)";

    const bool unlocked = Succeeded(SetTreeAccess(tree, true, access));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(user + u"\\mine.txt")));
    if (testing::RunsUnderWine()) {
        EXPECT_FALSE(unlocked);
        EXPECT_TRUE(gResets.empty());
    } else {
        EXPECT_TRUE(unlocked);
        ASSERT_EQ(1u, gResets.size());
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(tree + u"\\sub\\link")));
    }
}

// The tree itself a link: nothing is reset.
TEST_F(AccessControlWinTest, TreeThatIsALinkIsNeverReset) {
    QUARRY_SKIP_WITHOUT_PREPARED_LINKS();
    const std::u16string link =
        testing::WindowsPathOf(QUARRY_TEST_DATA) + u"\\workflow\\links\\root\\Temp\\QuarryTool";
    if (testing::RunsUnderWine()) {
        ASSERT_TRUE(testing::IsReparsePoint(link));
        gLists[link] = L"D:(A;OICIID;GA;;;BU)";
        EXPECT_TRUE(Failed(SetTreeAccess(link, false, access)));
        EXPECT_TRUE(Failed(SetTreeAccess(link, true, access)));
        EXPECT_TRUE(gResets.empty());
        return;
    }
    const std::u16string target = scratch / u"target";
    ASSERT_TRUE(::CreateDirectoryW(Wide(target), nullptr));
    if (!testing::PlantLink(scratch / u"link", target, true, u"")) {
        GTEST_SKIP() << "no symbolic link could be made: needs the privilege or developer mode";
    }
    gLists[scratch / u"link"] = L"D:(A;OICIID;GA;;;BU)";
    EXPECT_TRUE(Failed(SetTreeAccess(scratch / u"link", false, access)));
    EXPECT_TRUE(gResets.empty());
}

// The list a run's folder is created with: protected, SYSTEM and
// Administrators in full, the run's account only when the run is not
// elevated, OWNER RIGHTS reading, Users reading only where asked; every
// entry inherited by all below.
TEST(FolderSecurity, IsTheRunsProtectedListFromTheStart) {
    struct Case {
        bool privileged, userReadable;
        std::vector<std::string> trustees;  // in order, "ME" for the account
    };
    const Case cases[] = {
        {false, false, {"ME", "S-1-5-18", "S-1-5-32-544", "S-1-3-4"}},
        {true, false, {"S-1-5-18", "S-1-5-32-544", "S-1-3-4"}},
        {false, true, {"ME", "S-1-5-18", "S-1-5-32-544", "S-1-3-4", "S-1-5-32-545"}},
    };
    RunIdentity run = CurrentRunIdentity();
    ASSERT_FALSE(run.account.empty());
    LPWSTR me = nullptr;
    ASSERT_TRUE(::ConvertSidToStringSidW(run.account.data(), &me));
    const std::string account = Utf16ToUtf8(FromWide(me));
    ::LocalFree(me);
    for (const Case& c : cases) {
        run.privileged = c.privileged;
        FolderSecurity security(run, c.userReadable);
        ASSERT_NE(nullptr, security.Attributes());
        auto* descriptor =
            static_cast<PSECURITY_DESCRIPTOR>(security.Attributes()->lpSecurityDescriptor);
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor, &control, &revision));
        EXPECT_NE(0, control & SE_DACL_PROTECTED);
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
        ASSERT_TRUE(present && dacl);
        std::vector<std::string> trustees;
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            void* ace = nullptr;
            ASSERT_TRUE(::GetAce(dacl, i, &ace));
            auto* entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, entry->Header.AceType);
            EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, entry->Header.AceFlags);
            LPWSTR text = nullptr;
            ::ConvertSidToStringSidW(&entry->SidStart, &text);
            std::string trustee = text ? Utf16ToUtf8(FromWide(text)) : "";
            ::LocalFree(text);
            const bool reads = trustee == "S-1-3-4" || trustee == "S-1-5-32-545";
            EXPECT_EQ(reads ? kOwnerRightsAccess : kFullControl, entry->Mask) << trustee;
            trustees.push_back(trustee == account ? "ME" : trustee);
        }
        EXPECT_EQ(c.trustees, trustees) << "privileged " << c.privileged;
    }
}

// Writable items: a missing file is created empty and expected with size 0;
// a missing folder is created with its parents; an item that exists stays as
// it is; an item that would leave the destination is never touched. Only
// items that exist as the kind they name are unlocked.
TEST_F(AccessControlWinTest, WritableItemsAreCreatedAndUnlockedByKind) {
    const std::u16string destination = scratch / u"dest\\";
    ASSERT_TRUE(::CreateDirectoryW(Wide(destination), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(Wide(destination + u"logs"), nullptr));
    ASSERT_TRUE(testing::WriteBytes(destination + u"conf", {1, 2, 3}));
    const std::vector<std::u16string> items = {
        u"logs\\run.log", u"cache\\deep\\", u"conf\\", u"conf", u"missing\\file.txt",
        u"..\\outside.txt", u"logs\\..\\..\\outside2.txt"};
    std::vector<ExtractedFileRecord> files = {{u"conf", 3}};
    CreateWritableItems(destination, items, files);

    EXPECT_EQ(std::vector<std::uint8_t>{}, testing::ReadBytes(destination + u"logs\\run.log"));
    ASSERT_EQ(2u, files.size());
    EXPECT_EQ(u"logs\\run.log", files[1].relativePath);
    EXPECT_EQ(0u, files[1].size);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES,
              ::GetFileAttributesW(Wide(destination + u"cache\\deep")));
    EXPECT_EQ((std::vector<std::uint8_t>{1, 2, 3}), testing::ReadBytes(destination + u"conf"));
    // The parent of a file item is not created.
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(destination + u"missing")));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(scratch / u"outside.txt")));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(scratch / u"outside2.txt")));

    UnlockWritableItems(destination, items, access);
    std::vector<std::u16string> unlocked;
    for (const ResetCall& call : gResets) unlocked.push_back(call.path);
    EXPECT_EQ((std::vector<std::u16string>{destination + u"logs\\run.log",
                                           destination + u"cache\\deep\\",
                                           destination + u"conf"}),
              unlocked);
}

// An impersonation token for "another, standard user" of this machine:
// this process's token with its own account and Administrators for deny
// entries only, so that only what Users, Everyone and the like are given
// counts.
UniqueHandle StandardUserToken() {
    UniqueHandle process;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, process.Put())) {
        return UniqueHandle();
    }
    const RunIdentity self = CurrentRunIdentity();
    PSID administrators = nullptr;
    ::ConvertStringSidToSidW(L"S-1-5-32-544", &administrators);
    SID_AND_ATTRIBUTES disabled[2] = {};
    disabled[0].Sid = const_cast<BYTE*>(self.account.data());
    disabled[1].Sid = administrators;
    UniqueHandle restricted;
    const BOOL made = ::CreateRestrictedToken(process.Get(), 0, 2, disabled, 0, nullptr, 0,
                                              nullptr, restricted.Put());
    ::LocalFree(administrators);
    UniqueHandle impersonation;
    if (!made || !::DuplicateToken(restricted.Get(), SecurityImpersonation, impersonation.Put())) {
        return UniqueHandle();
    }
    return impersonation;
}

// The rights `token` has on `path`, by the system's own access check.
DWORD Granted(HANDLE token, const std::u16string& path) {
    DWORD needed = 0;
    const SECURITY_INFORMATION what =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    ::GetFileSecurityW(Wide(path), what, nullptr, 0, &needed);
    std::vector<BYTE> descriptor(needed);
    if (needed == 0 || !::GetFileSecurityW(Wide(path), what, descriptor.data(), needed, &needed)) {
        ADD_FAILURE() << "no security read for " << Utf16ToUtf8(path);
        return 0;
    }
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                               FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges = {};
    DWORD privilegesLength = sizeof(privileges);
    DWORD granted = 0;
    BOOL status = FALSE;
    if (!::AccessCheck(descriptor.data(), token, MAXIMUM_ALLOWED, &mapping, &privileges,
                       &privilegesLength, &granted, &status) ||
        !status) {
        return 0;
    }
    return granted;
}

constexpr DWORD kRenameOrChange = DELETE | FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC |
                                  WRITE_OWNER | FILE_WRITE_ATTRIBUTES;

// The run's folders as they are created: another, standard user gets
// nothing in the work folder and only reading and running in the extract
// folder; the run itself writes and deletes them.
TEST(AccessControlOnWindows, FoldersCreatedWithTheRunsListKeepOtherUsersOut) {
    QUARRY_SKIP_UNDER_WINE("Wine keeps no access lists on files");
    ScratchFolder scratch;
    const UniqueHandle other = StandardUserToken();
    ASSERT_TRUE(other.Valid());
    const RunIdentity run = CurrentRunIdentity();
    FolderSecurity runOnly(run, false);
    FolderSecurity userReadable(run, true);
    const std::u16string work = scratch / u"work";
    const std::u16string extract = scratch / u"extract";
    ASSERT_TRUE(::CreateDirectoryW(Wide(work), runOnly.Attributes()));
    ASSERT_TRUE(::CreateDirectoryW(Wide(extract), userReadable.Attributes()));
    ASSERT_TRUE(testing::WriteBytes(work + u"\\Settings.ini", {'x'}));
    ASSERT_TRUE(testing::WriteBytes(extract + u"\\setup.exe", {'x'}));

    for (const std::u16string& path : {work, work + u"\\Settings.ini"}) {
        EXPECT_EQ(0u, Granted(other.Get(), path)) << Utf16ToUtf8(path);
    }
    for (const std::u16string& path : {extract, extract + u"\\setup.exe"}) {
        const DWORD granted = Granted(other.Get(), path);
        EXPECT_EQ(static_cast<DWORD>(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE),
                  granted & (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE))
            << Utf16ToUtf8(path);
        EXPECT_EQ(0u, granted & (kRenameOrChange | FILE_DELETE_CHILD)) << Utf16ToUtf8(path);
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              ::GetNamedSecurityInfoW(Wide(work), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, &dacl, nullptr, &descriptor));
    UniqueLocal hold(descriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_NE(0, control & SE_DACL_PROTECTED);

    EXPECT_TRUE(testing::WriteBytes(work + u"\\more.txt", {'y'}));
    EXPECT_TRUE(DeleteTree(work));
    EXPECT_TRUE(DeleteTree(extract));
}

// A tree whose parent lets Users do anything, locked as a run locks its
// GUID work folder: another, standard user can still read and run the
// files, but can neither rename Package or a file in it, nor write, nor
// change a list; a writable item stays writable; the run itself unlocks
// and deletes the tree.
TEST(AccessControlOnWindows, AfterTheLockAStandardUserCannotRenameWriteOrRepermit) {
    QUARRY_SKIP_UNDER_WINE("Wine keeps no access lists on files");
    ScratchFolder scratch;
    const UniqueHandle other = StandardUserToken();
    ASSERT_TRUE(other.Valid());
    const std::u16string shared = scratch / u"shared";
    ASSERT_TRUE(::CreateDirectoryW(Wide(shared), nullptr));
    PSECURITY_DESCRIPTOR open = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;CO)(A;OICI;FA;;;BU)", SDDL_REVISION_1,
        &open, nullptr));
    UniqueLocal holdOpen(open);
    ASSERT_TRUE(::SetFileSecurityW(Wide(shared), DACL_SECURITY_INFORMATION, open));

    const std::u16string work = shared + u"\\work";
    const std::u16string package = work + u"\\Package";
    ASSERT_TRUE(::CreateDirectoryW(Wide(work), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(Wide(package), nullptr));
    const std::u16string program = package + u"\\program.exe";
    ASSERT_TRUE(::CopyFileW(Wide(testing::WindowsPathOf(QUARRY_TESTPROG)), Wide(program), FALSE));
    const std::vector<std::u16string> items = {u"writable.txt"};
    std::vector<ExtractedFileRecord> files;
    CreateWritableItems(package, items, files);
    ASSERT_GT(Granted(other.Get(), program) & FILE_WRITE_DATA, 0u) << "Users may write before";

    ASSERT_EQ(kResultOk, SetTreeAccess(work, false));
    UnlockWritableItems(package, items);

    const DWORD onProgram = Granted(other.Get(), program);
    EXPECT_EQ(static_cast<DWORD>(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE),
              onProgram & (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE));
    EXPECT_EQ(0u, onProgram & kRenameOrChange) << std::hex << onProgram;
    // Renaming Package, or a file in it, takes DELETE on it or deleting
    // children in the folder above.
    EXPECT_EQ(0u, Granted(other.Get(), package) & (kRenameOrChange | FILE_DELETE_CHILD));
    EXPECT_EQ(0u, Granted(other.Get(), work) & (kRenameOrChange | FILE_DELETE_CHILD));
    EXPECT_NE(0u, Granted(other.Get(), package + u"\\writable.txt") & FILE_WRITE_DATA);
    EXPECT_EQ(5u, testing::RunProgram(program, u"sleep 0 5"));

    EXPECT_EQ(kResultOk, SetTreeAccess(work, true));
    EXPECT_TRUE(DeleteTree(work));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(work)));
}

}  // namespace
}  // namespace quarry
