#pragma once
#include <cstdint>
#include <string>

#include "core/message_box.h"

// What the main dialog's logic needs from the window system. The Windows program implements it
// on the real dialog window; the tests implement it with a scripted fake that records every
// control and answers message boxes.
class WindowHost {
  public:
    virtual ~WindowHost() = default;

    // Controls of the dialog, by identifier.
    virtual void SetControlText(int control, const std::string& text) = 0;
    virtual void EnableControl(int control, bool enabled) = 0;
    virtual void CheckControl(int control, bool checked) = 0;
    virtual void SetProgressPosition(int position) = 0;  // the progress bar, 0..100

    // A modal message box owned by the dialog, without an icon.
    virtual BoxAnswer MessageBox(const std::string& text, const std::string& caption,
                                 BoxButtons buttons) = 0;
    virtual void ShowAboutBox() = 0;

    // The dialog window itself: a separator and an entry with `text` and `command` at the end
    // of the system menu; the dialog's icon as the window's large and small icon.
    virtual void AppendSystemMenuEntry(unsigned command, const std::string& text) = 0;
    virtual void SetWindowIcons() = 0;

    // The dialog's timers.
    virtual void StartTimer(unsigned id, unsigned milliseconds) = 0;
    virtual void StopTimer(unsigned id) = 0;

    // Hands at most one pending message of the thread to its window; returns at once when
    // there is none.
    virtual void PumpOneMessage() = 0;

    // The local clock in whole seconds.
    virtual std::int64_t Now() = 0;
    // The process's current directory; false when the host cannot tell.
    virtual bool CurrentDirectory(std::string* directory) = 0;
    // Platform identifier and version numbers as the host reports them.
    virtual void OsVersion(std::uint32_t* platformId, std::uint32_t* major,
                           std::uint32_t* minor) = 0;
    // The executable's file name without folder and extension.
    virtual std::string ApplicationName() = 0;

    // Painting of the minimised window: whether it is minimised, and drawing the dialog's icon
    // centred in the client area on the erased background.
    virtual bool IsMinimised() = 0;
    virtual void DrawIconCentred() = 0;

    // Ends the modal dialog with `result`.
    virtual void EndDialog(int result) = 0;
};
