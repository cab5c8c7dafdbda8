#pragma once
#include "app/win32/win32_api.h"

// The banner at the top left of the main dialog. The template's picture control shows bitmap
// 164 at its own size; the banner replaces it with the bitmap drawn nearest to the control's
// size at the window's DPI, scaled into the control's rectangle, so that the picture fills
// the control exactly on any screen.
class Banner {
  public:
    Banner() = default;
    ~Banner();
    Banner(const Banner&) = delete;
    Banner& operator=(const Banner&) = delete;

    // Puts the control back to the template's rectangle (the picture control takes the size
    // of every bitmap it is given) and shows the banner fitted into it. After a DPI change, when
    // the dialog's units stayed as they were but the dialog manager scaled the controls, the
    // rectangle it gave the control is kept.
    void Fit(HINSTANCE instance, HWND dialog);

  private:
    HBITMAP bitmap_ = nullptr;
    bool fitted_ = false;
    RECT lastMapped_ = {};  // the template's rectangle in pixels at the last fit
};

// The dialog's first static control of an image kind (SS_BITMAP, SS_ICON); such controls carry
// no identifier of their own.
HWND FindPictureControl(HWND dialog, DWORD imageStyle);
