// The integrity check through the packed program under Wine: a file of the
// extracted tree changed while the run is under way. The package extracts a
// small file and then a large one into "Changed" beside the program; a
// thread of this test appends to the small file as soon as the large one
// appears, before the check that follows the expansion.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/ProgramDriver.h"
#include "common/Result.h"
#include "common/Text.h"
#include "common/Unique.h"
#include "common/WinTestSupport.h"

namespace quarry {
namespace {

using testing::ProgramDriver;
using testing::ScratchFolder;

constexpr DWORD kChangedText = 0x80040110;  // a changed file of no ranked extension

bool Exists(const std::u16string& path) {
    return ::GetFileAttributesW(Wide(path)) != INVALID_FILE_ATTRIBUTES;
}

// Appends a line to `target` once `trigger` exists; true when it did.
class ChangeWhenWritten {
public:
    ChangeWhenWritten(std::u16string trigger, std::u16string target)
        : thread_([this, trigger, target] {
              for (int i = 0; i < 30000 && !stop_; ++i) {
                  if (!Exists(trigger)) {
                      ::Sleep(1);
                      continue;
                  }
                  UniqueFile file(::CreateFileW(Wide(target), FILE_APPEND_DATA,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
                  DWORD written = 0;
                  changed_ = file && ::WriteFile(file.Get(), "changed\r\n", 9, &written, nullptr);
                  return;
              }
          }) {}
    ~ChangeWhenWritten() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    bool Changed() {
        if (thread_.joinable()) thread_.join();
        return changed_;
    }

private:
    std::atomic<bool> stop_{false};
    bool changed_ = false;
    std::thread thread_;
};

// Copies the test package `name` of testdata/ui to `program`.
bool CopyPackage(const char* name, const std::u16string& program) {
    const std::string source = std::string(QUARRY_TEST_DATA) + "/ui/" + name;
    return ::CopyFileW(Wide(testing::WindowsPathOf(source)), Wide(program), FALSE) != FALSE;
}

// The one extracted-files log below `folder`, as text without its byte-order
// mark; empty when there is none.
std::u16string ReadOnlyLog(const std::u16string& folder) {
    WIN32_FIND_DATAW found;
    UniqueFind search(::FindFirstFileW(Wide(folder + u"\\QuarryTool\\ExtractedFiles_*.log"),
                                       &found));
    if (!search) return {};
    const std::vector<std::uint8_t> bytes =
        testing::ReadBytes(folder + u"\\QuarryTool\\" + FromWide(found.cFileName));
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) return u"(no byte-order mark)";
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        text += static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
    }
    return text;
}

TEST(IntegrityExe, AFileChangedDuringTheRunFailsTheRunOrIsAskedAbout) {
    if (testing::ExpectJapanese()) GTEST_SKIP() << "English texts expected";
    const struct Run {
        const char16_t* arguments;
        int answer;  // 0: silent, no question
        DWORD exitCode;
    } runs[] = {
        {u"-s", 0, kChangedText},
        {u"-cont", IDNO, kChangedText},
        {u"-cont", IDYES, 0},
    };
    for (const Run& run : runs) {
        SCOPED_TRACE(Utf16ToUtf8(run.arguments) + " " + std::to_string(run.answer));
        ScratchFolder folder;
        testing::ScratchTemporaryFolder temp;
        const std::u16string program = folder / u"Setup.exe";
        ASSERT_TRUE(CopyPackage("changing.exe", program));
        ChangeWhenWritten change(folder / u"Changed\\z-big.bin", folder / u"Changed\\a-first.txt");

        ProgramDriver driver(program, run.arguments);
        if (run.answer != 0) {
            const HWND box = driver.WaitForMessageBox();
            ASSERT_TRUE(box);
            EXPECT_NE(std::u16string::npos,
                      ProgramDriver::MessageText(box).find(u"Continue processing?"));
            ProgramDriver::Press(box, run.answer);
            const HWND dialog = driver.WaitForDialog();
            ASSERT_TRUE(dialog);
            EXPECT_EQ(run.exitCode,
                      driver.CloseWhenStatus(run.exitCode == 0 ? u"Completed." : u"Failed."));
        } else {
            EXPECT_EQ(run.exitCode, driver.WaitForExit());
        }
        ASSERT_TRUE(change.Changed());

        // One header, the block of the destination with the changed file.
        const std::u16string log = ReadOnlyLog(temp.Path());
        EXPECT_EQ(0u, log.find(u"Package:\t")) << Utf16ToUtf8(log);
        EXPECT_NE(std::u16string::npos, log.find(u"\r\nSignature:\tfalse\t\"\"\r\n"));
        EXPECT_NE(std::u16string::npos, log.find(u"ErrorCode:\t0x80040110\r\n"));
        EXPECT_NE(std::u16string::npos, log.find(u"a-first.txt"));
        EXPECT_EQ(std::u16string::npos, log.find(u"z-big.bin"));
        // A failed run removes what it extracted; a run that went on keeps it.
        EXPECT_EQ(run.exitCode == 0, Exists(folder / u"Changed\\z-big.bin"));
    }
}

// The file that starts is the file that was extracted: a same-size rewrite
// of it while the pre-execution message is shown (after the check of the
// tree) is caught before the launch, logged, and nothing runs.
TEST(IntegrityExe, TheStartedFileRewrittenAfterTheCheckIsNotStarted) {
    if (testing::ExpectJapanese()) GTEST_SKIP() << "English texts expected";
    ScratchFolder folder;
    testing::ScratchTemporaryFolder temp;
    const std::u16string program = folder / u"Setup.exe";
    ASSERT_TRUE(CopyPackage("run-message.exe", program));
    ProgramDriver driver(program, u"");
    const HWND message = driver.WaitForMessageBox();
    ASSERT_TRUE(message);

    // The run's one GUID folder below the work root holds the program.
    WIN32_FIND_DATAW found;
    UniqueFind search(::FindFirstFileW(Wide(temp.Path() + u"\\QuarryTool\\{*"), &found));
    ASSERT_TRUE(search);
    const std::u16string started =
        temp.Path() + u"\\QuarryTool\\" + FromWide(found.cFileName) + u"\\Package\\testprog.exe";
    std::vector<std::uint8_t> bytes = testing::ReadBytes(started);
    ASSERT_FALSE(bytes.empty());
    bytes[bytes.size() / 2] ^= 0x5A;
    ASSERT_TRUE(testing::WriteBytes(started, bytes));

    ProgramDriver::Press(message, IDOK);
    for (int i = 0; i < 400 && ::IsWindow(message); ++i) ::Sleep(25);
    const HWND error = driver.WaitForMessageBox();
    ASSERT_TRUE(error);
    EXPECT_NE(std::u16string::npos, ProgramDriver::MessageText(error).find(u"tampered"));
    ProgramDriver::Press(error, IDOK);
    ASSERT_TRUE(driver.WaitForDialog());
    EXPECT_EQ(0x8004011Fu, driver.CloseWhenStatus(u"Failed."));
    const std::u16string log = ReadOnlyLog(temp.Path());
    EXPECT_NE(std::u16string::npos, log.find(u"ErrorCode:\t0x8004011f\r\nChanged:\t0\ttestprog.exe\r\n"))
        << Utf16ToUtf8(log);
}

// The same while a later file is still being written, before the check of
// the tree: the rewritten script keeps its size, so only its content tells,
// and it does not run.
TEST(IntegrityExe, TheStartedFileRewrittenDuringTheExpansionIsNotStarted) {
    ScratchFolder folder;
    testing::ScratchTemporaryFolder temp;
    const std::u16string program = folder / u"Setup.exe";
    ASSERT_TRUE(CopyPackage("changing-run.exe", program));
    const std::u16string script = folder / u"Changed\\a-run.cmd";
    std::atomic<bool> rewritten{false};
    std::thread attacker([&] {
        for (int i = 0; i < 30000 && !Exists(folder / u"Changed\\z-big.bin"); ++i) ::Sleep(1);
        // The script is complete once the large file is begun.
        UniqueFile file(::CreateFileW(Wide(script), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        rewritten = file && ::WriteFile(file.Get(), "@exit /b 6\r\n", 12, &written, nullptr) &&
                    written == 12;
    });
    ProgramDriver driver(program, u"-s");
    const DWORD exitCode = driver.WaitForExit();
    attacker.join();
    ASSERT_TRUE(rewritten);
    EXPECT_EQ(0x80040110u, exitCode);
    EXPECT_NE(std::u16string::npos,
              ReadOnlyLog(temp.Path()).find(u"ErrorCode:\t0x80040110\r\nChanged:\t0\ta-run.cmd\r\n"));
}

// A package saved as ".exe" names no folder: it extracts into a folder of a
// fixed name that it makes, and a failed run (here a file changed during
// the expansion) removes that folder alone, never the user's files beside
// the package.
TEST(IntegrityExe, AFailingPackageNamedDotExeLeavesItsNeighboursAlone) {
    ScratchFolder folder;
    testing::ScratchTemporaryFolder temp;
    const std::u16string program = folder / u".exe";
    ASSERT_TRUE(CopyPackage("changing-unnamed.exe", program));
    ASSERT_TRUE(testing::WriteBytes(folder / u"letter.txt", {'h', 'i'}));
    ASSERT_TRUE(::CreateDirectoryW(Wide(folder / u"Photos"), nullptr));
    ASSERT_TRUE(testing::WriteBytes(folder / u"Photos\\one.jpg", {1, 2, 3}));

    ChangeWhenWritten change(folder / u"Package\\z-big.bin", folder / u"Package\\a-first.txt");
    ProgramDriver driver(program, u"-s");
    EXPECT_EQ(kChangedText, driver.WaitForExit());
    ASSERT_TRUE(change.Changed());
    EXPECT_TRUE(Exists(program));
    EXPECT_TRUE(Exists(folder / u"letter.txt"));
    EXPECT_TRUE(Exists(folder / u"Photos\\one.jpg"));
    EXPECT_FALSE(Exists(folder / u"Package"));
}

// An extract folder that is there already and that the shell cannot give a
// unique name (the path would pass MAX_PATH) is never taken over: the run
// fails with 0x8004000F and the folder keeps what it holds.
TEST(IntegrityExe, AnExtractFolderThatExistsAndCannotBeMadeUniqueIsNotUsed) {
    ScratchFolder folder;
    testing::ScratchTemporaryFolder temp;
    const std::u16string parent = folder / std::u16string(150, u'd') + u"\\";
    ASSERT_TRUE(::CreateDirectoryW(Wide(parent), nullptr));
    const std::u16string program = parent + u"Setup.exe";
    ASSERT_TRUE(CopyPackage("long-name.exe", program));
    const std::u16string existing = u"\\\\?\\" + parent + std::u16string(100, u'L');
    ASSERT_TRUE(::CreateDirectoryW(Wide(existing), nullptr));
    ASSERT_TRUE(testing::WriteBytes(existing + u"\\mine.txt", {'m'}));

    ProgramDriver driver(program, u"-s");
    EXPECT_EQ(static_cast<DWORD>(kResultFolderNotCreated), driver.WaitForExit());
    EXPECT_TRUE(Exists(existing + u"\\mine.txt"));
    ::DeleteFileW(Wide(existing + u"\\mine.txt"));
    ::RemoveDirectoryW(Wide(existing));
}

}  // namespace
}  // namespace quarry
