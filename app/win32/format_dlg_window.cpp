#include "app/win32/format_dlg_window.h"

#include <string>

#include "res/resource.h"

FormatDlgWindow::FormatDlgWindow(HINSTANCE instance, DeviceAccess& device)
    : instance_(instance),
      m_hIcon(LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME))),
      host_(instance, m_hIcon),
      dlg_(host_, device) {}

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
    return dlg_.OnInitDialog() ? TRUE : FALSE;
}

// The message table. Whatever is not handled here goes to the default dialog handling.
INT_PTR FormatDlgWindow::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SYSCOMMAND:
            return dlg_.OnSysCommand(static_cast<std::uint32_t>(wParam)) ? TRUE : FALSE;
        case WM_PAINT:
            return dlg_.OnPaint() ? TRUE : FALSE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(m_hIcon);
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
