#include "app/format_dlg.h"

#include "app/os_code.h"
#include "core/string_table.h"
#include "res/resource.h"

namespace {

constexpr int kCancelResult = 2;  // IDCANCEL

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

}  // namespace

CFormatDlg::CFormatDlg(WindowHost& host, DeviceAccess& device) : host_(host), device_(device) {}

bool CFormatDlg::OnInitDialog() {
    host_.SetControlText(IDC_STATUS, m_strStatus);
    // The About entry is offered only when its menu text is not empty; the shipped table leaves
    // it empty, so the system menu stays as the platform made it.
    const std::string aboutText = AppString(IDS_ABOUTBOX);
    if (!aboutText.empty()) host_.AppendSystemMenuEntry(IDM_ABOUTBOX, aboutText);
    host_.SetWindowIcons();
    m_strTitle = AppString(IDS_TITLE);

    std::uint32_t platform = 0, major = 0, minor = 0;
    host_.OsVersion(&platform, &major, &minor);
    m_nOsCode = OsCode(platform, major, minor);

    m_mediaType = kMediaNone;
    m_nDevNodeChanges = 0;
    m_nUnitCount = 0;
    m_bArrivalSeen = 0;

    m_settings = FormatSettings();
    LoadSettings();
    OpenLog();

    device_.DiscoverUnits(&m_nUnitCount, m_unitKeys);
    Rescan();
    return true;
}

void CFormatDlg::OnCancel() {
    // Exit is disabled during a run, but the cancel command can still be sent to the window;
    // tearing the transport down under the running engine would pull the reader from under it.
    if (m_bInRun) return;
    FlushLog();  // the log goes out while the reader is still open and the window still up
    device_.CloseTransport();
    host_.EndDialog(kCancelResult);
}

std::uint32_t CFormatDlg::OnInstanceQuery(std::uintptr_t, std::intptr_t) {
    return INSTANCE_QUERY_ANSWER;
}

bool CFormatDlg::OnSysCommand(std::uint32_t command) {
    if ((command & 0xFFF0u) != IDM_ABOUTBOX) return false;
    host_.ShowAboutBox();
    return true;
}

bool CFormatDlg::OnPaint() {
    if (!host_.IsMinimised()) return false;
    host_.DrawIconCentred();
    return true;
}

int CFormatDlg::LoadSettings() {
    std::string directory;
    if (!host_.CurrentDirectory(&directory)) return 0;
    return ::LoadSettings(directory, &m_settings);
}

void CFormatDlg::OpenLog() {
    // The log lives beside the settings file, in the current directory.
    std::string directory;
    std::string path = "brevant.log";
    if (host_.CurrentDirectory(&directory) && !directory.empty()) {
        if (directory.back() != kPathSeparator) directory += kPathSeparator;
        path = directory + path;
    }
    m_log.Open(m_settings.GenerateLog, path);
}

void CFormatDlg::AppendLog(const char* format, std::int32_t a, std::int32_t b, std::int32_t c) {
    m_log.Append(format, a, b, c);
}

void CFormatDlg::FlushLog() { m_log.Flush(); }

void CFormatDlg::PumpOneMessage() { host_.PumpOneMessage(); }

void CFormatDlg::SetProgressPosition(int position) { host_.SetProgressPosition(position); }

void CFormatDlg::ShowPercentText(const std::string& text) {
    m_strStatus = text;
    host_.SetControlText(IDC_PERCENT, m_strStatus);
}

BoxAnswer CFormatDlg::MessageBox(const std::string& text, const std::string& caption,
                                 BoxButtons buttons) {
    return host_.MessageBox(text, caption, buttons);
}

std::string CFormatDlg::ApplicationName() { return host_.ApplicationName(); }
