#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "reader/os_layer.h"
#include "reader/sgio.h"

// The OS layer of the Linux program. There is no ASPI library on Linux, so the transport always
// starts its pass-through back-end, and this layer carries that back-end's requests over SG_IO:
//
// - The drive walk's paths \\.\C: to \\.\Z: name the layer's nodes in order: C: is the first
//   node, D: the second, and so on. A letter without a node cannot be opened.
// - A pass-through request (buffered or direct, the published 44-byte layout) becomes one SG_IO
//   request with the same command block, direction, transfer length and time-out.
// - The kernel collects sense data itself when a command ends in CHECK CONDITION (the USB
//   storage driver asks the device at once), so the reader has none left for the REQUEST SENSE
//   that follows. The layer keeps that sense data per node and answers the node's next REQUEST
//   SENSE with it; any other command drops it.
// - A node that has not answered INQUIRY with the reader's signature is sent nothing but
//   INQUIRY, whatever the caller asks.
class SgioOsLayer final : public OsLayer {
  public:
    // Windows error codes the layer reports through GetLastError.
    static constexpr std::uint32_t kErrorFileNotFound = 2;
    static constexpr std::uint32_t kErrorAccessDenied = 5;
    static constexpr std::uint32_t kErrorInvalidHandle = 6;
    static constexpr std::uint32_t kErrorInvalidParameter = 87;
    static constexpr std::uint32_t kErrorSemTimeout = 121;
    static constexpr std::uint32_t kErrorIoDevice = 1117;

    static constexpr std::size_t kMaxNodes = 24;  // drive letters C: to Z:

    // Nodes beyond the 24th are ignored. io must outlive the layer.
    SgioOsLayer(SgDeviceIo& io, std::vector<std::string> nodes);
    ~SgioOsLayer() override;

    // The node behind a drive letter ('C'..'Z'), or an empty string.
    std::string NodeOfLetter(char letter) const;
    const std::vector<std::string>& Nodes() const { return nodes_; }
    // How many opens failed because the caller lacks the rights (EACCES or EPERM).
    int PermissionDenials() const { return permissionDenials_; }
    // Commands the layer refused because their node had not identified itself as a reader.
    int RefusedCommands() const { return refusedCommands_; }

    OsLibrary LoadLibrary(const char* fileName) override;
    OsEntry GetProcAddress(OsLibrary library, const char* name) override;
    void FreeLibrary(OsLibrary library) override;
    std::uint32_t CallSupportInfo(OsEntry getSupportInfo) override;
    std::uint32_t CallSendCommand(OsEntry sendCommand, void* requestBlock) override;
    void Sleep(std::uint32_t milliseconds) override;
    std::uint32_t BufferAddress(void* buffer) override;
    OsHandle CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                        std::uint32_t disposition, std::uint32_t flagsAndAttributes) override;
    bool DeviceIoControl(OsHandle handle, std::uint32_t controlCode, void* inBuffer,
                         std::uint32_t inSize, void* outBuffer, std::uint32_t outSize,
                         std::uint32_t* bytesReturned) override;
    void CloseHandle(OsHandle handle) override;
    std::uint32_t GetLastError() override;

  private:
    struct OpenNode;

    OpenNode* Find(OsHandle handle) const;
    void* ResolveBuffer(std::uint32_t address) const;
    bool Fail(std::uint32_t error);

    SgDeviceIo& io_;
    std::vector<std::string> nodes_;
    std::vector<std::unique_ptr<OpenNode>> open_;
    // Direct requests carry a 32-bit buffer address; on a 64-bit host the layer hands out
    // tokens instead and resolves them when the request arrives.
    static constexpr std::size_t kBufferSlots = 16;
    void* bufferSlots_[kBufferSlots] = {};
    std::uint32_t slotTokens_[kBufferSlots] = {};
    std::uint32_t nextToken_ = 0;
    std::uint32_t lastError_ = 0;
    int permissionDenials_ = 0;
    int refusedCommands_ = 0;
};
