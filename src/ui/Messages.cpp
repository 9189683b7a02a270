// The two message boxes of the progress dialog: the error report and the
// package's pre-execution message.
#include <windows.h>
#include <commctrl.h>

#include "common/WinResult.h"
#include "ui/ErrorReportRules.h"
#include "ui/ExtractorDialog.h"
#include "ui/LanguageList.h"
#include "ui/Strings.h"
#include "ui/XmlParser.h"
#include "workflow/ExtractionJob.h"

namespace quarry {

namespace {

std::u16string FormatDetail(const ErrorDetail& detail, LPARAM argument, const ExtractionJob* job) {
    switch (detail.argument) {
        case DetailArgument::None:
            return LoadResourceString(detail.stringId);
        case DetailArgument::ManufacturerName:
            return FormatResourceString(detail.stringId,
                                        job ? job->package.settings.ManufacturerName
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

}  // namespace quarry
