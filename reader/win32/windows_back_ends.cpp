#include "reader/win32/windows_back_ends.h"

#include <cstdlib>

#include "reader/win32/aspi_backend.h"
#include "reader/win32/pass_through_backend.h"

namespace {

const char kAspiLibraryName[] = "WNASPI32.DLL";

}  // namespace

WindowsBackEnds::~WindowsBackEnds() { Stop(); }

void WindowsBackEnds::ReleaseLibrary() {
    os_.FreeLibrary(transport_.library);
    transport_.library = nullptr;
    transport_.supportInfoEntry = nullptr;
    transport_.commandEntry = nullptr;
}

std::uint32_t WindowsBackEnds::LoadAspi() {
    ScsiTransport& state = transport_;
    state.library = os_.LoadLibrary(kAspiLibraryName);
    if (state.library == nullptr) return kStartNoLibrary;

    state.supportInfoEntry = os_.GetProcAddress(state.library, "GetASPI32SupportInfo");
    state.commandEntry = os_.GetProcAddress(state.library, "SendASPI32Command");
    if (state.supportInfoEntry == nullptr || state.commandEntry == nullptr) {
        ReleaseLibrary();
        return kStartMissingEntry;
    }

    const std::uint32_t supportInfo = os_.CallSupportInfo(state.supportInfoEntry);
    state.hostAdapterCount = static_cast<std::uint8_t>(supportInfo & 0xFF);
    const std::uint32_t supportStatus = (supportInfo >> 8) & 0xFF;
    if (state.hostAdapterCount == 0 || supportStatus != kAspiComplete) {
        ReleaseLibrary();
        return kStartNoAdapter;
    }

    state.requestBlock = static_cast<std::uint8_t*>(std::calloc(1, kAspiRequestBlockSize));
    if (state.requestBlock == nullptr) {
        ReleaseLibrary();
        return kStartNoMemory;
    }
    return kStartReady;
}

std::uint32_t WindowsBackEnds::InitPassThrough() {
    transport_.useDirect = 0;
    transport_.directProbed = 0;
    transport_.workBuffer = static_cast<std::uint8_t*>(std::calloc(1, kPassThroughWorkBufferSize));
    return transport_.workBuffer != nullptr ? kStartReady : kStartNoMemory;
}

ScsiPort* WindowsBackEnds::Start() {
    const std::uint32_t aspi = LoadAspi();
    if (aspi == kStartReady) {
        port_ = std::make_unique<AspiPort>(transport_, os_);
    } else if (aspi == kStartNoLibrary && InitPassThrough() == kStartReady) {
        port_ = std::make_unique<PassThroughPort>(transport_, os_);
    } else {
        return nullptr;  // a present but unusable library: no fall-back
    }
    return port_.get();
}

void WindowsBackEnds::Stop() {
    ScsiTransport& state = transport_;
    std::free(state.requestBlock);
    state.requestBlock = nullptr;
    if (state.library != nullptr) ReleaseLibrary();
    // Blocks abandoned after a time-out may have been written by the manager until now; with the
    // library released nobody holds them any more.
    for (std::uint8_t* block : state.abandonedBlocks) std::free(block);
    state.abandonedBlocks.clear();
    port_.reset();  // closes whatever drive the port still holds
    std::free(state.workBuffer);
    state.workBuffer = nullptr;

    state.readerHostAdapter = 0;
    state.readerTarget = 0;
    state.hostAdapterCount = 0;
    state.lastAspiStatus = 0;
}
