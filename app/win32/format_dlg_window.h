#pragma once
#include "app/format_dlg.h"
#include "app/win32/win32_api.h"
#include "app/win32/win32_host.h"

// The main dialog on the screen: the dialog template, the dialog's logic and its message table.
class FormatDlgWindow {
  public:
    FormatDlgWindow(HINSTANCE instance, DeviceAccess& device);

    // Runs the dialog modally until the exit sequence ends it.
    INT_PTR DoModal();

    HICON Icon() const { return m_hIcon; }

  private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    BOOL InitDialog(HWND dialog);
    void OnCommand(WORD control, WORD notification);

    HINSTANCE instance_;
    HICON m_hIcon;
    Win32WindowHost host_;
    CFormatDlg dlg_;
};
