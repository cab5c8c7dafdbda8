#include "sim/flash/flash_geometry.h"

namespace sim {

namespace {

// The parts the firmware knows: code, data bytes per page, spare bytes per page, pages per
// block, blocks per bank.
struct KnownPart {
    std::uint8_t code;
    std::uint16_t pageDataBytes;
    std::uint8_t spareBytes;
    std::uint8_t pagesPerBlock;
    std::uint16_t blocksPerBank;
};

constexpr KnownPart kKnownParts[] = {
    {0x6E, 256, 8, 16, 256},   {0xE8, 256, 8, 16, 256},   {0xEC, 256, 8, 16, 256},
    {0x64, 256, 8, 16, 512},   {0xEA, 256, 8, 16, 512},   {0x6B, 512, 16, 16, 512},
    {0xE3, 512, 16, 16, 512},  {0xE5, 512, 16, 16, 512},  {0xE6, 512, 16, 16, 1024},
    {0x73, 512, 16, 32, 1024}, {0x75, 512, 16, 32, 2048}, {0x76, 512, 16, 32, 4096},
    {0x79, 512, 16, 32, 8192},
};

}  // namespace

BankGeometry GeometryForDeviceCode(std::uint8_t deviceCode) {
    BankGeometry g;
    g.deviceCode = deviceCode;
    for (const KnownPart& part : kKnownParts) {
        if (part.code == deviceCode) {
            g.known = true;
            g.pageDataBytes = part.pageDataBytes;
            g.spareBytesPerPage = part.spareBytes;
            g.pagesPerBlock = part.pagesPerBlock;
            g.blocksPerBank = part.blocksPerBank;
            return g;
        }
    }
    return g;  // the small default part
}

}  // namespace sim
