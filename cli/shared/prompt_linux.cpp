#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "cli/shared/prompt.h"
#include "cli/shared/stop_signal_set.h"
#include "cli/shared/stop_signals.h"

bool InputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

bool ReadAnswerLine(std::string* line, int stopSignalsSeen) {
    line->clear();
    // The stop signals are held back except while waiting in ppoll, which lets them in and
    // waits in one step: between the check of the count and the wait no signal can slip by.
    sigset_t previous;
    const sigset_t stops = StopSignals();
    sigprocmask(SIG_BLOCK, &stops, &previous);
    bool answered = false;
    for (;;) {
        if (StopSignalCount() != stopSignalsSeen) break;
        pollfd input{STDIN_FILENO, POLLIN, 0};
        int ready = ::ppoll(&input, 1, nullptr, &previous);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) break;
        char c;
        ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            answered = n == 0 && !line->empty();
            break;
        }
        if (c == '\n') {
            answered = true;
            break;
        }
        if (line->size() < 256) line->push_back(c);
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    return answered;
}
