#include "app/win32/about_dlg.h"

#include "app/win32/banner.h"
#include "app/win32/dpi.h"
#include "res/resource.h"

CAboutDlg::~CAboutDlg() {
    if (icon_ != nullptr) DestroyIcon(icon_);
}

INT_PTR CAboutDlg::DoModal(HINSTANCE instance, HWND parent) {
    instance_ = instance;
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ABOUTBOX), parent, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

// The template's icon control shows icon 128 at the screen's large icon size; it is given the
// image of the size for the window's DPI instead, and takes that image's size.
void CAboutDlg::ShowIcon(HWND dialog, UINT dpi) {
    HWND control = FindPictureControl(dialog, SS_ICON);
    if (control == nullptr) return;
    HICON icon = LoadIconOfSize(instance_, IDR_ABOUT_ICON, MetricForDpi(SM_CXICON, dpi));
    if (icon == nullptr) return;
    SendMessageA(control, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    // The template's icon was loaded as a shared one, which is never destroyed; an earlier
    // one of this dialog's own is no longer shown.
    if (icon_ != nullptr) DestroyIcon(icon_);
    icon_ = icon;
}

INT_PTR CALLBACK CAboutDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* about = reinterpret_cast<CAboutDlg*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrA(dialog, DWLP_USER, lParam);
            about = reinterpret_cast<CAboutDlg*>(lParam);
            if (about != nullptr) about->ShowIcon(dialog, WindowDpi(dialog));
            return TRUE;
        case WM_DPICHANGED:
            if (lParam != 0) {
                const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
                SetWindowPos(dialog, nullptr, suggested.left, suggested.top,
                             suggested.right - suggested.left, suggested.bottom - suggested.top,
                             SWP_NOZORDER | SWP_NOACTIVATE);
            }
            if (about != nullptr) about->ShowIcon(dialog, HIWORD(wParam));
            return FALSE;  // and on to the dialog manager, which scales the controls
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}
