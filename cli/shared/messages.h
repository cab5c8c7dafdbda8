#pragma once
#include <cstdio>
#include <string>

// What the program says of itself goes to standard error, a line each after its name
// ("brevant: ..."): errors and warnings always (Complain), notes of what a run is doing only when
// -v asks for them (Note, on the stream a command keeps for them). Standard output holds the
// results alone.

// The line as the program writes it: "brevant: TEXT\n".
std::string MessageLine(const std::string& text);
// A line of another brevant (a station's worker) without the program's name before it.
std::string WithoutProgramName(const std::string& line);

// An error or a warning, on standard error.
void Complain(const std::string& text);
// A note of -v on `out`; nothing when out is null.
void Note(std::FILE* out, const std::string& text);
