// The windows the progress dialog opens for the worker: the error report,
// the package's pre-execution message and the folder browser.
#include <windows.h>
#include <commctrl.h>

#include "common/LibrarySearchGuard_win.h"
#include "common/Unique.h"
#include "common/WinResult.h"
#include "ui/ErrorReportRules.h"
#include "ui/ExtractorDialog.h"
#include "ui/FolderSelection.h"
#include "ui/FolderSelectionRules.h"
#include "ui/LanguageList.h"
#include "ui/Strings.h"
#include "ui/XmlParser.h"
#include "workflow/ExtractionJob.h"

namespace quarry {

namespace {

// The folder browser's own thread: the browser's new dialog style fails in
// the multithreaded apartment of the dialog's thread.
struct BrowseRequest {
    HWND owner = nullptr;
    std::u16string startFolder;
    std::u16string prompt;
    std::u16string chosen;
};

DWORD WINAPI BrowseThread(LPVOID context) {
    auto* browse = static_cast<BrowseRequest*>(context);
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    try {
        browse->chosen = BrowseForWritableFolder(browse->owner, browse->startFolder, browse->prompt);
    } catch (...) {
        browse->chosen.clear();
    }
    if (Succeeded(com)) ::CoUninitialize();
    return 0;
}

BOOL CALLBACK CancelBrowser(HWND window, LPARAM) {
    ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

std::u16string FormatDetail(const ErrorDetail& detail, LPARAM argument, const ExtractionJob* job) {
    switch (detail.argument) {
        case DetailArgument::None:
            return LoadResourceString(detail.stringId);
        case DetailArgument::ManufacturerName:
            return FormatResourceString(detail.stringId,
                                        job ? job->Settings().ManufacturerName
                                            : std::u16string());
        case DetailArgument::DriveText:
            if (!argument) return std::u16string();
            return FormatResourceString(detail.stringId, reinterpret_cast<const wchar_t*>(argument));
        case DetailArgument::VersionRecord: {
            if (!argument) return std::u16string();
            const VersionText text = ChooseVersionText(*reinterpret_cast<const VersionRecord*>(argument));
            std::vector<FormatArgument> numbers(text.numbers.begin(), text.numbers.end());
            return FormatResourceStringWith(text.stringId, numbers);
        }
    }
    return std::u16string();
}

}  // namespace

INT_PTR CExtractorDialog::ShowErrorReport(HResult code, LPARAM argument) {
    finished = true;
    endCode = code;

    const ErrorDetail detail = ChooseErrorDetail(code, job != nullptr);
    const std::u16string detailText = detail.stringId ? FormatDetail(detail, argument, job.get())
                                                      : std::u16string();
    std::u16string text = FormatResourceString(kStringReportFrame, detailText,
                                               static_cast<std::uint32_t>(code));
    const bool offer =
        (detail.offer == ContinueOffer::WhenAskingAfterRestrictionFailure &&
         askAfterRestrictionFailure) ||
        (detail.offer == ContinueOffer::WhenAskingAfterIntegrityFailure && askAfterIntegrityFailure);

    bool asked = false;
    INT_PTR answer = 0;
    if (offer) {
        text += LoadResourceString(kStringContinueQuestion);
        if (!silent && !text.empty()) {
            if (::IsWindow(m_hWnd)) ::SetForegroundWindow(m_hWnd);
            answer = ::MessageBoxW(m_hWnd, Wide(text), Wide(windowTitle), MB_YESNO | MB_ICONERROR);
            asked = true;
            if (answer == IDYES) return IDYES;
        }
    }

    if (taskbar) taskbar->SetProgressState(m_hWnd, static_cast<TBPFLAG>(TBPF_ERROR | TBPF_NORMAL));
    ::SendMessageW(progressBar, kProgressBarSetState, kBarError, 0);
    ::SetDlgItemTextW(m_hWnd, kControlStatus, Wide(LoadResourceString(kStringFailed)));
    ::SetWindowTextW(cancelButton, Wide(LoadResourceString(kStringClose)));

    if (asked) return answer;
    if (silent) return 1;
    if (::IsWindow(m_hWnd)) ::SetForegroundWindow(m_hWnd);
    return ::MessageBoxW(m_hWnd, Wide(text), Wide(windowTitle), MB_ICONERROR);
}

bool CExtractorDialog::ShowMessageFile(const std::u16string& path, bool okOnly) {
    std::u16string title;
    std::u16string message;
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (Succeeded(com) || com == RPC_E_CHANGED_MODE) {
        nsCommon::CXMLParser parser;
        if (parser.Load(path)) {
            for (const std::u16string& name : BuildLanguageList()) {
                if (!title.empty() && !message.empty()) break;
                const ComPtr<IXMLDOMNode> language = parser.SelectNode(u"MessageInfo/" + name, nullptr);
                if (!language) continue;
                const ComPtr<IXMLDOMNode> titleNode = parser.SelectNode(u"Title", language.Get());
                const ComPtr<IXMLDOMNode> messageNode = parser.SelectNode(u"Message", language.Get());
                if (title.empty() && titleNode) title = nsCommon::NodeText(titleNode.Get());
                if (message.empty() && messageNode) message = nsCommon::NodeText(messageNode.Get());
                if (!titleNode && !messageNode && message.empty()) {
                    message = nsCommon::NodeText(language.Get());
                }
            }
        }
    }
    if (Succeeded(com)) ::CoUninitialize();

    if (message.empty()) return true;
    const std::u16string& caption = title.empty() ? messageCaption : title;
    const int answer = ::MessageBoxW(m_hWnd, Wide(message), Wide(caption), okOnly ? MB_OK : MB_OKCANCEL);
    if (okOnly) return true;
    return answer != IDCANCEL && answer != IDNO;
}

std::u16string CExtractorDialog::ShowFolderSelection(const std::u16string& startFolder,
                                                     const std::u16string& folderName,
                                                     const std::u16string& productName) {
    if (silent) return startFolder;
    // The folder browser loads much of the shell.
    if (libraryGuard) libraryGuard->PreloadOnDemand(false, true, false);

    // The dialog's timer shows a paused bar while this count is above 0.
    ::InterlockedIncrement(&browseCount);
    ScopeExit closed([this] { ::InterlockedDecrement(&browseCount); });
    try {
        BrowseRequest browse;
        browse.owner = m_hWnd;
        browse.startFolder = startFolder;
        browse.prompt = FormatResourceString(kStringSelectFolder, ShortenProductName(productName),
                                             folderName);
        DWORD threadId = 0;
        const UniqueHandle thread(::CreateThread(nullptr, 0, BrowseThread, &browse, 0, &threadId));
        if (!thread) return std::u16string();
        // This thread keeps serving the dialog while the browser is open; a
        // cancel of the run, or the end of the session, closes the browser
        // as its Cancel button would.
        bool closing = false;
        int quitCode = 0;
        bool quit = false;
        for (;;) {
            const HANDLE handle = thread.Get();
            if (::MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_ALLINPUT) ==
                WAIT_OBJECT_0) {
                break;
            }
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    quit = true;
                    quitCode = static_cast<int>(msg.wParam);
                    continue;
                }
                if (!::IsDialogMessageW(m_hWnd, &msg)) {
                    ::TranslateMessage(&msg);
                    ::DispatchMessageW(&msg);
                }
            }
            if (!closing && (quit || !job || job->Cancelled())) {
                ::EnumThreadWindows(threadId, CancelBrowser, 0);
                closing = true;
            }
        }
        if (quit) ::PostQuitMessage(quitCode);
        return browse.chosen;
    } catch (const std::bad_alloc&) {
        // Thrown inside the dialog's window procedure it would unwind
        // through the system: no storage answers as a cancelled choice.
        return std::u16string();
    }
}

}  // namespace quarry
