// The extraction worker end to end under Wine: real packages packed by
// quarrypack, a real work root under a scratch temporary folder, and a test
// window that stands in for the progress dialog and records what it is told.
#include "workflow/ExtractionJob.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include <sddl.h>

#include "common/Text.h"
#include "common/WinFile.h"
#include "common/WinTestSupport.h"
#include "package/AccessControl_win.h"
#include "package/CabinetExtract.h"
#include "package/PackageFormat.h"
#include "package/TestPackage.h"
#include "settings/UpdateMode.h"
#include "workflow/DialogMessages.h"
#include "workflow/FolderRules.h"
#include "workflow/Folders.h"

namespace quarry {

// The tests' way into a job: plants the state a run would have made, for
// the steps tested alone.
struct JobInternals {
    static std::u16string& WorkFolder(ExtractionJob& job) { return job.workFolder_; }
    static std::u16string& SupportFolder(ExtractionJob& job) { return job.supportFolder_; }
    static std::u16string& RunFolder(ExtractionJob& job) { return job.runFolder_; }
    static std::u16string& ExtractFolder(ExtractionJob& job) { return job.extractFolder_; }
    static PackageReader& Package(ExtractionJob& job) { return job.package_; }
};

namespace {

JobOptions Options(const std::u16string& programPath, bool silent = false) {
    JobOptions options;
    options.programPath = programPath;
    options.silent = silent;
    return options;
}

using testing::ReadBytes;
using testing::ScratchFolder;
using testing::WriteBytes;

std::u16string TestData(const std::u16string& name) {
    return testing::WindowsPathOf(QUARRY_TEST_DATA) + u"\\workflow\\" + name;
}

using Message = std::pair<UINT, std::uint32_t>;

// What the stand-in dialog was told, and how it answers.
struct DialogRecord {
    std::vector<Message> notices;  // posted messages, in order
    std::vector<Message> sent;     // kMsgLeavingExtraction, which the worker sends
    std::vector<Message> calls;    // kMsgReportError and kMsgShowMessageFile
    std::u16string reportText;     // text argument of the last error report
    BYTE okOnly = 0xFF;
    std::u16string messageSupportFolder;
    bool settingsPresentAtMessage = false;
    INT_PTR reportAnswer = IDNO;
    INT_PTR messageAnswer = 1;
    UINT cancelOn = 0;  // cancel the job when this message arrives
    ExtractionJob* job = nullptr;
    bool done = false;
};

DialogRecord* gRecord = nullptr;

LRESULT CALLBACK TestDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message < kMsgReportError || message > kMsgWorkerDone || !gRecord) {
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    DialogRecord& record = *gRecord;
    const Message entry(message, static_cast<std::uint32_t>(wParam));
    LRESULT answer = 0;
    if (message == kMsgReportError) {
        record.calls.push_back(entry);
        record.reportText = lParam ? FromWide(reinterpret_cast<const wchar_t*>(lParam)) : u"";
        answer = record.reportAnswer;
    } else if (message == kMsgShowMessageFile) {
        record.calls.push_back(entry);
        const auto* data = reinterpret_cast<const PreExecutionMessageRecord*>(lParam);
        record.okOnly = data->okOnly;
        record.messageSupportFolder = FromWide(data->supportFolder);
        record.settingsPresentAtMessage =
            !ReadBytes(record.messageSupportFolder + u"Settings.ini").empty();
        answer = record.messageAnswer;
    } else if (::InSendMessage()) {
        // A sent message overtakes what was posted before it.
        record.sent.push_back(entry);
    } else {
        record.notices.push_back(entry);
        if (message == kMsgWorkerDone) record.done = true;
    }
    if (message == record.cancelOn && record.job) record.job->Cancel();
    return answer;
}

class ExtractionJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(kResultOk, InitializeExtractionSlot());
        temp = folder / u"Temp\\";
        ASSERT_TRUE(::CreateDirectoryW(Wide(temp), nullptr));
        tempOverride = std::make_unique<testing::TemporaryFolderOverride>(temp);
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = TestDialogProc;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"QuarryTestDialog";
        ::RegisterClassW(&windowClass);
        window = ::CreateWindowExW(0, L"QuarryTestDialog", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                   nullptr, ::GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(nullptr, window);
        gRecord = &record;
    }
    void TearDown() override {
        gRecord = nullptr;
        ::DestroyWindow(window);
        tempOverride.reset();
    }

    std::u16string WorkRoot() const { return temp + u"QuarryTool"; }

    // A copy of a test package in the scratch folder, so that folders made
    // beside the program file land there.
    std::u16string Package(const std::u16string& name) {
        const std::u16string path = folder / name;
        EXPECT_TRUE(::CopyFileW(Wide(TestData(name)), Wide(path), FALSE));
        return path;
    }

    // Runs the job's worker against the test window until it is done.
    void RunWithDialog(ExtractionJob& job) {
        record.job = &job;
        ASSERT_EQ(kResultOk, job.Start());
        const DWORD deadline = ::GetTickCount() + 60000;
        while (!record.done && static_cast<int>(deadline - ::GetTickCount()) > 0) {
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        }
        ASSERT_TRUE(record.done) << "the worker did not finish";
        EXPECT_EQ(0u, job.Stop());
    }

    // Run folders (braced GUIDs) left in the work root.
    int RunFoldersLeft() const {
        int count = 0;
        WIN32_FIND_DATAW data;
        HANDLE find = ::FindFirstFileW(Wide(WorkRoot() + u"\\{*"), &data);
        if (find == INVALID_HANDLE_VALUE) return 0;
        do {
            ++count;
        } while (::FindNextFileW(find, &data));
        ::FindClose(find);
        return count;
    }

    ScratchFolder folder;
    std::u16string temp;
    std::unique_ptr<testing::TemporaryFolderOverride> tempOverride;
    HWND window = nullptr;
    DialogRecord record;
};

// A program stand-in with a package of one main-group entry of 100 bytes.
std::vector<std::uint8_t> ImageWithMainGroup(const std::u16string& entryName) {
    testing::PackageBuilder builder;
    builder.AddGroup(kMainGroupName)
        .Add(entryName, testing::Utf16WithBom(u"[Package]\r\n" + std::u16string(39, u' ')));
    return builder.Image();
}

const std::vector<Message> kSuccessNotices = {
    {kMsgPackageOpened, 0}, {kMsgExtractionBegins, 0}, {kMsgExtractionDone, 0},
    {kMsgCleanupBegins, 1}, {kMsgWorkerDone, 1}};
const std::vector<Message> kLeftWithSuccess = {{kMsgLeavingExtraction, 0}};

TEST_F(ExtractionJobTest, ExtractsIntoThePackageFolderOfAFreshWorkFolder) {
    ExtractionJob job(nullptr, Options(Package(u"basic.exe")));
    ASSERT_EQ(kResultOk, job.Extract());

    EXPECT_EQ(0u, job.WorkFolder().find(WorkRoot() + u"\\{"));
    EXPECT_EQ(WorkRoot().size() + 1 + 38 + 1, job.WorkFolder().size());
    EXPECT_EQ(job.WorkFolder() + u"Support\\", job.SupportFolder());
    EXPECT_EQ(job.WorkFolder() + u"Package\\", job.RunFolder());
    EXPECT_TRUE(job.ExtractFolder().empty());
    EXPECT_EQ(u"Workflow Test", job.Settings().ProductName);
    EXPECT_FALSE(ReadBytes(job.SupportFolder() + u"Settings.ini").empty());
    for (const char16_t* file : {u"setup.cmd", u"sub\\deeper\\data.txt", u"sub\\blob.bin"}) {
        EXPECT_EQ(ReadBytes(TestData(u"src\\payload\\") + file), ReadBytes(job.RunFolder() + file))
            << Utf16ToUtf8(file);
    }

    job.Cleanup(false);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(job.WorkFolder())));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(WorkRoot())));
}

TEST_F(ExtractionJobTest, RunWithoutDialogCleansUpAfterItself) {
    ExtractionJob job(nullptr, Options(Package(u"basic.exe")));
    EXPECT_EQ(kResultOk, job.Run());
    EXPECT_EQ(0, RunFoldersLeft());
    EXPECT_EQ(0u, ExtractThreadProc(&job));
    EXPECT_EQ(static_cast<DWORD>(kResultInvalidArg), ExtractThreadProc(nullptr));
}

TEST_F(ExtractionJobTest, TellsTheDialogEveryStageOfASuccessfulRun) {
    ExtractionJob job(window, Options(Package(u"basic.exe")));
    RunWithDialog(job);
    EXPECT_EQ(kSuccessNotices, record.notices);
    EXPECT_EQ(kLeftWithSuccess, record.sent);
    EXPECT_TRUE(record.calls.empty());
    EXPECT_EQ(0, RunFoldersLeft());
}

TEST_F(ExtractionJobTest, PackageWithoutPayloadSucceeds) {
    ExtractionJob job(window, Options(Package(u"nopayload.exe")));
    RunWithDialog(job);
    EXPECT_EQ(kSuccessNotices, record.notices);
}

TEST_F(ExtractionJobTest, ReportsFailuresOnceWithTheCodeTheDialogKnows) {
    struct Case {
        std::vector<std::uint8_t> image;
        std::uint32_t phaseResult;
        std::uint32_t reported;
        bool opened;
    };
    // A program file without a package: the reader's own code is reported.
    std::vector<std::uint8_t> plain(4096, 0);
    plain[0] = 'M';
    plain[1] = 'Z';
    // A package whose main group has no Settings.ini, and one whose
    // settings data are cut short: platform codes, reported as generic.
    const std::vector<std::uint8_t> noSettings = ImageWithMainGroup(u"MessageInfo.xml");
    std::vector<std::uint8_t> cutSettings = ImageWithMainGroup(u"Settings.ini");
    cutSettings.resize(cutSettings.size() - 16 - 10);  // past the trailer, into the data
    const Case cases[] = {
        {plain, 0x80040006u, 0x80040006u, false},
        {noSettings, 0x80070002u, 0x80040005u, true},
        {cutSettings, 0x8007001Eu, 0x80040005u, true},
    };
    for (const Case& c : cases) {
        record = DialogRecord();
        ASSERT_TRUE(WriteBytes(folder / u"failing.exe", c.image));
        ExtractionJob job(window, Options(folder / u"failing.exe"));
        RunWithDialog(job);
        std::vector<Message> expected;
        if (c.opened) expected.push_back({kMsgPackageOpened, 0});
        expected.insert(expected.end(), {{kMsgExtractionDone, c.phaseResult},
                                         {kMsgCleanupBegins, c.phaseResult},
                                         {kMsgWorkerDone, c.phaseResult}});
        EXPECT_EQ(expected, record.notices);
        EXPECT_EQ((std::vector<Message>{{kMsgLeavingExtraction, c.phaseResult}}), record.sent);
        EXPECT_EQ((std::vector<Message>{{kMsgReportError, c.reported}}), record.calls);
        EXPECT_EQ(0, RunFoldersLeft());
    }
}

TEST_F(ExtractionJobTest, CancelAtEachStageEndsWithoutAnErrorReport) {
    const std::uint32_t cancelled = 0x80040002u;
    struct Case {
        UINT cancelOn;
        std::vector<Message> notices;
        std::vector<Message> sent;
    };
    const Case cases[] = {
        {kMsgPackageOpened,
         {{kMsgPackageOpened, 0}, {kMsgExtractionBegins, 0}, {kMsgExtractionDone, cancelled},
          {kMsgCleanupBegins, cancelled}, {kMsgWorkerDone, cancelled}},
         {{kMsgLeavingExtraction, cancelled}}},
        {kMsgExtractionBegins,
         {{kMsgPackageOpened, 0}, {kMsgExtractionBegins, 0}, {kMsgExtractionDone, cancelled},
          {kMsgCleanupBegins, cancelled}, {kMsgWorkerDone, cancelled}},
         {{kMsgLeavingExtraction, cancelled}}},
        // After the extraction phase the hand-over is skipped altogether;
        // nothing was started yet, so the code is the same cancel's.
        {kMsgExtractionDone,
         {{kMsgPackageOpened, 0}, {kMsgExtractionBegins, 0}, {kMsgExtractionDone, 0},
          {kMsgCleanupBegins, cancelled}, {kMsgWorkerDone, cancelled}},
         {}},
    };
    for (const Case& c : cases) {
        record = DialogRecord();
        record.cancelOn = c.cancelOn;
        ExtractionJob job(window, Options(Package(u"basic.exe")));
        RunWithDialog(job);
        EXPECT_EQ(c.notices, record.notices) << std::hex << c.cancelOn;
        EXPECT_EQ(c.sent, record.sent) << std::hex << c.cancelOn;
        EXPECT_TRUE(record.calls.empty());
        EXPECT_EQ(0, RunFoldersLeft());
    }
}

TEST_F(ExtractionJobTest, PreExecutionMessageDecidesWhetherToGoOn) {
    for (bool silent : {false, true}) {
        for (INT_PTR answer : {INT_PTR(1), INT_PTR(IDCANCEL)}) {
            record = DialogRecord();
            record.messageAnswer = answer;
            ExtractionJob job(window, Options(Package(u"message.exe"), silent));
            RunWithDialog(job);
            ASSERT_EQ((std::vector<Message>{{kMsgShowMessageFile, 0}}), record.calls);
            EXPECT_EQ(1, record.okOnly);
            EXPECT_EQ(job.SupportFolder(), record.messageSupportFolder);
            EXPECT_TRUE(record.settingsPresentAtMessage);
            const std::uint32_t final = answer == 1 ? 1u : 0x80040002u;
            ASSERT_EQ(5u, record.notices.size());
            EXPECT_EQ(kLeftWithSuccess, record.sent);
            EXPECT_EQ(Message(kMsgCleanupBegins, final), record.notices[3]);
            EXPECT_EQ(Message(kMsgWorkerDone, final), record.notices[4]);
            EXPECT_EQ(0, RunFoldersLeft());
        }
    }
}

class UpdateModeKey {
public:
    explicit UpdateModeKey(DWORD silentExecution) {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS,
                  ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Norvik Corporation\\Tervo update",
                                    0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
        ::RegSetValueExW(key, L"SilentExecution", 0, REG_DWORD,
                         reinterpret_cast<const BYTE*>(&silentExecution), sizeof silentExecution);
        ::RegCloseKey(key);
    }
    ~UpdateModeKey() {
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Norvik Corporation\\Tervo update");
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Norvik Corporation");
    }
};

TEST_F(ExtractionJobTest, UpdateModeRegistryDecidesThePreExecutionMessage) {
    EXPECT_FALSE(ReadSilentExecutionFlag());
    EXPECT_FALSE(ReadLaunchInstallerFlag());
    struct Case {
        DWORD silentExecution;
        bool silent;
        bool shown;
    };
    const Case cases[] = {{1, false, false}, {1, true, true}, {2, false, true}, {2, true, false}};
    for (const Case& c : cases) {
        UpdateModeKey key(c.silentExecution);
        EXPECT_EQ(c.silentExecution == 1, ReadSilentExecutionFlag());
        record = DialogRecord();
        ExtractionJob job(window, Options(Package(u"tervo.exe"), c.silent));
        RunWithDialog(job);
        EXPECT_EQ(c.shown ? 1u : 0u, record.calls.size())
            << c.silentExecution << " silent " << c.silent;
    }
    EXPECT_FALSE(ReadSilentExecutionFlag());
}

TEST_F(ExtractionJobTest, ExtractFolderBesideTheProgramSurvivesAndIsMadeUnique) {
    ExtractionJob first(window, Options(Package(u"extract.exe")));
    RunWithDialog(first);
    EXPECT_EQ(kSuccessNotices, record.notices);
    EXPECT_EQ(folder / u"Extracted", first.ExtractFolder());
    EXPECT_EQ(first.ExtractFolder() + u"\\", first.RunFolder());
    EXPECT_EQ(ReadBytes(TestData(u"src\\payload\\sub\\blob.bin")),
              ReadBytes(folder / u"Extracted\\sub\\blob.bin"));
    EXPECT_EQ(0, RunFoldersLeft());

    record = DialogRecord();
    ExtractionJob second(window, Options(first.Options().programPath));
    RunWithDialog(second);
    EXPECT_EQ(kSuccessNotices, record.notices);
    EXPECT_NE(first.ExtractFolder(), second.ExtractFolder());
    EXPECT_FALSE(ReadBytes(second.ExtractFolder() + u"\\setup.cmd").empty());
    EXPECT_FALSE(ReadBytes(first.ExtractFolder() + u"\\setup.cmd").empty());
}

// Files kept in the work folder are nothing for the user to see: no folder
// is opened (not the root of the current drive), and none when the package
// says no.
TEST_F(ExtractionJobTest, OpensNoFolderWithoutAnExtractFolderOrWhenTheSettingSaysNo) {
    ExtractionJob job(window, JobOptions());
    ASSERT_TRUE(job.Settings().OpenExtractFolder);
    EXPECT_EQ(kResultNothingRun, job.ShowExtractFolder());
    JobInternals::ExtractFolder(job) = folder / u"Extracted";
    JobInternals::Package(job).settings.OpenExtractFolder = false;
    EXPECT_EQ(kResultNothingRun, job.ShowExtractFolder());
}

TEST_F(ExtractionJobTest, ExtractFolderIsNamedAfterTheProgramWithoutAName) {
    ExtractionJob job(nullptr, Options(Package(u"Setup.exe")));
    ASSERT_EQ(kResultOk, job.Extract());
    EXPECT_EQ(folder / u"Setup", job.ExtractFolder());
    job.Cleanup(false);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(folder / u"Setup")));
}

TEST_F(ExtractionJobTest, UnknownParentFolderTypeCreatesNothing) {
    ExtractionJob job(window, Options(Package(u"badparent.exe")));
    RunWithDialog(job);
    EXPECT_EQ((std::vector<Message>{{kMsgReportError, 0x8004000Fu}}), record.calls);
    const std::uint32_t failed = 0x8004000Fu;
    EXPECT_EQ((std::vector<Message>{{kMsgPackageOpened, 0}, {kMsgExtractionDone, failed},
                                    {kMsgCleanupBegins, failed}, {kMsgWorkerDone, failed}}),
              record.notices);
    EXPECT_TRUE(job.ExtractFolder().empty());
    EXPECT_EQ(0, RunFoldersLeft());
}

std::uint64_t gFakeFreeBytes = 0;

BOOL WINAPI FakeDiskFreeSpace(LPCWSTR, PULARGE_INTEGER available, PULARGE_INTEGER total,
                              PULARGE_INTEGER free) {
    available->QuadPart = gFakeFreeBytes;
    if (total) total->QuadPart = gFakeFreeBytes;
    if (free) free->QuadPart = gFakeFreeBytes;
    return TRUE;
}

// A disk with `freeBytes` free, for a job's free-space query.
DiskFreeSpaceFn FakeDisk(std::uint64_t freeBytes) {
    gFakeFreeBytes = freeBytes;
    return FakeDiskFreeSpace;
}

TEST_F(ExtractionJobTest, WorkRootNeedsProgramPayloadAndMarginStrictlyBelowFreeSpace) {
    const std::u16string program = Package(u"basic.exe");
    ExtractionJob probe(nullptr, Options(program));
    ASSERT_EQ(kResultOk, probe.Extract());
    const std::uint64_t required = GetFileSize64(program) + 0x1400000 +
                                   static_cast<std::uint64_t>(probe.Settings().TotalFileSize);
    ASSERT_GT(probe.Settings().TotalFileSize, 0);
    probe.Cleanup(false);

    struct Case {
        std::uint64_t freeBytes;
        INT_PTR answer;
        std::uint32_t final;
        std::size_t questions;
    };
    const Case cases[] = {{required + 1, IDNO, 1, 0},
                          {required, IDNO, 0x8004000Eu, 1},
                          {required, IDYES, 1, 1}};
    for (const Case& c : cases) {
        record = DialogRecord();
        record.reportAnswer = c.answer;
        JobOptions options = Options(program);
        options.diskFreeSpace = FakeDisk(c.freeBytes);
        ExtractionJob job(window, std::move(options));
        RunWithDialog(job);
        ASSERT_EQ(c.questions, record.calls.size()) << c.freeBytes;
        if (c.questions) {
            EXPECT_EQ(Message(kMsgReportError, 0x8004000Eu), record.calls[0]);
            EXPECT_EQ(DriveText(WorkRoot()), record.reportText);
            EXPECT_FALSE(record.reportText.empty());
        }
        EXPECT_EQ(Message(kMsgWorkerDone, c.final), record.notices.back());
        EXPECT_EQ(0, RunFoldersLeft());
    }
}

TEST_F(ExtractionJobTest, PackageWithoutPayloadNeedsOnlyProgramAndMargin) {
    const std::u16string program = Package(u"nopayload.exe");
    JobOptions options = Options(program);
    options.diskFreeSpace = FakeDisk(GetFileSize64(program) + 0x1400000 + 1);
    ExtractionJob job(window, std::move(options));
    RunWithDialog(job);
    EXPECT_TRUE(record.calls.empty());
    EXPECT_EQ(kSuccessNotices, record.notices);
}

TEST_F(ExtractionJobTest, CancelWhileAQuestionIsPendingIsNotAYes) {
    record.reportAnswer = IDYES;
    record.cancelOn = kMsgReportError;
    JobOptions options = Options(Package(u"basic.exe"));
    options.diskFreeSpace = FakeDisk(0);
    ExtractionJob job(window, std::move(options));
    RunWithDialog(job);
    // The answer Yes came too late: the question counts as refused, and the
    // failure, already shown, is not reported a second time.
    EXPECT_EQ((std::vector<Message>{{kMsgReportError, 0x8004000Eu}}), record.calls);
    EXPECT_EQ(Message(kMsgWorkerDone, 0x8004000Eu), record.notices.back());
    EXPECT_EQ(0, RunFoldersLeft());
}

TEST_F(ExtractionJobTest, FailureAfterTheExtractFolderWasMadeRemovesItToo) {
    // Damage the cabinet inside a copy of the package.
    std::vector<std::uint8_t> image = ReadBytes(TestData(u"extract.exe"));
    MemorySource source(image.data(), image.size());
    std::uint64_t packageOffset = 0;
    PackageHeader header;
    PackageDirectory directory;
    std::uint64_t dataStart = 0;
    ASSERT_EQ(kResultOk, ReadHeader(source, packageOffset, header));
    ASSERT_EQ(kResultOk, ReadDirectory(source, header, directory, dataStart));
    const PackageEntry& cabinet = directory.groups[0].entries[1];
    ASSERT_EQ(std::u16string(kCabinetEntryName), cabinet.name);
    for (std::uint64_t i = 40; i < cabinet.size; i += 7) image[cabinet.offset + i] ^= 0x5A;
    ASSERT_TRUE(WriteBytes(folder / u"damaged.exe", image));

    ExtractionJob job(window, Options(folder / u"damaged.exe"));
    RunWithDialog(job);
    EXPECT_EQ((std::vector<Message>{{kMsgReportError, 0x80040006u}}), record.calls);
    EXPECT_EQ(folder / u"Extracted", job.ExtractFolder());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(Wide(job.ExtractFolder())));
    EXPECT_EQ(0, RunFoldersLeft());
}

std::u16string LinkData(const std::u16string& name) {
    return TestData(u"links\\" + name);
}

bool Exists(const std::u16string& path) {
    return ::GetFileAttributesW(Wide(path)) != INVALID_FILE_ATTRIBUTES;
}

// A work root that is a symbolic link to another folder is not used: the
// run makes a fresh root of its own beside it, and writes nothing where the
// link points.
TEST_F(ExtractionJobTest, WorkRootThatIsALinkIsNotUsedAndNothingIsWrittenThere) {
    QUARRY_SKIP_WITHOUT_PREPARED_LINKS();
    std::u16string linkedTemp = LinkData(u"root\\Temp\\");
    std::u16string elsewhere = LinkData(u"root\\elsewhere");
    if (!testing::RunsUnderWine()) {
        linkedTemp = folder / u"LinkedTemp\\";
        elsewhere = folder / u"elsewhere";
        ASSERT_TRUE(::CreateDirectoryW(Wide(linkedTemp), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(Wide(elsewhere), nullptr));
        if (!testing::PlantLink(linkedTemp + u"QuarryTool", elsewhere, true, u"")) {
            GTEST_SKIP() << "no symbolic link could be made: needs the privilege or developer mode";
        }
    }
    ASSERT_TRUE(testing::IsReparsePoint(linkedTemp + u"QuarryTool"));
    testing::TemporaryFolderOverride linked(linkedTemp);

    ExtractionJob job(nullptr, Options(Package(u"basic.exe")));
    ASSERT_EQ(kResultOk, job.Extract());
    // QuarryTool.{GUID}\{GUID}\: a root of the run's own beside the link.
    EXPECT_EQ(0u, job.WorkFolder().find(linkedTemp + u"QuarryTool.{")) << Utf16ToUtf8(job.WorkFolder());
    EXPECT_TRUE(Exists(job.RunFolder() + u"setup.cmd"));
    job.Cleanup(false);
    EXPECT_FALSE(Exists(job.WorkFolder()));
    // Only "." and ".." where the link points.
    int entries = 0;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW(Wide(elsewhere + u"\\*"), &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    do {
        ++entries;
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    EXPECT_EQ(2, entries) << "written where the link points";
}

// From its creation to the cleanup the work folder cannot be renamed away
// (and another put in its place): the run holds it open.
TEST_F(ExtractionJobTest, WorkFolderCannotBeRenamedWhileTheRunHoldsIt) {
    QUARRY_SKIP_UNDER_WINE("Wine renames a folder another handle holds without sharing deletion");
    ExtractionJob job(nullptr, Options(Package(u"basic.exe")));
    ASSERT_EQ(kResultOk, job.Extract());
    const std::u16string work = job.WorkFolder().substr(0, job.WorkFolder().size() - 1);
    EXPECT_FALSE(::MoveFileW(Wide(work), Wide(work + u".moved")));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), ::GetLastError());
    job.Cleanup(false);
    EXPECT_FALSE(Exists(work));
    EXPECT_FALSE(Exists(work + u".moved"));
}

// A folder of the extracted tree replaced during the run by a symbolic link
// to a folder of the user's: the cleanup neither unlocks nor deletes through
// it, and the user's folder and files are still there afterwards.
TEST_F(ExtractionJobTest, FolderReplacedByALinkDuringTheRunIsNotFollowedByTheCleanup) {
    QUARRY_SKIP_WITHOUT_PREPARED_LINKS();
    std::u16string runTemp = LinkData(u"run\\Temp\\");
    std::u16string user = LinkData(u"run\\user");
    if (!testing::RunsUnderWine()) {
        // The link is made where the run is; under Wine the prepared one is
        // moved there, which needs the run on the same file system.
        runTemp = temp;
        user = folder / u"user";
        ASSERT_TRUE(::CreateDirectoryW(Wide(user), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(Wide(user + u"\\inner"), nullptr));
        ASSERT_TRUE(WriteBytes(user + u"\\mine.txt", {'m'}));
        ASSERT_TRUE(WriteBytes(user + u"\\inner\\deep.txt", {'d'}));
    }
    testing::TemporaryFolderOverride runHere(runTemp);

    ExtractionJob job(nullptr, Options(Package(u"basic.exe")));
    ASSERT_EQ(kResultOk, job.Extract());
    const std::u16string replaced = job.RunFolder() + u"sub\\deeper";
    ASSERT_TRUE(Exists(replaced + u"\\data.txt"));
    if (testing::RunsUnderWine()) {
        // Wine renames what a link points at rather than the link: the
        // prepared link comes in a real folder put in place of "sub".
        testing::RemoveTree(job.RunFolder() + u"sub");
        ASSERT_TRUE(::MoveFileW(Wide(LinkData(u"run\\slot")), Wide(job.RunFolder() + u"sub")))
            << "the prepared link is gone: make-packages.sh makes it";
    } else {
        testing::RemoveTree(replaced);
        if (!testing::PlantLink(replaced, user, true, u"")) {
            GTEST_SKIP() << "no symbolic link could be made: needs the privilege or developer mode";
        }
    }
    ASSERT_TRUE(testing::IsReparsePoint(replaced));
    ASSERT_TRUE(Exists(replaced + u"\\mine.txt"));

    job.Cleanup(true);
    EXPECT_TRUE(Exists(user + u"\\mine.txt"));
    EXPECT_TRUE(Exists(user + u"\\inner\\deep.txt"));
    EXPECT_FALSE(Exists(job.RunFolder() + u"setup.cmd"));
    // Windows removes the link itself; Wine can only leave it, and with it
    // the folders above.
    if (!testing::RunsUnderWine()) EXPECT_FALSE(Exists(job.WorkFolder()));
}

// Every list reads as one that lets Users write, through inheritance: the
// lock has someone to deny, and without the tree reset cannot.
DWORD WINAPI ReadUsersMayWrite(LPCWSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID* owner, PSID*,
                               PACL* dacl, PACL*, PSECURITY_DESCRIPTOR* descriptor) {
    return testing::SecurityFromSddl(L"O:BAD:(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BU)", owner, dacl,
                                     descriptor);
}
TreeResetNamedSecurityInfoFn FindNoTreeReset() { return nullptr; }

// A tree others could still change stops a run that is elevated or runs as
// SYSTEM, or that would start its file elevated, before anything is started
// (0x8004000D); any other run goes on, guarded by the integrity check.
TEST_F(ExtractionJobTest, TreeThatCannotBeLockedStopsOnlyAnElevatedOrSystemRun) {
    struct Case {
        const char16_t* package;
        bool (*privileged)();
        HResult expected;
    };
    const Case cases[] = {{u"basic.exe", [] { return true; }, kResultTreeNotLocked},
                          {u"basic.exe", [] { return false; }, kResultOk},
                          {u"elevated.exe", [] { return false; }, kResultTreeNotLocked}};
    for (const Case& c : cases) {
        JobOptions options = Options(Package(c.package));
        options.runIsPrivileged = c.privileged;
        options.accessControl.readSecurity = ReadUsersMayWrite;
        options.accessControl.findTreeReset = FindNoTreeReset;
        ExtractionJob job(nullptr, std::move(options));
        EXPECT_EQ(c.expected, job.Extract());
        EXPECT_EQ(0x8004000Du, static_cast<std::uint32_t>(kResultTreeNotLocked));
        if (Failed(c.expected)) EXPECT_FALSE(Exists(job.WorkFolder()));
        job.Cleanup(false);
    }
}

// Execute on a job whose folders and settings are set by hand, without a
// package. Both execution sections name the file, so the processor of the
// test machine does not matter.
class ExecuteTest : public ExtractionJobTest {
protected:
    void SetUp() override {
        ExtractionJobTest::SetUp();
        MakeWorkFolder(u"{WORK}");
    }

    // A work folder with the settings copy and the file to run.
    void MakeWorkFolder(const std::u16string& name) {
        workFolder = folder / name + u"\\";
        for (const std::u16string& made :
             {workFolder, workFolder + u"Support\\", workFolder + u"Package\\"}) {
            ASSERT_TRUE(::CreateDirectoryW(Wide(made), nullptr));
        }
        ASSERT_TRUE(testing::WriteUtf16File(workFolder + u"Support\\Settings.ini", u"[Package]\r\n"));
        ASSERT_TRUE(WriteBytes(workFolder + u"Package\\setup.cmd", {'r', 'e', 'm'}));
        ASSERT_TRUE(::CreateDirectoryW(Wide(workFolder + u"Package\\sub"), nullptr));
    }

    // A job that would start setup.cmd with `options`; its own program file
    // (Options above) is missing, so a launch fails at the shell and starts
    // nothing.
    void Prepare(ExtractionJob& job, const std::u16string& fileName, const std::u16string& options) {
        JobInternals::WorkFolder(job) = workFolder;
        JobInternals::SupportFolder(job) = workFolder + u"Support\\";
        JobInternals::RunFolder(job) = workFolder + u"Package\\";
        PackageReader& package = JobInternals::Package(job);
        // setup.cmd as extraction records it: the file the launch holds and
        // checks by its fingerprint.
        package.destinationFolder = job.RunFolder();
        ExtractedFileRecord record{u"setup.cmd", 3};
        record.fingerprinted = true;
        Sha256 fingerprint;
        fingerprint.Update("rem", 3);
        record.digest = fingerprint.Finish();
        package.destinationFiles.push_back(record);
        for (ExecutionSettings* execution :
             {&package.settings.Execution_x86, &package.settings.Execution_x64}) {
            execution->FileName = fileName;
            execution->Options = options;
        }
    }

    // The messages the job posted to the stand-in dialog.
    std::vector<Message> Notices() {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        return record.notices;
    }

    bool TempExists() const {
        return ::GetFileAttributesW(Wide(workFolder + u"Temp")) != INVALID_FILE_ATTRIBUTES;
    }

    std::u16string workFolder;
};

TEST_F(ExecuteTest, RunsNothingWithoutTheFileOrTheSettingsCopy) {
    struct Case {
        const char* name;
        std::u16string fileName;
        const char16_t* removed;  // below the work folder, or null
    };
    const Case cases[] = {
        {"no file configured", u"", nullptr},
        {"settings copy missing", u"setup.cmd", u"Support\\Settings.ini"},
        {"file missing", u"setup.cmd", u"Package\\setup.cmd"},
        {"file is a folder", u"sub", nullptr},
    };
    int round = 0;
    for (const Case& c : cases) {
        MakeWorkFolder(u"{WORK" + testing::Utf16(std::to_string(++round)) + u"}");
        record = DialogRecord();
        if (c.removed) {
            ASSERT_TRUE(::DeleteFileW(Wide(workFolder + c.removed)));
        }
        ExtractionJob job(window, Options(folder / u"missing.exe"));
        Prepare(job, c.fileName, u"%QUARRYTOOLTEMP%");
        EXPECT_EQ(kResultNothingRun, job.Execute(u"")) << c.name;
        EXPECT_TRUE(Notices().empty()) << c.name;
        EXPECT_FALSE(TempExists()) << c.name;
    }
}

TEST_F(ExecuteTest, MakesTheTempFolderOnlyWhenItsPlaceholderIsUsed) {
    for (const std::u16string options : {u"/a %QUARRYTOOLROOT%", u"/t=%QUARRYTOOLTEMP%"}) {
        record = DialogRecord();
        ExtractionJob job(window, Options(folder / u"missing.exe"));
        Prepare(job, u"setup.cmd", options);
        const HResult result = job.Execute(u"");
        EXPECT_EQ(kResultFileNotFound, result);
        EXPECT_EQ((std::vector<Message>{{kMsgLaunching, 0},
                                        {kMsgLaunchEnded, static_cast<std::uint32_t>(result)}}),
                  Notices());
        EXPECT_EQ(options.find(u"TEMP") != std::u16string::npos, TempExists())
            << Utf16ToUtf8(options);
    }
}

TEST_F(ExecuteTest, TempFolderThatCannotBeMadeLaunchesNothing) {
    ExtractionJob job(window, Options(folder / u"missing.exe"));
    Prepare(job, u"setup.cmd", u"%QUARRYTOOLTEMP%");
    JobInternals::WorkFolder(job) = folder / u"missing\\{WORK}\\";
    EXPECT_EQ(kResultFolderNotCreated, job.Execute(u""));
    EXPECT_TRUE(Notices().empty());
}

// A cancel or a close that reaches the dialog after the pause before the
// launch, while the file is still being checked, is one before the launch:
// nothing is started and the run ends with the cancel's code.
TEST_F(ExecuteTest, CancelAfterThePauseStartsNothing) {
    ExtractionJob job(window, Options(folder / u"missing.exe"));
    Prepare(job, u"setup.cmd", u"");
    job.Cancel();
    EXPECT_EQ(kResultCancelledByUser, job.Execute(u""));
    EXPECT_TRUE(Notices().empty()) << "nothing is launched";
}

}  // namespace
}  // namespace quarry
