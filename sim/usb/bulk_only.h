#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/sim_command.h"

// The USB mass-storage Bulk-Only Transport as a stick plays it: a command block wrapper (CBW)
// comes in on the bulk-out pipe, the data phase follows on one of the pipes, and a command status
// wrapper (CSW) goes back on the bulk-in pipe. What the device does when the host's idea of the
// data phase (none, in or out, and how long) differs from its own follows the thirteen cases of
// the class specification: it moves what both agree on, halts a pipe the host still expects
// data on, reports the bytes not moved as the residue and a phase error where the two
// disagree on the direction or the host allowed too little.
//
// Knows nothing of the USB stack underneath (BulkPipes) nor of the device behind (RunCommand).

namespace sim::usb {

constexpr std::size_t kCbwBytes = 31;
constexpr std::size_t kCswBytes = 13;
// The most a stick takes in one data phase; a host asking for more is refused without a
// transfer. Hosts move at most a few hundred kilobytes per command.
constexpr std::uint32_t kMaxDataBytes = 1u << 20;

struct CommandBlockWrapper {
    std::uint32_t tag = 0;
    std::uint32_t dataLength = 0;  // dCBWDataTransferLength: what the host expects to move
    bool dataIn = false;           // direction bit of bmCBWFlags (meaningful when dataLength > 0)
    std::uint8_t lun = 0;
    std::uint8_t blockLength = 0;  // bCBWCBLength, 1 to 16
    std::array<std::uint8_t, 16> block{};
};

enum class CbwVerdict {
    Good,
    NotValid,       // not 31 bytes, or a wrong signature
    NotMeaningful,  // reserved bits set, a LUN the stick does not have, a bad block length
};

CbwVerdict DecodeCbw(const std::uint8_t* bytes, std::size_t length, std::size_t lunCount,
                     CommandBlockWrapper* cbw);

enum class CswStatus : std::uint8_t { Passed = 0, Failed = 1, PhaseError = 2 };

std::array<std::uint8_t, kCswBytes> EncodeCsw(std::uint32_t tag, std::uint32_t residue,
                                              CswStatus status);

// The pair of bulk endpoints as the transport uses them.
class BulkPipes {
  public:
    virtual ~BulkPipes() = default;
    // One transfer of at most `length` bytes from the host: the bytes received (fewer when the
    // host ended it with a short packet), or -1 when it broke off (a reset, a pull).
    virtual long Receive(std::uint8_t* buffer, std::uint32_t length) = 0;
    // Sends the bytes (a length that is not a multiple of the packet size ends in a short
    // packet). False when it broke off.
    virtual bool Send(const std::uint8_t* data, std::uint32_t length) = 0;
    // Halts (stalls) a pipe until the host clears it.
    virtual void HaltIn() = 0;
    virtual void HaltOut() = 0;
};

// Runs one command block (12 bytes) on a unit of the device, with the data phase the device
// was asked for.
using RunCommand =
    std::function<Outcome(std::uint8_t lun, const std::uint8_t* cdb, Direction direction,
                          std::uint8_t* buffer, std::uint32_t length)>;

// What came of one command.
struct Exchange {
    // Completed: a CSW went back. Abandoned: no CSW (the command hung or found the stick pulled,
    // or a transfer broke off); the host has to reset the stick to go on.
    bool completed = false;
    Outcome outcome = Outcome::Good;
    CswStatus status = CswStatus::Passed;
    std::uint32_t residue = 0;
    std::string anomaly;  // what went against the host's expectation, for the trace; or empty
};

// Carries out one command from its CBW to its CSW. `scratch` is the data buffer, kept between
// commands.
Exchange ServeCommand(const CommandBlockWrapper& cbw, BulkPipes& pipes, const RunCommand& run,
                      std::vector<std::uint8_t>* scratch);

// The commands whose reply is as long as the device has to say, up to the allocation length in
// byte 4 (INQUIRY, REQUEST SENSE, MODE SENSE(6)); the others move exactly what their fields say.
bool TakesAllocationLength(std::uint8_t opcode);
// How many bytes of such a reply the device means to send: its own length field, up to what
// was produced.
std::uint32_t ReplyLength(std::uint8_t opcode, const std::uint8_t* reply, std::uint32_t produced);

}  // namespace sim::usb
