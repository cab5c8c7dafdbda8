#pragma once
#include <cstdint>
#include <string>

#include "core/format_types.h"

// The texts that tell the user about the disk and the run, the same in the dialog's status text
// and on the command line.

// The last logical block addresses a formatted disk can report (251 to 2048001 sectors).
constexpr std::uint32_t kMinLastBlockAddress = 250;
constexpr std::uint32_t kMaxLastBlockAddress = 2048000;

// "%d.%d MB  %d sectors" (whole megabytes, the first decimal truncated, the sector count) for a
// last logical block address inside the accepted range, "Media is not formatted." outside it.
std::string CapacityText(std::uint32_t lastBlockAddress);

// What the status says after a run: "Format is complete." (Complete), "Format was canceled."
// (Cancelled), nothing (CompleteReplug: the engine's own message says it all), "Format failed !"
// for every other result.
std::string ResultText(FormatResult result);

// " HH:MM:SS." of an elapsed span in seconds, the hours taken modulo 24; a negative span (the
// clock was set back during the run) shows as zero.
std::string ElapsedText(std::int64_t seconds);
