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
    if (given->second.empty()) {
        *descriptor = ::LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
        ::InitializeSecurityDescriptor(*descriptor, SECURITY_DESCRIPTOR_REVISION);
        ::SetSecurityDescriptorDacl(*descriptor, TRUE, nullptr, FALSE);
        *dacl = nullptr;
        return ERROR_SUCCESS;
    }
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(given->second.c_str(),
                                                                SDDL_REVISION_1, descriptor,
                                                                nullptr)) {
        return ::GetLastError();
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ::GetSecurityDescriptorDacl(*descriptor, &present, dacl, &defaulted);
    if (!present) *dacl = nullptr;
    return ERROR_SUCCESS;
}

class AccessControlWinTest : public ::testing::Test {
protected:
    void SetUp() override {
        gResets.clear();
        gLists.clear();
        gAccessControlFunctions.findTreeReset = FindRecordingReset;
        gAccessControlFunctions.readSecurity = ReadGivenList;
    }
    void TearDown() override { gAccessControlFunctions = AccessControlFunctions(); }
    ScratchFolder scratch;
};

// Users inherit full control, Everyone read, and an account that no longer
// exists full control: the lock denies Users the write-type rights, with the
// inheritance of the entry they come from, and nobody else anything.
TEST_F(AccessControlWinTest, LockDeniesInheritedWriteRightsOfKnownAccounts) {
    const std::u16string folder = scratch / u"locked";
    ASSERT_TRUE(::CreateDirectoryW(Wide(folder), nullptr));
    gLists[folder] = L"D:(A;OICIID;GA;;;BU)(A;OICIID;GR;;;WD)(A;OICIID;FA;;;S-1-5-21-1-2-3-4242)";

    EXPECT_TRUE(SetTreeAccess(folder, false));
    ASSERT_EQ(1u, gResets.size());
    const ResetCall& lock = gResets[0];
    EXPECT_EQ(folder, lock.path);
    ASSERT_EQ(1u, lock.entries.size());
    EXPECT_EQ(ACCESS_DENIED_ACE_TYPE, lock.entries[0].Header.AceType);
    EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, lock.entries[0].Header.AceFlags);
    EXPECT_EQ(kWriteTypeRights, lock.entries[0].Mask);
    EXPECT_EQ("S-1-5-32-545", lock.trustees[0]);
}

// An explicit entry behind an inherited one: first a reset to pure
// inheritance (an empty list), then the lock.
TEST_F(AccessControlWinTest, OutOfOrderListIsResetBeforeTheLock) {
    const std::u16string folder = scratch / u"disorder";
    ASSERT_TRUE(::CreateDirectoryW(Wide(folder), nullptr));
    gLists[folder] = L"D:(A;OICIID;GA;;;BU)(A;;FA;;;WD)";

    EXPECT_TRUE(SetTreeAccess(folder, false));
    ASSERT_EQ(2u, gResets.size());
    EXPECT_TRUE(gResets[0].entries.empty());
    ASSERT_EQ(1u, gResets[1].entries.size());
    EXPECT_EQ(ACCESS_DENIED_ACE_TYPE, gResets[1].entries[0].Header.AceType);
}

// The unlock of a folder below the lock grants the same rights back; the
// unlock of one above it (no deny inherited) writes an empty list.
TEST_F(AccessControlWinTest, UnlockGrantsBackOnlyBelowALock) {
    const std::u16string below = scratch / u"below";
    const std::u16string above = scratch / u"above";
    ASSERT_TRUE(::CreateDirectoryW(Wide(below), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(Wide(above), nullptr));
    gLists[below] = L"D:(D;OICIID;0xC0016;;;BU)(A;OICIID;GA;;;BU)";
    gLists[above] = L"D:(A;OICIID;GA;;;BU)";

    EXPECT_TRUE(SetTreeAccess(below, true));
    EXPECT_TRUE(SetTreeAccess(above, true));
    ASSERT_EQ(2u, gResets.size());
    ASSERT_EQ(1u, gResets[0].entries.size());
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, gResets[0].entries[0].Header.AceType);
    EXPECT_EQ(kWriteTypeRights, gResets[0].entries[0].Mask);
    EXPECT_TRUE(gResets[1].entries.empty());
}

TEST_F(AccessControlWinTest, MissingTreeResetFailsWithError120AndChangesNothing) {
    gAccessControlFunctions.findTreeReset = FindNoReset;
    const std::u16string folder = scratch / u"untouched";
    ASSERT_TRUE(::CreateDirectoryW(Wide(folder), nullptr));
    gLists[folder] = L"D:(A;OICIID;GA;;;BU)";
    EXPECT_FALSE(SetTreeAccess(folder, false));
    EXPECT_EQ(120u, ::GetLastError());
}

// A null list grants everyone everything: nothing is locked, and the lock
// says it failed.
TEST_F(AccessControlWinTest, NullListLocksNothingAndFails) {
    const std::u16string folder = scratch / u"open";
    ASSERT_TRUE(::CreateDirectoryW(Wide(folder), nullptr));
    gLists[folder] = L"";
    EXPECT_FALSE(SetTreeAccess(folder, false));
    EXPECT_TRUE(gResets.empty());
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

    UnlockWritableItems(destination, items);
    std::vector<std::u16string> unlocked;
    for (const ResetCall& call : gResets) unlocked.push_back(call.path);
    EXPECT_EQ((std::vector<std::u16string>{destination + u"logs\\run.log",
                                           destination + u"cache\\deep\\",
                                           destination + u"conf"}),
              unlocked);
}

// Whether this process can open `path` with `access`.
bool Opens(const std::u16string& path, DWORD access) {
    UniqueFile file(::CreateFileW(Wide(path), access,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    return file.Valid();
}

// On Windows the lock holds for real: this user's process reads and runs a
// locked file but cannot write, append to or re-permit it, a writable item
// stays writable, and unlocking the folder above lets the tree be deleted.
TEST(AccessControlOnWindows, LockStopsWritingButNotReadingOrRunningAndUnlockAllowsDeletion) {
    QUARRY_SKIP_UNDER_WINE("Wine keeps no access lists on files");
    ScratchFolder scratch;
    const std::u16string tree = scratch / u"locked";
    struct Unlock {
        const std::u16string& folder;
        ~Unlock() { SetTreeAccess(folder, true); }
    } unlockAtEnd{scratch.Path()};
    ASSERT_TRUE(::CreateDirectoryW(Wide(tree), nullptr));
    const std::u16string program = tree + u"\\program.exe";
    ASSERT_TRUE(::CopyFileW(Wide(testing::WindowsPathOf(QUARRY_TESTPROG)), Wide(program), FALSE));
    const std::vector<std::u16string> items = {u"writable.txt"};
    std::vector<ExtractedFileRecord> files;
    CreateWritableItems(tree, items, files);
    ASSERT_TRUE(SetTreeAccess(tree, false));
    UnlockWritableItems(tree, items);

    EXPECT_TRUE(Opens(program, GENERIC_READ | GENERIC_EXECUTE));
    for (DWORD denied : {DWORD{FILE_WRITE_DATA}, DWORD{FILE_APPEND_DATA}, DWORD{WRITE_DAC}}) {
        EXPECT_FALSE(Opens(program, denied)) << "access 0x" << std::hex << denied;
    }
    EXPECT_TRUE(Opens(tree + u"\\writable.txt", FILE_WRITE_DATA | FILE_APPEND_DATA));
    EXPECT_EQ(5u, testing::RunProgram(program, u"sleep 0 5"));

    EXPECT_TRUE(SetTreeAccess(scratch.Path(), true));
    testing::RemoveTree(tree);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(tree)));
}

}  // namespace
}  // namespace quarry
