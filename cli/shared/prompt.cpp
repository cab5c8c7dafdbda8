#include "cli/shared/prompt.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "cli/shared/stop_signals.h"

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    // Leading and trailing blanks are not part of the answer.
    std::size_t first = text.find_first_not_of(" \t\r");
    std::size_t last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

}  // namespace

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

bool AskYesNo(std::FILE* out, const std::string& question, int stopSignalsSeen) {
    std::fprintf(out, "%s [y/N] ", question.c_str());
    std::fflush(out);
    std::string answer;
    if (!ReadAnswerLine(&answer, stopSignalsSeen)) {
        std::fputc('\n', out);
        return false;
    }
    answer = Lower(answer);
    return answer == "y" || answer == "yes";
}

BoxAnswer AskAbortRetryIgnore(std::FILE* out, const std::string& text, int stopSignalsSeen) {
    std::fprintf(out, "%s", text.c_str());
    for (;;) {
        std::fprintf(out, "[A]bort, [R]etry or [I]gnore? ");
        std::fflush(out);
        std::string answer;
        if (!ReadAnswerLine(&answer, stopSignalsSeen)) {
            std::fprintf(out, "\n");
            return BoxAnswer::Abort;
        }
        answer = Lower(answer);
        if (answer == "a" || answer == "abort") return BoxAnswer::Abort;
        if (answer == "r" || answer == "retry") return BoxAnswer::Retry;
        if (answer == "i" || answer == "ignore") return BoxAnswer::Ignore;
    }
}
