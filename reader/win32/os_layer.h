#pragma once
#include <cstdint>

// The few operating-system services the Windows back-ends need, and nothing else. The program
// on Windows hands its reader the Win32 implementation (reader/win32/win32_os_layer.h); the tests
// and the demo hand theirs the simulated machine's (sim/sim_os_layer.h). Only the back-ends of
// reader/win32 call through this layer.

using OsLibrary = void*;  // a loaded library; nullptr when none
using OsEntry = void*;    // an entry point of a loaded library; nullptr when missing
using OsHandle = void*;   // an open drive; nullptr when none (never INVALID_HANDLE_VALUE)

// Win32 constants the back-ends and discovery pass through this layer.
constexpr std::uint32_t kGenericReadWrite = 0xC0000000u;
constexpr std::uint32_t kShareReadWrite = 3;
constexpr std::uint32_t kOpenExisting = 3;
constexpr std::uint32_t kIoctlScsiPassThrough = 0x4D004u;
constexpr std::uint32_t kIoctlScsiPassThroughDirect = 0x4D014u;
constexpr std::uint32_t kErrorDevNotExist = 55;

class OsLayer {
  public:
    virtual ~OsLayer() = default;

    // Library loading (the ASPI back-end).
    virtual OsLibrary LoadLibrary(const char* fileName) = 0;
    virtual OsEntry GetProcAddress(OsLibrary library, const char* name) = 0;
    virtual void FreeLibrary(OsLibrary library) = 0;
    // Calls of the two ASPI entry points found by GetProcAddress (__cdecl on Windows).
    virtual std::uint32_t CallSupportInfo(OsEntry getSupportInfo) = 0;
    virtual std::uint32_t CallSendCommand(OsEntry sendCommand, void* requestBlock) = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;

    // The 32-bit buffer address that goes into a request block (SRB_BufPointer, DataBuffer).
    // On 32-bit Windows it is the pointer itself; the simulated layer hands out a token that it
    // resolves when the request arrives, so that the layouts stay those of 32-bit Windows on
    // every host.
    virtual std::uint32_t BufferAddress(void* buffer) = 0;

    // Drive handles (the pass-through back-end).
    virtual OsHandle CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                                std::uint32_t disposition, std::uint32_t flagsAndAttributes) = 0;
    virtual bool DeviceIoControl(OsHandle handle, std::uint32_t controlCode, void* inBuffer,
                                 std::uint32_t inSize, void* outBuffer, std::uint32_t outSize,
                                 std::uint32_t* bytesReturned) = 0;
    virtual void CloseHandle(OsHandle handle) = 0;
    virtual std::uint32_t GetLastError() = 0;
};
