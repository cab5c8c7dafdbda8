#include <cstdlib>
#include <memory>

#include "reader/port_command.h"
#include "reader/transport.h"
#include "reader/units.h"

namespace {

const char kAspiLibraryName[] = "WNASPI32.DLL";

ScsiPort* chosenPort = nullptr;

void ReleaseLibrary(ScsiTransport& state) {
    CurrentOsLayer().FreeLibrary(state.library);
    state.library = nullptr;
    state.supportInfoEntry = nullptr;
    state.commandEntry = nullptr;
}

}  // namespace

void UsePort(ScsiPort* port) { chosenPort = port; }

std::uint32_t LoadAspi() {
    ScsiTransport& state = Transport();
    OsLayer& os = CurrentOsLayer();
    state.library = os.LoadLibrary(kAspiLibraryName);
    if (state.library == nullptr) return kStartNoLibrary;

    state.supportInfoEntry = os.GetProcAddress(state.library, "GetASPI32SupportInfo");
    state.commandEntry = os.GetProcAddress(state.library, "SendASPI32Command");
    if (state.supportInfoEntry == nullptr || state.commandEntry == nullptr) {
        ReleaseLibrary(state);
        return kStartMissingEntry;
    }

    const std::uint32_t supportInfo = os.CallSupportInfo(state.supportInfoEntry);
    state.hostAdapterCount = static_cast<std::uint8_t>(supportInfo & 0xFF);
    const std::uint32_t supportStatus = (supportInfo >> 8) & 0xFF;
    if (state.hostAdapterCount == 0 || supportStatus != kAspiComplete) {
        ReleaseLibrary(state);
        return kStartNoAdapter;
    }

    state.requestBlock = static_cast<std::uint8_t*>(std::calloc(1, kAspiRequestBlockSize));
    if (state.requestBlock == nullptr) {
        ReleaseLibrary(state);
        return kStartNoMemory;
    }
    return kStartReady;
}

std::uint32_t InitPassThrough() {
    ScsiTransport& state = Transport();
    state.useDirect = 0;
    state.directProbed = 0;
    state.workBuffer = static_cast<std::uint8_t*>(std::calloc(1, kPassThroughWorkBufferSize));
    return state.workBuffer != nullptr ? kStartReady : kStartNoMemory;
}

int OpenTransport() {
    ScsiTransport& state = Transport();
    if (state.startCount++ != 0) return 1;
    if (chosenPort != nullptr) {
        state.port = chosenPort;
        return 1;
    }

    const std::uint32_t aspi = LoadAspi();
    if (aspi == kStartReady) {
        state.ownPort = std::make_unique<AspiPort>();
    } else if (aspi == kStartNoLibrary && InitPassThrough() == kStartReady) {
        state.ownPort = std::make_unique<PassThroughPort>();
    } else {
        return 0;  // a present but unusable library: no fall-back
    }
    state.port = state.ownPort.get();
    return 1;
}

void CloseTransport() {
    ScsiTransport& state = Transport();
    // An unmatched close must not drive the count below zero and release twice.
    if (state.startCount <= 0) return;
    if (--state.startCount != 0) return;

    std::free(state.requestBlock);
    state.requestBlock = nullptr;
    if (state.library != nullptr) ReleaseLibrary(state);
    // Blocks abandoned after a time-out may have been written by the manager until now; with the
    // library released nobody holds them any more.
    for (std::uint8_t* block : state.abandonedBlocks) std::free(block);
    state.abandonedBlocks.clear();
    ReleaseUnits();
    ForgetAllPlaces();
    state.port = nullptr;
    state.ownPort.reset();  // closes whatever drive the port still holds
    std::free(state.workBuffer);
    state.workBuffer = nullptr;

    state.readerHostAdapter = 0;
    state.readerTarget = 0;
    state.hostAdapterCount = 0;
    state.lastAspiStatus = 0;
}
