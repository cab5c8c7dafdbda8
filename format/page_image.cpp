#include "format/page_image.h"

#include <cstring>

const PageImage& AscendingPattern() {
    static const PageImage pattern = [] {
        PageImage p{};
        for (std::size_t word = 0; word < kPageImageBytes / 2; ++word) {
            p[2 * word] = static_cast<std::uint8_t>(word & 0xFF);
            p[2 * word + 1] = static_cast<std::uint8_t>(word >> 8);
        }
        return p;
    }();
    return pattern;
}

PageImage BuildDiskCisPage(const GroupTable& groups, const BankSectorTotals& totals) {
    PageImage page{};  // bytes 292-511 and spare 6-15 stay 0
    std::memcpy(page.data(), kCisSignature, sizeof kCisSignature);
    std::size_t at = 4;
    for (const auto& bank : groups) {
        for (std::uint8_t count : bank) page[at++] = count;
    }
    for (std::uint32_t total : totals) {
        for (int shift = 0; shift < 32; shift += 8)
            page[at++] = static_cast<std::uint8_t>(total >> shift);
    }
    for (std::size_t i = 0; i < kBadMarkBytes; ++i) page[kBadMarkOffset + i] = 0xFF;
    return page;
}

bool HasCisSignature(const PageImage& image) {
    return std::memcmp(image.data(), kCisSignature, sizeof kCisSignature) == 0;
}
