#include "cli/shared/messages.h"

namespace {

constexpr char kProgramName[] = "brevant: ";
constexpr std::size_t kProgramNameLength = sizeof kProgramName - 1;

}  // namespace

std::string MessageLine(const std::string& text) { return kProgramName + text + "\n"; }

std::string WithoutProgramName(const std::string& line) {
    if (line.compare(0, kProgramNameLength, kProgramName) != 0) return line;
    return line.substr(kProgramNameLength);
}

void Complain(const std::string& text) { std::fputs(MessageLine(text).c_str(), stderr); }

void Note(std::FILE* out, const std::string& text) {
    if (out == nullptr) return;
    std::fputs(MessageLine(text).c_str(), out);
    std::fflush(out);
}
