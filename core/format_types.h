#pragma once
#include <cstdint>

// Result of one format run: 0 complete, 1 failed, 2 cancelled, 8 complete and the device must be
// re-plugged. The physical format answers only 1, 2 or 8.
using FormatResult = int;
constexpr FormatResult kFormatComplete = 0;
constexpr FormatResult kFormatFailed = 1;
constexpr FormatResult kFormatCancelled = 2;
constexpr FormatResult kFormatCompleteReplug = 8;

// 0 Quick, 1 Full; any value other than 1 behaves as Quick.
using FormatMode = int;
constexpr FormatMode kFormatQuick = 0;
constexpr FormatMode kFormatFull = 1;
