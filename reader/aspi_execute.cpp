#include <cstdlib>
#include <cstring>

#include "reader/aspi_backend.h"
#include "reader/byte_order.h"

// The ASPI back-end's command: the SRB_ExecSCSICmd request block of 32-bit Windows, completed
// by polling its status byte (no posting routine, no event).

namespace {

// Offsets in the request block.
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
constexpr std::uint32_t kCdb = 48;

constexpr std::uint8_t kExecScsiCommand = 2;  // SC_EXEC_SCSI_CMD
constexpr std::uint8_t kCommandLength = 12;

std::uint8_t ReadStatus(const std::uint8_t* block) {
    // The manager completes the request behind our back; every poll must really read memory.
    return static_cast<const volatile std::uint8_t*>(block)[kStatus];
}

// After a time-out the manager still owns the block and may complete it at any time. It is set
// aside untouched and the next command gets a fresh one.
void AbandonRequestBlock(ScsiTransport& transport) {
    transport.abandonedBlocks.push_back(transport.requestBlock);
    transport.requestBlock = static_cast<std::uint8_t*>(std::calloc(1, kAspiRequestBlockSize));
}

}  // namespace

std::uint32_t AspiExecute(std::uint8_t lun, const std::uint8_t* cdb, void* buffer,
                          std::uint32_t length, std::uint8_t flags, std::uint16_t timeoutSeconds) {
    ScsiTransport& transport = Transport();
    std::uint8_t* block = transport.requestBlock;
    if (block == nullptr || transport.commandEntry == nullptr) {
        // Not open under ASPI, or no memory for a fresh block after a time-out.
        transport.lastAspiStatus = kAspiAborted;
        return kAspiAborted;
    }
    OsLayer& os = CurrentOsLayer();

    std::memset(block, 0, kAspiRequestBlockSize);
    block[kCmd] = kExecScsiCommand;
    block[kHaId] = transport.readerHostAdapter;
    block[kFlags] = flags;
    block[kTarget] = transport.readerTarget;
    block[kLun] = lun;
    PutLe32(block + kBufLen, length);
    PutLe32(block + kBufPointer, os.BufferAddress(buffer));
    block[kSenseLen] = 0;  // no automatic sense data: callers ask with REQUEST SENSE
    block[kCdbLen] = kCommandLength;
    std::memcpy(block + kCdb, cdb, kCommandLength);

    transport.lastAspiStatus = os.CallSendCommand(transport.commandEntry, block);
    if (timeoutSeconds == 0) return transport.lastAspiStatus;

    const std::uint32_t polls = static_cast<std::uint32_t>(timeoutSeconds) * 1000;
    for (std::uint32_t i = 0; i < polls; ++i) {
        const std::uint8_t status = ReadStatus(block);
        if (status != kAspiPending) {
            transport.lastAspiStatus = status;
            return status;
        }
        os.Sleep(1);
    }
    AbandonRequestBlock(transport);
    transport.lastAspiStatus = kAspiAborted;
    return kAspiAborted;
}
