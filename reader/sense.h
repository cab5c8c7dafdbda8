#pragma once
#include <cstddef>
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

// The fields of sense data that the bytes at hand reach. Sense that the system collected with a
// failed command comes as the device gave it: cut short by its length, or saying by its
// additional length (byte 7) that it carries fewer bytes than arrived. A field past either is
// unknown, never a zero.
struct SenseFields {
    bool keyKnown = false;
    std::uint8_t key = 0;
    bool ascKnown = false;
    std::uint8_t asc = 0;
    bool ascqKnown = false;
    std::uint8_t ascq = 0;
};

// Decodes `length` bytes of sense data, fixed format (70h, 71h, or any code but the descriptor
// ones) or descriptor format (72h, 73h).
SenseFields DecodeSense(const std::uint8_t* sense, std::size_t length);

// The classification by the fields that are known: a key the bytes do not reach is no sense
// at all (SenseFailed); an additional sense code they do not reach matches no code.
SenseStatus ClassifySenseFields(const SenseFields& fields);

// UNIT ATTENTION 29h (power on, reset or bus device reset): the device was reset, after a
// time-out for instance, and the command this answers was not carried out. Not a new medium.
bool IsResetNotice(const SenseFields& fields);

// The value of four bytes stored most significant first.
std::uint32_t BigEndian32(const std::uint8_t* bytes);
