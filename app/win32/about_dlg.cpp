#include "app/win32/about_dlg.h"

#include "res/resource.h"

INT_PTR CAboutDlg::DoModal(HINSTANCE instance, HWND parent) {
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ABOUTBOX), parent, DialogProc, 0);
}

INT_PTR CALLBACK CAboutDlg::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
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
