#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

// What a station's worker (one `brevant format` per stick) tells its parent, one line at a time
// on a pipe:
//
//   progress DONE TOTAL BAD PHASE
//   lost FILE
//   end EXIT RESULT BAD UNMARKABLE CAPACITY MESSAGE
//
// "lost" comes before the end when the old pages could not be written back: FILE holds them.
// CAPACITY is the sectors after the format, or "-"; PHASE, FILE and MESSAGE run to the line's
// end.

struct WorkerStatus {
    bool ended = false;
    std::uint32_t blocksDone = 0;
    std::uint32_t totalBlocks = 0;
    std::uint32_t badBlocks = 0;
    std::string phase = "starting";
    int exitCode = -1;
    std::string result;
    std::uint32_t unmarkable = 0;
    bool capacityKnown = false;
    std::uint32_t capacitySectors = 0;
    std::string message;
    std::string lostPagesFile;  // where the old pages wait, when they could not be written back
};

void WriteProgressLine(std::FILE* out, std::uint32_t done, std::uint32_t total, std::uint32_t bad,
                       const char* phase);
void WriteLostPagesLine(std::FILE* out, const std::string& file);
void WriteEndLine(std::FILE* out, int exitCode, const std::string& result, std::uint32_t bad,
                  std::uint32_t unmarkable, bool capacityKnown, std::uint32_t capacity,
                  const std::string& message);

// Takes one line into the status; false for a line that is not one of the two.
bool ReadStatusLine(const std::string& line, WorkerStatus* status);
