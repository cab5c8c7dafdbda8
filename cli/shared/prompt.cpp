#include "cli/shared/prompt.h"

#include <algorithm>
#include <cctype>

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
