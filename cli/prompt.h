#pragma once
#include <cstdio>
#include <string>

#include "format/run_interface.h"

// Questions asked on the terminal. They are only asked when standard input is a terminal;
// callers decide what silence means.
bool InputIsTerminal();

// Reads one line from standard input, without its line end. False at the end of the input or
// when a stop signal arrives while waiting.
bool ReadAnswerLine(std::string* line);

// Prints `question` and " [y/N] " and waits: true only for y or yes (any case).
bool AskYesNo(std::FILE* out, const std::string& question);

// The damaged-media box as a question: Abort, Retry or Ignore. Asked again until one of them is
// given; the end of the input or a stop signal counts as Abort.
BoxAnswer AskAbortRetryIgnore(std::FILE* out, const std::string& text);
