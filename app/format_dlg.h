#pragma once
#include <cstdint>
#include <string>

#include "app/window_host.h"
#include "core/format_log.h"
#include "core/format_settings.h"
#include "core/format_types.h"
#include "format/device_access.h"
#include "format/run_interface.h"
#include "reader/media_type.h"

// The main dialog: its state and the handlers of its message table. The window itself belongs to
// a WindowHost (the Win32 dialog procedure in the program, a scripted fake in the tests), which
// calls these handlers; the reader is reached through a DeviceAccess. The dialog is also the
// front end that the format engine runs against.
class CFormatDlg : public RunInterface {
  public:
    CFormatDlg(WindowHost& host, DeviceAccess& device);

    // Start-up and exit.
    bool OnInitDialog();
    void OnCancel();
    // The OK command (Enter while a radio button has the focus). It must not end the dialog
    // behind the exit sequence's back, so it does nothing.
    void OnOK() {}
    std::uint32_t OnInstanceQuery(std::uintptr_t wParam, std::intptr_t lParam);
    // True when the command was the About command and was handled here.
    bool OnSysCommand(std::uint32_t command);
    // True when the minimised window's icon was painted; false leaves painting to the default.
    bool OnPaint();

    // Settings and log.
    int LoadSettings();
    void OpenLog();
    void AppendLog(const char* format, std::int32_t a, std::int32_t b, std::int32_t c);
    void FlushLog();

    // Media detection and status.
    void Rescan();
    void ProbeUsbDisk();
    void ResetProgress() override;
    void ShowFormatMode(FormatMode mode);
    void OnQuick();
    void OnFull();
    // Follows arrival and removal of reader units; the data word is not looked at. The host
    // passes the message on to the default handling afterwards.
    void OnDeviceChange(std::uint32_t event, std::uintptr_t data);

    // Run control.
    void OnStartStop();
    FormatResult RunFormat();
    void OnTimer(std::uintptr_t timerId);

    // The format engine's view of the dialog.
    void PumpOneMessage() override;
    bool StopRequested() override { return m_bStopRequested != 0; }
    // A pulled stick ends the run through the device notice's rescan, as it always has.
    bool EndsRunOnRemoval() const override { return false; }
    void SetProgressPosition(int position) override;
    void StartProgressTimer() override;
    void StopProgressTimer() override;
    std::uint32_t& TotalBlocks() override { return m_nTotalBlocks; }
    std::uint32_t& BlocksDone() override { return m_nBlocksDone; }
    void SetRunMessage(const std::string& text) override { m_strRunMessage = text; }
    void ShowPercentText(const std::string& text) override;
    BoxAnswer MessageBox(const std::string& text, const std::string& caption,
                         BoxButtons buttons) override;
    std::string Title() override { return m_strTitle; }
    std::string ApplicationName() override;
    FormatLog& Log() override { return m_log; }
    const FormatSettings& Settings() override { return m_settings; }

    // State, for the host and the tests.
    const std::string& Status() const { return m_strStatus; }
    const std::string& RunMessage() const { return m_strRunMessage; }
    MediaType SelectedMedia() const { return m_mediaType; }
    std::uint8_t UnitCount() const { return m_nUnitCount; }
    std::uint8_t DevNodeChanges() const { return m_nDevNodeChanges; }
    bool ArrivalSeen() const { return m_bArrivalSeen != 0; }
    bool Running() const { return m_bRunning != 0; }
    bool RunInProgress() const { return m_bInRun; }
    FormatMode Mode() const { return m_nFormatMode; }
    std::uint16_t OsFamilyCode() const { return m_nOsCode; }
    FormatSettings& MutableSettings() { return m_settings; }

  private:
    void EnableFormatControls(bool enabled);

    WindowHost& host_;
    DeviceAccess& device_;

    std::string m_strStatus;
    std::string m_strRunMessage;
    std::string m_strTitle;
    std::uint8_t m_bArrivalSeen = 0;
    std::uint8_t m_nUnitCount = 0;
    MediaType m_unitKeys[3] = {kMediaNone, kMediaNone, kMediaNone};
    MediaType m_mediaType = kMediaNone;
    std::uint8_t m_nDevNodeChanges = 0;
    std::int32_t m_bStopRequested = 1;
    std::int32_t m_bRunning = 0;
    FormatMode m_nFormatMode = FormatMode::Quick;
    std::uint32_t m_nTotalBlocks = 0;
    std::uint32_t m_nBlocksDone = 0;
    FormatLog m_log;
    FormatSettings m_settings;
    std::uint16_t m_nOsCode = 0;
    // True from the confirmed Start to the end of OnStartStop, whatever the run flags say. Keeps
    // a second run and the exit sequence from starting inside a run.
    bool m_bInRun = false;
};

// The progress tick's percentage: 4 with nothing done, 100 with every block done; 4 while the
// total is still 0.
std::uint16_t ProgressTickPercent(std::uint32_t blocksDone, std::uint32_t totalBlocks);
