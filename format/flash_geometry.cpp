#include "format/flash_geometry.h"

const FlashGeometry FlashGeometryTable[kFlashGeometryCount + 1] = {
    {0x6E, 256, 8, 16, 0x08, 256},   {0xE8, 256, 8, 16, 0x08, 256},
    {0xEC, 256, 8, 16, 0x08, 256},   {0x64, 256, 8, 16, 0x08, 512},
    {0xEA, 256, 8, 16, 0x08, 512},   {0x6B, 512, 16, 16, 0x00, 512},
    {0xE3, 512, 16, 16, 0x00, 512},  {0xE5, 512, 16, 16, 0x00, 512},
    {0xE6, 512, 16, 16, 0x00, 1024}, {0x73, 512, 16, 32, 0x00, 1024},
    {0x75, 512, 16, 32, 0x00, 2048}, {0x76, 512, 16, 32, 0x20, 4096},
    {0x79, 512, 16, 32, 0x20, 8192}, {0xFF, 0xFFFF, 0xFF, 0xFF, 0xFF, 0xFFFF},
};

const FlashGeometry* LookupFlashGeometry(std::uint8_t deviceCode) {
    for (const FlashGeometry* g = FlashGeometryTable; g->deviceCode != 0xFF; ++g) {
        if (g->deviceCode == deviceCode) return g;
    }
    return nullptr;
}
