// Drives the windows of another Windows program from outside, for the end-to-end tests under Wine.
//
// Reads one command per line from standard input and answers each with one line on standard
// output: "ok" or "ok <value>" on success, "err <reason>" otherwise. Fields are separated by tabs
// so that window titles may contain spaces. Texts in answers are escaped (\n, \r, \t, \\, \xHH)
// so that every answer stays on one line.
//
//   wait <title> <ms>                    a main window (not a message box) with that title appears
//   gone <title> <ms>                    no window with that title is left
//   count <title>                        how many main windows carry that title
//   text <title> <id>                    text of control id
//   state <title> <id>                   "<enabled> <checked>" of control id (checked: BM_GETCHECK)
//   progress <title> <id>                position of a progress bar
//   click <title> <id>                   posts a click to an enabled button ("err disabled" else)
//   box <title> <ms>                     a message box with that caption: "<text>\t<button ids>"
//   answer <title> <button id>           presses a button of that message box, waits until it
//                                        closes
//   send <title> <msg> <wparam> <lparam> <ms>
//                                        SendMessageTimeout: "ok <result, hex>"
//   post <title> <msg> <wparam> <lparam> PostMessage
//   devicechange <title> <event> <ms>    sends WM_DEVICECHANGE (arrival and removal with a volume
//                                        record of drive E:)
//   rect <title> <what>                  "<left> <top> <right> <bottom>" on the screen, in pixels,
//                                        of the window ("window"), its client area ("client"),
//                                        a control id, or its first picture control ("bitmap",
//                                        "icon"); the window may also be a dialog box that looks
//                                        like a message box (an About box)
//   dpi <title>                          "<dpi> <awareness>" of the window (awareness: 0 unaware,
//                                        1 system, 2 per monitor; "-" where the system cannot
//                                        tell)
//   dpichanged <title> <dpi> <left> <top> <right> <bottom> <ms>
//                                        sends WM_DPICHANGED with that suggested rectangle, which
//                                        is put into the window's own process
//   quit
//
// The driver follows each monitor's DPI, so that it sees every window in pixels.
// Clicks are posted, not sent, so that a click that opens a modal box does not block the driver.

#include <windows.h>
// dbt.h needs the types of windows.h.
#include <dbt.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/wine/driver_escape.h"

namespace {

constexpr int kMessageBoxTextId = 0xFFFF;
constexpr int kMessageBoxIconId = 1088;
constexpr int kProgressGetPos = WM_USER + 8;  // PBM_GETPOS
constexpr DWORD kPollMs = 50;
constexpr DWORD kBoxCloseMs = 10000;
constexpr UINT kGetTextMs = 5000;
constexpr UINT kDpiChanged = 0x02E0;  // WM_DPICHANGED

// Calls of later systems, looked up at run time.
template <typename Function>
Function UserFunction(const char* name) {
    FARPROC found = GetProcAddress(GetModuleHandleA("user32.dll"), name);
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}
using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using GetWindowDpiAwarenessContextFunction = HANDLE(WINAPI*)(HWND);
using GetAwarenessFromDpiAwarenessContextFunction = int(WINAPI*)(HANDLE);
using SetProcessDpiAwarenessContextFunction = BOOL(WINAPI*)(HANDLE);

std::string Escape(const std::string& text) { return EscapeDriverText(text); }

std::string WindowText(HWND window) {
    int length = GetWindowTextLengthA(window);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    int got = GetWindowTextA(window, &text[0], length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

// The text as the control itself holds it, asked of its own thread. (The copy the window manager
// keeps for other processes can lag behind a change for a moment under Wine.)
std::string ControlText(HWND control) {
    char text[4096] = {};
    DWORD_PTR copied = 0;
    if (SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                            SMTO_NORMAL, kGetTextMs, &copied) == 0) {
        return WindowText(control);
    }
    return std::string(text, copied < sizeof text ? copied : sizeof text - 1);
}

std::string ClassName(HWND window) {
    char name[128] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> found;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&found));
    return found;
}

// A message box is a dialog whose children are only its buttons (ids 1 to 11), its icon and its
// text. The program's own dialogs use the same caption, so the caption alone does not tell.
bool IsMessageBox(HWND window) {
    if (ClassName(window) != "#32770") return false;
    bool hasText = false;
    for (HWND child : Children(window)) {
        int id = GetDlgCtrlID(child);
        if (id == kMessageBoxTextId && ClassName(child) == "Static") {
            hasText = true;
        } else if (id != kMessageBoxIconId && (id < IDOK || id > 11)) {
            return false;
        }
    }
    return hasText;
}

struct TitleSearch {
    const std::string* title;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTitled(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<TitleSearch*>(param);
    if (IsWindowVisible(window) && WindowText(window) == *search->title) {
        search->found.push_back(window);
    }
    return TRUE;
}

std::vector<HWND> TopWindowsTitled(const std::string& title) {
    TitleSearch search{&title, {}};
    EnumWindows(CollectTitled, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindMainWindow(const std::string& title) {
    for (HWND window : TopWindowsTitled(title)) {
        if (!IsMessageBox(window)) return window;
    }
    return nullptr;
}

// A main window, or else any window with that title (a dialog box whose controls make it look
// like a message box to IsMessageBox, such as an About box).
HWND FindAnyWindow(const std::string& title) {
    HWND window = FindMainWindow(title);
    if (window != nullptr) return window;
    std::vector<HWND> all = TopWindowsTitled(title);
    return all.empty() ? nullptr : all.front();
}

struct ImageSearch {
    LONG kind;
    HWND found;
};

BOOL CALLBACK FindImageStatic(HWND child, LPARAM param) {
    auto* search = reinterpret_cast<ImageSearch*>(param);
    if (ClassName(child) == "Static" &&
        (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == search->kind) {
        search->found = child;
        return FALSE;
    }
    return TRUE;
}

std::string RectText(const RECT& r) {
    return std::to_string(r.left) + " " + std::to_string(r.top) + " " + std::to_string(r.right) +
           " " + std::to_string(r.bottom);
}

HWND FindMessageBox(const std::string& title) {
    for (HWND window : TopWindowsTitled(title)) {
        if (IsMessageBox(window)) return window;
    }
    return nullptr;
}

template <typename Probe>
bool WaitFor(DWORD timeoutMs, Probe probe) {
    DWORD start = GetTickCount();
    for (;;) {
        if (probe()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(kPollMs);
    }
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    for (;;) {
        std::string::size_type tab = line.find('\t', start);
        fields.push_back(
            line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

unsigned long Number(const std::string& field) { return std::strtoul(field.c_str(), nullptr, 0); }

void Reply(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string ButtonIds(HWND box) {
    std::string ids;
    for (HWND child : Children(box)) {
        int id = GetDlgCtrlID(child);
        if (id >= IDOK && id <= 11 && ClassName(child) == "Button") {
            if (!ids.empty()) ids += ",";
            ids += std::to_string(id);
        }
    }
    return ids;
}

// Runs one command; returns false for "quit".
bool RunCommand(const std::vector<std::string>& f) {
    const std::string& verb = f[0];
    auto need = [&](size_t count) {
        if (f.size() >= count) return true;
        Reply("err " + verb + " needs " + std::to_string(count - 1) + " arguments");
        return false;
    };
    // The control of a main window, or an error reply.
    auto control = [&](HWND* out) {
        HWND window = FindMainWindow(f[1]);
        if (window == nullptr) {
            Reply("err no window");
            return false;
        }
        *out = GetDlgItem(window, static_cast<int>(Number(f[2])));
        if (*out == nullptr) {
            Reply("err no control");
            return false;
        }
        return true;
    };

    if (verb == "quit") {
        Reply("ok");
        return false;
    }
    if (verb == "wait") {
        if (!need(3)) return true;
        bool seen = WaitFor(Number(f[2]), [&] { return FindMainWindow(f[1]) != nullptr; });
        Reply(seen ? "ok" : "err timeout");
    } else if (verb == "gone") {
        if (!need(3)) return true;
        bool left = WaitFor(Number(f[2]), [&] { return TopWindowsTitled(f[1]).empty(); });
        Reply(left ? "ok" : "err timeout");
    } else if (verb == "count") {
        if (!need(2)) return true;
        int mains = 0;
        for (HWND window : TopWindowsTitled(f[1])) mains += IsMessageBox(window) ? 0 : 1;
        Reply("ok " + std::to_string(mains));
    } else if (verb == "text") {
        HWND item;
        if (need(3) && control(&item)) Reply("ok " + Escape(ControlText(item)));
    } else if (verb == "state") {
        HWND item;
        if (need(3) && control(&item)) {
            LRESULT checked = SendMessageA(item, BM_GETCHECK, 0, 0);
            Reply(std::string("ok ") + (IsWindowEnabled(item) ? "1" : "0") + " " +
                  std::to_string(static_cast<long>(checked)));
        }
    } else if (verb == "progress") {
        HWND item;
        if (need(3) && control(&item)) {
            Reply("ok " +
                  std::to_string(static_cast<long>(SendMessageA(item, kProgressGetPos, 0, 0))));
        }
    } else if (verb == "click") {
        HWND item;
        if (need(3) && control(&item)) {
            if (!IsWindowEnabled(item)) {
                Reply("err disabled");
            } else {
                PostMessageA(item, BM_CLICK, 0, 0);
                Reply("ok");
            }
        }
    } else if (verb == "box") {
        if (!need(3)) return true;
        HWND box = nullptr;
        bool seen = WaitFor(Number(f[2]), [&] { return (box = FindMessageBox(f[1])) != nullptr; });
        if (!seen) {
            Reply("err timeout");
        } else {
            HWND text = GetDlgItem(box, kMessageBoxTextId);
            Reply("ok " + Escape(text != nullptr ? ControlText(text) : std::string()) + "\t" +
                  ButtonIds(box));
        }
    } else if (verb == "answer") {
        if (!need(3)) return true;
        HWND box = FindMessageBox(f[1]);
        int id = static_cast<int>(Number(f[2]));
        if (box == nullptr) {
            Reply("err no box");
        } else if (GetDlgItem(box, id) == nullptr) {
            Reply("err no such button");
        } else {
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
            // Answered means gone: the next "box" must not find this one again.
            bool closed = WaitFor(kBoxCloseMs, [&] { return !IsWindow(box); });
            Reply(closed ? "ok" : "err box stays");
        }
    } else if (verb == "send") {
        if (!need(6)) return true;
        HWND window = FindMainWindow(f[1]);
        DWORD_PTR result = 0;
        if (window == nullptr) {
            Reply("err no window");
        } else if (SendMessageTimeoutA(window, static_cast<UINT>(Number(f[2])),
                                       static_cast<WPARAM>(Number(f[3])),
                                       static_cast<LPARAM>(Number(f[4])), SMTO_NORMAL,
                                       static_cast<UINT>(Number(f[5])), &result) == 0) {
            Reply("err timeout");
        } else {
            char hex[16];
            std::snprintf(hex, sizeof hex, "%lX", static_cast<unsigned long>(result));
            Reply(std::string("ok ") + hex);
        }
    } else if (verb == "post") {
        if (!need(5)) return true;
        HWND window = FindMainWindow(f[1]);
        if (window == nullptr) {
            Reply("err no window");
        } else {
            bool posted = PostMessageA(window, static_cast<UINT>(Number(f[2])),
                                       static_cast<WPARAM>(Number(f[3])),
                                       static_cast<LPARAM>(Number(f[4]))) != 0;
            Reply(posted ? "ok" : "err post failed " + std::to_string(GetLastError()));
        }
    } else if (verb == "devicechange") {
        if (!need(4)) return true;
        HWND window = FindMainWindow(f[1]);
        WPARAM event = static_cast<WPARAM>(Number(f[2]));
        // Arrival and removal notices point at a device record; the system carries it across
        // processes only in a sent message, never in a posted one.
        DEV_BROADCAST_VOLUME volume = {};
        volume.dbcv_size = sizeof volume;
        volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
        volume.dbcv_unitmask = 1u << ('E' - 'A');
        LPARAM record = (event & 0x8000) != 0 ? reinterpret_cast<LPARAM>(&volume) : 0;
        DWORD_PTR result = 0;
        if (window == nullptr) {
            Reply("err no window");
        } else if (SendMessageTimeoutA(window, WM_DEVICECHANGE, event, record, SMTO_NORMAL,
                                       static_cast<UINT>(Number(f[3])), &result) == 0) {
            Reply("err timeout");
        } else {
            Reply("ok");
        }
    } else if (verb == "rect") {
        if (!need(3)) return true;
        HWND window = FindAnyWindow(f[1]);
        if (window == nullptr) {
            Reply("err no window");
            return true;
        }
        RECT r = {};
        HWND item = nullptr;
        if (f[2] == "window") {
            GetWindowRect(window, &r);
        } else if (f[2] == "client") {
            GetClientRect(window, &r);
            MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
        } else {
            if (f[2] == "bitmap" || f[2] == "icon") {
                ImageSearch search{f[2] == "bitmap" ? SS_BITMAP : SS_ICON, nullptr};
                EnumChildWindows(window, FindImageStatic, reinterpret_cast<LPARAM>(&search));
                item = search.found;
            } else {
                item = GetDlgItem(window, static_cast<int>(Number(f[2])));
            }
            if (item == nullptr) {
                Reply("err no control");
                return true;
            }
            GetWindowRect(item, &r);
        }
        Reply("ok " + RectText(r));
    } else if (verb == "dpi") {
        if (!need(2)) return true;
        HWND window = FindAnyWindow(f[1]);
        static const auto getDpi = UserFunction<GetDpiForWindowFunction>("GetDpiForWindow");
        static const auto getContext =
            UserFunction<GetWindowDpiAwarenessContextFunction>("GetWindowDpiAwarenessContext");
        static const auto getAwareness = UserFunction<GetAwarenessFromDpiAwarenessContextFunction>(
            "GetAwarenessFromDpiAwarenessContext");
        if (window == nullptr) {
            Reply("err no window");
        } else {
            std::string dpi = getDpi != nullptr ? std::to_string(getDpi(window)) : "-";
            std::string awareness = getContext != nullptr && getAwareness != nullptr
                                        ? std::to_string(getAwareness(getContext(window)))
                                        : "-";
            Reply("ok " + dpi + " " + awareness);
        }
    } else if (verb == "dpichanged") {
        if (!need(8)) return true;
        HWND window = FindAnyWindow(f[1]);
        if (window == nullptr) {
            Reply("err no window");
            return true;
        }
        // The rectangle travels by address, so it must be in the receiver's memory.
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, processId);
        void* remote = process != nullptr ? VirtualAllocEx(process, nullptr, sizeof(RECT),
                                                           MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)
                                          : nullptr;
        RECT suggested = {static_cast<LONG>(std::strtol(f[3].c_str(), nullptr, 0)),
                          static_cast<LONG>(std::strtol(f[4].c_str(), nullptr, 0)),
                          static_cast<LONG>(std::strtol(f[5].c_str(), nullptr, 0)),
                          static_cast<LONG>(std::strtol(f[6].c_str(), nullptr, 0))};
        SIZE_T written = 0;
        if (remote == nullptr ||
            !WriteProcessMemory(process, remote, &suggested, sizeof suggested, &written)) {
            Reply("err cannot reach the process " + std::to_string(GetLastError()));
        } else {
            WORD dpi = static_cast<WORD>(Number(f[2]));
            DWORD_PTR result = 0;
            bool sent = SendMessageTimeoutA(window, kDpiChanged, MAKEWPARAM(dpi, dpi),
                                            reinterpret_cast<LPARAM>(remote), SMTO_NORMAL,
                                            static_cast<UINT>(Number(f[7])), &result) != 0;
            Reply(sent ? "ok" : "err timeout");
        }
        if (remote != nullptr) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
        if (process != nullptr) CloseHandle(process);
    } else {
        Reply("err unknown command " + Escape(verb));
    }
    return true;
}

}  // namespace

int main() {
    // Per monitor (V2 where there is one), else aware of the system's DPI.
    static const auto setContext =
        UserFunction<SetProcessDpiAwarenessContextFunction>("SetProcessDpiAwarenessContext");
    if (setContext == nullptr || !setContext(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)))) {
        SetProcessDPIAware();
    }
    std::string line;
    int c;
    while ((c = std::fgetc(stdin)) != EOF) {
        if (c == '\r') continue;
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        if (!line.empty() && !RunCommand(SplitTabs(line))) return 0;
        line.clear();
    }
    return 0;
}
