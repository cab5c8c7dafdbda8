// The machine's plugs: pulls and re-plugs of the whole machine and of each reader, the power
// cycle of a reader that comes back, the faults of the links and the schedule of plugs.
#include <utility>

#include "sim/machine/bus_impl.h"
#include "sim/sim_flash_disk.h"

namespace sim {

// A reader that comes back: its disks come up, its lock-up is over.
void SimBus::Impl::PowerCycle(Route& route) {
    SimLockGuard hold(route.mutex);
    SimDevice& device = *route.device;
    for (std::size_t i = 0; i < device.UnitCount(); ++i) {
        SimFlashDisk* disk = device.Unit(i)->FlashDisk();
        if (disk != nullptr) disk->PowerCycle();
    }
    route.link->ClearLockUp();
}

// The host reset a reader's controller: its disks start afresh, a lock-up stays (a reset does not
// reach a controller that has locked up).
void SimBus::Impl::Reset(Route& route) {
    SimLockGuard hold(route.mutex);
    SimDevice& device = *route.device;
    for (std::size_t i = 0; i < device.UnitCount(); ++i) {
        SimFlashDisk* disk = device.Unit(i)->FlashDisk();
        if (disk != nullptr) disk->Reset();
    }
}

void SimBus::Impl::Unplug() {
    SimLockGuard hold(plugMutex);
    machine.SetPlugged(false);
}

void SimBus::Impl::Replug() {
    SimLockGuard hold(plugMutex);
    std::vector<bool> before;
    for (Route* reader : readers) before.push_back(Present(*reader));
    if (!machine.Plugged()) machine.ClearLockUp();
    machine.SetPlugged(true);
    for (std::size_t i = 0; i < readers.size(); ++i) {
        readers[i]->link->SetPlugged(true);
        if (!before[i]) PowerCycle(*readers[i]);
    }
}

void SimBus::Impl::UnplugReader(std::size_t index) {
    SimLockGuard hold(plugMutex);
    readers.at(index)->link->SetPlugged(false);
}

void SimBus::Impl::ReplugReader(std::size_t index) {
    SimLockGuard hold(plugMutex);
    Route& reader = *readers.at(index);
    const bool before = Present(reader);
    reader.link->SetPlugged(true);
    if (!before && Present(reader)) PowerCycle(reader);
}

void SimBus::Unplug() { impl_->Unplug(); }
void SimBus::Replug() { impl_->Replug(); }

void SimBus::ResetDevice(SimDevice& device) {
    Impl::Route* route = impl_->RouteOf(device);
    if (route != nullptr) impl_->Reset(*route);
}

bool SimBus::Plugged() const {
    impl_->schedule.RunDue();
    if (!impl_->machine.Plugged()) return false;
    for (const Impl::Route* reader : impl_->readers) {
        if (!reader->link->Plugged()) return false;
    }
    return true;
}

void SimBus::UnplugReader(std::size_t reader) { impl_->UnplugReader(reader); }
void SimBus::ReplugReader(std::size_t reader) { impl_->ReplugReader(reader); }

bool SimBus::ReaderPlugged(std::size_t reader) const {
    impl_->schedule.RunDue();
    return impl_->Present(*impl_->readers.at(reader));
}

SimLink& SimBus::MachineLink() { return impl_->machine; }
SimLink& SimBus::ReaderLink(std::size_t reader) { return *impl_->readers.at(reader)->link; }

void SimBus::SetLatencyMicroseconds(std::uint32_t microseconds) {
    impl_->machine.SetLatencyMicroseconds(microseconds);
}

std::uint32_t SimBus::LatencyMicroseconds() const { return impl_->machine.LatencyMicroseconds(); }

void SimBus::OverrideLatencyMicroseconds(std::uint32_t microseconds) {
    impl_->machine.SetLatencyMicroseconds(microseconds);
    for (Impl::Route* reader : impl_->readers) reader->link->SetLatencyMicroseconds(0);
}

void SimBus::UnplugAfterCommands(std::uint32_t count) { impl_->machine.UnplugAfterCommands(count); }
void SimBus::HangOnCommand(std::uint32_t n) { impl_->machine.HangOnCommand(n); }
void SimBus::HangFromCommand(std::uint32_t n) { impl_->machine.HangFromCommand(n); }
void SimBus::FailOnCommand(std::uint32_t n, std::uint8_t senseKey, std::uint8_t asc,
                           std::uint8_t ascq, std::uint8_t additionalLength) {
    impl_->machine.FailOnCommand(n, senseKey, asc, ascq, additionalLength);
}
std::uint64_t SimBus::ReaderCommandCount() const { return impl_->machine.Commands(); }

void SimBus::SchedulePlug(std::size_t reader, bool plugIn, PlugMoment when) {
    impl_->schedule.Add(reader, plugIn, when);
}

void SimBus::SetClock(std::function<std::uint64_t()> nowMilliseconds) {
    impl_->schedule.SetClock(std::move(nowMilliseconds));
}

void SimBus::FollowControlFolder(const std::string& folder, std::uint32_t pollMilliseconds) {
    impl_->schedule.Follow(folder, pollMilliseconds);
}

}  // namespace sim
