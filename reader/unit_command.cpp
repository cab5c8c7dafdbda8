#include "reader/unit_command.h"

#include "reader/transport.h"
#include "reader/units.h"

namespace {

// The largest transfer the buffered pass-through request can carry whole; every caller stays
// within it, so anything larger is a caller's fault and is refused rather than truncated.
constexpr std::uint32_t kMaxTransfer = 65536;

std::uint8_t AspiFlags(DataDirection direction) {
    switch (direction) {
        case DataDirection::In:
            return kAspiDirIn;
        case DataDirection::Out:
            return kAspiDirOut;
        case DataDirection::None:
            break;
    }
    return kAspiDirNone;
}

std::uint8_t PassThroughDataIn(DataDirection direction) {
    return direction == DataDirection::In ? kPassThroughDataIn : kPassThroughDataOut;
}

}  // namespace

int SendUnitCommand(MediaType key, const std::uint8_t* cdb, void* buffer, std::uint32_t length,
                    DataDirection direction, std::uint16_t timeoutSeconds) {
    if (length > kMaxTransfer || (length != 0 && buffer == nullptr)) return 0;
    if (direction == DataDirection::None) length = 0;

    if (AspiActive()) {
        const std::uint8_t lun = LunOfUnit(key);
        if (lun == kNoLun) return 0;  // not a unit of the reader: send nothing
        return AspiExecute(lun, cdb, buffer, length, AspiFlags(direction), timeoutSeconds) ==
                       kAspiComplete
                   ? 1
                   : 0;
    }

    OsHandle handle = HandleOfUnit(key);
    if (handle == nullptr) return 0;
    return PassThroughExecute(handle, cdb, buffer, length, PassThroughDataIn(direction),
                              timeoutSeconds) == kPassThroughOk
               ? 1
               : 0;
}
