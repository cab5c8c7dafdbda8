// The Start/Stop run of the main dialog: confirmation, the run itself, progress and the result.
#include <cstdio>

#include "app/format_dlg.h"
#include "core/status_texts.h"
#include "core/string_table.h"
#include "format/run_sequence.h"
#include "res/resource.h"

namespace {

constexpr unsigned kProgressTimer = 1;
constexpr unsigned kProgressPeriodMs = 2000;

}  // namespace

std::uint16_t ProgressTickPercent(std::uint32_t blocksDone, std::uint32_t totalBlocks) {
    // A tick can come after a progress reset emptied the total; it then shows the start value.
    if (totalBlocks == 0) return 4;
    return static_cast<std::uint16_t>(blocksDone * 96u / totalBlocks + 4u);
}

void CFormatDlg::OnStartStop() {
    if (m_bRunning == 1) {
        // Only the flags change here; the engine sees them at its next poll and unwinds.
        m_bStopRequested = 1;
        m_bRunning = 0;
        return;
    }
    // The button still reads "Stop" between a stop request and the engine's return.
    if (m_bInRun) return;

    if (host_.MessageBox(AppString(IDS_CONFIRM_ERASE), m_strTitle, BoxButtons::OkCancel) ==
        BoxAnswer::Cancel)
        return;
    // A device change handled while the box was open may have taken the disk away; the rescan
    // has already shown that, and nothing is run on a unit that is no longer there.
    if (m_mediaType != kMediaUsbDisk) return;

    m_bInRun = true;
    host_.EnableControl(IDC_EXIT, false);
    host_.EnableControl(IDC_QUICK, false);
    host_.EnableControl(IDC_FULL, false);
    host_.SetControlText(IDC_START_STOP, "Stop");
    m_strStatus = AppString(IDS_FORMATTING);
    host_.SetControlText(IDC_STATUS, m_strStatus);
    m_bStopRequested = 0;
    m_bRunning = 1;
    m_strRunMessage.clear();

    const std::int64_t started = host_.Now();
    const FormatResult result = RunFormat();
    const std::int64_t elapsed = host_.Now() - started;

    if (result == FormatResult::CompleteReplug)
        host_.MessageBox(m_strRunMessage, m_strTitle, BoxButtons::Ok);
    m_strStatus = m_strRunMessage + ResultText(result);
    m_strStatus += AppString(IDS_TIME_ELAPSED);
    m_strStatus += ElapsedText(elapsed);
    host_.SetControlText(IDC_STATUS, m_strStatus);

    m_bStopRequested = 1;
    m_bRunning = 0;
    host_.SetControlText(IDC_START_STOP, "Start");
    if (result == FormatResult::CompleteReplug) {
        host_.EnableControl(IDC_START_STOP, false);
    } else {
        host_.EnableControl(IDC_QUICK, true);
        host_.EnableControl(IDC_FULL, true);
    }
    host_.EnableControl(IDC_EXIT, true);
    m_bInRun = false;
}

FormatResult CFormatDlg::RunFormat() {
    return RunFormatSequence(*this, device_, m_mediaType, m_nFormatMode);
}

void CFormatDlg::StartProgressTimer() { host_.StartTimer(kProgressTimer, kProgressPeriodMs); }

void CFormatDlg::StopProgressTimer() { host_.StopTimer(kProgressTimer); }

void CFormatDlg::OnTimer(std::uintptr_t timerId) {
    if (timerId != kProgressTimer) return;
    const std::uint16_t percent = ProgressTickPercent(m_nBlocksDone, m_nTotalBlocks);
    host_.SetProgressPosition(percent);
    char text[16];
    std::snprintf(text, sizeof text, "%d%%", static_cast<int>(percent));
    m_strStatus = text;
    host_.SetControlText(IDC_PERCENT, m_strStatus);
}
