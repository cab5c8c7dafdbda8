#include <cstring>

#include "reader/byte_order.h"
#include "reader/win32/pass_through_backend.h"
#include "reader/win32/request_layouts.h"

// The pass-through back-end's command: the SCSI_PASS_THROUGH (buffered) and
// SCSI_PASS_THROUGH_DIRECT requests of 32-bit Windows, 44 bytes each, sent synchronously on a
// drive handle.

namespace {

constexpr std::uint8_t kCommandLength = 12;
constexpr std::uint32_t kBufferedClearBytes = 52;
constexpr std::uint32_t kMaxBufferedTransfer =
    kPassThroughWorkBufferSize - spt::kBufferedDataOffset;

// Some drivers cannot move a single byte, so a one-byte read asks for two.
std::uint32_t TransferLength(std::uint32_t length) { return length == 1 ? 2 : length; }

void FillRequest(std::uint8_t* request, const std::uint8_t* cdb, std::uint32_t transferLength,
                 std::uint8_t dataIn, std::uint16_t timeoutSeconds, std::uint32_t dataBuffer) {
    PutLe16(request + spt::kLength, spt::kRequestLength);
    request[spt::kCdbLength] = kCommandLength;
    request[spt::kDataIn] = dataIn;
    PutLe32(request + spt::kDataTransferLength, transferLength);
    PutLe32(request + spt::kTimeOutValue, timeoutSeconds);
    PutLe32(request + spt::kDataBuffer, dataBuffer);
    std::memcpy(request + spt::kCdb, cdb, kCommandLength);
}

bool Carry(ScsiTransport& transport, OsLayer& os, OsHandle handle, std::uint32_t controlCode,
           std::uint8_t* request, std::uint32_t inSize, std::uint32_t outSize) {
    std::uint32_t returned = 0;
    const bool carried =
        os.DeviceIoControl(handle, controlCode, request, inSize, request, outSize, &returned);
    transport.lastPassThroughError = carried ? 0 : os.GetLastError();
    transport.lastPassThroughScsiStatus = carried ? request[spt::kScsiStatus] : 0;
    return carried && request[spt::kScsiStatus] == 0;
}

int DirectExecute(ScsiTransport& transport, OsLayer& os, OsHandle handle, const std::uint8_t* cdb,
                  void* buffer, std::uint32_t length, std::uint8_t dataIn,
                  std::uint16_t timeoutSeconds) {
    // The reader reads or writes the caller's buffer itself. A one-byte transfer moves two
    // bytes, so it goes through a two-byte bounce that cannot run past a one-byte buffer.
    const bool in = (dataIn & 1) != 0;
    std::uint8_t bounce[2] = {0, 0};
    void* data = buffer;
    if (length == 1) {
        data = bounce;
        if (!in) bounce[0] = *static_cast<const std::uint8_t*>(buffer);
    }

    std::uint8_t request[kPassThroughHeaderSize] = {};
    FillRequest(request, cdb, TransferLength(length), dataIn, timeoutSeconds,
                os.BufferAddress(length != 0 ? data : nullptr));
    if (!Carry(transport, os, handle, kIoctlScsiPassThroughDirect, request, kPassThroughHeaderSize,
               kPassThroughHeaderSize)) {
        return kPassThroughFailed;
    }
    if (length == 1 && in) *static_cast<std::uint8_t*>(buffer) = bounce[0];
    return kPassThroughOk;
}

int BufferedExecute(ScsiTransport& transport, OsLayer& os, OsHandle handle, const std::uint8_t* cdb,
                    void* buffer, std::uint32_t length, std::uint8_t dataIn,
                    std::uint16_t timeoutSeconds) {
    std::uint8_t* work = transport.workBuffer;
    if (work == nullptr || length > kMaxBufferedTransfer) return kPassThroughFailed;

    const bool in = (dataIn & 1) != 0;
    std::memset(work, 0, kBufferedClearBytes);
    if (length != 0 && !in) std::memcpy(work + spt::kBufferedDataOffset, buffer, length);

    const std::uint32_t n = TransferLength(length);
    FillRequest(work, cdb, n, dataIn, timeoutSeconds, spt::kBufferedDataOffset);

    std::uint32_t inSize = spt::kRequestLength;
    std::uint32_t outSize = spt::kRequestLength;
    if (length != 0) {
        if (in) {
            outSize = n + spt::kBufferedDataOffset;
        } else {
            inSize = n + spt::kBufferedDataOffset;
        }
    }
    if (!Carry(transport, os, handle, kIoctlScsiPassThrough, work, inSize, outSize)) {
        return kPassThroughFailed;
    }
    // The caller's length, not the two bytes a one-byte read asked for.
    if (length != 0 && in) std::memcpy(buffer, work + spt::kBufferedDataOffset, length);
    return kPassThroughOk;
}

}  // namespace

int PassThroughExecute(ScsiTransport& transport, OsLayer& os, OsHandle handle,
                       const std::uint8_t* cdb, void* buffer, std::uint32_t length,
                       std::uint8_t dataIn, std::uint16_t timeoutSeconds) {
    // No handle: the unit is not known, and nothing is sent anywhere.
    if (handle == nullptr || (length != 0 && buffer == nullptr)) return kPassThroughFailed;
    if (transport.useDirect != 0) {
        return DirectExecute(transport, os, handle, cdb, buffer, length, dataIn, timeoutSeconds);
    }
    return BufferedExecute(transport, os, handle, cdb, buffer, length, dataIn, timeoutSeconds);
}

int ProbeDirectPassThrough(ScsiTransport& transport, OsLayer& os, OsHandle handle) {
    const std::uint8_t inquiry[12] = {0x12, 0, 0, 0, 0x38, 0, 0, 0, 0, 0, 0, 0};
    std::uint8_t scratch[56] = {};
    transport.useDirect = 1;
    const int result = PassThroughExecute(transport, os, handle, inquiry, scratch, sizeof scratch,
                                          kPassThroughDataIn, 2);
    if (result != kPassThroughOk) transport.useDirect = 0;
    return result;
}
