#include "cli/shared/device_identity.h"

namespace {

std::string InquiryText(const std::array<std::uint8_t, kInquiryLength>& inquiry, std::size_t from,
                        std::size_t length) {
    std::string text;
    for (std::size_t i = from; i < from + length; ++i) {
        const std::uint8_t c = inquiry[i];
        if (c >= 0x20 && c < 0x7F) text += static_cast<char>(c);
    }
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

DeviceIdentity IdentityOfInquiry(const std::string& node,
                                 const std::array<std::uint8_t, kInquiryLength>& inquiry) {
    DeviceIdentity identity;
    identity.node = node;
    identity.vendor = InquiryText(inquiry, 8, 8);
    identity.product = InquiryText(inquiry, 16, 16);
    identity.revision = InquiryText(inquiry, 32, 4);
    return identity;
}
