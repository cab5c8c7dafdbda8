#pragma once
#include "app/format_dlg.h"
#include "app/win32/banner.h"
#include "app/win32/dpi.h"
#include "app/win32/win32_api.h"
#include "app/win32/win32_host.h"

// The main dialog on the screen: the dialog template, the dialog's logic and its message table.
class FormatDlgWindow {
  public:
    FormatDlgWindow(HINSTANCE instance, DeviceAccess& device);

    // Runs the dialog modally until the exit sequence ends it.
    INT_PTR DoModal();

    // The window's large icon at its DPI.
    HICON Icon() const { return m_icons.Large(); }

  private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    BOOL InitDialog(HWND dialog);
    void OnCommand(WORD control, WORD notification);
    void OnDpiChanged(UINT dpi, const RECT& suggested);

    HINSTANCE instance_;
    WindowIcons m_icons;  // icon 162, large and small, at the window's DPI
    Banner banner_;
    Win32WindowHost host_;
    CFormatDlg dlg_;
};
