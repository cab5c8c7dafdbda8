#pragma once
#include "app/win32/win32_api.h"

// The window system's DPI, on every Windows the program runs on. The calls that know about the
// DPI of one window or monitor came with later systems; they are looked up at run time, and on
// a system without them the answers are those of the whole screen.

// The DPI of the screen as the process sees it (96 at 100 %).
UINT SystemDpi();
// The DPI of the window: of its monitor for a window that follows its monitor's DPI.
UINT WindowDpi(HWND window);
// A system metric (SM_CXICON, SM_CXSMICON, ...) at that DPI.
int MetricForDpi(int index, UINT dpi);

// Icon resource `id` at size x size pixels: the image of that size, or a larger one scaled down
// (or, without a larger one, the largest scaled up). Destroy it with DestroyIcon.
HICON LoadIconOfSize(HINSTANCE instance, int id, int size);

// The large and the small icon of a window at one DPI, loaded from one icon resource.
class WindowIcons {
  public:
    WindowIcons(HINSTANCE instance, int id) : instance_(instance), id_(id) {}
    ~WindowIcons();
    WindowIcons(const WindowIcons&) = delete;
    WindowIcons& operator=(const WindowIcons&) = delete;

    // Loads both icons for the DPI, unless they are loaded for it already. The icons of the DPI
    // before stay alive until SetOn has handed the window the new ones.
    void Load(UINT dpi);
    // Sets them as the window's large and small icon.
    void SetOn(HWND window);

    HICON Large() const { return large_; }
    HICON Small() const { return small_; }
    int LargeSize() const { return largeSize_; }

  private:
    void DestroyRetired();

    HINSTANCE instance_;
    int id_;
    UINT dpi_ = 0;
    HICON large_ = nullptr;
    HICON small_ = nullptr;
    int largeSize_ = 0;
    HICON retiredLarge_ = nullptr;
    HICON retiredSmall_ = nullptr;
};
