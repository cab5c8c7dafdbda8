#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "reader/scsi_port.h"

// The one way a reader's command blocks reach its port. It refuses what must never be sent:
// anything but a question (an INQUIRY that carries no data to the device) to a place that has
// not answered INQUIRY with the controller's signature, transfers beyond 65536 bytes, command
// blocks outside 6 to 12 bytes. It keeps, per address, what a later REQUEST SENSE must answer
// where the system handed the sense over with the status, and counts what it sent and refused.
//
// Where the system hands the sense over with the status (Linux), a command that a device
// answers with UNIT ATTENTION 29h (it was reset, as Linux's USB storage driver resets a stick
// after a time-out) was not carried out: it is sent once more, after the bank selection the reset
// undid, and its outcome says so (afterReset).

// What a port that returns sense with the status left for the next REQUEST SENSE at an address.
enum class KeptSense {
    Bytes,    // the sense bytes of the last command's CHECK CONDITION, now handed over
    Silent,   // the last command got no answer at all: there is nothing to ask for
    Nothing,  // neither: ask the device
};

class CommandPath {
  public:
    // The port the commands go to; nullptr (the transport is closed) refuses every command.
    void UsePort(ScsiPort* port) { port_ = port; }

    CommandOutcome Execute(const PortAddress& address, const std::uint8_t* cdb,
                           std::uint8_t cdbLength, DataPhase phase, void* buffer,
                           std::uint32_t length, std::uint16_t timeoutSeconds);

    // Hands over the sense that came with the last command at `address` (once). `sense` has
    // room for kMaxSenseBytes; `length` receives how many of them came.
    KeptSense TakeKeptSense(const PortAddress& address, std::uint8_t* sense, std::uint8_t* length);

    // True once the place answered INQUIRY with the controller's signature.
    bool PlaceIdentified(std::uint32_t place) const;
    // Forgets what was learnt about a place (it was closed; another device may answer there next).
    void ForgetPlace(std::uint32_t place);
    // Forgets every place (the transport closed); the counts stay.
    void ForgetAllPlaces();

    // In the reader's life: commands handed to the port, commands refused because their place
    // had not identified itself, commands that ended with an error of the host's side
    // (HostError), and resets the devices reported (UNIT ATTENTION 29h).
    std::uint64_t CommandsSent() const { return sent_; }
    std::uint64_t RefusedCommandCount() const { return refused_; }
    std::uint64_t HostErrorCount() const { return hostErrors_; }
    std::uint64_t ResetNoticeCount() const { return resets_; }

  private:
    struct AddressRecord {
        PortAddress address;
        CommandOutcome last;
        bool senseTaken = false;
        // The last bank selection the device took: a reset undoes it.
        bool bankSelected = false;
        std::array<std::uint8_t, kMaxCommandLength> selectBank{};
    };
    AddressRecord* RecordOf(const PortAddress& address);
    void SetIdentified(std::uint32_t place, bool identified);
    AddressRecord& Remember(const PortAddress& address, const CommandOutcome& outcome);
    // Hands one command to the port and keeps its outcome.
    CommandOutcome Carry(const PortAddress& address, const std::uint8_t* cdb,
                         std::uint8_t cdbLength, DataPhase phase, void* buffer,
                         std::uint32_t length, std::uint16_t timeoutSeconds);
    // The device was reset instead of carrying the command out: its bank selection goes back as
    // it was, then the command goes once more.
    CommandOutcome AgainAfterReset(const PortAddress& address, const std::uint8_t* cdb,
                                   std::uint8_t cdbLength, DataPhase phase, void* buffer,
                                   std::uint32_t length, std::uint16_t timeoutSeconds);

    ScsiPort* port_ = nullptr;
    std::vector<std::uint32_t> identified_;
    std::vector<AddressRecord> addresses_;
    std::uint64_t sent_ = 0;
    std::uint64_t refused_ = 0;
    std::uint64_t hostErrors_ = 0;
    std::uint64_t resets_ = 0;
};
