#include "app/os_code.h"

std::uint16_t OsCode(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor) {
    if (platformId == kPlatformNt) return (major >= 5 && minor >= 1) ? 6 : 5;
    return (major >= 4 && minor >= 90) ? 4 : 3;
}
