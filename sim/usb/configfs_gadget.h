#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One USB gadget made through the kernel's configfs (/sys/kernel/config/usb_gadget): a device
// with one configuration holding one FunctionFS function, whose interface a program of its own
// serves through the files of the FunctionFS mount. Binding it to a device-side controller (a
// UDC) plugs it into the host side; unbinding pulls it.

namespace sim::usb {

struct GadgetIdentity {
    std::string name;  // the gadget's folder and the function's instance name
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t deviceRelease = 0;  // bcdDevice
    std::string manufacturer;
    std::string product;
    std::string serial;
};

class ConfigfsGadget {
  public:
    // Makes the gadget's folders and mounts its FunctionFS at `functionFsDir` (made if
    // needed). nullptr with a reason when the kernel refuses.
    static std::unique_ptr<ConfigfsGadget> Create(const std::string& configfsRoot,
                                                  const GadgetIdentity& identity,
                                                  const std::string& functionFsDir,
                                                  std::string* error);
    // Unbinds, unmounts and takes the folders away; the FunctionFS files must be closed.
    ~ConfigfsGadget();
    ConfigfsGadget(const ConfigfsGadget&) = delete;
    ConfigfsGadget& operator=(const ConfigfsGadget&) = delete;

    const std::string& FunctionFsDir() const { return functionFsDir_; }

    // Plugs the gadget in on the controller named (e.g. "dummy_udc.3"), or pulls it.
    bool Bind(const std::string& udc, std::string* error);
    bool Unbind(std::string* error);
    bool Bound() const { return bound_; }

  private:
    ConfigfsGadget() = default;
    void Remove();

    std::string gadgetDir_;
    std::string functionFsDir_;
    bool mounted_ = false;
    bool bound_ = false;
};

// The device-side controllers of this machine (/sys/class/udc), in the order of their numbers.
std::vector<std::string> DeviceControllers();

}  // namespace sim::usb
