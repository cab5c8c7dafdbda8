#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>

#include "cli/shared/terminal.h"

namespace {

// Set by SIGWINCH: the next update redraws at once, at the new width.
volatile std::sig_atomic_t resized = 0;
extern "C" void OnResize(int) { resized = 1; }

}  // namespace

bool IsTerminal(std::FILE* out) { return ::isatty(::fileno(out)) == 1; }

int TerminalWidth(std::FILE* out) {
    winsize size = {};
    if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

int TerminalRows(std::FILE* out) {
    winsize size = {};
    if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_row > 0) return size.ws_row;
    return 24;
}

void WatchResizes() {
    static const bool installed = [] {
        struct sigaction action = {};
        action.sa_handler = OnResize;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        return sigaction(SIGWINCH, &action, nullptr) == 0;
    }();
    (void)installed;
}

bool TakeResize() {
    const bool was = resized != 0;
    resized = 0;
    return was;
}

void RewriteLine(std::FILE* out, const std::string& line) {
    // \r and clearing to the end of the line.
    std::fprintf(out, "\r%s\033[K", line.c_str());
}
