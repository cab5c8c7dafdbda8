#include "sim/usb/configfs_gadget.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace sim::usb {

namespace fs = std::filesystem;

namespace {

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

std::string Reason(const std::string& what) { return what + ": " + std::strerror(errno); }

bool WriteAttribute(const std::string& path, const std::string& value, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        *error = Reason(path);
        return false;
    }
    // The kernel answers the write itself: an attribute it refuses fails the flush.
    bool written = std::fputs(value.c_str(), file) >= 0 && std::fflush(file) == 0;
    if (!written) *error = Reason(path);
    if (std::fclose(file) != 0 && written) {
        *error = Reason(path);
        written = false;
    }
    return written;
}

bool MakeFolder(const std::string& path, std::string* error) {
    if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
    *error = Reason(path);
    return false;
}

}  // namespace

std::unique_ptr<ConfigfsGadget> ConfigfsGadget::Create(const std::string& configfsRoot,
                                                       const GadgetIdentity& identity,
                                                       const std::string& functionFsDir,
                                                       std::string* error) {
    std::unique_ptr<ConfigfsGadget> gadget(new ConfigfsGadget);
    const std::string g = configfsRoot + "/usb_gadget/" + identity.name;
    gadget->gadgetDir_ = g;
    gadget->functionFsDir_ = functionFsDir;
    const std::string function = g + "/functions/ffs." + identity.name;
    const std::string config = g + "/configs/c.1";
    const bool made =
        MakeFolder(g, error) && WriteAttribute(g + "/idVendor", Hex4(identity.vendorId), error) &&
        WriteAttribute(g + "/idProduct", Hex4(identity.productId), error) &&
        WriteAttribute(g + "/bcdDevice", Hex4(identity.deviceRelease), error) &&
        WriteAttribute(g + "/bcdUSB", Hex4(0x0200), error) &&
        MakeFolder(g + "/strings/0x409", error) &&
        WriteAttribute(g + "/strings/0x409/manufacturer", identity.manufacturer, error) &&
        WriteAttribute(g + "/strings/0x409/product", identity.product, error) &&
        WriteAttribute(g + "/strings/0x409/serialnumber", identity.serial, error) &&
        MakeFolder(config, error) && MakeFolder(config + "/strings/0x409", error) &&
        WriteAttribute(config + "/strings/0x409/configuration", "Mass storage", error) &&
        WriteAttribute(config + "/MaxPower", "100", error) && MakeFolder(function, error);
    if (!made) return nullptr;
    const std::string link = config + "/ffs." + identity.name;
    if (::symlink(function.c_str(), link.c_str()) != 0 && errno != EEXIST) {
        *error = Reason(link);
        return nullptr;
    }
    std::error_code failed;
    fs::create_directories(functionFsDir, failed);
    if (::mount(identity.name.c_str(), functionFsDir.c_str(), "functionfs", 0, nullptr) != 0) {
        *error = Reason("mount functionfs " + identity.name + " on " + functionFsDir);
        return nullptr;
    }
    gadget->mounted_ = true;
    return gadget;
}

ConfigfsGadget::~ConfigfsGadget() { Remove(); }

void ConfigfsGadget::Remove() {
    std::string ignored;
    if (bound_) Unbind(&ignored);
    if (mounted_) ::umount(functionFsDir_.c_str());
    mounted_ = false;
    // The folders go in the reverse order of their making; what is not there is skipped.
    const std::string name = fs::path(gadgetDir_).filename().string();
    const std::string config = gadgetDir_ + "/configs/c.1";
    ::unlink((config + "/ffs." + name).c_str());
    for (const std::string& dir :
         {config + "/strings/0x409", config, gadgetDir_ + "/functions/ffs." + name,
          gadgetDir_ + "/strings/0x409", gadgetDir_}) {
        ::rmdir(dir.c_str());
    }
}

bool ConfigfsGadget::Bind(const std::string& udc, std::string* error) {
    if (!WriteAttribute(gadgetDir_ + "/UDC", udc, error)) return false;
    bound_ = true;
    return true;
}

bool ConfigfsGadget::Unbind(std::string* error) {
    // An empty line, not an empty write: configfs takes the newline away and unbinds.
    if (!WriteAttribute(gadgetDir_ + "/UDC", "\n", error)) return false;
    bound_ = false;
    return true;
}

std::vector<std::string> DeviceControllers() {
    std::vector<std::pair<long, std::string>> found;
    std::error_code failed;
    for (fs::directory_iterator it("/sys/class/udc", failed), end; !failed && it != end;
         it.increment(failed)) {
        const std::string name = it->path().filename().string();
        const std::size_t dot = name.rfind('.');
        const long number = dot == std::string::npos ? -1 : std::atol(name.c_str() + dot + 1);
        found.emplace_back(number, name);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> names;
    for (const auto& entry : found) names.push_back(entry.second);
    return names;
}

}  // namespace sim::usb
