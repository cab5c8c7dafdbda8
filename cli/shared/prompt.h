#pragma once
#include <cstdio>
#include <string>

#include "format/run_interface.h"

// Questions asked on the terminal. They are only asked when standard input is a terminal;
// callers decide what silence means.
bool InputIsTerminal();

// Reads one line from standard input, without its line end. False at the end of the input or
// once StopSignalCount() differs from `stopSignalsSeen`: a stop signal that came just before the
// wait began ends it as surely as one that came during it.
bool ReadAnswerLine(std::string* line, int stopSignalsSeen);

// Prints `question` and " [y/N] " and waits: true only for y or yes (any case).
bool AskYesNo(std::FILE* out, const std::string& question, int stopSignalsSeen);

// The damaged-media box as a question: Abort, Retry or Ignore. Asked again until one of them is
// given; the end of the input or a stop signal counts as Abort.
BoxAnswer AskAbortRetryIgnore(std::FILE* out, const std::string& text, int stopSignalsSeen);
