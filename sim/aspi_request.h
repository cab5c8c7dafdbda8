#pragma once
#include <cstdint>
#include <functional>

#include "reader/win32/request_layouts.h"
#include "sim/sim_bus.h"

// The device side of one ASPI for Win32 request block (SRB), shared by the in-process face and
// the simulated WNASPI32.DLL. The block has the layout of 32-bit Windows whatever the host.

namespace sim {

// The request block is laid out as reader/win32/request_layouts.h has it (srb::); an abort request
// names its victim here.
constexpr std::uint32_t kSrbAbortTarget = 8;  // SC_ABORT_SRB: the 32-bit address of the victim

constexpr std::uint8_t kScHaInquiry = 0;
constexpr std::uint8_t kScAbortSrb = 3;

constexpr std::uint8_t kSsPending = 0x00;
constexpr std::uint8_t kSsComp = 0x01;
constexpr std::uint8_t kSsAborted = 0x02;
constexpr std::uint8_t kSsErr = 0x04;
constexpr std::uint8_t kSsInvalidCmd = 0x80;
constexpr std::uint8_t kSsNoDevice = 0x82;
constexpr std::uint8_t kSsInvalidSrb = 0xE0;
constexpr std::uint8_t kSsBufferTooBig = 0xE6;

constexpr std::uint8_t kTargetStatusCheckCondition = 2;

// Turns the 32-bit SRB_BufPointer (and the length) into a host pointer; nullptr when the
// address does not resolve. The DLL uses the raw pointer; the in-process face maps its tokens.
using BufferResolver = std::function<std::uint8_t*(std::uint32_t address, std::uint32_t length)>;

// Executes the request in `block` (256 bytes) on the bus and writes SRB_Status, SRB_HaStat and
// SRB_TargStat. Returns what SendASPI32Command returns: the new SRB_Status, or SS_PENDING (0)
// for a command that never completes (the status in the block then stays 0).
std::uint32_t ExecuteAspiRequest(SimBus& bus, std::uint8_t* block, const BufferResolver& resolve);

}  // namespace sim
