#include "reader/sense.h"

#include <algorithm>

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

constexpr std::uint8_t kResetOccurred = 0x29;

// The sense bytes GetSenseStatus asks for: enough to reach the additional sense code.
constexpr std::uint8_t kSenseBytesRead = 14;

// Where the fields lie in the two formats of sense data.
constexpr std::uint8_t kDescriptorCurrent = 0x72;
constexpr std::uint8_t kDescriptorDeferred = 0x73;
constexpr std::size_t kFixedHeader = 8;  // the bytes up to and with the additional length

}  // namespace

SenseStatus ClassifySense(const std::uint8_t* sense) {
    SenseFields fields;
    fields.keyKnown = true;
    fields.key = sense[2] & 0x0F;
    fields.ascKnown = true;
    fields.asc = sense[12];
    return ClassifySenseFields(fields);
}

SenseFields DecodeSense(const std::uint8_t* sense, std::size_t length) {
    SenseFields fields;
    if (length == 0) return fields;
    const std::uint8_t code = sense[0] & 0x7F;
    std::size_t keyAt = 2, ascAt = 12, ascqAt = 13;
    std::size_t valid = length;
    if (code == kDescriptorCurrent || code == kDescriptorDeferred) {
        keyAt = 1;
        ascAt = 2;
        ascqAt = 3;
    } else if (length >= kFixedHeader) {
        valid = std::min<std::size_t>(length, kFixedHeader + sense[7]);
    }
    fields.keyKnown = valid > keyAt;
    if (fields.keyKnown) fields.key = sense[keyAt] & 0x0F;
    fields.ascKnown = valid > ascAt;
    if (fields.ascKnown) fields.asc = sense[ascAt];
    fields.ascqKnown = valid > ascqAt;
    if (fields.ascqKnown) fields.ascq = sense[ascqAt];
    return fields;
}

bool IsResetNotice(const SenseFields& fields) {
    return fields.keyKnown && fields.key == kUnitAttention && fields.ascKnown &&
           fields.asc == kResetOccurred;
}

SenseStatus ClassifySenseFields(const SenseFields& fields) {
    if (!fields.keyKnown) return SenseFailed;
    const std::uint8_t key = fields.key;
    // An unknown code is none of those the table tells apart.
    const int asc = fields.ascKnown ? fields.asc : -1;
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
    std::uint8_t sense[kMaxSenseBytes] = {};
    // Where the system fetched the sense data with the failed command, the device has none left
    // to give: the answer is what came back then, as far as it goes.
    PortAddress address;
    const ScsiPort* port = reader_.Port();
    if (port != nullptr && port->SenseComesWithStatus() && reader_.AddressOfUnit(key_, &address)) {
        std::uint8_t length = 0;
        switch (reader_.Commands().TakeKeptSense(address, sense, &length)) {
            case KeptSense::Bytes:
                return ClassifySenseFields(DecodeSense(sense, length));
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
