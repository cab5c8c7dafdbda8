#include "app/win32/win32_host.h"

#include <ctime>
#include <vector>

#include "app/win32/about_dlg.h"

void Win32WindowHost::SetControlText(int control, const std::string& text) {
    SetDlgItemTextA(dialog_, control, text.c_str());
}

void Win32WindowHost::EnableControl(int control, bool enabled) {
    EnableWindow(GetDlgItem(dialog_, control), enabled ? TRUE : FALSE);
}

void Win32WindowHost::CheckControl(int control, bool checked) {
    CheckDlgButton(dialog_, control, checked ? BST_CHECKED : BST_UNCHECKED);
}

void Win32WindowHost::SetProgressPosition(int position) {
    SendDlgItemMessageA(dialog_, 1012, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

BoxAnswer Win32WindowHost::MessageBox(const std::string& text, const std::string& caption,
                                      BoxButtons buttons) {
    UINT type = MB_OK;
    if (buttons == BoxButtons::OkCancel) type = MB_OKCANCEL;
    if (buttons == BoxButtons::AbortRetryIgnore) type = MB_ABORTRETRYIGNORE;
    switch (::MessageBoxA(dialog_, text.c_str(), caption.c_str(), type)) {
        case 0:
            // The box could not be shown. An unanswered question about erasing the disk is
            // not a yes; the other boxes carry on as after their first button.
            return buttons == BoxButtons::OkCancel           ? BoxAnswer::Cancel
                   : buttons == BoxButtons::AbortRetryIgnore ? BoxAnswer::Abort
                                                             : BoxAnswer::Ok;
        case IDCANCEL:
            return BoxAnswer::Cancel;
        case IDABORT:
            return BoxAnswer::Abort;
        case IDRETRY:
            return BoxAnswer::Retry;
        case IDIGNORE:
            return BoxAnswer::Ignore;
        default:
            return BoxAnswer::Ok;
    }
}

void Win32WindowHost::ShowAboutBox() {
    CAboutDlg about;
    about.DoModal(instance_, dialog_);
}

void Win32WindowHost::AppendSystemMenuEntry(unsigned command, const std::string& text) {
    HMENU menu = GetSystemMenu(dialog_, FALSE);
    if (menu == nullptr) return;
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, command, text.c_str());
}

// The same icon resource in the two sizes the window system asks for at the window's DPI.
void Win32WindowHost::SetWindowIcons() { icons_.SetOn(dialog_); }

void Win32WindowHost::StartTimer(unsigned id, unsigned milliseconds) {
    SetTimer(dialog_, id, milliseconds, nullptr);
}

void Win32WindowHost::StopTimer(unsigned id) { KillTimer(dialog_, id); }

void Win32WindowHost::PumpOneMessage() {
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return;
    if (msg.message == WM_QUIT) {
        // Leave the quit request for the dialog's own loop once the run is over.
        PostQuitMessage(static_cast<int>(msg.wParam));
        return;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

std::int64_t Win32WindowHost::Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

bool Win32WindowHost::CurrentDirectory(std::string* directory) {
    // Asked with ample room, so that a long name is reported whole and the settings reader can
    // tell that it does not fit instead of reading a cut-off path.
    std::vector<char> buffer(32768);
    const DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0 || length >= buffer.size()) return false;
    directory->assign(buffer.data(), length);
    return true;
}

void Win32WindowHost::OsVersion(std::uint32_t* platformId, std::uint32_t* major,
                                std::uint32_t* minor) {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info)) {
        *platformId = *major = *minor = 0;
        return;
    }
    *platformId = info.dwPlatformId;
    *major = info.dwMajorVersion;
    *minor = info.dwMinorVersion;
}

std::string Win32WindowHost::ApplicationName() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name(path, length < MAX_PATH ? length : MAX_PATH - 1);
    const std::size_t slash = name.find_last_of("\\/:");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot != 0) name.erase(dot);
    return name;
}

bool Win32WindowHost::IsMinimised() { return IsIconic(dialog_) != FALSE; }

void Win32WindowHost::DrawIconCentred() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog_, &paint);
    SendMessageA(dialog_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(dialog_, &client);
    const int iconSize = icons_.LargeSize();  // square
    const int left = (client.right - client.left - iconSize + 1) / 2;
    const int top = (client.bottom - client.top - iconSize + 1) / 2;
    DrawIconEx(dc, left, top, icons_.Large(), iconSize, iconSize, 0, nullptr, DI_NORMAL);
    EndPaint(dialog_, &paint);
}

void Win32WindowHost::EndDialog(int result) { ::EndDialog(dialog_, result); }
