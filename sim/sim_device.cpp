#include "sim/sim_device.h"

#include <algorithm>
#include <cstring>

#include "sim/scsi_codes.h"

namespace sim {

namespace {

void PutText(std::uint8_t* field, std::size_t width, const std::string& text) {
    std::memset(field, ' ', width);
    std::memcpy(field, text.data(), std::min(width, text.size()));
}

}  // namespace

struct SimUnit::Impl {
    Kind kind;
    std::string mediumCode;
    std::string productName;
    char driveLetter = 0;
    std::string nodeName;
    std::unique_ptr<SimFlashDisk> disk;
    bool cardPresent = false;
    SenseCode sense;
    std::uint64_t nonInquiry = 0;

    Outcome Check(std::uint8_t key, std::uint8_t asc) {
        sense = SenseCode{key, asc, 0};
        return Outcome::CheckCondition;
    }

    // Card slots and foreign drives: just enough of a unit to be found and left alone.
    Outcome Simple(const std::uint8_t* cdb, Direction direction, std::uint8_t* buffer,
                   std::uint32_t length) {
        const bool noData = length == 0;
        switch (cdb[0]) {
            case kOpRequestSense: {
                if (!noData && direction != Direction::In) break;
                SenseCode report = sense;
                if (report.key == 0 && kind == Kind::CardSlot && !cardPresent) {
                    report = SenseCode{kSenseNotReady, kAscMediumNotPresent, 0};
                }
                const SenseBytes bytes = FormatSense(report);
                const std::uint32_t n = std::min<std::uint32_t>({length, cdb[4], kSenseBytes});
                if (n > 0) std::memcpy(buffer, bytes.data(), n);
                sense = SenseCode{};
                return Outcome::Good;
            }
            case kOpTestUnitReady:
                if (!noData) break;
                if (kind == Kind::CardSlot && !cardPresent) {
                    return Check(kSenseNotReady, kAscMediumNotPresent);
                }
                sense = SenseCode{};
                return Outcome::Good;
            default:
                if (kind == Kind::CardSlot && !cardPresent) {
                    return Check(kSenseNotReady, kAscMediumNotPresent);
                }
                return Check(kSenseIllegalRequest, kAscInvalidOpcode);
        }
        return Check(kSenseIllegalRequest, kAscInvalidField);
    }
};

SimUnit::SimUnit(Kind kind, const std::string& mediumCode, const std::string& productName)
    : impl_(new Impl{kind, mediumCode, productName}) {
    impl_->mediumCode.resize(2, ' ');
    if (kind == Kind::FlashDisk) impl_->disk.reset(new SimFlashDisk);
}

SimUnit::~SimUnit() = default;

SimUnit::Kind SimUnit::GetKind() const { return impl_->kind; }
const std::string& SimUnit::MediumCode() const { return impl_->mediumCode; }
char SimUnit::DriveLetter() const { return impl_->driveLetter; }
void SimUnit::SetDriveLetter(char letter) { impl_->driveLetter = letter; }
const std::string& SimUnit::NodeName() const { return impl_->nodeName; }
void SimUnit::SetNodeName(const std::string& name) { impl_->nodeName = name; }
SimFlashDisk* SimUnit::FlashDisk() { return impl_->disk.get(); }
const SimFlashDisk* SimUnit::FlashDisk() const { return impl_->disk.get(); }
void SimUnit::SetCardPresent(bool present) { impl_->cardPresent = present; }

std::array<std::uint8_t, kInquiryBytes> SimUnit::InquiryData() const {
    std::array<std::uint8_t, kInquiryBytes> data{};
    const bool foreign = impl_->kind == Kind::Foreign;
    data[0] = 0x00;                   // direct-access device
    data[1] = foreign ? 0x00 : 0x80;  // readers are removable media
    data[2] = 0x02;                   // SCSI-2
    data[3] = 0x02;                   // response data format 2
    data[4] = kInquiryBytes - 5;      // additional length
    PutText(&data[8], 8, foreign ? "GENERIC" : "BREVSIM");
    std::string product = impl_->productName;
    if (product.empty()) {
        product = impl_->kind == Kind::FlashDisk ? "USB Flash Disk" : "Card Reader " + MediumCode();
    }
    PutText(&data[16], 16, product);
    PutText(&data[32], 4, "1.00");
    if (!foreign) {
        data[36] = 'Q';
        data[37] = 'Z';
        data[38] = static_cast<std::uint8_t>(impl_->mediumCode[0]);
        data[39] = static_cast<std::uint8_t>(impl_->mediumCode[1]);
    }
    return data;
}

Outcome SimUnit::Execute(const std::uint8_t cdb[12], Direction direction, std::uint8_t* buffer,
                         std::uint32_t length) {
    if (cdb[0] == kOpInquiry) {
        // INQUIRY answers whatever state the unit is in and leaves pending conditions alone.
        if (length > 0 && (direction != Direction::In || buffer == nullptr)) {
            return impl_->Check(kSenseIllegalRequest, kAscInvalidField);
        }
        const auto data = InquiryData();
        const std::uint32_t n = std::min<std::uint32_t>({length, cdb[4], kInquiryBytes});
        if (n > 0) std::memcpy(buffer, data.data(), n);
        return Outcome::Good;
    }
    ++impl_->nonInquiry;
    if (impl_->disk) return impl_->disk->Execute(cdb, direction, buffer, length);
    if (length > 0 && buffer == nullptr) {
        return impl_->Check(kSenseIllegalRequest, kAscInvalidField);
    }
    return impl_->Simple(cdb, direction, buffer, length);
}

SenseBytes SimUnit::PendingSense() const {
    return impl_->disk ? impl_->disk->PendingSense() : FormatSense(impl_->sense);
}

std::uint64_t SimUnit::NonInquiryCommands() const { return impl_->nonInquiry; }

SimDevice::SimDevice(Kind kind, std::uint8_t adapter, std::uint8_t target, std::string name)
    : kind_(kind), adapter_(adapter), target_(target), name_(std::move(name)) {}

SimDevice::~SimDevice() = default;

SimDevice::Kind SimDevice::GetKind() const { return kind_; }
std::uint8_t SimDevice::Adapter() const { return adapter_; }
std::uint8_t SimDevice::Target() const { return target_; }
const std::string& SimDevice::Name() const { return name_; }

SimUnit& SimDevice::AddUnit(const std::string& mediumCode, const std::string& productName) {
    SimUnit::Kind kind = SimUnit::Kind::Foreign;
    if (kind_ == Kind::Reader) {
        kind = mediumCode == "DS" ? SimUnit::Kind::FlashDisk : SimUnit::Kind::CardSlot;
    }
    units_.emplace_back(new SimUnit(kind, mediumCode, productName));
    return *units_.back();
}

std::size_t SimDevice::UnitCount() const { return units_.size(); }

SimUnit* SimDevice::Unit(std::size_t lun) {
    return lun < units_.size() ? units_[lun].get() : nullptr;
}

const SimUnit* SimDevice::Unit(std::size_t lun) const {
    return lun < units_.size() ? units_[lun].get() : nullptr;
}

Outcome SimDevice::Execute(std::uint8_t lun, const std::uint8_t cdb[12], Direction direction,
                           std::uint8_t* buffer, std::uint32_t length) {
    SimUnit* unit = Unit(lun);
    if (unit == nullptr) return Outcome::NoDevice;
    return unit->Execute(cdb, direction, buffer, length);
}

}  // namespace sim
