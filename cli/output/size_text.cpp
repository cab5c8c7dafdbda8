#include "cli/output/size_text.h"

#include <cstdio>

std::string SizeText(std::uint32_t sectors) {
    char text[64];
    const std::uint64_t tenths = std::uint64_t{sectors} * 10 / 2048;
    std::snprintf(text, sizeof text, "%llu.%llu MiB (%u sectors)",
                  static_cast<unsigned long long>(tenths / 10),
                  static_cast<unsigned long long>(tenths % 10), sectors);
    return text;
}
