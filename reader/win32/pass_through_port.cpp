#include <string>

#include "reader/win32/pass_through_backend.h"

namespace {

// System error codes the driver reports for a refused request.
constexpr std::uint32_t kErrorSemTimeout = 121;
constexpr std::uint8_t kCheckCondition = 2;

}  // namespace

PassThroughPort::~PassThroughPort() {
    for (std::uint32_t place = 0; place < kDrives; ++place) Close(place);
}

std::string PassThroughPort::PlaceName(std::uint32_t place) const {
    if (place >= kDrives) return std::string();
    return std::string(1, static_cast<char>('C' + place)) + ":";
}

OsHandle PassThroughPort::HandleOf(std::uint32_t place) const {
    return place < kDrives ? handles_[place] : nullptr;
}

bool PassThroughPort::Open(std::uint32_t place) {
    if (place >= kDrives) return false;
    if (handles_[place] != nullptr) return true;
    const char path[] = {'\\', '\\', '.', '\\', static_cast<char>('C' + place), ':', '\0'};
    handles_[place] = os_.CreateFile(path, kGenericReadWrite, kShareReadWrite, kOpenExisting, 0);
    return handles_[place] != nullptr;
}

void PassThroughPort::Close(std::uint32_t place) {
    if (place >= kDrives || handles_[place] == nullptr) return;
    os_.CloseHandle(handles_[place]);
    handles_[place] = nullptr;
}

void PassThroughPort::ReaderFound(std::uint32_t place) {
    if (transport_.directProbed != 0 || HandleOf(place) == nullptr) return;
    ProbeDirectPassThrough(transport_, os_, HandleOf(place));
    transport_.directProbed = 1;
}

CommandOutcome PassThroughPort::Execute(const PortAddress& address, const std::uint8_t* cdb,
                                        std::uint8_t cdbLength, DataPhase phase, void* buffer,
                                        std::uint32_t length, std::uint16_t timeoutSeconds) {
    CommandOutcome outcome;
    const ScsiTransport& transport = transport_;
    OsHandle handle = HandleOf(address.place);
    // What the back-end would refuse without asking the driver is refused here, so that every
    // failure below is the driver's.
    if (handle == nullptr || address.lun != 0 || length > kMaxTransfer ||
        (length != 0 && buffer == nullptr) ||
        (transport.useDirect == 0 && transport.workBuffer == nullptr)) {
        return outcome;
    }
    std::uint8_t block[kMaxCommandLength] = {};
    for (std::uint8_t i = 0; i < cdbLength && i < kMaxCommandLength; ++i) block[i] = cdb[i];
    const std::uint8_t dataIn = phase == DataPhase::In ? kPassThroughDataIn : kPassThroughDataOut;
    if (PassThroughExecute(transport_, os_, handle, block, buffer, length, dataIn,
                           timeoutSeconds) == kPassThroughOk) {
        outcome.status = CommandStatus::Good;
        outcome.transferred = length;
        return outcome;
    }
    if (transport.lastPassThroughError == 0) {
        outcome.status = transport.lastPassThroughScsiStatus == kCheckCondition
                             ? CommandStatus::CheckCondition
                             : CommandStatus::Failed;
    } else if (transport.lastPassThroughError == kErrorDevNotExist) {
        outcome.status = CommandStatus::NoDevice;
    } else if (transport.lastPassThroughError == kErrorSemTimeout) {
        outcome.status = CommandStatus::TimedOut;
    } else {
        outcome.status = CommandStatus::Failed;
    }
    return outcome;
}
