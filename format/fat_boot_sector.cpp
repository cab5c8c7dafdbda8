#include "format/fat_boot_sector.h"

#include <cstring>

namespace {

void Put16(SectorImage& s, std::size_t at, std::uint32_t value) {
    s[at] = static_cast<std::uint8_t>(value);
    s[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(SectorImage& s, std::size_t at, std::uint32_t value) {
    Put16(s, at, value & 0xFFFF);
    Put16(s, at + 2, value >> 16);
}

// The loader, hand-assembled 16-bit code loaded by the BIOS at 0000:7C00. The jump at offset 0
// (EB 3E) lands at offset 0x40; the two loader bytes before it are padding.
//
//   40 FA          cli
//   41 33 C0       xor  ax, ax
//   43 8E D0       mov  ss, ax
//   45 BC 00 7C    mov  sp, 7C00h
//   48 8E D8       mov  ds, ax
//   4A FB          sti
//   4B FC          cld
//   4C BE 6D 7C    mov  si, 7C00h + kInvalidDisk
//   4F E8 0C 00    call print
//   52 BE 94 7C    mov  si, 7C00h + kReplaceDisk
//   55 E8 06 00    call print
//   58 32 E4       xor  ah, ah
//   5A CD 16       int  16h            ; wait for a key
//   5C CD 19       int  19h            ; let the BIOS boot from elsewhere
//   print:
//   5E AC          lodsb
//   5F 0A C0       or   al, al
//   61 74 09       jz   6Ch
//   63 B4 0E       mov  ah, 0Eh        ; teletype output
//   65 BB 07 00    mov  bx, 0007h
//   68 CD 10       int  10h
//   6A EB F2       jmp  5Eh
//   6C C3          ret
constexpr std::uint8_t kLoaderCode[] = {
    0x90, 0x90, 0xFA, 0x33, 0xC0, 0x8E, 0xD0, 0xBC, 0x00, 0x7C, 0x8E, 0xD8, 0xFB, 0xFC, 0xBE, 0x6D,
    0x7C, 0xE8, 0x0C, 0x00, 0xBE, 0x94, 0x7C, 0xE8, 0x06, 0x00, 0x32, 0xE4, 0xCD, 0x16, 0xCD, 0x19,
    0xAC, 0x0A, 0xC0, 0x74, 0x09, 0xB4, 0x0E, 0xBB, 0x07, 0x00, 0xCD, 0x10, 0xEB, 0xF2, 0xC3};
// The messages follow the code, each ending in a zero byte. The disk I/O message is not printed
// by this loader (it reads nothing) but belongs with the others.
constexpr std::size_t kInvalidDisk = 0x6D;
constexpr std::size_t kDiskIoError = 0x83;
constexpr std::size_t kReplaceDisk = 0x94;
constexpr char kInvalidDiskText[] = "\r\nInvalid system disk";
constexpr char kDiskIoErrorText[] = "\r\nDisk I/O error";
constexpr char kReplaceDiskText[] = "\r\nReplace the disk, and then press any key\r\n";

static_assert(boot::kLoader + sizeof kLoaderCode == kInvalidDisk, "code runs into the messages");
static_assert(kInvalidDisk + sizeof kInvalidDiskText == kDiskIoError, "message layout");
static_assert(kDiskIoError + sizeof kDiskIoErrorText == kReplaceDisk, "message layout");
static_assert(kReplaceDisk + sizeof kReplaceDiskText <= boot::kSignature, "loader too long");

SectorImage MakeImage() {
    SectorImage s{};
    const std::uint8_t jump[3] = {0xEB, 0x3E, 0x90};
    std::memcpy(&s[boot::kJump], jump, sizeof jump);
    std::memcpy(&s[boot::kOemName], ")o-H]IHC", 8);
    Put16(s, boot::kBytesPerSector, 512);
    s[boot::kSectorsPerCluster] = 4;
    Put16(s, boot::kReservedSectors, 1);
    s[boot::kFatCount] = 2;
    Put16(s, boot::kRootEntries, 512);
    s[boot::kMediaDescriptor] = 0xF8;
    Put16(s, boot::kSectorsPerTrack, 63);
    Put16(s, boot::kHeads, 32);
    s[boot::kDriveNumber] = 0x80;
    s[boot::kExtendedSignature] = 0x29;
    std::memcpy(&s[boot::kVolumeLabel], NoNameLabel().data(), NoNameLabel().size());
    std::memcpy(&s[boot::kFileSystemType], "FAT16   ", 8);
    std::memcpy(&s[boot::kLoader], kLoaderCode, sizeof kLoaderCode);
    std::memcpy(&s[kInvalidDisk], kInvalidDiskText, sizeof kInvalidDiskText);
    std::memcpy(&s[kDiskIoError], kDiskIoErrorText, sizeof kDiskIoErrorText);
    std::memcpy(&s[kReplaceDisk], kReplaceDiskText, sizeof kReplaceDiskText);
    s[boot::kSignature] = 0x55;
    s[boot::kSignature + 1] = 0xAA;
    return s;
}

}  // namespace

const SectorImage& BootSectorImage() {
    static const SectorImage image = MakeImage();
    return image;
}

SectorImage BuildBootSector(const VolumeGeometry& geometry, const VolumeSerial& serial,
                            const FatLabel& label) {
    SectorImage s = BootSectorImage();
    s[boot::kSectorsPerCluster] = static_cast<std::uint8_t>(geometry.sectorsPerCluster);
    Put16(s, boot::kRootEntries, geometry.rootEntries);
    const bool fits16 = geometry.volumeSectors < 65536;
    Put16(s, boot::kTotalSectors16, fits16 ? geometry.volumeSectors : 0);
    Put16(s, boot::kSectorsPerFat, geometry.sectorsPerFat);
    Put16(s, boot::kSectorsPerTrack, 63);
    // 32 heads whatever the search chose: the search only sizes the volume.
    Put16(s, boot::kHeads, 32);
    Put32(s, boot::kHiddenSectors, 0);
    Put32(s, boot::kTotalSectors32, fits16 ? 0 : geometry.volumeSectors);
    std::memcpy(&s[boot::kVolumeSerial], serial.data(), serial.size());
    std::memcpy(&s[boot::kVolumeLabel], label.data(), label.size());
    s[boot::kFileSystemType + 4] = geometry.fatType == FatType::Fat12 ? '2' : '6';
    return s;
}

std::array<std::uint8_t, 4> FatStartBytes(FatType type) {
    return {0xF8, 0xFF, 0xFF, static_cast<std::uint8_t>(type == FatType::Fat16 ? 0xFF : 0x00)};
}
