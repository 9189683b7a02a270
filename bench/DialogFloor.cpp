// The smallest program that does what every run of Quarry does before its
// own work: it registers comctl32's progress bar under the same manifest and
// shows a hidden dialog holding one, which closes itself at once. The
// start-up benchmark subtracts its start to show what is left to Quarry.
#include <windows.h>
#include <commctrl.h>

#include <cwchar>

namespace {

INT_PTR CALLBACK CloseAtOnce(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message != WM_INITDIALOG) return FALSE;
    ::EndDialog(dialog, 0);
    return TRUE;
}

// Appends a string to a dialog template; `out` advances past it.
void Put(WORD*& out, const wchar_t* text) {
    const std::size_t length = std::wcslen(text) + 1;
    std::wmemcpy(reinterpret_cast<wchar_t*>(out), text, length);
    out += length;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const HMODULE commonControls = ::LoadLibraryW(L"comctl32.dll");
    const auto initialize = reinterpret_cast<InitFunction>(
        reinterpret_cast<void*>(::GetProcAddress(commonControls, "InitCommonControlsEx")));
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    if (!initialize || !initialize(&controls)) return 1;

    alignas(DWORD) WORD block[256] = {};
    auto* dialog = reinterpret_cast<DLGTEMPLATE*>(block);
    dialog->style = DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION;
    dialog->cdit = 1;
    dialog->cx = 200;
    dialog->cy = 60;
    WORD* out = reinterpret_cast<WORD*>(dialog + 1);
    *out++ = 0;  // no menu
    *out++ = 0;  // the dialog class
    Put(out, L"Floor");
    *out++ = 8;
    Put(out, L"MS Shell Dlg");
    out = reinterpret_cast<WORD*>((reinterpret_cast<ULONG_PTR>(out) + 3) & ~ULONG_PTR(3));
    auto* item = reinterpret_cast<DLGITEMTEMPLATE*>(out);
    item->style = WS_CHILD | WS_VISIBLE;
    item->x = 10;
    item->y = 20;
    item->cx = 180;
    item->cy = 12;
    item->id = 100;
    out = reinterpret_cast<WORD*>(item + 1);
    Put(out, PROGRESS_CLASSW);
    Put(out, L"");
    *out++ = 0;  // no creation data
    const INT_PTR result = ::DialogBoxIndirectParamW(
        instance, reinterpret_cast<DLGTEMPLATE*>(block), nullptr, CloseAtOnce, 0);
    return result == 0 ? 0 : 2;
}
