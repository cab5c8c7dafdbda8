#pragma once
#include "reader/scsi_port.h"

// Where a reader's port comes from. The Windows back-ends choose theirs when the transport
// starts (ASPI when its library loads, else the SCSI pass-through requests) and give back the
// library, the buffers and the drive handles when it stops; a port the program made itself
// (SG_IO, the simulated machine) is only lent to the reader.
class BackEnd {
  public:
    virtual ~BackEnd() = default;

    // The port, ready for commands; nullptr when the reader cannot be reached at all.
    virtual ScsiPort* Start() = 0;
    // Gives back everything Start took; the port is not used after it.
    virtual void Stop() = 0;
};

// A port lent to a reader: nothing to start or to give back. It must outlive the reader.
class LentPort final : public BackEnd {
  public:
    explicit LentPort(ScsiPort& port) : port_(port) {}
    ScsiPort* Start() override { return &port_; }
    void Stop() override {}

  private:
    ScsiPort& port_;
};
