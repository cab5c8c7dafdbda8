#pragma once
#include <cstdint>

// The reader's sense data, classified. Callers act on SenseUnitAttention (a medium was just
// inserted or changed) and SenseDataProtect (write-protected). A unit asks for it with
// ReaderUnit::GetSenseStatus.
enum SenseStatus : std::uint8_t {
    SenseNone = 0,
    SenseNotReady = 2,
    SenseUnitAttention = 4,
    SenseDataProtect = 5,
    SenseMediumError = 6,
    SenseInvalidOpcode = 7,
    SenseInvalidField = 8,
    SenseVendor09 = 9,
    SenseVendor0A = 10,
    SenseFailed = 255,  // REQUEST SENSE itself failed
};

// Classification of a sense reply by its key (byte 2, bits 0-3) and additional sense code
// (byte 12). `sense` holds at least 13 bytes.
SenseStatus ClassifySense(const std::uint8_t* sense);

// The value of four bytes stored most significant first.
std::uint32_t BigEndian32(const std::uint8_t* bytes);
