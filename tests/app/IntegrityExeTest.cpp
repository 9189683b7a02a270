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
        ScratchFolder temp;
        testing::TemporaryFolderOverride useTemp(temp.Path());
        const std::u16string program = folder / u"Setup.exe";
        ASSERT_TRUE(::CopyFileW(
            Wide(testing::WindowsPathOf(std::string(QUARRY_TEST_DATA) + "/ui/changing.exe")),
            Wide(program), FALSE));
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

}  // namespace
}  // namespace quarry
