#pragma once
#include "app/win32/win32_api.h"

// The application object: start-up with the single-instance handshake, then the main dialog.
class CFormatApp {
  public:
    // Always false: the dialog's modal loop is the program's only message loop, and the
    // process ends when this returns.
    BOOL InitInstance();

  private:
    // True when a window with the title belongs to a running copy, which is then brought to
    // the front.
    static bool HandOverToRunningCopy(const char* title);
};
