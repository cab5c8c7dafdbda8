#include "cli/prompt.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

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

bool ReadAnswerLine(std::string* line) {
    line->clear();
    for (;;) {
        char c;
        ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n == 0) return !line->empty();
        if (n < 0) return false;  // EINTR from a stop signal included
        if (c == '\n') return true;
        if (line->size() < 256) line->push_back(c);
    }
}

bool AskYesNo(std::FILE* out, const std::string& question) {
    std::fprintf(out, "%s [y/N] ", question.c_str());
    std::fflush(out);
    std::string answer;
    if (!ReadAnswerLine(&answer)) {
        std::fputc('\n', out);
        return false;
    }
    answer = Lower(answer);
    return answer == "y" || answer == "yes";
}

BoxAnswer AskAbortRetryIgnore(std::FILE* out, const std::string& text) {
    std::fprintf(out, "%s", text.c_str());
    for (;;) {
        std::fprintf(out, "[A]bort, [R]etry or [I]gnore? ");
        std::fflush(out);
        std::string answer;
        if (!ReadAnswerLine(&answer)) {
            std::fprintf(out, "\n");
            return BoxAnswer::Abort;
        }
        answer = Lower(answer);
        if (answer == "a" || answer == "abort") return BoxAnswer::Abort;
        if (answer == "r" || answer == "retry") return BoxAnswer::Retry;
        if (answer == "i" || answer == "ignore") return BoxAnswer::Ignore;
    }
}
