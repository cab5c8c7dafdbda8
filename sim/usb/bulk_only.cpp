#include "sim/usb/bulk_only.h"

#include <algorithm>
#include <cstring>

#include "reader/byte_order.h"
#include "sim/scsi_codes.h"

namespace sim::usb {

namespace {

constexpr std::uint32_t kCbwSignature = 0x43425355;  // "USBC"
constexpr std::uint32_t kCswSignature = 0x53425355;  // "USBS"
constexpr std::uint8_t kCbwFlagDataIn = 0x80;
constexpr std::size_t kDeviceBlockBytes = 12;

std::string Phase(bool none, bool in, std::uint32_t length) {
    if (none) return "none";
    return std::string(in ? "in " : "out ") + std::to_string(length);
}

}  // namespace

CbwVerdict DecodeCbw(const std::uint8_t* bytes, std::size_t length, std::size_t lunCount,
                     CommandBlockWrapper* cbw) {
    if (length != kCbwBytes || GetLe32(bytes) != kCbwSignature) return CbwVerdict::NotValid;
    cbw->tag = GetLe32(bytes + 4);
    cbw->dataLength = GetLe32(bytes + 8);
    cbw->dataIn = (bytes[12] & kCbwFlagDataIn) != 0;
    cbw->lun = bytes[13] & 0x0F;
    cbw->blockLength = bytes[14] & 0x1F;
    std::memcpy(cbw->block.data(), bytes + 15, cbw->block.size());
    const bool reservedClear =
        (bytes[12] & 0x7F) == 0 && (bytes[13] & 0xF0) == 0 && (bytes[14] & 0xE0) == 0;
    if (!reservedClear || cbw->lun >= lunCount || cbw->blockLength == 0 ||
        cbw->blockLength > cbw->block.size()) {
        return CbwVerdict::NotMeaningful;
    }
    return CbwVerdict::Good;
}

std::array<std::uint8_t, kCswBytes> EncodeCsw(std::uint32_t tag, std::uint32_t residue,
                                              CswStatus status) {
    std::array<std::uint8_t, kCswBytes> csw{};
    PutLe32(&csw[0], kCswSignature);
    PutLe32(&csw[4], tag);
    PutLe32(&csw[8], residue);
    csw[12] = static_cast<std::uint8_t>(status);
    return csw;
}

bool TakesAllocationLength(std::uint8_t opcode) {
    return opcode == kOpInquiry || opcode == kOpRequestSense || opcode == kOpModeSense6;
}

std::uint32_t ReplyLength(std::uint8_t opcode, const std::uint8_t* reply, std::uint32_t produced) {
    // Each reply says how many bytes follow its length field.
    std::uint32_t own = produced;
    if (opcode == kOpInquiry && produced > 4) own = reply[4] + 5u;
    if (opcode == kOpRequestSense && produced > 7) own = reply[7] + 8u;
    if (opcode == kOpModeSense6 && produced > 0) own = reply[0] + 1u;
    return std::min(own, produced);
}

namespace {

// One command's way through the transport, once the CBW is in.
class CommandExchange {
  public:
    CommandExchange(const CommandBlockWrapper& cbw, BulkPipes& pipes, const RunCommand& run,
                    std::vector<std::uint8_t>* scratch)
        : cbw_(cbw), pipes_(pipes), run_(run), buffer_(*scratch) {
        std::memcpy(cdb_, cbw.block.data(), std::min<std::size_t>(cbw.blockLength, sizeof cdb_));
        hostNone_ = cbw.dataLength == 0;
        hostIn_ = !hostNone_ && cbw.dataIn;
        hostOut_ = !hostNone_ && !cbw.dataIn;
    }

    Exchange Serve() {
        if (TakesAllocationLength(cdb_[0])) return ServeAllocationReply();
        if (cbw_.dataLength > kMaxDataBytes) return ServeRefusedTransfer();
        if (hostOut_) return ServeDataOut();
        if (hostIn_) return ServeDataIn();
        return ServeNoData();
    }

  private:
    bool Run(Direction direction, std::uint32_t length) {
        if (buffer_.size() < length) buffer_.resize(length);
        exchange_.outcome = run_(cbw_.lun, cdb_, direction, buffer_.data(), length);
        return exchange_.outcome == Outcome::Good || exchange_.outcome == Outcome::CheckCondition;
    }

    CswStatus Status() const {
        return exchange_.outcome == Outcome::Good ? CswStatus::Passed : CswStatus::Failed;
    }

    Exchange Status(CswStatus status, std::uint32_t residue) {
        exchange_.status = status;
        exchange_.residue = residue;
        const auto csw = EncodeCsw(cbw_.tag, residue, status);
        exchange_.completed = pipes_.Send(csw.data(), static_cast<std::uint32_t>(csw.size()));
        return exchange_;
    }

    Exchange PhaseError(std::uint32_t residue, const std::string& device) {
        exchange_.anomaly = "phase error: host " + Phase(hostNone_, hostIn_, cbw_.dataLength) +
                            ", device " + device;
        return Status(CswStatus::PhaseError, residue);
    }

    // The device means to send `bytes` (0: nothing) of the buffer; the host expects what the
    // CBW says.
    Exchange FinishDataIn(std::uint32_t bytes) {
        const std::uint32_t host = cbw_.dataLength;
        if (hostNone_) {
            if (bytes == 0) return Status(Status(), 0);       // Hn = Dn
            return PhaseError(0, Phase(false, true, bytes));  // Hn < Di
        }
        if (hostOut_) {
            pipes_.HaltOut();
            if (bytes == 0) return Status(Status(), host);       // Ho > Dn
            return PhaseError(host, Phase(false, true, bytes));  // Ho <> Di
        }
        if (bytes > host) {  // Hi < Di: what fits, then the phase error
            if (!pipes_.Send(buffer_.data(), host)) return exchange_;
            return PhaseError(0, Phase(false, true, bytes));
        }
        if (bytes > 0 && !pipes_.Send(buffer_.data(), bytes)) return exchange_;
        if (bytes < host) pipes_.HaltIn();  // Hi > Di (or Dn): the rest is not coming
        return Status(Status(), host - bytes);
    }

    // INQUIRY, REQUEST SENSE, MODE SENSE(6): the device runs the command as its allocation
    // length allows and sends what its reply says is there, whatever the host expects.
    Exchange ServeAllocationReply() {
        const std::uint32_t allocation = cdb_[4];
        if (!Run(allocation > 0 ? Direction::In : Direction::None, allocation)) return exchange_;
        std::uint32_t bytes = 0;
        if (exchange_.outcome == Outcome::Good) {
            bytes = ReplyLength(cdb_[0], buffer_.data(), allocation);
        }
        return FinishDataIn(bytes);
    }

    // More than a stick ever moves at once: the command is tried without a data phase (a
    // command that needs one fails as any refused field does) and the host's pipe is halted.
    Exchange ServeRefusedTransfer() {
        if (!Run(Direction::None, 0)) return exchange_;
        return FinishDataIn(0);
    }

    // All the data comes in first; then the device decides. A command it refuses processed
    // none of it.
    Exchange ServeDataOut() {
        const std::uint32_t host = cbw_.dataLength;
        if (buffer_.size() < host) buffer_.resize(host);
        std::uint32_t received = 0;
        while (received < host) {
            const std::uint32_t wanted = host - received;
            const long got = pipes_.Receive(buffer_.data() + received, wanted);
            if (got < 0) return exchange_;
            received += static_cast<std::uint32_t>(got);
            if (static_cast<std::uint32_t>(got) < wanted) break;  // a short packet: it stopped
        }
        if (received < host) {
            exchange_.anomaly = "phase error: host out " + std::to_string(host) + ", sent " +
                                std::to_string(received);
            return Status(CswStatus::PhaseError, host - received);
        }
        if (!Run(Direction::Out, host)) return exchange_;
        return Status(Status(), exchange_.outcome == Outcome::Good ? 0 : host);
    }

    // The device refuses a data phase that is not its own (ILLEGAL REQUEST), so what it sends
    // is all the host asked for, or nothing.
    Exchange ServeDataIn() {
        if (!Run(Direction::In, cbw_.dataLength)) return exchange_;
        return FinishDataIn(exchange_.outcome == Outcome::Good ? cbw_.dataLength : 0);
    }

    Exchange ServeNoData() {
        if (!Run(Direction::None, 0)) return exchange_;
        return Status(Status(), 0);
    }

    const CommandBlockWrapper& cbw_;
    BulkPipes& pipes_;
    const RunCommand& run_;
    std::vector<std::uint8_t>& buffer_;
    std::uint8_t cdb_[kDeviceBlockBytes] = {};
    bool hostNone_ = false;
    bool hostIn_ = false;
    bool hostOut_ = false;
    Exchange exchange_;
};

}  // namespace

Exchange ServeCommand(const CommandBlockWrapper& cbw, BulkPipes& pipes, const RunCommand& run,
                      std::vector<std::uint8_t>* scratch) {
    return CommandExchange(cbw, pipes, run, scratch).Serve();
}

}  // namespace sim::usb
