#pragma once
#include "app/win32/win32_api.h"

// The About dialog: the icon, the version line and a line about the program; it closes on OK.
class CAboutDlg {
  public:
    CAboutDlg() = default;
    ~CAboutDlg();
    CAboutDlg(const CAboutDlg&) = delete;
    CAboutDlg& operator=(const CAboutDlg&) = delete;

    INT_PTR DoModal(HINSTANCE instance, HWND parent);

  private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    // Shows icon 128 at the large icon size of the DPI.
    void ShowIcon(HWND dialog, UINT dpi);

    HINSTANCE instance_ = nullptr;
    HICON icon_ = nullptr;
};
