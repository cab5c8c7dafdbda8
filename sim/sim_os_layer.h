#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "reader/win32/os_layer.h"
#include "sim/sim_bus.h"

// The simulated machine seen through the OS layer, in the test process: WNASPI32.DLL as the bus
// configures it, the drive letters of the bus as drive handles, and a virtual clock for Sleep.
// It records what it was handed so that tests can check the request layouts byte by byte.

namespace sim {

class SimOsLayer final : public OsLayer {
  public:
    explicit SimOsLayer(SimBus& bus);
    ~SimOsLayer() override;

    // OsLayer.
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

    // Error codes the face reports through GetLastError.
    static constexpr std::uint32_t kErrorFileNotFound = 2;
    static constexpr std::uint32_t kErrorInvalidHandle = 6;
    static constexpr std::uint32_t kErrorInvalidFunction = 1;
    static constexpr std::uint32_t kErrorInvalidParameter = 87;
    static constexpr std::uint32_t kErrorSemTimeout = 121;
    static constexpr std::uint32_t kErrorIoDevice = 1117;

    // What the face saw.
    std::uint64_t VirtualMilliseconds() const { return clockMs_; }
    std::uint32_t SleepCalls() const { return sleepCalls_; }
    std::uint32_t LoadLibraryCalls() const { return loadLibraryCalls_; }
    std::uint32_t FreeLibraryCalls() const { return freeLibraryCalls_; }
    std::string LastLibraryName() const { return lastLibraryName_; }
    std::vector<std::string> ProcNamesAsked() const { return procNamesAsked_; }
    bool LibraryLoaded() const { return libraryLoaded_; }
    std::uint32_t SendCommandCalls() const { return sendCommandCalls_; }
    // The request block as it arrived at the last SendASPI32Command (before the reply).
    const std::array<std::uint8_t, 256>& LastRequestBlock() const { return lastRequestBlock_; }
    // Times a block the manager still owned (a hung request) was changed by the caller.
    std::uint32_t OwnedBlockRewrites();
    std::size_t PendingRequests() const { return pending_.size(); }

    std::vector<std::string> OpenedPaths() const { return openedPaths_; }  // every CreateFile
    std::uint32_t LastCreateAccess() const { return lastCreateAccess_; }
    std::uint32_t LastCreateShare() const { return lastCreateShare_; }
    std::uint32_t LastCreateDisposition() const { return lastCreateDisposition_; }
    std::uint32_t LastCreateFlags() const { return lastCreateFlags_; }
    std::size_t OpenHandleCount() const { return handles_.size(); }
    std::uint32_t CloseHandleCalls() const { return closeHandleCalls_; }
    std::uint32_t IoctlCalls() const { return ioctlCalls_; }
    std::uint32_t LastIoctlCode() const { return lastIoctlCode_; }
    std::uint32_t LastInSize() const { return lastInSize_; }
    std::uint32_t LastOutSize() const { return lastOutSize_; }
    bool LastInOutSameBuffer() const { return lastSameBuffer_; }
    // The first 48 bytes of the last pass-through request as it arrived.
    const std::array<std::uint8_t, 48>& LastPassThroughHeader() const { return lastHeader_; }
    // The letter the last pass-through request went to (0 for none).
    char LastIoctlLetter() const { return lastIoctlLetter_; }

  private:
    struct PendingRequest {
        std::uint8_t* block;
        std::array<std::uint8_t, 256> bytes;  // as they were when the face took the request
    };

    std::uint8_t* ResolveToken(std::uint32_t address, std::uint32_t length);
    void CheckOwnedBlocks();
    bool PassThrough(char letter, bool direct, std::uint8_t* in, std::uint32_t inSize,
                     std::uint8_t* out, std::uint32_t outSize, std::uint32_t* bytesReturned);

    SimBus& bus_;
    std::uint64_t clockMs_ = 0;
    std::uint32_t sleepCalls_ = 0;
    std::uint32_t lastError_ = 0;

    bool libraryLoaded_ = false;
    std::uint32_t loadLibraryCalls_ = 0;
    std::uint32_t freeLibraryCalls_ = 0;
    std::string lastLibraryName_;
    std::vector<std::string> procNamesAsked_;
    std::uint32_t sendCommandCalls_ = 0;
    std::array<std::uint8_t, 256> lastRequestBlock_{};
    std::vector<PendingRequest> pending_;
    std::uint32_t ownedBlockRewrites_ = 0;

    std::map<std::uint32_t, std::uint8_t*> tokens_;
    std::map<std::uint8_t*, std::uint32_t> tokenOf_;
    std::uint32_t nextToken_ = 0x10000000u;

    std::map<OsHandle, char> handles_;
    std::uintptr_t nextHandle_ = 0x100;
    std::vector<std::string> openedPaths_;
    std::uint32_t lastCreateAccess_ = 0;
    std::uint32_t lastCreateShare_ = 0;
    std::uint32_t lastCreateDisposition_ = 0;
    std::uint32_t lastCreateFlags_ = 0;
    std::uint32_t closeHandleCalls_ = 0;
    std::uint32_t ioctlCalls_ = 0;
    std::uint32_t lastIoctlCode_ = 0;
    std::uint32_t lastInSize_ = 0;
    std::uint32_t lastOutSize_ = 0;
    bool lastSameBuffer_ = false;
    std::array<std::uint8_t, 48> lastHeader_{};
    char lastIoctlLetter_ = 0;
};

}  // namespace sim
