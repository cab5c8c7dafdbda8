#include "reader/reader.h"

Reader::Reader(std::unique_ptr<BackEnd> backEnd) : backEnd_(std::move(backEnd)) {}

Reader::Reader(ScsiPort& port) : backEnd_(std::make_unique<LentPort>(port)) {}

Reader::~Reader() {
    while (startCount_ > 0) CloseTransport();
}

int Reader::OpenTransport() {
    if (startCount_++ != 0) return 1;
    port_ = backEnd_->Start();
    path_.UsePort(port_);
    return port_ != nullptr ? 1 : 0;
}

void Reader::CloseTransport() {
    if (startCount_ <= 0) return;
    if (--startCount_ != 0) return;
    ReleaseUnits();
    path_.ForgetAllPlaces();
    path_.UsePort(nullptr);
    port_ = nullptr;
    backEnd_->Stop();
}

void Reader::ReleaseUnits() {
    for (std::uint8_t i = 0; i < units_.count && i < kMaxUnits; ++i) {
        const std::uint32_t place = units_.entries[i].place;
        if (port_ != nullptr && place != kNoPlace) port_->Close(place);
        path_.ForgetPlace(place);
    }
    units_ = UnitTable{};
}

bool Reader::AddressOfUnit(MediaType key, PortAddress* address) const {
    if (port_ == nullptr) return false;
    return units_.AddressOfUnit(key, port_->Shape(), address);
}
