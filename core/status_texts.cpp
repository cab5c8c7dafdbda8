#include "core/status_texts.h"

#include <cstdio>

#include "core/string_table.h"

std::string CapacityText(std::uint32_t lastBlockAddress) {
    if (lastBlockAddress < kMinLastBlockAddress || lastBlockAddress > kMaxLastBlockAddress)
        return AppString(IDS_NOT_FORMATTED);
    const std::uint32_t sectors = lastBlockAddress + 1;
    const double size = static_cast<double>(sectors) * 512.0 / 1024.0 / 1024.0;
    const std::uint16_t whole = static_cast<std::uint16_t>(static_cast<std::uint32_t>(size));
    const std::uint8_t tenth = static_cast<std::uint8_t>(
        static_cast<std::uint32_t>((size - static_cast<double>(whole)) * 10.0));
    char line[64];
    std::snprintf(line, sizeof line, "%d.%d MB  %d ", static_cast<int>(whole),
                  static_cast<int>(tenth), static_cast<int>(sectors));
    return std::string(line) + AppString(IDS_SECTORS);
}

std::string ResultText(FormatResult result) {
    switch (result) {
        case FormatResult::Complete:
            return AppString(IDS_FORMAT_COMPLETE);
        case FormatResult::Cancelled:
            return AppString(IDS_FORMAT_CANCELED);
        case FormatResult::CompleteReplug:
            return std::string();
        case FormatResult::Failed:
            break;
    }
    return AppString(IDS_FORMAT_FAILED);
}

std::string ElapsedText(std::int64_t seconds) {
    if (seconds < 0) seconds = 0;
    const int hours = static_cast<int>((seconds / 3600) % 24);
    const int minutes = static_cast<int>((seconds / 60) % 60);
    const int secs = static_cast<int>(seconds % 60);
    char text[16];
    std::snprintf(text, sizeof text, " %02d:%02d:%02d.", hours, minutes, secs);
    return text;
}
