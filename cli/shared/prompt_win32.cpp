#include <windows.h>

#include "cli/shared/prompt.h"
#include "cli/shared/stop_signals.h"

namespace {

HANDLE Input() { return GetStdHandle(STD_INPUT_HANDLE); }

}  // namespace

bool InputIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(Input(), &mode) != 0;
}

bool ReadAnswerLine(std::string* line, int stopSignalsSeen) {
    line->clear();
    // The console is read a key at a time in its line mode: Ctrl-C or Ctrl-Break during the
    // wait ends the read (the control handler counts it), and the count is looked at before
    // every read, so that a stop that came just before the wait ends it too.
    for (;;) {
        if (StopSignalCount() != stopSignalsSeen) return false;
        char c = 0;
        DWORD read = 0;
        if (!ReadFile(Input(), &c, 1, &read, nullptr)) return false;
        if (StopSignalCount() != stopSignalsSeen) return false;
        if (read == 0) return !line->empty();
        if (c == '\n') return true;
        if (c != '\r' && line->size() < 256) line->push_back(c);
    }
}
