#pragma once
#include <cstdio>
#include <string>

// The terminal the output goes to, as the platform tells of it: a Linux terminal (TIOCGWINSZ,
// SIGWINCH, ANSI line clearing) or a Windows console (its screen buffer; Windows 7's console
// knows no escape sequences).

// Whether the stream is a terminal (a console) rather than a file or a pipe.
bool IsTerminal(std::FILE* out);
// The terminal's width in columns, 80 when it cannot tell.
int TerminalWidth(std::FILE* out);
// Its height in rows, 24 when it cannot tell.
int TerminalRows(std::FILE* out);
// From now on, notes when the terminal changes its size.
void WatchResizes();
// Whether it changed its size since the last call.
bool TakeResize();
// Writes `line` over the one the cursor is on, whatever a longer line before it left there.
void RewriteLine(std::FILE* out, const std::string& line);
