#pragma once
#include <cstdint>
#include <string>

#include "sim/usb/bulk_only.h"

// The FunctionFS side of a mass-storage interface: the descriptors and strings a program writes
// to ep0 before its gadget is bound, and the two bulk endpoints as BulkPipes. FunctionFS numbers
// the endpoints in the order of the descriptors: ep1 is bulk-in, ep2 bulk-out.

namespace sim::usb {

// One interface of class 08h (mass storage), subclass 06h (SCSI transparent command set),
// protocol 50h (Bulk-Only), a bulk-in and a bulk-out endpoint, for full and high speed.
bool WriteMassStorageDescriptors(int ep0, std::string* error);

// The bulk endpoint files of a FunctionFS mount.
class EndpointPipes final : public BulkPipes {
  public:
    EndpointPipes(int in, int out) : in_(in), out_(out) {}

    long Receive(std::uint8_t* buffer, std::uint32_t length) override;
    bool Send(const std::uint8_t* data, std::uint32_t length) override;
    // FunctionFS halts an endpoint when it is used against its direction.
    void HaltIn() override;
    void HaltOut() override;

  private:
    int in_;
    int out_;
};

}  // namespace sim::usb
