#pragma once
#include <cstdint>
#include <string>

// "61.0 MiB (125056 sectors)": MiB with one decimal, truncated as the dialog shows it.
std::string SizeText(std::uint32_t sectors);
