#include "reader/transport_state.h"

namespace {

ScsiTransport state;

}  // namespace

ScsiTransport& Transport() { return state; }

ScsiPort* ActivePort() { return state.port; }

bool AspiActive() { return state.library != nullptr; }
