// A small modal-dialog base: the dialog procedure finds the object through
// the window's user data and hands every message to its dispatcher.
#pragma once

#include <windows.h>

namespace quarry {

class CDialogBase {
public:
    CDialogBase() = default;
    CDialogBase(const CDialogBase&) = delete;
    CDialogBase& operator=(const CDialogBase&) = delete;

    // The message dispatcher: true when the message was handled, with its
    // result in `result`; false sends it to the default dialog handling.
    virtual bool ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                      LRESULT& result) = 0;
    virtual ~CDialogBase() = default;
    virtual DLGPROC GetDialogProc() { return StartDialogProc; }
    // Called after the window received its last message.
    virtual void OnFinalMessage(HWND /*window*/) {}

    // Runs the dialog modally from an in-memory template, or from resource
    // `templateId` of this module. Returns the end code, -1 when the dialog
    // could not be created.
    INT_PTR DoModalIndirect(HWND owner, const DLGTEMPLATE* dialogTemplate);
    INT_PTR DoModal(HWND owner, WORD templateId);

    // Ends the modal loop with `code`.
    bool EndDialog(INT_PTR code);

    HWND m_hWnd = nullptr;

private:
    static INT_PTR CALLBACK StartDialogProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
};

}  // namespace quarry
