#include "reader/os_layer.h"

namespace {

// Stands in where the host has no platform layer of its own: nothing can be loaded or opened.
class NoOsLayer final : public OsLayer {
  public:
    OsLibrary LoadLibrary(const char*) override { return nullptr; }
    OsEntry GetProcAddress(OsLibrary, const char*) override { return nullptr; }
    void FreeLibrary(OsLibrary) override {}
    std::uint32_t CallSupportInfo(OsEntry) override { return 0; }
    std::uint32_t CallSendCommand(OsEntry, void*) override { return 0; }
    void Sleep(std::uint32_t) override {}
    std::uint32_t BufferAddress(void*) override { return 0; }
    OsHandle CreateFile(const char*, std::uint32_t, std::uint32_t, std::uint32_t,
                        std::uint32_t) override {
        return nullptr;
    }
    bool DeviceIoControl(OsHandle, std::uint32_t, void*, std::uint32_t, void*, std::uint32_t,
                         std::uint32_t*) override {
        return false;
    }
    void CloseHandle(OsHandle) override {}
    std::uint32_t GetLastError() override { return kErrorDevNotExist; }
};

OsLayer* installed = nullptr;

}  // namespace

OsLayer& PlatformOsLayer();  // os_layer_win32.cpp on Windows, below elsewhere

#ifndef _WIN32
OsLayer& PlatformOsLayer() {
    static NoOsLayer none;
    return none;
}
#endif

OsLayer& CurrentOsLayer() { return installed != nullptr ? *installed : PlatformOsLayer(); }

void InstallOsLayer(OsLayer* layer) { installed = layer; }
