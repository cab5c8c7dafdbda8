#include <cstdlib>
#include <cstring>

#include "reader/byte_order.h"
#include "reader/win32/aspi_backend.h"
#include "reader/win32/request_layouts.h"

// The ASPI back-end's command: the SRB_ExecSCSICmd request block of 32-bit Windows, completed
// by polling its status byte (no posting routine, no event).

namespace {

constexpr std::uint8_t kCommandLength = 12;

std::uint8_t ReadStatus(const std::uint8_t* block) {
    // The manager completes the request behind our back; every poll must really read memory.
    return static_cast<const volatile std::uint8_t*>(block)[srb::kStatus];
}

// After a time-out the manager still owns the block and may complete it at any time. It is set
// aside untouched and the next command gets a fresh one.
void AbandonRequestBlock(ScsiTransport& transport) {
    transport.abandonedBlocks.push_back(transport.requestBlock);
    transport.requestBlock = static_cast<std::uint8_t*>(std::calloc(1, kAspiRequestBlockSize));
}

}  // namespace

std::uint32_t AspiExecute(ScsiTransport& transport, OsLayer& os, std::uint8_t lun,
                          const std::uint8_t* cdb, void* buffer, std::uint32_t length,
                          std::uint8_t flags, std::uint16_t timeoutSeconds) {
    std::uint8_t* block = transport.requestBlock;
    if (block == nullptr || transport.commandEntry == nullptr) {
        // Not open under ASPI, or no memory for a fresh block after a time-out.
        transport.lastAspiStatus = kAspiAborted;
        return kAspiAborted;
    }

    std::memset(block, 0, kAspiRequestBlockSize);
    block[srb::kCmd] = srb::kExecScsiCommand;
    block[srb::kHaId] = transport.readerHostAdapter;
    block[srb::kFlags] = flags;
    block[srb::kTarget] = transport.readerTarget;
    block[srb::kLun] = lun;
    PutLe32(block + srb::kBufLen, length);
    PutLe32(block + srb::kBufPointer, os.BufferAddress(buffer));
    block[srb::kSenseLen] = 0;  // no automatic sense data: callers ask with REQUEST SENSE
    block[srb::kCdbLen] = kCommandLength;
    std::memcpy(block + srb::kCdb, cdb, kCommandLength);

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
