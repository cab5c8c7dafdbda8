#pragma once
#include <cstdint>

#include "reader/aspi_backend.h"
#include "reader/pass_through_backend.h"
#include "reader/scsi_port.h"
#include "reader/transport_state.h"

// The SCSI transport: carries one command block, with an optional data phase, to the reader
// through one port for the life of the open transport. On Windows the port is one of the two
// back-ends, chosen at start: ASPI for Win32 when WNASPI32.DLL loads, else the SCSI pass-through
// requests on drive handles. A program on another system names its own port (UsePort) before
// it opens the transport.

// The port the next OpenTransport uses instead of the Windows back-ends; nullptr restores them.
// The port must outlive the open transport.
void UsePort(ScsiPort* port);

// 1 when a port is ready (or the transport was already open), 0 when start failed.
int OpenTransport();
// Undoes one OpenTransport; the last one releases the library, the buffers and the unit handles.
void CloseTransport();

// Internal to OpenTransport; exposed for tests.
std::uint32_t LoadAspi();
std::uint32_t InitPassThrough();
