#pragma once
#include <cstdint>

#include "reader/win32/os_layer.h"

// The OS layer of the Windows program: every operation is the Win32 call of the same name
// (the ANSI form where there are two).
class Win32OsLayer final : public OsLayer {
  public:
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
};
