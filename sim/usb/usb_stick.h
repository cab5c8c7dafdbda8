#pragma once
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/sim_bus.h"
#include "sim/usb/configfs_gadget.h"

// One device of a simulated machine (a reader of the controller family, or a foreign drive) as a
// USB mass-storage stick: a configfs gadget with a FunctionFS interface, served by two threads.
// The control thread answers ep0 (Get Max LUN, Bulk-Only Reset, and the kernel's notices that
// the stick was configured or reset); the bulk thread reads command block wrappers and carries
// each command through the Bulk-Only Transport to the simulated device on the bus, whose own
// stack (faults, trace) sees it as it sees every other face's commands. The trace gets a line of
// the stick's own for what happens below the commands (plugs, resets, refused wrappers, phase
// errors).
//
// A command that hangs gets no answer until the host resets the stick (a Bulk-Only Reset, or a
// port reset that deconfigures it); the threads are woken from their endpoint I/O by a signal,
// SIGUSR1, whose handler the program installs without SA_RESTART. A deconfiguration (a port
// reset, a soft re-plug through the host's `authorized` switch) restarts the stick's controller
// as a controller restarts on a USB reset: SimBus::ResetDevice.

namespace sim::usb {

class UsbStick {
  public:
    // The stick announces `identity` (whose name is its gadget's); `workDir` holds the FunctionFS
    // mounts.
    UsbStick(SimBus& bus, SimDevice& device, GadgetIdentity identity, std::string workDir);
    ~UsbStick();
    UsbStick(const UsbStick&) = delete;
    UsbStick& operator=(const UsbStick&) = delete;

    // Makes the gadget, writes its descriptors and starts the threads; not yet plugged in.
    bool Start(std::string* error);
    // Plugs the stick in on a device-side controller, or pulls it (a real pull: the host sees
    // the device go away).
    bool PlugIn(const std::string& udc, std::string* error);
    bool Pull(std::string* error);
    bool PluggedIn() const;
    // Whether the host has configured the stick since it was plugged in.
    bool Configured() const { return configured_.load(); }
    // Pulls the stick, ends the threads and takes the gadget away.
    void Stop();

    SimDevice& Device() { return device_; }

  private:
    void ControlLoop();
    void BulkLoop();
    void HandleSetup(const void* setup);
    // Ends whatever the bulk thread is doing (a reset, a deconfiguration, the end) and waits until
    // it is back at the start, ready for the next command block wrapper.
    void ResetBulk();
    void Note(const std::string& what);
    // The bulk thread: waits until the host resets the stick (or the end); true when reset.
    bool WaitForReset(std::uint64_t since, bool haltMeanwhile);

    SimBus& bus_;
    SimDevice& device_;
    GadgetIdentity identity_;
    std::string workDir_;
    std::unique_ptr<ConfigfsGadget> gadget_;
    int ep0_ = -1;
    int in_ = -1;
    int out_ = -1;

    std::thread control_;
    std::thread bulk_;
    pthread_t bulkHandle_{};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> configured_{false};

    // Bumped by every reset; the bulk thread answers with the value it has seen.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t resets_ = 0;
    std::uint64_t resetsSeen_ = 0;
};

}  // namespace sim::usb
