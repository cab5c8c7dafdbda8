#include "reader/sense.h"

#include "reader/byte_order.h"
#include "reader/reader.h"
#include "reader/reader_unit.h"

namespace {

// Sense keys.
constexpr std::uint8_t kNotReady = 2;
constexpr std::uint8_t kMediumError = 3;
constexpr std::uint8_t kIllegalRequest = 5;
constexpr std::uint8_t kUnitAttention = 6;
constexpr std::uint8_t kDataProtect = 7;
constexpr std::uint8_t kVendorSpecific = 9;

// Additional sense codes told apart under ILLEGAL REQUEST and the vendor-specific key.
constexpr std::uint8_t kInvalidOpcode = 0x20;
constexpr std::uint8_t kInvalidField = 0x24;
constexpr std::uint8_t kVendorCode09 = 0x09;
constexpr std::uint8_t kVendorCode0A = 0x0A;

// The sense bytes GetSenseStatus asks for: enough to reach the additional sense code.
constexpr std::uint8_t kSenseBytesRead = 14;

}  // namespace

SenseStatus ClassifySense(const std::uint8_t* sense) {
    const std::uint8_t key = sense[2] & 0x0F;
    const std::uint8_t asc = sense[12];
    switch (key) {
        case kNotReady:
            return SenseNotReady;
        case kMediumError:
            return SenseMediumError;
        case kUnitAttention:
            return SenseUnitAttention;
        case kDataProtect:
            return SenseDataProtect;
        case kIllegalRequest:
            if (asc == kInvalidOpcode) return SenseInvalidOpcode;
            if (asc == kInvalidField) return SenseInvalidField;
            return SenseNone;
        case kVendorSpecific:
            if (asc == kVendorCode09) return SenseVendor09;
            if (asc == kVendorCode0A) return SenseVendor0A;
            return SenseNone;
        default:
            return SenseNone;
    }
}

SenseStatus ReaderUnit::GetSenseStatus() {
    std::uint8_t sense[16] = {};
    // Where the system fetched the sense data with the failed command, the device has none left
    // to give: the answer is what came back then.
    PortAddress address;
    const ScsiPort* port = reader_.Port();
    if (port != nullptr && port->SenseComesWithStatus() && reader_.AddressOfUnit(key_, &address)) {
        switch (reader_.Commands().TakeKeptSense(address, sense, kSenseBytesRead)) {
            case KeptSense::Bytes:
                return ClassifySense(sense);
            case KeptSense::Silent:
                return SenseFailed;
            case KeptSense::Nothing:
                break;
        }
    }
    if (!RequestSense(sense, kSenseBytesRead).Good()) return SenseFailed;
    return ClassifySense(sense);
}

std::uint32_t BigEndian32(const std::uint8_t* bytes) { return GetBe32(bytes); }
