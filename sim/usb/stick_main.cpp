// brevant-usb-stick: the sticks of a simulated machine as real USB mass-storage devices of this
// Linux machine, through the kernel's configfs gadgets and FunctionFS on device-side controllers
// (dummy_hcd gives as many as asked for). Every reader and every foreign drive of the
// description is one stick on a controller of its own, in description order; its units are its
// LUNs. It needs root, configfs mounted at /sys/kernel/config and the modules libcomposite,
// usb_f_fs and a UDC driver loaded.
//
//   brevant-usb-stick --machine FILE [--trace FILE] [--control DIR] [--work DIR] [--ready FILE]
//
// --trace   every command a stick received, with its outcome, one line each as the simulator
//           writes them, and the sticks' own events (plugs, resets, refused wrappers)
// --control a folder of the simulator's plug files (unplug-NAME pulls a stick: its gadget is
//           unbound, a real pull; replug-NAME binds it again)
// --work    where the FunctionFS instances are mounted (default /run/brevant-usb-stick)
// --ready   written once every stick that starts plugged in has been configured by the host:
//           one line per stick: device name, gadget, controller, serial, LUNs and "plugged" or
//           "pulled", separated by tabs
//
// Runs until SIGTERM or SIGINT, then pulls every stick and takes its gadget away.

#include <signal.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_bus.h"
#include "sim/sim_device.h"
#include "sim/usb/configfs_gadget.h"
#include "sim/usb/usb_stick.h"

namespace {

using sim::usb::GadgetIdentity;
using sim::usb::UsbStick;

// What the sticks announce on USB: the Linux Foundation's identifiers for configfs gadgets.
constexpr std::uint16_t kVendorId = 0x1d6b;
constexpr std::uint16_t kProductId = 0x0104;
constexpr std::uint16_t kDeviceRelease = 0x0100;
// How often the plugs are compared with the simulated machine's (and its control folder read).
constexpr auto kPlugLook = std::chrono::milliseconds(5);
// How long a stick that is plugged in at the start may take to be configured by the host before
// the next is plugged in: one after the other, so the host numbers them in description order.
constexpr auto kConfigureWait = std::chrono::seconds(5);

volatile std::sig_atomic_t g_stop = 0;

void OnStop(int) { g_stop = 1; }
void OnKnock(int) {}  // only breaks off endpoint I/O

struct Options {
    std::string machine;
    std::string trace;
    std::string control;
    std::string work = "/run/brevant-usb-stick";
    std::string ready;
};

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        std::string* target = nullptr;
        if (name == "--machine") target = &options->machine;
        if (name == "--trace") target = &options->trace;
        if (name == "--control") target = &options->control;
        if (name == "--work") target = &options->work;
        if (name == "--ready") target = &options->ready;
        if (target == nullptr || i + 1 >= argc) {
            *error = target == nullptr ? "unknown option " + name : name + " needs a value";
            return false;
        }
        *target = argv[++i];
    }
    if (options->machine.empty()) *error = "--machine FILE is needed";
    return !options->machine.empty();
}

std::string Trimmed(const std::uint8_t* field, std::size_t width) {
    std::string text(reinterpret_cast<const char*>(field), width);
    const std::size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

// What a device announces on USB: its INQUIRY vendor and product of LUN 0, and its serial
// number; one without a serial number gets twelve hex digits of its place in the description
// (000000000001 for the first device), as the mass-storage class asks of every stick.
GadgetIdentity IdentityOf(sim::SimDevice& device, std::size_t index) {
    GadgetIdentity identity;
    identity.name = "stick" + std::to_string(index);
    identity.vendorId = kVendorId;
    identity.productId = kProductId;
    identity.deviceRelease = kDeviceRelease;
    const auto inquiry = device.Unit(0)->InquiryData();
    identity.manufacturer = Trimmed(&inquiry[8], 8);
    identity.product = Trimmed(&inquiry[16], 16);
    identity.serial = device.Serial();
    if (identity.serial.empty()) {
        char serial[16];
        std::snprintf(serial, sizeof serial, "%012zX", index + 1);
        identity.serial = serial;
    }
    return identity;
}

struct Stick {
    std::unique_ptr<UsbStick> usb;
    std::string gadget;
    std::string controller;
    std::size_t reader = sim::SimBus::kNoReader;  // the reader's number, for its plug
    std::string serial;
};

bool WantsPlug(sim::SimBus& bus, const Stick& stick) {
    return stick.reader == sim::SimBus::kNoReader || bus.ReaderPlugged(stick.reader);
}

bool FollowPlug(sim::SimBus& bus, Stick& stick) {
    const bool want = WantsPlug(bus, stick);
    if (want == stick.usb->PluggedIn()) return true;
    std::string error;
    const bool done = want ? stick.usb->PlugIn(stick.controller, &error) : stick.usb->Pull(&error);
    if (!done) std::fprintf(stderr, "brevant-usb-stick: %s\n", error.c_str());
    return done;
}

bool WriteReady(const std::string& path, const std::vector<Stick>& sticks) {
    std::ofstream out(path + ".part");
    for (const Stick& stick : sticks) {
        out << stick.usb->Device().Name() << '\t' << stick.gadget << '\t' << stick.controller
            << '\t' << stick.serial << '\t' << stick.usb->Device().UnitCount() << '\t'
            << (stick.usb->PluggedIn() ? "plugged" : "pulled") << '\n';
    }
    out.close();
    return out && std::rename((path + ".part").c_str(), path.c_str()) == 0;
}

int Run(const Options& options) {
    std::string error;
    std::unique_ptr<sim::SimBus> bus = sim::SimBus::Load(options.machine, &error);
    if (!bus) {
        std::fprintf(stderr, "brevant-usb-stick: %s: %s\n", options.machine.c_str(), error.c_str());
        return 2;
    }
    if (!options.trace.empty() && !bus->StreamTrace(options.trace, &error, true)) {
        std::fprintf(stderr, "brevant-usb-stick: %s\n", error.c_str());
        return 2;
    }
    if (!options.control.empty()) bus->FollowControlFolder(options.control);

    const std::vector<std::string> controllers = sim::usb::DeviceControllers();
    if (controllers.size() < bus->DeviceCount()) {
        std::fprintf(stderr,
                     "brevant-usb-stick: %zu sticks need as many device-side controllers, there "
                     "are %zu (modprobe dummy_hcd num=%zu)\n",
                     bus->DeviceCount(), controllers.size(), bus->DeviceCount());
        return 1;
    }
    std::vector<Stick> sticks(bus->DeviceCount());
    for (std::size_t reader = 0; reader < bus->ReaderCount(); ++reader) {
        for (std::size_t d = 0; d < bus->DeviceCount(); ++d) {
            if (bus->Device(d) == bus->Reader(reader)) sticks[d].reader = reader;
        }
    }
    int status = 0;
    for (std::size_t d = 0; d < sticks.size() && status == 0; ++d) {
        sim::SimDevice& device = *bus->Device(d);
        const GadgetIdentity identity = IdentityOf(device, d);
        sticks[d].serial = identity.serial;
        sticks[d].gadget = identity.name;
        sticks[d].controller = controllers[d];
        sticks[d].usb = std::make_unique<UsbStick>(*bus, device, identity, options.work);
        if (!sticks[d].usb->Start(&error)) {
            std::fprintf(stderr, "brevant-usb-stick: %s: %s\n", device.Name().c_str(),
                         error.c_str());
            status = 1;
        }
    }
    for (std::size_t d = 0; d < sticks.size() && status == 0 && !g_stop; ++d) {
        if (!FollowPlug(*bus, sticks[d])) status = 1;
        const auto limit = std::chrono::steady_clock::now() + kConfigureWait;
        while (sticks[d].usb->PluggedIn() && !sticks[d].usb->Configured() && !g_stop &&
               std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    if (status == 0 && !options.ready.empty() && !WriteReady(options.ready, sticks)) {
        std::fprintf(stderr, "brevant-usb-stick: cannot write %s\n", options.ready.c_str());
        status = 1;
    }
    while (status == 0 && !g_stop) {
        for (Stick& stick : sticks) FollowPlug(*bus, stick);
        std::this_thread::sleep_for(kPlugLook);
    }
    for (Stick& stick : sticks) {
        if (stick.usb) stick.usb->Stop();
    }
    if (!bus->EndTraceStream()) {
        std::fprintf(stderr, "brevant-usb-stick: %s: cannot write the trace\n",
                     options.trace.c_str());
        status = 1;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr,
                     "brevant-usb-stick: %s\nusage: brevant-usb-stick --machine FILE [--trace "
                     "FILE] [--control DIR] [--work DIR] [--ready FILE]\n",
                     error.c_str());
        return 2;
    }
    struct sigaction action = {};
    action.sa_handler = OnKnock;  // no SA_RESTART: a blocked endpoint read returns EINTR
    sigaction(SIGUSR1, &action, nullptr);
    action.sa_handler = OnStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    return Run(options);
}
