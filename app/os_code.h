#pragma once
#include <cstdint>

// The host system family as the device-change handling tells it apart: 3 Windows 95/98,
// 4 Windows Me, 5 NT 4.0/2000 (and every NT version whose minor number is 0), 6 XP and the NT
// versions with a non-zero minor number from 5 on. Codes up to 4 mean the 9x family.
constexpr std::uint32_t kPlatformNt = 2;  // VER_PLATFORM_WIN32_NT

std::uint16_t OsCode(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor);

inline bool IsNtFamily(std::uint16_t osCode) { return osCode >= 5; }
