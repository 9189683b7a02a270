#include "ui/DialogBase.h"

namespace quarry {

namespace {

// Messages whose result is the dialog procedure's own return value rather
// than DWLP_MSGRESULT.
bool ReturnsDirectly(UINT message) {
    switch (message) {
        case WM_INITDIALOG:
        case WM_QUERYDRAGICON:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
            return true;
        default:
            return false;
    }
}

}  // namespace

INT_PTR CDialogBase::DoModalIndirect(HWND owner, const DLGTEMPLATE* dialogTemplate) {
    return ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), dialogTemplate, owner,
                                     GetDialogProc(), reinterpret_cast<LPARAM>(this));
}

INT_PTR CDialogBase::DoModal(HWND owner, WORD templateId) {
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId), owner,
                             GetDialogProc(), reinterpret_cast<LPARAM>(this));
}

bool CDialogBase::EndDialog(INT_PTR code) { return m_hWnd && ::EndDialog(m_hWnd, code); }

INT_PTR CALLBACK CDialogBase::StartDialogProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CDialogBase*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->m_hWnd = window;
    }
    auto* self = reinterpret_cast<CDialogBase*>(::GetWindowLongPtrW(window, DWLP_USER));
    // Messages before WM_INITDIALOG (WM_SETFONT and the creation messages)
    // find no object yet.
    if (!self) return FALSE;

    LRESULT result = 0;
    const bool handled = self->ProcessWindowMessage(window, message, wParam, lParam, result);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(window, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        self->OnFinalMessage(window);
    }
    if (!handled) return FALSE;
    if (ReturnsDirectly(message)) return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}

}  // namespace quarry
