// What a unit can learn of the way to its device: the system's limits and resets, and whether
// the device is still there after the way failed under a command.
#include "reader/reader.h"
#include "reader/reader_unit.h"

namespace {

// How a host-side error is settled: this many looks at the system, each waiting up to the pause
// for it to let the device go, and each followed by a TEST UNIT READY. A pulled stick's commands
// end so for a few tens of milliseconds before the system says it is gone.
constexpr int kSettleLooks = 20;
constexpr std::uint32_t kSettlePauseMilliseconds = 50;

}  // namespace

std::uint32_t ReaderUnit::MaxTransfer() const {
    PortAddress address;
    ScsiPort* port = reader_.Port();
    if (port == nullptr || !reader_.AddressOfUnit(key_, &address)) return kMaxTransfer;
    return port->MaxTransfer(address.place);
}

bool ReaderUnit::ResetsAfterTimeOut() const {
    PortAddress address;
    const ScsiPort* port = reader_.Port();
    return port != nullptr && reader_.AddressOfUnit(key_, &address) && port->ResetsAfterTimeOut();
}

LinkAfterHostError ReaderUnit::SettleAfterHostError() {
    PortAddress address;
    ScsiPort* port = reader_.Port();
    if (port == nullptr || !reader_.AddressOfUnit(key_, &address)) {
        return LinkAfterHostError::Gone;
    }
    for (int look = 0; look < kSettleLooks; ++look) {
        if (port->AwaitPresence(address.place, kSettlePauseMilliseconds) == PlacePresence::Gone) {
            return LinkAfterHostError::Gone;
        }
        switch (TestUnitReady().status) {
            case CommandStatus::HostError:
                continue;
            case CommandStatus::NoDevice:
            case CommandStatus::Refused:  // the port cannot reach the place any more
                return LinkAfterHostError::Gone;
            case CommandStatus::TimedOut:
                return LinkAfterHostError::Quiet;
            default:  // a status: the device answered
                return LinkAfterHostError::There;
        }
    }
    return LinkAfterHostError::Quiet;
}
