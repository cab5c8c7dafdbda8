#include "cli/worker_status.h"

#include <sstream>

namespace {

// The rest of a line after the words already read, without the blank before it.
std::string Rest(std::istringstream& in) {
    std::string rest;
    std::getline(in, rest);
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    return rest;
}

std::string OneLine(const std::string& text) {
    std::string line = text;
    for (char& c : line) c = (c == '\n' || c == '\r') ? ' ' : c;
    return line;
}

}  // namespace

void WriteProgressLine(std::FILE* out, std::uint32_t done, std::uint32_t total, std::uint32_t bad,
                       const char* phase) {
    std::fprintf(out, "progress %u %u %u %s\n", done, total, bad, OneLine(phase).c_str());
    std::fflush(out);
}

void WriteLostPagesLine(std::FILE* out, const std::string& file) {
    std::fprintf(out, "lost %s\n", OneLine(file).c_str());
    std::fflush(out);
}

void WriteEndLine(std::FILE* out, int exitCode, const std::string& result, std::uint32_t bad,
                  std::uint32_t unmarkable, bool capacityKnown, std::uint32_t capacity,
                  const std::string& message) {
    const std::string size = capacityKnown ? std::to_string(capacity) : "-";
    std::fprintf(out, "end %d %s %u %u %s %s\n", exitCode,
                 result.empty() ? "failed" : result.c_str(), bad, unmarkable, size.c_str(),
                 OneLine(message).c_str());
    std::fflush(out);
}

bool ReadStatusLine(const std::string& line, WorkerStatus* status) {
    std::istringstream in(line);
    std::string word;
    in >> word;
    if (word == "progress") {
        WorkerStatus next = *status;
        if (!(in >> next.blocksDone >> next.totalBlocks >> next.badBlocks)) return false;
        next.phase = Rest(in);
        *status = next;
        return true;
    }
    if (word == "lost") {
        status->lostPagesFile = Rest(in);
        return !status->lostPagesFile.empty();
    }
    if (word == "end") {
        WorkerStatus next = *status;
        std::string capacity;
        if (!(in >> next.exitCode >> next.result >> next.badBlocks >> next.unmarkable >>
              capacity)) {
            return false;
        }
        next.capacityKnown = capacity != "-";
        if (next.capacityKnown) {
            try {
                next.capacitySectors = static_cast<std::uint32_t>(std::stoul(capacity));
            } catch (...) {
                return false;
            }
        }
        next.message = Rest(in);
        next.ended = true;
        *status = next;
        return true;
    }
    return false;
}
