#pragma once
#include <string>

#include "app/win32/dpi.h"
#include "app/win32/win32_api.h"
#include "app/window_host.h"

// The main dialog's window as the dialog logic sees it.
class Win32WindowHost final : public WindowHost {
  public:
    // The icons are the dialog's (icon 162 at the window's DPI) and outlive the host.
    Win32WindowHost(HINSTANCE instance, WindowIcons& icons) : instance_(instance), icons_(icons) {}

    void Attach(HWND dialog) { dialog_ = dialog; }
    HWND Window() const { return dialog_; }

    void SetControlText(int control, const std::string& text) override;
    void EnableControl(int control, bool enabled) override;
    void CheckControl(int control, bool checked) override;
    void SetProgressPosition(int position) override;
    BoxAnswer MessageBox(const std::string& text, const std::string& caption,
                         BoxButtons buttons) override;
    void ShowAboutBox() override;
    void AppendSystemMenuEntry(unsigned command, const std::string& text) override;
    void SetWindowIcons() override;
    void StartTimer(unsigned id, unsigned milliseconds) override;
    void StopTimer(unsigned id) override;
    void PumpOneMessage() override;
    std::int64_t Now() override;
    bool CurrentDirectory(std::string* directory) override;
    void OsVersion(std::uint32_t* platformId, std::uint32_t* major, std::uint32_t* minor) override;
    std::string ApplicationName() override;
    bool IsMinimised() override;
    void DrawIconCentred() override;
    void EndDialog(int result) override;

  private:
    HINSTANCE instance_;
    WindowIcons& icons_;
    HWND dialog_ = nullptr;
};
