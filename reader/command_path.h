#pragma once
#include <cstdint>
#include <vector>

#include "reader/scsi_port.h"

// The one way a reader's command blocks reach its port. It refuses what must never be sent:
// anything but a question (an INQUIRY that carries no data to the device) to a place that has
// not answered INQUIRY with the controller's signature, transfers beyond 65536 bytes, command
// blocks outside 6 to 12 bytes. It keeps, per address, what a later REQUEST SENSE must answer
// where the system handed the sense over with the status, and counts what it sent and refused.

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

    // Hands over the sense that came with the last command at `address` (once).
    KeptSense TakeKeptSense(const PortAddress& address, std::uint8_t* sense,
                            std::uint8_t senseBytes);

    // True once the place answered INQUIRY with the controller's signature.
    bool PlaceIdentified(std::uint32_t place) const;
    // Forgets what was learnt about a place (it was closed; another device may answer there next).
    void ForgetPlace(std::uint32_t place);
    // Forgets every place (the transport closed); the counts stay.
    void ForgetAllPlaces();

    // Commands handed to the port, and commands refused because their place had not identified
    // itself, in the reader's life.
    std::uint64_t CommandsSent() const { return sent_; }
    std::uint64_t RefusedCommandCount() const { return refused_; }

  private:
    struct AddressRecord {
        PortAddress address;
        CommandOutcome last;
        bool senseTaken = false;
    };
    AddressRecord* RecordOf(const PortAddress& address);
    void SetIdentified(std::uint32_t place, bool identified);
    void Remember(const PortAddress& address, const CommandOutcome& outcome);

    ScsiPort* port_ = nullptr;
    std::vector<std::uint32_t> identified_;
    std::vector<AddressRecord> addresses_;
    std::uint64_t sent_ = 0;
    std::uint64_t refused_ = 0;
};
