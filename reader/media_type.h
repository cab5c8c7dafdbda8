#pragma once
#include <cstdint>

// Key of one reader unit: 1 CompactFlash slot, 2 SmartMedia slot, 4 MMC slot, 8 + the number of
// units found before it for the controller's own flash disk. 255 means no unit.
using MediaType = std::uint8_t;

constexpr MediaType kMediaCompactFlash = 1;
constexpr MediaType kMediaSmartMedia = 2;
constexpr MediaType kMediaMmc = 4;
constexpr MediaType kMediaUsbDisk = 8;  // the first unit, when it is the flash disk
constexpr MediaType kMediaNone = 255;
