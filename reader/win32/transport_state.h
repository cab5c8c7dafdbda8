#pragma once
#include <cstdint>
#include <vector>

#include "reader/scsi_port.h"
#include "reader/win32/os_layer.h"

// The state of the two Windows back-ends (the ASPI library and its request block, the
// pass-through work buffer), held by the back-ends of one reader for its life.

// Start result codes of LoadAspi and InitPassThrough.
constexpr std::uint32_t kStartReady = 0x80000000u;
constexpr std::uint32_t kStartNoLibrary = 0x80000001u;
constexpr std::uint32_t kStartNoMemory = 0x80000003u;
constexpr std::uint32_t kStartMissingEntry = 0x80000005u;
constexpr std::uint32_t kStartNoAdapter = 0x80000006u;  // also: support status other than 1

// Direction encodings, one per back-end.
constexpr std::uint8_t kAspiDirNone = 0;
constexpr std::uint8_t kAspiDirIn = 8;           // SRB_DIR_IN
constexpr std::uint8_t kAspiDirOut = 16;         // SRB_DIR_OUT
constexpr std::uint8_t kPassThroughDataOut = 0;  // SCSI_IOCTL_DATA_OUT, also "no data"
constexpr std::uint8_t kPassThroughDataIn = 1;   // SCSI_IOCTL_DATA_IN

// ASPI status values the transport and discovery look at.
constexpr std::uint32_t kAspiPending = 0x00;   // SS_PENDING
constexpr std::uint32_t kAspiComplete = 0x01;  // SS_COMP
constexpr std::uint32_t kAspiAborted = 0x02;   // SS_ABORTED; also what a time-out yields
constexpr std::uint32_t kAspiError = 0x04;     // SS_ERR
constexpr std::uint32_t kAspiNoDevice = 0x82;  // SS_NO_DEVICE

// Results of PassThroughExecute.
constexpr int kPassThroughOk = 0;
constexpr int kPassThroughFailed = 2;

// Sizes of the process-lifetime buffers.
constexpr std::uint32_t kAspiRequestBlockSize = 256;
constexpr std::uint32_t kPassThroughHeaderSize = 48;  // the 44-byte request, padded
constexpr std::uint32_t kPassThroughWorkBufferSize = 65536 + 52;

struct ScsiTransport {
    OsLibrary library = nullptr;         // non-null if and only if the ASPI back-end is active
    OsEntry supportInfoEntry = nullptr;  // GetASPI32SupportInfo
    OsEntry commandEntry = nullptr;      // SendASPI32Command
    std::uint8_t hostAdapterCount = 0;
    std::uint8_t readerHostAdapter = 0;  // written by the port's address, read by every request
    std::uint8_t readerTarget = 0;
    std::uint8_t* requestBlock = nullptr;  // 256 bytes, reused by every ASPI command
    std::uint32_t lastAspiStatus = 0;
    std::uint8_t* workBuffer = nullptr;  // buffered pass-through: 48-byte header, then data
    std::int32_t useDirect = 0;          // 1: pass-through uses the direct request
    std::int32_t directProbed = 0;       // 1 once the direct request was tried on a reader drive
    // The system error of the last pass-through request that the driver refused; 0 when the
    // last one was carried (whatever its SCSI status). ScsiStatus of the last carried one.
    std::uint32_t lastPassThroughError = 0;
    std::uint8_t lastPassThroughScsiStatus = 0;
    // Request blocks given up after a time-out. The ASPI manager may still write into them, so
    // they are neither reused nor freed while the library is loaded.
    std::vector<std::uint8_t*> abandonedBlocks;
};
