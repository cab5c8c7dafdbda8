#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

// Opcodes the simulated devices answer and the sense codes they report.

namespace sim {

// Standard commands.
constexpr std::uint8_t kOpTestUnitReady = 0x00;
constexpr std::uint8_t kOpRequestSense = 0x03;
constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::uint8_t kOpModeSense6 = 0x1A;
constexpr std::uint8_t kOpStartStopUnit = 0x1B;
constexpr std::uint8_t kOpPreventAllowRemoval = 0x1E;
constexpr std::uint8_t kOpReadCapacity = 0x25;
constexpr std::uint8_t kOpRead10 = 0x28;
constexpr std::uint8_t kOpWrite10 = 0x2A;

// The controller's vendor commands.
constexpr std::uint8_t kOpFillBlockPattern = 0xC1;
constexpr std::uint8_t kOpGetBankCount = 0xC2;
constexpr std::uint8_t kOpReadCisPageNumber = 0xC3;
constexpr std::uint8_t kOpVendorC4 = 0xC4;
constexpr std::uint8_t kOpReadPageWithSpare = 0xE8;
constexpr std::uint8_t kOpWritePageWithSpare = 0xE9;
constexpr std::uint8_t kOpMarkBlockBad = 0xF1;
constexpr std::uint8_t kOpEraseBlock = 0xF2;
constexpr std::uint8_t kOpReadRedundantArea = 0xF3;
constexpr std::uint8_t kOpReadDeviceCode = 0xF7;
constexpr std::uint8_t kOpReadBlockData = 0xFA;
constexpr std::uint8_t kOpSelectBank = 0xFB;
constexpr std::uint8_t kOpVendorFE = 0xFE;

// Sense keys.
constexpr std::uint8_t kSenseNotReady = 0x02;
constexpr std::uint8_t kSenseMediumError = 0x03;
constexpr std::uint8_t kSenseIllegalRequest = 0x05;
constexpr std::uint8_t kSenseUnitAttention = 0x06;
constexpr std::uint8_t kSenseDataProtect = 0x07;

// Additional sense codes (and qualifiers).
constexpr std::uint8_t kAscLunNotReady = 0x04;
constexpr std::uint8_t kAscWriteError = 0x0C;
constexpr std::uint8_t kAscqInitRequired = 0x02;  // with 04h: a START UNIT is needed
constexpr std::uint8_t kAscInvalidOpcode = 0x20;
constexpr std::uint8_t kAscLbaOutOfRange = 0x21;
constexpr std::uint8_t kAscInvalidField = 0x24;
constexpr std::uint8_t kAscWriteProtected = 0x27;
constexpr std::uint8_t kAscMediumChanged = 0x28;
constexpr std::uint8_t kAscResetOccurred = 0x29;  // power on, reset or bus device reset
constexpr std::uint8_t kAscFormatCorrupted = 0x31;
constexpr std::uint8_t kAscMediumNotPresent = 0x3A;
constexpr std::uint8_t kAscEraseFailure = 0x51;

// A sense key with its additional sense code and qualifier.
struct SenseCode {
    std::uint8_t key = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
};

constexpr std::size_t kSenseBytes = 18;
using SenseBytes = std::array<std::uint8_t, kSenseBytes>;

// Fixed-format sense data (response code 70h, 10 additional bytes).
inline SenseBytes FormatSense(const SenseCode& code) {
    SenseBytes bytes{};
    bytes[0] = 0x70;
    bytes[2] = code.key;
    bytes[7] = 10;
    bytes[12] = code.asc;
    bytes[13] = code.ascq;
    return bytes;
}

}  // namespace sim
