#pragma once
#include <cstdint>
#include <memory>

#include "reader/back_end.h"
#include "reader/scsi_port.h"
#include "reader/win32/os_layer.h"
#include "reader/win32/transport_state.h"

// The two Windows back-ends of a reader, exactly one of them active while its transport is
// open: ASPI for Win32 whenever WNASPI32.DLL can be loaded, else the SCSI pass-through requests
// on drive handles. The choice is made at each start of the transport; the library, the request
// block, the work buffer and the drive handles are given back when it stops.
class WindowsBackEnds final : public BackEnd {
  public:
    explicit WindowsBackEnds(OsLayer& os) : os_(os) {}
    ~WindowsBackEnds() override;
    WindowsBackEnds(const WindowsBackEnds&) = delete;
    WindowsBackEnds& operator=(const WindowsBackEnds&) = delete;

    ScsiPort* Start() override;
    void Stop() override;

    // Steps of Start, each returning a start result code; exposed for tests.
    std::uint32_t LoadAspi();
    std::uint32_t InitPassThrough();

    // True while the ASPI back-end is active.
    bool AspiActive() const { return transport_.library != nullptr; }
    // The back-ends' state (tests look into it).
    ScsiTransport& Transport() { return transport_; }
    OsLayer& Os() { return os_; }

  private:
    void ReleaseLibrary();

    OsLayer& os_;
    ScsiTransport transport_;
    std::unique_ptr<ScsiPort> port_;
};
