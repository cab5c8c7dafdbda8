#include "app/win32/format_app.h"

#include <memory>
#include <string>
#include <vector>

#include "app/win32/format_dlg_window.h"
#include "format/device_access.h"
#include "reader/reader.h"
#include "reader/win32/win32_os_layer.h"
#include "reader/win32/windows_back_ends.h"
#include "res/resource.h"

namespace {

struct TitleSearch {
    const char* title;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindowWithTitle(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<TitleSearch*>(context);
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    if (lstrcmpA(text, search->title) == 0) search->found.push_back(window);
    return TRUE;
}

}  // namespace

// Every top-level window with the title is asked, not only the first one found: the running
// copy's message boxes carry the same title and answer nothing, and must not hide the dialog.
bool CFormatApp::HandOverToRunningCopy(const char* title) {
    TitleSearch search{title, {}};
    EnumWindows(CollectWindowWithTitle, reinterpret_cast<LPARAM>(&search));
    for (HWND window : search.found) {
        const LRESULT answer = SendMessageA(window, WM_INSTANCE_QUERY, 0, 0);
        if (static_cast<DWORD>(answer) != INSTANCE_QUERY_ANSWER) continue;
        if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
        SetForegroundWindow(window);
        return true;
    }
    return false;
}

BOOL CFormatApp::InitInstance() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    char title[128] = {};
    LoadStringA(instance, IDS_TITLE, title, sizeof title);
    if (HandOverToRunningCopy(title)) return FALSE;

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    // The one reader of the program, for the life of the dialog.
    Win32OsLayer os;
    Reader reader(std::make_unique<WindowsBackEnds>(os));
    ReaderDeviceAccess device(reader);
    FormatDlgWindow dialog(instance, device);
    if (!device.OpenTransport()) return FALSE;  // no reader access at all: end without a word
    dialog.DoModal();
    return FALSE;
}

namespace {
CFormatApp theApp;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    theApp.InitInstance();
    return 0;
}
