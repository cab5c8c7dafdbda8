#include "app/win32/format_dlg_window.h"

#include <string>

#include "res/resource.h"

namespace {

// Posted to the dialog by a DPI change, so that the banner is fitted after the dialog manager
// has laid the controls out for the new DPI.
constexpr UINT kFitBanner = WM_APP + 1;

}  // namespace

// The icons are loaded for the screen's DPI until the window exists and can tell its own.
FormatDlgWindow::FormatDlgWindow(HINSTANCE instance, DeviceAccess& device)
    : instance_(instance),
      m_icons(instance, IDR_MAINFRAME),
      host_(instance, m_icons),
      dlg_(host_, device) {
    m_icons.Load(SystemDpi());
}

INT_PTR FormatDlgWindow::DoModal() {
    return DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_FORMAT_DIALOG), nullptr, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK FormatDlgWindow::DialogProc(HWND dialog, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* window = reinterpret_cast<FormatDlgWindow*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        return window->InitDialog(dialog);
    }
    auto* window = reinterpret_cast<FormatDlgWindow*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (window == nullptr) return FALSE;
    return window->Dispatch(message, wParam, lParam);
}

BOOL FormatDlgWindow::InitDialog(HWND dialog) {
    host_.Attach(dialog);
    m_icons.Load(WindowDpi(dialog));  // the dialog logic sets them on the window
    banner_.Fit(instance_, dialog);
    return dlg_.OnInitDialog() ? TRUE : FALSE;
}

// The window moved to a screen of another DPI (or the screen's scale was changed). It takes
// the rectangle the system suggests; the dialog manager then lays out the controls and their
// font for the new DPI in its own handling of the message, which therefore goes on to it.
void FormatDlgWindow::OnDpiChanged(UINT dpi, const RECT& suggested) {
    HWND dialog = host_.Window();
    SetWindowPos(dialog, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    m_icons.Load(dpi);
    m_icons.SetOn(dialog);
    PostMessageA(dialog, kFitBanner, 0, 0);
}

// The message table. Whatever is not handled here goes to the default dialog handling.
INT_PTR FormatDlgWindow::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SYSCOMMAND:
            return dlg_.OnSysCommand(static_cast<std::uint32_t>(wParam)) ? TRUE : FALSE;
        case WM_PAINT:
            return dlg_.OnPaint() ? TRUE : FALSE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(m_icons.Large());
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_TIMER:
            dlg_.OnTimer(static_cast<std::uintptr_t>(wParam));
            return TRUE;
        case WM_INSTANCE_QUERY:
            SetWindowLongPtrA(host_.Window(), DWLP_MSGRESULT,
                              static_cast<LONG_PTR>(dlg_.OnInstanceQuery(wParam, lParam)));
            return TRUE;
        case WM_DEVICECHANGE:
            dlg_.OnDeviceChange(static_cast<std::uint32_t>(wParam),
                                static_cast<std::uintptr_t>(lParam));
            return FALSE;  // and on to the default handling, whose answer the sender gets
        case WM_DPICHANGED:
            if (lParam != 0) OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return FALSE;  // and on to the dialog manager, which scales the controls
        case kFitBanner:
            banner_.Fit(instance_, host_.Window());
            return TRUE;
        default:
            return FALSE;
    }
}

void FormatDlgWindow::OnCommand(WORD control, WORD notification) {
    switch (control) {
        case IDOK:
            dlg_.OnOK();
            return;
        case IDCANCEL:
            dlg_.OnCancel();
            return;
        default:
            break;
    }
    if (notification != BN_CLICKED) return;
    switch (control) {
        case IDC_START_STOP:
            dlg_.OnStartStop();
            break;
        case IDC_QUICK:
            dlg_.OnQuick();
            break;
        case IDC_FULL:
            dlg_.OnFull();
            break;
        default:
            break;
    }
}
