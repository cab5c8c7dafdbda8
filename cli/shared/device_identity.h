#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "reader/units.h"

// A stick as the program names it to the user, in its reports and in its history.
struct DeviceIdentity {
    std::string node;
    std::string vendor;    // INQUIRY bytes 8-15, blanks trimmed
    std::string product;   // bytes 16-31
    std::string revision;  // bytes 32-35
    std::string serial;    // from the system's device information; empty when unknown
    std::string usbPort;   // where it is plugged in ("1-1.2"), when known; not in the report
};

// The identity an INQUIRY reply gives; unprintable bytes are left out.
DeviceIdentity IdentityOfInquiry(const std::string& node,
                                 const std::array<std::uint8_t, kInquiryLength>& inquiry);
