#include "sim/usb/usb_stick.h"

#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "sim/sim_device.h"
#include "sim/usb/bulk_only.h"
#include "sim/usb/function_fs.h"

namespace sim::usb {

namespace {

// Class requests of the Bulk-Only Transport on ep0.
constexpr std::uint8_t kRequestGetMaxLun = 0xFE;
constexpr std::uint8_t kRequestReset = 0xFF;
constexpr std::uint8_t kClassInterfaceIn = USB_DIR_IN | USB_TYPE_CLASS | USB_RECIP_INTERFACE;
constexpr std::uint8_t kClassInterfaceOut = USB_DIR_OUT | USB_TYPE_CLASS | USB_RECIP_INTERFACE;

// A wrapper is 31 bytes; a whole high-speed packet is read so that a longer one shows as such.
constexpr std::uint32_t kWrapperReadBytes = 512;
// While it waits for the host's reset after a refused wrapper the stick keeps its pipes halted:
// a host that clears a halt without resetting finds it halted again within this time.
constexpr auto kHaltRenewal = std::chrono::milliseconds(20);
// How long the control thread waits before it reads ep0 again after an error other than a signal.
constexpr auto kControlRetry = std::chrono::milliseconds(20);
// How often the control thread knocks at the bulk thread's endpoint I/O, and for how long at
// most, until the bulk thread is back at its start.
constexpr auto kKnockInterval = std::chrono::milliseconds(2);
constexpr auto kKnockLimit = std::chrono::seconds(5);

int OpenEndpoint(const std::string& path, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) *error = path + ": " + std::strerror(errno);
    return fd;
}

void CloseFd(int* fd) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
}

std::string TransferText(const CommandBlockWrapper& cbw) {
    if (cbw.dataLength == 0) return "none";
    return std::string(cbw.dataIn ? "in " : "out ") + std::to_string(cbw.dataLength);
}

}  // namespace

UsbStick::UsbStick(SimBus& bus, SimDevice& device, GadgetIdentity identity, std::string workDir)
    : bus_(bus), device_(device), identity_(std::move(identity)), workDir_(std::move(workDir)) {}

UsbStick::~UsbStick() { Stop(); }

void UsbStick::Note(const std::string& what) { bus_.TraceNote(device_.Name() + ": usb " + what); }

bool UsbStick::Start(std::string* error) {
    gadget_ = ConfigfsGadget::Create("/sys/kernel/config", identity_,
                                     workDir_ + "/" + identity_.name, error);
    if (!gadget_) return false;
    const std::string dir = gadget_->FunctionFsDir();
    ep0_ = OpenEndpoint(dir + "/ep0", error);
    if (ep0_ < 0 || !WriteMassStorageDescriptors(ep0_, error)) return false;
    in_ = OpenEndpoint(dir + "/ep1", error);
    out_ = OpenEndpoint(dir + "/ep2", error);
    if (in_ < 0 || out_ < 0) return false;
    control_ = std::thread([this] { ControlLoop(); });
    bulk_ = std::thread([this] { BulkLoop(); });
    bulkHandle_ = bulk_.native_handle();
    return true;
}

bool UsbStick::PlugIn(const std::string& udc, std::string* error) {
    if (!gadget_->Bind(udc, error)) return false;
    Note("plugged in on " + udc);
    return true;
}

bool UsbStick::Pull(std::string* error) {
    configured_ = false;
    if (!gadget_->Unbind(error)) return false;
    Note("pulled");
    // A command the pull cut off waits for a reset that the host of a plugged-in stick would
    // send; gone from the bus, the stick starts afresh now. FunctionFS drops a deconfiguration
    // it has not handed over yet when the unbinding follows at once, so the control thread may
    // never hear of this one.
    ResetBulk();
    return true;
}

bool UsbStick::PluggedIn() const { return gadget_ && gadget_->Bound(); }

void UsbStick::Stop() {
    if (!gadget_) return;
    std::string ignored;
    if (gadget_->Bound()) Pull(&ignored);
    stopping_ = true;
    // Both threads sit in endpoint I/O: a signal without restart breaks it off.
    for (std::thread* thread : {&control_, &bulk_}) {
        if (!thread->joinable()) continue;
        const pthread_t handle = thread->native_handle();
        std::atomic<bool> joined{false};
        std::thread knocker([&] {
            while (!joined) {
                ::pthread_kill(handle, SIGUSR1);
                std::this_thread::sleep_for(kKnockInterval);
            }
        });
        {
            std::lock_guard<std::mutex> hold(mutex_);
            ++resets_;
        }
        changed_.notify_all();
        thread->join();
        joined = true;
        knocker.join();
    }
    CloseFd(&in_);
    CloseFd(&out_);
    CloseFd(&ep0_);
    gadget_.reset();
}

void UsbStick::ControlLoop() {
    usb_functionfs_event events[4];
    while (!stopping_) {
        const ssize_t got = ::read(ep0_, events, sizeof events);
        if (got < 0) {
            // A signal breaks the read off to have stopping_ looked at; anything else is the
            // kernel's trouble with the function, which a moment may end.
            if (errno != EINTR) std::this_thread::sleep_for(kControlRetry);
            continue;
        }
        for (ssize_t i = 0; i < got / static_cast<ssize_t>(sizeof events[0]); ++i) {
            switch (events[i].type) {
                case FUNCTIONFS_ENABLE:
                    configured_ = true;
                    Note("configured");
                    break;
                case FUNCTIONFS_DISABLE:
                    // A port reset, a pull or a new configuration: the device starts afresh,
                    // its controller as after power on (a stopped disk comes back, a reset is
                    // reported once).
                    configured_ = false;
                    Note("deconfigured");
                    ResetBulk();
                    bus_.ResetDevice(device_);
                    break;
                case FUNCTIONFS_SETUP:
                    HandleSetup(&events[i].u.setup);
                    break;
                default:  // bind, unbind, suspend, resume: nothing to do
                    break;
            }
        }
    }
}

void UsbStick::HandleSetup(const void* raw) {
    usb_ctrlrequest setup;
    std::memcpy(&setup, raw, sizeof setup);
    const std::uint16_t value = le16toh(setup.wValue);
    const std::uint16_t index = le16toh(setup.wIndex);
    const std::uint16_t length = le16toh(setup.wLength);
    if (setup.bRequestType == kClassInterfaceIn && setup.bRequest == kRequestGetMaxLun &&
        value == 0 && index == 0 && length >= 1) {
        const std::uint8_t maxLun = static_cast<std::uint8_t>(device_.UnitCount() - 1);
        (void)!::write(ep0_, &maxLun, 1);
        Note("get max lun: " + std::to_string(maxLun));
        return;
    }
    if (setup.bRequestType == kClassInterfaceOut && setup.bRequest == kRequestReset && value == 0 &&
        index == 0 && length == 0) {
        ResetBulk();
        Note("bulk-only reset");
        (void)!::read(ep0_, nullptr, 0);  // the status stage: done
        return;
    }
    // Anything else is not ours: the request is stalled by answering it the wrong way round.
    char requestText[64];
    std::snprintf(requestText, sizeof requestText, "%02X %02X %04X %04X %04X: stalled",
                  setup.bRequestType, setup.bRequest, value, index, length);
    Note(std::string("control request ") + requestText);
    if (setup.bRequestType & USB_DIR_IN) {
        (void)!::read(ep0_, nullptr, 0);
    } else {
        (void)!::write(ep0_, nullptr, 0);
    }
}

void UsbStick::ResetBulk() {
    std::unique_lock<std::mutex> hold(mutex_);
    const std::uint64_t reset = ++resets_;
    changed_.notify_all();
    const auto limit = std::chrono::steady_clock::now() + kKnockLimit;
    while (resetsSeen_ < reset && !stopping_ && std::chrono::steady_clock::now() < limit) {
        ::pthread_kill(bulkHandle_, SIGUSR1);
        changed_.wait_for(hold, kKnockInterval);
    }
}

bool UsbStick::WaitForReset(std::uint64_t since, bool haltMeanwhile) {
    EndpointPipes pipes(in_, out_);
    std::unique_lock<std::mutex> hold(mutex_);
    while (resets_ == since && !stopping_) {
        if (haltMeanwhile) {
            hold.unlock();
            pipes.HaltIn();
            pipes.HaltOut();
            hold.lock();
        }
        changed_.wait_for(hold, kHaltRenewal);
    }
    return !stopping_;
}

void UsbStick::BulkLoop() {
    EndpointPipes pipes(in_, out_);
    std::vector<std::uint8_t> scratch;
    const RunCommand run = [this](std::uint8_t lun, const std::uint8_t* cdb, Direction direction,
                                  std::uint8_t* buffer, std::uint32_t length) {
        return bus_.ExecuteUnit(device_, lun, cdb, direction, buffer, length);
    };
    std::uint8_t wrapper[kWrapperReadBytes];
    while (!stopping_) {
        std::uint64_t epoch;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            epoch = resetsSeen_ = resets_;
        }
        changed_.notify_all();
        const long got = pipes.Receive(wrapper, sizeof wrapper);
        if (got < 0) continue;  // a reset, a pull or the end broke it off
        CommandBlockWrapper cbw;
        const CbwVerdict verdict =
            DecodeCbw(wrapper, static_cast<std::size_t>(got), device_.UnitCount(), &cbw);
        if (verdict != CbwVerdict::Good) {
            Note(std::string("command block wrapper ") +
                 (verdict == CbwVerdict::NotValid ? "not valid" : "not meaningful") + " (" +
                 std::to_string(got) + " bytes): both pipes halted until a reset");
            WaitForReset(epoch, true);
            continue;
        }
        const Exchange exchange = ServeCommand(cbw, pipes, run, &scratch);
        if (!exchange.anomaly.empty()) {
            Note("tag " + std::to_string(cbw.tag) + ", " + exchange.anomaly);
        }
        if (exchange.completed) continue;
        if (exchange.outcome == Outcome::Hung || exchange.outcome == Outcome::NoDevice) {
            Note("tag " + std::to_string(cbw.tag) + " (" + TransferText(cbw) +
                 "): no answer until a reset");
            WaitForReset(epoch, false);
        }
    }
}

}  // namespace sim::usb
