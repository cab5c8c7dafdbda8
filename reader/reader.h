#pragma once
#include <cstdint>
#include <memory>

#include "reader/back_end.h"
#include "reader/command_path.h"
#include "reader/media_type.h"
#include "reader/scsi_port.h"
#include "reader/units.h"

// One reader as the program reaches it: the back-end that gives it its port, the start count of
// its transport, the unit table that discovery fills and the path its commands take (with what
// it keeps of every address). The Windows program holds one for the life of its dialog; the
// command line one per stick. Readers share nothing: two of them may run side by side.
//
// The commands themselves are those of a unit of the reader (ReaderUnit, reader/reader_unit.h).
class Reader {
  public:
    explicit Reader(std::unique_ptr<BackEnd> backEnd);
    // A port the program made itself, lent for the reader's life.
    explicit Reader(ScsiPort& port);
    // Gives back whatever the transport still holds, however many starts are open.
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // 1 when a port is ready (or the transport was already open: only the first start asks the
    // back-end), 0 when start failed. A failed start still counts as one, and takes its
    // CloseTransport.
    int OpenTransport();
    // Undoes one OpenTransport; the last gives the unit table's places, what was learnt of every
    // address and the back-end's port back. An unmatched close does nothing.
    void CloseTransport();
    std::int32_t StartCount() const { return startCount_; }
    // The port the commands go through; nullptr while the transport is closed (or start failed).
    ScsiPort* Port() const { return port_; }

    // Refreshes the unit table and reports the unit count and the keys in unit order. outKeys
    // has room for three keys; only the first *outCount are written. Either may be null.
    void DiscoverUnits(std::uint8_t* outCount, MediaType* outKeys);
    // 1 if the cached units are still there, 0 if not (or if there are none): one TEST UNIT
    // READY to the first, and only a device that is gone counts.
    int UnitsStillPresent();
    const UnitTable& Units() const { return units_; }
    // Where commands for `key` go; false if it is not in the table (or the transport is closed).
    bool AddressOfUnit(MediaType key, PortAddress* address) const;

    // The one way to the port, for the command set and for tests that look at the guard.
    CommandPath& Commands() { return path_; }
    const CommandPath& Commands() const { return path_; }

  private:
    void ReleaseUnits();

    std::unique_ptr<BackEnd> backEnd_;
    std::int32_t startCount_ = 0;
    ScsiPort* port_ = nullptr;
    UnitTable units_;
    CommandPath path_;
};
