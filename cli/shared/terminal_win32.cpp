#include <io.h>
#include <windows.h>

#include "cli/shared/terminal.h"

namespace {

// The console screen buffer behind the stream; false when it is not a console.
bool ScreenOf(std::FILE* out, CONSOLE_SCREEN_BUFFER_INFO* info) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
    return handle != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(handle, info) != 0;
}

// The width last seen, to tell a resize: a console sends its program no signal for it.
int lastWidth = 0;

}  // namespace

bool IsTerminal(std::FILE* out) {
    // Not _isatty: it says yes to NUL and to a serial port too.
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

int TerminalWidth(std::FILE* out) {
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    if (!ScreenOf(out, &info)) return 80;
    // The window's width, not the buffer's, which may be far wider.
    const int width = info.srWindow.Right - info.srWindow.Left + 1;
    return width > 0 ? width : 80;
}

int TerminalRows(std::FILE* out) {
    CONSOLE_SCREEN_BUFFER_INFO info = {};
    if (!ScreenOf(out, &info)) return 24;
    const int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    return rows > 0 ? rows : 24;
}

void WatchResizes() { lastWidth = TerminalWidth(stdout); }

bool TakeResize() {
    const int width = TerminalWidth(stdout);
    const bool changed = width != lastWidth;
    lastWidth = width;
    return changed;
}

void RewriteLine(std::FILE* out, const std::string& line) {
    // The line padded with blanks to the width but for the last column (a character there moves
    // the cursor to the next line): what a longer line before it left goes.
    const std::size_t room = static_cast<std::size_t>(TerminalWidth(out) - 1);
    std::string padded = line;
    if (padded.size() < room) padded.append(room - padded.size(), ' ');
    std::fprintf(out, "\r%s", padded.c_str());
}
