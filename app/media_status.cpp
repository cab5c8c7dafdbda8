// Media detection, the status text and the format-mode buttons of the main dialog.
#include "app/format_dlg.h"
#include "app/os_code.h"
#include "core/string_table.h"
#include "format/disk_probe.h"
#include "res/resource.h"

namespace {

constexpr std::uint32_t kEventDeviceTreeChanged = 0x0007;  // DBT_DEVNODES_CHANGED
constexpr std::uint32_t kEventArrival = 0x8000;            // DBT_DEVICEARRIVAL
constexpr std::uint32_t kEventRemovalComplete = 0x8004;    // DBT_DEVICEREMOVECOMPLETE

}  // namespace

void CFormatDlg::EnableFormatControls(bool enabled) {
    host_.EnableControl(IDC_START_STOP, enabled);
    host_.EnableControl(IDC_QUICK, enabled);
    host_.EnableControl(IDC_FULL, enabled);
}

void CFormatDlg::Rescan() {
    EnableFormatControls(false);
    m_nFormatMode = FormatMode::Quick;
    ShowFormatMode(FormatMode::Quick);
    m_mediaType = kMediaNone;
    m_bStopRequested = 1;
    m_bRunning = 0;
    if (m_nUnitCount == 0) {
        m_strStatus = AppString(IDS_NO_USB_DISK);
    } else {
        for (std::uint8_t i = 0; i < m_nUnitCount && i < 3; ++i) {
            if (m_unitKeys[i] == kMediaUsbDisk) {
                ProbeUsbDisk();
                break;
            }
        }
    }
    host_.SetControlText(IDC_STATUS, m_strStatus);
}

void CFormatDlg::ProbeUsbDisk() {
    ResetProgress();
    m_mediaType = kMediaUsbDisk;
    const DiskState state = ProbeDisk(device_, kMediaUsbDisk, true);
    if (!state.ready) {
        m_strStatus = AppString(IDS_POWERED_OFF);
        host_.SetControlText(IDC_STATUS, m_strStatus);
        host_.EnableControl(IDC_START_STOP, false);
        return;
    }

    m_strStatus = CapacityText(state);
    m_strStatus += "\n";
    if (state.writeProtected) {
        m_strStatus += AppString(IDS_WRITE_PROTECTED);
        EnableFormatControls(false);
    } else {
        m_strStatus += AppString(IDS_CLICK_START);
        EnableFormatControls(true);
    }
    host_.SetControlText(IDC_STATUS, m_strStatus);
    ShowFormatMode(m_nFormatMode);
}

void CFormatDlg::ResetProgress() {
    host_.SetProgressPosition(0);
    m_nTotalBlocks = 0;
    m_nBlocksDone = 0;
    m_strStatus.clear();
    host_.SetControlText(IDC_PERCENT, m_strStatus);
}

void CFormatDlg::ShowFormatMode(FormatMode mode) {
    if (mode == FormatMode::Full) {
        host_.CheckControl(IDC_FULL, true);
        host_.CheckControl(IDC_QUICK, false);
    } else {
        host_.CheckControl(IDC_FULL, false);
        host_.CheckControl(IDC_QUICK, true);
    }
}

void CFormatDlg::OnQuick() {
    m_nFormatMode = FormatMode::Quick;
    ShowFormatMode(m_nFormatMode);
    ResetProgress();
}

void CFormatDlg::OnFull() {
    m_nFormatMode = FormatMode::Full;
    ShowFormatMode(m_nFormatMode);
    ResetProgress();
}

void CFormatDlg::OnDeviceChange(std::uint32_t event, std::uintptr_t) {
    // Discovery runs only when the unit table may have moved between empty and not empty, and
    // the dialog is rebuilt only when it did.
    auto rediscoverIfEmpty = [this] {
        if (m_nUnitCount != 0) return;
        device_.DiscoverUnits(&m_nUnitCount, m_unitKeys);
        if (m_nUnitCount != 0) Rescan();
    };
    auto rediscoverIfPresent = [this] {
        if (m_nUnitCount == 0) return;
        device_.DiscoverUnits(&m_nUnitCount, m_unitKeys);
        if (m_nUnitCount == 0) Rescan();
    };

    if (IsNtFamily(m_nOsCode)) {
        // The NT family reports the device-tree change first; an arrival or removal counts only
        // after one.
        if (event == kEventDeviceTreeChanged) {
            ++m_nDevNodeChanges;
        } else if (event == kEventArrival || event == kEventRemovalComplete) {
            if (m_nDevNodeChanges == 0) return;
            if (event == kEventArrival)
                rediscoverIfEmpty();
            else
                rediscoverIfPresent();
            m_nDevNodeChanges = 0;
        }
        return;
    }

    // The 9x family reports the arrival or removal first and the device-tree change after it.
    if (event == kEventArrival) {
        m_bArrivalSeen = 1;
    } else if (event == kEventRemovalComplete) {
        m_bArrivalSeen = 0;
    } else if (event == kEventDeviceTreeChanged) {
        if (m_bArrivalSeen == 1)
            rediscoverIfEmpty();
        else
            rediscoverIfPresent();
    }
}
