#include "app/win32/dpi.h"

#include "app/win32/gdi.h"

namespace {

// Windows 10 1607 and later.
using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiFunction = int(WINAPI*)(int, UINT);
// Common Controls 6 on Vista and later.
using LoadIconWithScaleDownFunction = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);

}  // namespace

UINT SystemDpi() {
    const GdiCalls* gdi = Gdi();
    HDC screen = gdi != nullptr ? GetDC(nullptr) : nullptr;
    if (screen == nullptr) return USER_DEFAULT_SCREEN_DPI;
    const int dpi = gdi->getDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

UINT WindowDpi(HWND window) {
    static const auto getDpiForWindow =
        SystemFunction<GetDpiForWindowFunction>("user32.dll", "GetDpiForWindow");
    if (getDpiForWindow != nullptr && window != nullptr) {
        const UINT dpi = getDpiForWindow(window);
        if (dpi != 0) return dpi;
    }
    return SystemDpi();
}

int MetricForDpi(int index, UINT dpi) {
    static const auto getSystemMetricsForDpi =
        SystemFunction<GetSystemMetricsForDpiFunction>("user32.dll", "GetSystemMetricsForDpi");
    if (getSystemMetricsForDpi != nullptr) return getSystemMetricsForDpi(index, dpi);
    // Older systems know the metrics at the screen's DPI only.
    return MulDiv(GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(SystemDpi()));
}

HICON LoadIconOfSize(HINSTANCE instance, int id, int size) {
    // The comctl32 the program runs with is the one its manifest asked for (Common Controls 6
    // where there is one); its scaling down of a larger image beats LoadImage's scaling.
    static const auto loadIconWithScaleDown =
        SystemFunction<LoadIconWithScaleDownFunction>("comctl32.dll", "LoadIconWithScaleDown");
    if (loadIconWithScaleDown != nullptr) {
        HICON icon = nullptr;
        if (SUCCEEDED(loadIconWithScaleDown(instance, MAKEINTRESOURCEW(id), size, size, &icon)) &&
            icon != nullptr) {
            return icon;
        }
    }
    return static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

WindowIcons::~WindowIcons() {
    DestroyRetired();
    if (large_ != nullptr) DestroyIcon(large_);
    if (small_ != nullptr) DestroyIcon(small_);
}

void WindowIcons::Load(UINT dpi) {
    if (dpi == dpi_ && large_ != nullptr) return;
    const int largeSize = MetricForDpi(SM_CXICON, dpi);
    HICON large = LoadIconOfSize(instance_, id_, largeSize);
    HICON small = LoadIconOfSize(instance_, id_, MetricForDpi(SM_CXSMICON, dpi));
    if (large == nullptr || small == nullptr) {  // keep what there is
        if (large != nullptr) DestroyIcon(large);
        if (small != nullptr) DestroyIcon(small);
        return;
    }
    DestroyRetired();
    retiredLarge_ = large_;
    retiredSmall_ = small_;
    large_ = large;
    small_ = small;
    largeSize_ = largeSize;
    dpi_ = dpi;
}

void WindowIcons::SetOn(HWND window) {
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large_));
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_));
    DestroyRetired();
}

void WindowIcons::DestroyRetired() {
    if (retiredLarge_ != nullptr) DestroyIcon(retiredLarge_);
    if (retiredSmall_ != nullptr) DestroyIcon(retiredSmall_);
    retiredLarge_ = retiredSmall_ = nullptr;
}
