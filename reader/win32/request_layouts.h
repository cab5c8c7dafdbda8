#pragma once
#include <cstdint>

// The request structures of the two Windows back-ends, as 32-bit Windows lays them out. The
// back-ends fill them byte by byte at these offsets on every host; the simulated machine reads
// them at the same offsets.

// SRB_ExecSCSICmd, the ASPI for Win32 request block.
namespace srb {
constexpr std::uint32_t kCmd = 0;
constexpr std::uint32_t kStatus = 1;
constexpr std::uint32_t kHaId = 2;
constexpr std::uint32_t kFlags = 3;
constexpr std::uint32_t kTarget = 8;
constexpr std::uint32_t kLun = 9;
constexpr std::uint32_t kBufLen = 12;
constexpr std::uint32_t kBufPointer = 16;
constexpr std::uint32_t kSenseLen = 20;
constexpr std::uint32_t kCdbLen = 21;
constexpr std::uint32_t kHaStat = 22;
constexpr std::uint32_t kTargStat = 23;
constexpr std::uint32_t kCdb = 48;

constexpr std::uint8_t kExecScsiCommand = 2;  // SC_EXEC_SCSI_CMD
}  // namespace srb

// SCSI_PASS_THROUGH and SCSI_PASS_THROUGH_DIRECT: the same 44 bytes, but for the data field.
namespace spt {
constexpr std::uint32_t kLength = 0;
constexpr std::uint32_t kScsiStatus = 2;
constexpr std::uint32_t kPathId = 3;
constexpr std::uint32_t kTargetId = 4;
constexpr std::uint32_t kLun = 5;
constexpr std::uint32_t kCdbLength = 6;
constexpr std::uint32_t kSenseInfoLength = 7;
constexpr std::uint32_t kDataIn = 8;
constexpr std::uint32_t kDataTransferLength = 12;
constexpr std::uint32_t kTimeOutValue = 16;
constexpr std::uint32_t kDataBuffer = 20;  // DataBufferOffset (buffered) / DataBuffer (direct)
constexpr std::uint32_t kSenseInfoOffset = 24;
constexpr std::uint32_t kCdb = 28;

constexpr std::uint16_t kRequestLength = 44;
// The buffered request's data follows the header at this offset of the work buffer.
constexpr std::uint32_t kBufferedDataOffset = 48;
}  // namespace spt
