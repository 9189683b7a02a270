#include "workflow/Folders.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <sddl.h>
#include <shlwapi.h>

#include <cstring>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "common/LinkSafe.h"
#include "common/PathText.h"
#include "common/Text.h"
#include "common/Unique.h"
#include "common/WinFile.h"
#include "common/WinTestSupport.h"
#include "package/AccessControl_win.h"
#include "workflow/FolderRules.h"

namespace quarry {
namespace {

using testing::ScratchFolder;
using testing::WriteBytes;

std::string Narrow(const std::u16string& text) { return Utf16ToUtf8(text); }

bool EndsWithNoCase(const std::u16string& text, const std::u16string& tail) {
    return text.size() >= tail.size() &&
           EqualsNoCase(std::u16string_view(text).substr(text.size() - tail.size()), tail);
}

bool IsFolder(const std::u16string& path) {
    const DWORD attributes = ::GetFileAttributesW(Wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::u16string SystemTempPath() {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    return FromWide(temp, length);
}

// Sets an environment variable for the life of the object.
class EnvironmentOverride {
public:
    EnvironmentOverride(const wchar_t* name, const std::u16string& value) : name_(name) {
        wchar_t old[32768];
        const DWORD length = ::GetEnvironmentVariableW(name, old, 32768);
        hadValue_ = length != 0 && length < 32768;
        if (hadValue_) oldValue_ = FromWide(old, length);
        ::SetEnvironmentVariableW(name, Wide(value));
    }
    ~EnvironmentOverride() {
        ::SetEnvironmentVariableW(name_, hadValue_ ? Wide(oldValue_) : nullptr);
    }

private:
    const wchar_t* name_;
    bool hadValue_ = false;
    std::u16string oldValue_;
};

// --- Fakes for the folder lookups ------------------------------------------

DWORD WINAPI FailingTempPath(DWORD, LPWSTR) { return 0; }

// GetTempPathW's answer when the buffer is too small: the size it needs.
DWORD WINAPI OversizedTempPath(DWORD capacity, LPWSTR) { return capacity + 40; }

// Answers every special folder with a folder below the scratch folder named
// after the CSIDL, so that no test writes into the real profile.
std::u16string gFakeShellRoot;
int gLastCsidl = -1;
BOOL gLastCreate = FALSE;

BOOL WINAPI FakeSpecialFolder(HWND, LPWSTR path, int csidl, BOOL create) {
    gLastCsidl = csidl;
    gLastCreate = create;
    const std::u16string folder =
        gFakeShellRoot + u"csidl" + testing::Utf16(std::to_string(csidl & 0xFF));
    if (create) ::CreateDirectoryW(Wide(folder), nullptr);
    ::lstrcpyW(path, Wide(folder));
    return TRUE;
}

BOOL WINAPI FailingSpecialFolder(HWND, LPWSTR, int, BOOL) { return FALSE; }

GUID gLastKnownFolder = {};
DWORD gLastKnownFolderFlags = 0;
std::u16string gKnownFolderAnswer;

HRESULT WINAPI FakeKnownFolder(const GUID& id, DWORD flags, HANDLE, PWSTR* path) {
    gLastKnownFolder = id;
    gLastKnownFolderFlags = flags;
    const std::size_t bytes = (gKnownFolderAnswer.size() + 1) * sizeof(wchar_t);
    *path = static_cast<PWSTR>(::CoTaskMemAlloc(bytes));
    std::memcpy(*path, Wide(gKnownFolderAnswer), bytes);
    return S_OK;
}

HRESULT WINAPI FailingKnownFolder(const GUID&, DWORD, HANDLE, PWSTR* path) {
    *path = nullptr;
    return E_FAIL;
}

class FakeShell {
public:
    explicit FakeShell(const ScratchFolder& scratch) {
        gFakeShellRoot = scratch.Path();
        gLastCsidl = -1;
        gLastCreate = FALSE;
        functions.getSpecialFolderPath = FakeSpecialFolder;
        functions.getKnownFolderPath = nullptr;
    }
    ~FakeShell() { gFakeShellRoot.clear(); }
    FolderFunctions functions;
};

// --- Work root -------------------------------------------------------------

TEST(Folders, WorkRootIsQuarryToolUnderTheTemporaryFolder) {
    const std::u16string root = GetWorkRoot();
    EXPECT_EQ(WithTrailingBackslash(SystemTempPath()) + u"QuarryTool", root);
    EXPECT_NE(u'\\', root.back());
}

TEST(Folders, MissingTemporaryFolderIsCreatedButNotTheWorkRoot) {
    ScratchFolder scratch;
    const std::u16string temp = scratch / u"NoSuchTemp";
    EnvironmentOverride tmp(L"TMP", temp);
    ASSERT_FALSE(PathExists(temp));

    const std::u16string root = GetWorkRoot();
    EXPECT_TRUE(EqualsNoCase(temp + u"\\QuarryTool", root)) << Narrow(root);
    EXPECT_TRUE(IsFolder(temp));
    EXPECT_FALSE(PathExists(root));
}

TEST(Folders, WorkRootFallsBackToCommonApplicationData) {
    ScratchFolder scratch;
    FakeShell shell(scratch);
    for (auto tempPath : {FailingTempPath, OversizedTempPath}) {
        shell.functions.getTempPath = tempPath;
        const std::u16string company = scratch / u"csidl35\\Norvik Corporation";
        ::RemoveDirectoryW(Wide(company));

        EXPECT_EQ(company + u"\\Norvik Quarry Tool", GetWorkRoot(shell.functions));
        EXPECT_EQ(CSIDL_COMMON_APPDATA, gLastCsidl);
        EXPECT_TRUE(gLastCreate);
        EXPECT_TRUE(IsFolder(company));
        EXPECT_FALSE(PathExists(company + u"\\Norvik Quarry Tool"));
    }
}

// GetTempPath2W, where the system has it, is asked before GetTempPathW.
DWORD WINAPI TempPathOne(DWORD size, LPWSTR buffer) {
    return static_cast<DWORD>(::lstrlenW(::lstrcpynW(buffer, L"C:\\one\\", size)));
}
DWORD WINAPI TempPathTwo(DWORD size, LPWSTR buffer) {
    return static_cast<DWORD>(::lstrlenW(::lstrcpynW(buffer, L"C:\\two\\", size)));
}

TEST(Folders, WorkRootTakesTheTemporaryFolderOfGetTempPath2WhereThereIsOne) {
    FolderFunctions functions;
    functions.getTempPath = TempPathOne;
    EXPECT_EQ(u"C:\\one\\QuarryTool", GetWorkRoot(functions));
    functions.getTempPath2 = TempPathTwo;
    EXPECT_EQ(u"C:\\two\\QuarryTool", GetWorkRoot(functions));
}

// The owner and list an existing work root reads as, in SDDL.
std::wstring gRootList;
DWORD WINAPI ReadRootList(LPCWSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID* owner, PSID*,
                          PACL* dacl, PACL*, PSECURITY_DESCRIPTOR* descriptor) {
    return testing::SecurityFromSddl(gRootList, owner, dacl, descriptor);
}

// A work root that is there already is used only when it is owned by the
// run's account, SYSTEM or Administrators and none but them may write in
// it; otherwise the run makes a fresh root of its own beside it.
TEST(Folders, ExistingWorkRootIsUsedOnlyWhenNoOneElseCanWriteIt) {
    AccessControlFunctions access;
    access.readSecurity = ReadRootList;
    struct Case {
        const wchar_t* list;
        bool used;
    };
    const Case cases[] = {
        {L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", true},
        {L"O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;BU)(A;OICIIO;FA;;;CO)", true},
        {L"O:BAD:(A;;FA;;;SY)(A;OICI;0x1200a9;;;OW)(A;OICI;GRGX;;;WD)", true},
        {L"O:S-1-5-21-1-2-3-4242D:(A;OICI;FA;;;SY)", false},          // another user's
        {L"O:BAD:(A;OICI;FA;;;SY)(A;OICI;0x100116;;;BU)", false},      // Users may write
        {L"O:BAD:(A;OICIIO;GW;;;BU)", false},                          // ... in what is made
        {L"O:BAD:(A;;DC;;;WD)", false},                                // delete what is in it
        {L"O:BAD:(A;;WD;;;S-1-5-21-1-2-3-4242)", false},               // change its list
        {L"O:BAD:(A;;FA;;;S-1-5-21-1-2-3-4242)", false},               // an unknown account
        {L"", false},                                                  // a null list
    };
    ScratchFolder scratch;
    const std::u16string root = scratch / u"QuarryTool";
    ASSERT_TRUE(::CreateDirectoryW(Wide(root), nullptr));
    FolderSecurity security(CurrentRunIdentity(), false);
    ASSERT_NE(nullptr, security.Attributes());
    for (const Case& c : cases) {
        gRootList = c.list;
        std::u16string usable;
        ASSERT_EQ(kResultOk, PrepareWorkRoot(root, security.Attributes(), usable, access));
        if (c.used) {
            EXPECT_EQ(root, usable) << Narrow(FromWide(c.list));
        } else {
            EXPECT_EQ(0u, usable.find(root + u".{")) << Narrow(FromWide(c.list));
            EXPECT_EQ(root.size() + 1 + 38, usable.size());
            EXPECT_TRUE(IsFolder(usable));
        }
    }
}

// A missing work root is made, with the list it is given.
TEST(Folders, MissingWorkRootIsCreatedAndUsed) {
    ScratchFolder scratch;
    const std::u16string root = scratch / u"QuarryTool";
    FolderSecurity security(CurrentRunIdentity(), false);
    std::u16string usable;
    ASSERT_EQ(kResultOk, PrepareWorkRoot(root, security.Attributes(), usable));
    EXPECT_EQ(root, usable);
    EXPECT_TRUE(IsFolder(root));
    // Without a list nothing is made, and no root can be had.
    EXPECT_EQ(kResultFolderNotCreated, PrepareWorkRoot(scratch / u"Other", nullptr, usable));
    EXPECT_FALSE(PathExists(scratch / u"Other"));
}

// On Windows, with the lists the system keeps: a root the run made is used
// again by the next run; one that Users may write in is not.
TEST(FoldersOnWindows, WorkRootWritableByUsersIsNotUsed) {
    QUARRY_SKIP_UNDER_WINE("Wine keeps no access lists on files");
    ScratchFolder scratch;
    FolderSecurity security(CurrentRunIdentity(), false);
    const std::u16string ours = scratch / u"Ours";
    std::u16string usable;
    ASSERT_EQ(kResultOk, PrepareWorkRoot(ours, security.Attributes(), usable));
    ASSERT_EQ(ours, usable);
    ASSERT_EQ(kResultOk, PrepareWorkRoot(ours, security.Attributes(), usable));
    EXPECT_EQ(ours, usable);

    const std::u16string planted = scratch / u"Planted";
    ASSERT_TRUE(::CreateDirectoryW(Wide(planted), nullptr));
    PSECURITY_DESCRIPTOR open = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)", SDDL_REVISION_1, &open,
        nullptr));
    UniqueLocal holdOpen(open);
    ASSERT_TRUE(::SetFileSecurityW(Wide(planted), DACL_SECURITY_INFORMATION, open));
    ASSERT_EQ(kResultOk, PrepareWorkRoot(planted, security.Attributes(), usable));
    EXPECT_EQ(0u, usable.find(planted + u".{")) << Narrow(usable);
}

TEST(Folders, WorkRootIsEmptyWhenNoFolderCanBeHad) {
    FolderFunctions functions;
    functions.getTempPath = FailingTempPath;
    functions.getSpecialFolderPath = FailingSpecialFolder;
    EXPECT_EQ(u"", GetWorkRoot(functions));

    // The company folder cannot be made below a file.
    ScratchFolder scratch;
    FakeShell shell(scratch);
    shell.functions.getTempPath = FailingTempPath;
    ASSERT_TRUE(WriteBytes(scratch / u"csidl35", {1}));
    EXPECT_EQ(u"", GetWorkRoot(shell.functions));
}

// --- Run GUID --------------------------------------------------------------

void ExpectGuidText(const std::u16string& text) {
    ASSERT_EQ(38u, text.size()) << Narrow(text);
    EXPECT_EQ(u'{', text.front());
    EXPECT_EQ(u'}', text.back());
    for (std::size_t i = 1; i < 37; ++i) {
        SCOPED_TRACE(i);
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            EXPECT_EQ(u'-', text[i]);
        } else {
            const char16_t c = text[i];
            EXPECT_TRUE((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F')) << Narrow(text);
        }
    }
}

TEST(Folders, GuidTextIsBracedUpperCaseAndFreshEachTime) {
    std::set<std::u16string> seen;
    for (int i = 0; i < 20; ++i) {
        const std::u16string text = NewGuidString();
        ExpectGuidText(text);
        EXPECT_TRUE(seen.insert(text).second) << "repeated " << Narrow(text);
    }
}

HRESULT WINAPI FixedGuid(GUID* guid) {
    *guid = {0x0123abcd, 0x45ef, 0x0a1b, {0xc2, 0xd3, 0xe4, 0xf5, 0x06, 0x17, 0x28, 0x39}};
    return S_OK;
}

HRESULT WINAPI FailingGuid(GUID*) { return HRESULT_FROM_WIN32(RPC_S_UUID_NO_ADDRESS); }

TEST(Folders, GuidTextGroupsTheFieldsEightFourFourFourTwelve) {
    EXPECT_EQ(u"{0123ABCD-45EF-0A1B-C2D3-E4F506172839}", NewGuidString(FixedGuid));
}

TEST(Folders, FailedGuidRaisesGenericFailure) {
    try {
        NewGuidString(FailingGuid);
        ADD_FAILURE() << "no exception";
    } catch (const ResultError& error) {
        EXPECT_EQ(kResultFail, error.code);
    }
}

// --- File size -------------------------------------------------------------

TEST(Folders, FileSizeComesFromTheDirectoryEntry) {
    ScratchFolder scratch;
    const std::u16string path = scratch / u"sized.bin";
    ASSERT_TRUE(WriteBytes(path, std::vector<std::uint8_t>(70001, 0x5A)));
    EXPECT_EQ(70001u, GetFileSize64(path));

    // Held open with no sharing at all, it can still be measured.
    UniqueFile held(::CreateFileW(Wide(path), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held.Valid());
    EXPECT_EQ(70001u, GetFileSize64(path));
}

TEST(Folders, MissingFileHasSizeZero) {
    ScratchFolder scratch;
    EXPECT_EQ(0u, GetFileSize64(scratch / u"missing.bin"));
    EXPECT_EQ(0u, GetFileSize64(scratch / u"no\\such\\folder.bin"));
}

// --- Special folders and Downloads -------------------------------------------

TEST(Folders, SpecialFolderExistsAfterTheCall) {
    std::u16string documents;
    ASSERT_TRUE(GetSpecialFolder(CSIDL_PERSONAL, documents));
    EXPECT_TRUE(IsFolder(documents)) << Narrow(documents);

    std::u16string desktop;
    ASSERT_TRUE(GetSpecialFolder(CSIDL_DESKTOPDIRECTORY | CSIDL_FLAG_CREATE, desktop));
    EXPECT_TRUE(IsFolder(desktop)) << Narrow(desktop);
}

TEST(Folders, UnknownSpecialFolderLeavesThePathAlone) {
    std::u16string path = u"unchanged";
    EXPECT_FALSE(GetSpecialFolder(0x7E, path));
    EXPECT_EQ(u"unchanged", path);
}

TEST(Folders, DownloadsIsTheKnownFolderWhereThereIsOne) {
    ASSERT_NE(nullptr, SystemFolderFunctions().getKnownFolderPath)
        << "Wine 8 and Windows Vista or later have SHGetKnownFolderPath";
    std::u16string downloads;
    ASSERT_TRUE(GetDownloadsFolder(downloads));
    EXPECT_TRUE(EndsWithNoCase(downloads, u"\\Downloads\\")) << Narrow(downloads);
    EXPECT_TRUE(IsFolder(downloads));
}

TEST(Folders, DownloadsAsksForTheDownloadsKnownFolderWithCreate) {
    ScratchFolder scratch;
    FakeShell shell(scratch);
    shell.functions.getKnownFolderPath = FakeKnownFolder;
    gKnownFolderAnswer = u"Q:\\Somewhere\\Downloads";

    std::u16string downloads;
    ASSERT_TRUE(GetDownloadsFolder(downloads, shell.functions));
    EXPECT_EQ(u"Q:\\Somewhere\\Downloads\\", downloads);
    const GUID folderIdDownloads = {
        0x374DE290, 0x123F, 0x4565, {0x91, 0x64, 0x39, 0xC4, 0x92, 0x5E, 0x46, 0x7B}};
    EXPECT_TRUE(::IsEqualGUID(folderIdDownloads, gLastKnownFolder));
    EXPECT_EQ(0x8000u, gLastKnownFolderFlags);
    // The Documents fallback was not consulted.
    EXPECT_EQ(-1, gLastCsidl);
}

TEST(Folders, DownloadsFallsBackToDocumentsAndCreatesIt) {
    ScratchFolder scratch;
    FakeShell shell(scratch);
    const std::u16string expected = scratch / u"csidl5\\Downloads";
    for (KnownFolderPathFn known : {static_cast<KnownFolderPathFn>(nullptr),
                                    static_cast<KnownFolderPathFn>(FailingKnownFolder)}) {
        shell.functions.getKnownFolderPath = known;
        ::RemoveDirectoryW(Wide(expected));
        ASSERT_FALSE(PathExists(expected));

        std::u16string downloads;
        ASSERT_TRUE(GetDownloadsFolder(downloads, shell.functions));
        EXPECT_EQ(expected, downloads);
        EXPECT_EQ(CSIDL_PERSONAL, gLastCsidl);
        EXPECT_TRUE(gLastCreate);
        EXPECT_TRUE(IsFolder(expected));

        // An existing one is used as it is.
        downloads.clear();
        ASSERT_TRUE(GetDownloadsFolder(downloads, shell.functions));
        EXPECT_EQ(expected, downloads);
    }
}

TEST(Folders, DownloadsFallbackFailsWhenTheFolderCannotBeMade) {
    ScratchFolder scratch;
    FakeShell shell(scratch);
    // A file where the Documents folder should be.
    ASSERT_TRUE(WriteBytes(scratch / u"csidl5", {1}));
    std::u16string downloads;
    EXPECT_FALSE(GetDownloadsFolder(downloads, shell.functions));
    EXPECT_EQ(scratch / u"csidl5\\Downloads", downloads);

    FolderFunctions none;
    none.getSpecialFolderPath = FailingSpecialFolder;
    std::u16string untouched = u"unchanged";
    EXPECT_FALSE(GetDownloadsFolder(untouched, none));
    EXPECT_EQ(u"unchanged", untouched);
}

// --- Free space --------------------------------------------------------------

std::uint64_t gFakeAvailable = 0;
BOOL gFakeFreeSpaceResult = TRUE;
std::u16string gFreeSpaceFolder;

BOOL WINAPI FakeDiskFreeSpace(LPCWSTR folder, PULARGE_INTEGER available, PULARGE_INTEGER total,
                              PULARGE_INTEGER totalFree) {
    gFreeSpaceFolder = FromWide(folder);
    available->QuadPart = gFakeAvailable;
    total->QuadPart = gFakeAvailable * 4;
    totalFree->QuadPart = gFakeAvailable * 2;
    return gFakeFreeSpaceResult;
}

TEST(Folders, FreeBytesAreTheCallersShareOfTheVolume) {
    ScratchFolder scratch;
    std::uint64_t available = 0;
    ASSERT_TRUE(QueryFreeBytes(scratch.Path(), available));
    ULARGE_INTEGER expected = {};
    ASSERT_TRUE(::GetDiskFreeSpaceExW(Wide(scratch.Path()), &expected, nullptr, nullptr));
    // Other processes write too; the two readings are close, not equal.
    const std::uint64_t difference = available > expected.QuadPart
                                         ? available - expected.QuadPart
                                         : expected.QuadPart - available;
    EXPECT_LT(difference, 64u * 1024 * 1024);
    EXPECT_GT(available, 0u);
}

TEST(Folders, FreeBytesComeFromTheGivenFunction) {
    gFakeFreeSpaceResult = TRUE;
    const struct {
        const char16_t* folder;
        std::uint64_t available;
    } cases[] = {{u"C:\\x\\", 0x123456789ull}, {u"D:\\y", 5}};
    for (const auto& c : cases) {
        gFakeAvailable = c.available;
        std::uint64_t available = 0;
        ASSERT_TRUE(QueryFreeBytes(c.folder, available, FakeDiskFreeSpace));
        EXPECT_EQ(c.available, available);
        EXPECT_EQ(c.folder, gFreeSpaceFolder);
    }
}

TEST(Folders, FreeSpaceQueryCountsOnlyAnAnswerOfOne) {
    for (BOOL answer : {FALSE, 2, -1}) {
        SCOPED_TRACE(answer);
        gFakeFreeSpaceResult = answer;
        gFakeAvailable = 77;
        std::uint64_t available = 3;
        EXPECT_FALSE(QueryFreeBytes(u"C:\\", available, FakeDiskFreeSpace));
        EXPECT_EQ(3u, available);
    }
    gFakeFreeSpaceResult = TRUE;
}

// --- Unique names and folder trees --------------------------------------------

TEST(Folders, UniqueNameOfAMissingPathIsThePathItself) {
    ScratchFolder scratch;
    std::u16string unique;
    ASSERT_TRUE(MakeUniqueName(scratch / u"Fresh", unique));
    EXPECT_TRUE(EqualsNoCase(scratch / u"Fresh", unique)) << Narrow(unique);
}

TEST(Folders, UniqueNameOfAnExistingFolderNamesNothingYet) {
    ScratchFolder scratch;
    const std::u16string wanted = scratch / u"Setup";
    ASSERT_TRUE(::CreateDirectoryW(Wide(wanted), nullptr));

    std::u16string first;
    ASSERT_TRUE(MakeUniqueName(wanted, first));
    std::cout << "[ unique  ] " << Narrow(wanted) << " -> " << Narrow(first) << "\n";
    EXPECT_FALSE(EqualsNoCase(wanted, first));
    EXPECT_FALSE(PathExists(first));
    // Still in the wanted folder's parent, named after it.
    EXPECT_TRUE(EqualsNoCase(wanted, std::u16string_view(first).substr(0, wanted.size())))
        << Narrow(first);
    EXPECT_EQ(std::u16string::npos, first.find(u'\\', scratch.Path().size()));
    EXPECT_TRUE(EqualsNoCase(wanted + u" (2)", first)) << Narrow(first);

    // Once that name is taken too, the next answer differs again.
    ASSERT_EQ(kResultOk, CreateFolderTree(first));
    std::u16string second;
    ASSERT_TRUE(MakeUniqueName(wanted, second));
    std::cout << "[ unique  ] then -> " << Narrow(second) << "\n";
    EXPECT_FALSE(EqualsNoCase(first, second));
    EXPECT_FALSE(PathExists(second));

    // An existing file counts as taken as well.
    const std::u16string file = scratch / u"taken.txt";
    ASSERT_TRUE(WriteBytes(file, {1}));
    std::u16string forFile;
    ASSERT_TRUE(MakeUniqueName(file, forFile));
    std::cout << "[ unique  ] " << Narrow(file) << " -> " << Narrow(forFile) << "\n";
    EXPECT_FALSE(PathExists(forFile));
}

TEST(Folders, UniqueNameRefusesPathsTooLongForItsBuffer) {
    std::u16string unique = u"unchanged";
    EXPECT_FALSE(MakeUniqueName(u"C:\\" + std::u16string(300, u'a'), unique));
    EXPECT_FALSE(MakeUniqueName(u"", unique));
    EXPECT_EQ(u"unchanged", unique);
}

TEST(Folders, FolderTreeCreatesEveryMissingParent) {
    ScratchFolder scratch;
    const std::u16string deep = scratch / u"one\\two\\three";
    EXPECT_EQ(kResultOk, CreateFolderTree(deep));
    EXPECT_TRUE(IsFolder(scratch / u"one"));
    EXPECT_TRUE(IsFolder(scratch / u"one\\two"));
    EXPECT_TRUE(IsFolder(deep));
    // Already there is success too.
    EXPECT_EQ(kResultOk, CreateFolderTree(deep));
    EXPECT_EQ(kResultOk, CreateFolderTree(scratch / u"one"));
}

TEST(Folders, FolderTreeBelowAFileCannotBeCreated) {
    ScratchFolder scratch;
    ASSERT_TRUE(WriteBytes(scratch / u"file", {1}));
    EXPECT_EQ(kResultFolderNotCreated, CreateFolderTree(scratch / u"file\\sub"));
    EXPECT_EQ(kResultFolderNotCreated, CreateFolderTree(scratch / u"file\\sub\\deeper"));
    EXPECT_EQ(kResultFolderNotCreated, CreateFolderTree(u"relative\\path"));
}

// --- The pure rules against the shell's own path functions -------------------

TEST(Folders, NameRulesAgreeWithTheShell) {
    const std::u16string names[] = {
        u"Setup.exe",        u"a.b.exe",          u"noext",
        u".hidden",          u"trailing.",        u"Setup v2.exe",
        u"my.file name",     u"Setup.exe ",       u"C:\\dir.ext\\noext",
        u"C:\\dir\\Setup.exe", u"C:/dir/Setup.exe", u"C:Setup.exe",
        u"C:\\dir\\",        u"C:\\",             u"\\\\srv\\share\\a.exe",
        u"C:\\dir\\\\x",     u"x.\\y",            u"a..b",
    };
    for (const std::u16string& name : names) {
        SCOPED_TRACE(Narrow(name));
        const wchar_t* text = Wide(name);
        EXPECT_EQ(FromWide(::PathFindFileNameW(text)), FileNamePart(name));
        EXPECT_EQ(FromWide(::PathFindExtensionW(text)), ExtensionPart(name));
        const std::u16string fileName = FromWide(::PathFindFileNameW(text));
        const std::u16string shellCut =
            fileName.substr(0, fileName.size() -
                                   FromWide(::PathFindExtensionW(Wide(fileName))).size());
        EXPECT_EQ(shellCut, FolderNameFromProgramName(name));
    }
}

// Dates a folder: its creation and last change both `days` ago.
bool Age(const std::u16string& path, int days) {
    const UniqueFile folder(::CreateFileW(Wide(path), FILE_WRITE_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                          nullptr));
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const std::uint64_t then = FileTimeValue(now) - days * 24ull * 60 * 60 * 10000000;
    const FILETIME time = {static_cast<DWORD>(then), static_cast<DWORD>(then >> 32)};
    return folder && ::SetFileTime(folder.Get(), &time, nullptr, &time);
}

// A run killed a week ago left its work folder: the next run removes it,
// but never one a run still holds, one of another name, or a newer one.
TEST(Folders, StaleWorkFoldersAreSweptUnlessInUse) {
    ScratchFolder root;
    const std::u16string rootPath = root.Path().substr(0, root.Path().size() - 1);
    const struct {
        const char16_t* name;
        int days;
        bool held;
        bool swept;
    } cases[] = {
        {u"{11111111-1111-1111-1111-111111111111}", 8, false, true},
        {u"{22222222-2222-2222-2222-222222222222}", 8, true, false},
        {u"{33333333-3333-3333-3333-333333333333}", 6, false, false},
        {u"Kept", 8, false, false},
    };
    std::vector<UniqueFile> holds;
    for (const auto& c : cases) {
        const std::u16string folder = root / c.name;
        ASSERT_TRUE(::CreateDirectoryW(Wide(folder), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(Wide(folder + u"\\Package"), nullptr));
        ASSERT_TRUE(WriteBytes(folder + u"\\Package\\setup.exe", {'M', 'Z'}));
        ASSERT_TRUE(Age(folder, c.days));
        // As a run holds its work folder: listing, sharing no deletion.
        if (c.held) holds.push_back(std::move(OpenEntry(folder, INVALID_FILE_ATTRIBUTES,
                                                        FILE_LIST_DIRECTORY).handle));
    }
    EXPECT_EQ(1, SweepStaleWorkFolders(rootPath));
    for (const auto& c : cases) {
        EXPECT_EQ(c.swept, ::GetFileAttributesW(Wide(root / c.name)) == INVALID_FILE_ATTRIBUTES)
            << Utf16ToUtf8(c.name);
    }
}

}  // namespace
}  // namespace quarry
