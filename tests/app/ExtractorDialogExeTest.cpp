// The packed program as a user and a deployment tool meet it: started as its
// own process, its windows found, read and pressed from this test.
#include <gtest/gtest.h>

#include <string>

#include "app/ProgramDriver.h"
#include "common/Text.h"
#include "common/WinTestSupport.h"

namespace quarry {
namespace {

using testing::ProgramDriver;

constexpr DWORD kNotEnoughSpace = 0x8004000E;
const char16_t kFrame[] = u"This package could not be deployed to this computer.\r\n";
const char16_t kQuestion[] = u"\n\nContinue processing?";

std::u16string Package(const char* name) {
    return testing::WindowsPathOf(std::string(QUARRY_TEST_DATA) + "/ui/" + name);
}

bool StartsWith(const std::u16string& text, const std::u16string& start) {
    return text.compare(0, start.size(), start) == 0;
}

bool EndsWith(const std::u16string& text, const std::u16string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The free-space report; answers it with `answer` and returns its text.
std::u16string AnswerSpaceReport(ProgramDriver& program, int answer) {
    const HWND box = program.WaitForMessageBox();
    if (!box) {
        ADD_FAILURE() << "no error report";
        return std::u16string();
    }
    const std::u16string text = ProgramDriver::MessageText(box);
    EXPECT_TRUE(StartsWith(text, kFrame));
    EXPECT_NE(text.find(u"(Code = 0x8004000e)"), std::u16string::npos);
    EXPECT_EQ(ProgramDriver::Caption(box), u"Quarry UI Test Window");
    ProgramDriver::Press(box, answer);
    for (int i = 0; i < 500 && ::IsWindow(box); ++i) ::Sleep(10);
    EXPECT_FALSE(::IsWindow(box));
    return text;
}

class ExtractorDialogExe : public ::testing::Test {
protected:
    void SetUp() override {
        if (testing::ExpectJapanese()) GTEST_SKIP() << "English texts expected";
    }
};

TEST_F(ExtractorDialogExe, SilentRunShowsNoWindowAndEndsWithTheResult) {
    ProgramDriver program(Package("basic.exe"), u"-s");
    // A hidden window without a taskbar button makes no taskbar list, whose
    // server is explorerframe.dll.
    bool taskbarList = false;
    while (program.Running() && !taskbarList) {
        taskbarList = program.HasLoaded(L"explorerframe.dll");
        ::Sleep(20);
    }
    EXPECT_FALSE(taskbarList);
    EXPECT_EQ(0u, program.WaitForExit());
    EXPECT_FALSE(program.SawVisibleWindow());

    ProgramDriver failing(Package("nospace.exe"), u"/s");
    EXPECT_EQ(kNotEnoughSpace, failing.WaitForExit());
    EXPECT_FALSE(failing.SawVisibleWindow());
}

TEST_F(ExtractorDialogExe, VisibleRunExtractsCompletesAndClosesWithZero) {
    ProgramDriver program(Package("basic.exe"), u"");
    const HWND dialog = program.WaitForDialog();
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(StartsWith(ProgramDriver::StatusText(dialog), u"Extracting files...") ||
                ProgramDriver::StatusText(dialog) == u"Completed.");
    ASSERT_TRUE(program.WaitForStatus(dialog, u"Completed."));
    EXPECT_TRUE(program.HasLoaded(L"explorerframe.dll")) << "the visible run's taskbar list";
    EXPECT_EQ(ProgramDriver::ButtonText(dialog), u"Close");
    EXPECT_EQ(ProgramDriver::Caption(dialog), u"Quarry UI Test Window");
    EXPECT_TRUE(::IsWindowVisible(dialog));
    // Close has the keyboard focus, so Escape ends the dialog.
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    ASSERT_TRUE(::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &thread));
    EXPECT_EQ(::GetDlgItem(dialog, IDCANCEL), thread.hwndFocus);
    ProgramDriver::Press(dialog, IDCANCEL);
    EXPECT_EQ(0u, program.WaitForExit());
}

TEST_F(ExtractorDialogExe, CancelWhileExtractingShowsCancelledAndEndsWithTheEndCode) {
    ProgramDriver program(Package("basic.exe"), u"");
    const HWND dialog = program.WaitForDialogShowing(u"Extracting files...");
    ASSERT_TRUE(dialog);
    EXPECT_EQ(ProgramDriver::ButtonText(dialog), u"Cancel");
    ProgramDriver::Press(dialog, IDCANCEL);
    ASSERT_TRUE(program.WaitForStatus(dialog, u"Cancelled."));
    EXPECT_TRUE(::IsWindow(dialog)) << "the dialog waits to be closed";
    EXPECT_EQ(ProgramDriver::ButtonText(dialog), u"Close");
    ProgramDriver::Press(dialog, IDCANCEL);
    EXPECT_EQ(0x80040002u, program.WaitForExit());
}

// Before the launch a close is a cancel: the worker stops, removes the work
// folder, and the process ends by itself with the cancel's code, visible or
// silent; never with 0.
TEST_F(ExtractorDialogExe, CloseWhileExtractingCancelsCleansUpAndEnds) {
    for (bool silent : {false, true}) {
        SCOPED_TRACE(silent ? "silent" : "visible");
        testing::ScratchTemporaryFolder temp;
        ProgramDriver program(Package("basic.exe"), silent ? u"-s" : u"");
        const HWND dialog = program.WaitForDialogShowing(u"Extracting files...");
        ASSERT_TRUE(dialog);
        ::PostMessageW(dialog, WM_CLOSE, 0, 0);
        EXPECT_EQ(0x80040002u, program.WaitForExit());
        EXPECT_TRUE(ProgramDriver::WorkFolderRemoved(temp.Path()));
    }
}

// A session that is ending asks first: the dialog agrees and cancels the run.
TEST_F(ExtractorDialogExe, SessionEndQueryCancelsTheRun) {
    ProgramDriver program(Package("basic.exe"), u"");
    const HWND dialog = program.WaitForDialogShowing(u"Extracting files...");
    ASSERT_TRUE(dialog);
    DWORD_PTR answer = FALSE;
    ASSERT_TRUE(::SendMessageTimeoutW(dialog, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP,
                                      SMTO_ABORTIFHUNG, 5000, &answer));
    EXPECT_EQ(DWORD_PTR{TRUE}, answer);
    ASSERT_TRUE(program.WaitForStatus(dialog, u"Cancelled."))
        << "status: " << Utf16ToUtf8(ProgramDriver::StatusText(dialog))
        << ", window: " << ::IsWindow(dialog) << ", running: " << program.Running();
    ProgramDriver::Press(dialog, IDCANCEL);
    EXPECT_EQ(0x80040002u, program.WaitForExit());
}

// A restriction failure is put as a question only while the debug switch is
// honoured: from the package's time stamp to the end of the sixth day after.
TEST_F(ExtractorDialogExe, DebugSwitchAsksOnlyInsideItsWindow) {
    const struct {
        const char* name;
        bool asks;
    } cases[] = {{"nospace.exe", true},         {"nospace-edge-in.exe", true},
                 {"nospace-old.exe", false},    {"nospace-future.exe", false},
                 {"nospace-edge-out.exe", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramDriver program(Package(c.name), u"-debug");
        const std::u16string text = AnswerSpaceReport(program, c.asks ? IDNO : IDOK);
        EXPECT_EQ(c.asks, EndsWith(text, kQuestion));
        // After No (or OK) no second box: the dialog shows its failed look.
        const HWND dialog = program.WaitForDialogShowing(u"Failed.");
        ASSERT_TRUE(dialog);
        EXPECT_EQ(nullptr, program.WaitForMessageBox(300));
        ProgramDriver::Press(dialog, IDCANCEL);
        EXPECT_EQ(kNotEnoughSpace, program.WaitForExit());
    }
}

TEST_F(ExtractorDialogExe, YesToTheQuestionKeepsGoing) {
    ProgramDriver program(Package("nospace.exe"), u"-debug");
    AnswerSpaceReport(program, IDYES);
    EXPECT_EQ(0u, program.CloseWhenStatus(u"Completed."));
}

// The folder browser asks for the parent of the extract folder; cancelling it
// cancels the run. A silent run takes the proposed folder without asking.
TEST_F(ExtractorDialogExe, FolderBrowserPromptsAndItsCancelEndsTheRun) {
    ProgramDriver program(Package("select.exe"), u"");
    const HWND browser = program.WaitForWindowContaining(u"Select the writable folder");
    ASSERT_TRUE(browser);
    const std::u16string prompt = u"Select the writable folder to extract for Quarry Folder "
                                  u"Selection Test Product Name 01234.... This package is extracted "
                                  u"\"Chosen\" folder in the selected folder. ";
    EXPECT_TRUE(program.WaitForWindowContaining(prompt, 1000));
    ProgramDriver::Press(browser, IDCANCEL);
    EXPECT_EQ(0x80040002u, program.CloseWhenStatus(u"Cancelled."));

    ProgramDriver silent(Package("select.exe"), u"-s");
    EXPECT_EQ(0u, silent.WaitForExit());
    EXPECT_FALSE(silent.SawVisibleWindow());
    const std::string chosen = std::string(QUARRY_TEST_DATA) + "/ui/Chosen/readme.txt";
    EXPECT_FALSE(testing::ReadBytes(testing::WindowsPathOf(chosen)).empty());
}

// The pre-execution message in the UI language of the run (this test also
// runs with Wine in Japanese).
class PreExecutionMessageExe : public ::testing::Test {};

HWND WaitForPreExecutionMessage(ProgramDriver& program, const std::u16string& caption,
                                const std::u16string& text) {
    const HWND box = program.WaitForMessageBox();
    if (!box) return nullptr;
    EXPECT_EQ(ProgramDriver::Caption(box), caption);
    EXPECT_EQ(ProgramDriver::MessageText(box), text);
    return box;
}

// The message of the plain file in the language of the run.
HWND WaitForLanguageMessage(ProgramDriver& program) {
    return testing::ExpectJapanese()
               ? WaitForPreExecutionMessage(program, u"日本語の題名", u"日本語のメッセージ")
               : WaitForPreExecutionMessage(program, u"English title", u"English message");
}

TEST_F(PreExecutionMessageExe, OkOnlyInTheUserLanguageGoesOn) {
    ProgramDriver program(Package("message-okonly.exe"), u"");
    const HWND box = WaitForLanguageMessage(program);
    ASSERT_TRUE(box);
    EXPECT_TRUE(::GetDlgItem(box, IDOK));
    EXPECT_FALSE(::GetDlgItem(box, IDCANCEL));
    ProgramDriver::Press(box, IDOK);
    EXPECT_EQ(0u, program.CloseWhenStatus(testing::ExpectJapanese() ? u"完了しました。" : u"Completed."));
}

TEST_F(PreExecutionMessageExe, DeclinedOkCancelEndsCancelled) {
    ProgramDriver program(Package("message-okcancel.exe"), u"");
    const HWND box = WaitForLanguageMessage(program);
    ASSERT_TRUE(box);
    EXPECT_TRUE(::GetDlgItem(box, IDCANCEL));
    ProgramDriver::Press(box, IDCANCEL);
    EXPECT_EQ(0x80040002u,
              program.CloseWhenStatus(testing::ExpectJapanese() ? u"キャンセルされました。" : u"Cancelled."));
}

// A close while the pre-execution message is shown (End task, taskkill) is
// a cancel before the launch as any other: the message goes with the window
// and the process ends by itself, OK only or OK and Cancel alike.
TEST_F(PreExecutionMessageExe, CloseWhileTheMessageIsShownEndsTheRun) {
    for (const char* package : {"message-okonly.exe", "message-okcancel.exe"}) {
        SCOPED_TRACE(package);
        testing::ScratchTemporaryFolder temp;
        ProgramDriver program(Package(package), u"");
        const HWND dialog = program.WaitForDialog();
        ASSERT_TRUE(dialog);
        ASSERT_TRUE(WaitForLanguageMessage(program));
        ::PostMessageW(dialog, WM_CLOSE, 0, 0);
        EXPECT_EQ(0x80040002u, program.WaitForExit(20000));
        EXPECT_TRUE(ProgramDriver::WorkFolderRemoved(temp.Path()));
    }
}

// With a namespaced root, "Title" and "Message" are the first in the whole
// file, whatever the language.
TEST_F(PreExecutionMessageExe, NamespacedFileTakesTheFirstTitleAndMessage) {
    ProgramDriver program(Package("message-namespaced.exe"), u"");
    const HWND box = WaitForPreExecutionMessage(program, u"Namespaced title", u"Namespaced message");
    ASSERT_TRUE(box);
    ProgramDriver::Press(box, IDOK);
    EXPECT_EQ(0u, program.CloseWhenStatus(testing::ExpectJapanese() ? u"完了しました。" : u"Completed."));
}

}  // namespace
}  // namespace quarry
