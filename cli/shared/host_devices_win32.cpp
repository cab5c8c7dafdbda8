#include <windows.h>
#include <winioctl.h>

#include <cctype>
#include <cstdio>

#include "cli/shared/exit_codes.h"
#include "cli/shared/host_devices.h"
#include "cli/shared/windows_error.h"
#include "reader/win32/win32_os_layer.h"
#include "reader/win32/windows_back_ends.h"

namespace {

// IOCTL_SCSI_GET_ADDRESS (ntddscsi.h): where a drive sits on the SCSI buses, as ASPI numbers
// them (the port is the host adapter).
constexpr DWORD kGetScsiAddress = 0x41018;
struct ScsiAddress {
    ULONG length;
    UCHAR portNumber;
    UCHAR pathId;
    UCHAR targetId;
    UCHAR lun;
};

HANDLE OpenVolume(char letter, DWORD access = GENERIC_READ | GENERIC_WRITE) {
    const std::string path = std::string("\\\\.\\") + letter + ":";
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

// The drive letter of a place: itself for a pass-through drive ("E:"); for an ASPI target
// ("0:3") the removable drive whose SCSI address is that host adapter and target. 0 when no
// drive letter leads there (a stick with no volume the system knows, or a simulated one).
char DriveLetterOf(const std::string& place) {
    if (place.size() == 2 && place[1] == ':') return place[0];
    unsigned adapter = 0;
    unsigned target = 0;
    if (std::sscanf(place.c_str(), "%u:%u", &adapter, &target) != 2) return 0;
    const DWORD drives = GetLogicalDrives();
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        if ((drives & (1u << (letter - 'A'))) == 0) continue;
        const std::string root = std::string(1, letter) + ":\\";
        if (GetDriveTypeA(root.c_str()) != DRIVE_REMOVABLE) continue;
        const HANDLE volume = OpenVolume(letter, 0);
        if (volume == INVALID_HANDLE_VALUE) continue;
        ScsiAddress address = {};
        address.length = sizeof address;
        DWORD returned = 0;
        const bool known = DeviceIoControl(volume, kGetScsiAddress, nullptr, 0, &address,
                                           sizeof address, &returned, nullptr) != 0;
        CloseHandle(volume);
        if (known && address.portNumber == adapter && address.targetId == target) return letter;
    }
    return 0;
}

// The volume on a stick's drive letter locked and dismounted for the run: no program can open
// a file on it meanwhile, and the system reads the new file system afresh when the lock goes.
class VolumeLock final : public HeldStick {
  public:
    explicit VolumeLock(HANDLE volume) : volume_(volume) {}
    ~VolumeLock() override { Release(); }
    void Release(bool = true) override {
        if (volume_ == INVALID_HANDLE_VALUE) return;
        DWORD returned = 0;
        DeviceIoControl(volume_, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
        CloseHandle(volume_);
        volume_ = INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE volume_;
};

// The reader's Windows back-ends (ASPI, else pass-through), started for the machine's life.
class WindowsDevices final : public HostDevices {
  public:
    WindowsDevices() : backEnds_(os_) {}
    ~WindowsDevices() override { backEnds_.Stop(); }

    bool Start() {
        port_ = backEnds_.Start();
        return port_ != nullptr;
    }

    ScsiPort& Port() override { return *port_; }
    std::vector<std::uint32_t> Places() const override {
        const std::uint32_t named = named_.empty() ? port_->PlaceCount() : FindPlace(named_);
        std::vector<std::uint32_t> places;
        for (std::uint32_t place = 0; place < port_->PlaceCount(); ++place) {
            if (named_.empty() || place == named) places.push_back(place);
        }
        return places;
    }
    void Narrow(const std::string& device) { named_ = device; }
    int PermissionDenials() const override { return 0; }
    std::vector<std::string> BusyNodes() const override { return {}; }

    bool Hold(std::uint32_t place, HeldStick::Scope, std::unique_ptr<HeldStick>* held,
              std::string* reason, bool* busy) override {
        const std::string name = port_->PlaceName(place);
        const char letter = DriveLetterOf(name);
        // No volume the system knows of on the stick: nothing else can reach it by a file.
        if (letter == 0) {
            *reason = name + ": no drive letter leads to it: no volume to lock for the run";
            return true;
        }
        const HANDLE volume = OpenVolume(letter);
        DWORD returned = 0;
        if (volume == INVALID_HANDLE_VALUE) {
            *reason = std::string(1, letter) +
                      ": cannot be opened to lock it: " + WindowsErrorText(GetLastError());
            return false;
        }
        if (!DeviceIoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned,
                             nullptr)) {
            *reason = std::string(1, letter) +
                      ": in use (a program or window has files open on it): " +
                      WindowsErrorText(GetLastError());
            *busy = true;
            CloseHandle(volume);
            return false;
        }
        if (!DeviceIoControl(volume, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned,
                             nullptr)) {
            *reason = std::string(1, letter) +
                      ": cannot be dismounted: " + WindowsErrorText(GetLastError());
            DeviceIoControl(volume, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned,
                            nullptr);
            CloseHandle(volume);
            return false;
        }
        *held = std::make_unique<VolumeLock>(volume);
        return true;
    }

    // The serial number the storage stack read from the stick's USB descriptor, for a stick on
    // a drive letter; empty otherwise.
    std::string UsbSerial(const std::string& node) override {
        const char letter = DriveLetterOf(node);
        const HANDLE volume = letter == 0 ? INVALID_HANDLE_VALUE : OpenVolume(letter, 0);
        if (volume == INVALID_HANDLE_VALUE) return std::string();
        STORAGE_PROPERTY_QUERY query = {};
        query.PropertyId = StorageDeviceProperty;
        query.QueryType = PropertyStandardQuery;
        char reply[1024] = {};
        DWORD returned = 0;
        const bool known =
            DeviceIoControl(volume, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, reply,
                            sizeof reply - 1, &returned, nullptr) != 0;
        CloseHandle(volume);
        const auto* descriptor = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(reply);
        if (!known || returned < sizeof(STORAGE_DEVICE_DESCRIPTOR) ||
            descriptor->SerialNumberOffset == 0 || descriptor->SerialNumberOffset >= returned) {
            return std::string();
        }
        std::string serial(reply + descriptor->SerialNumberOffset);
        while (!serial.empty() && serial.back() == ' ') serial.pop_back();
        while (!serial.empty() && serial.front() == ' ') serial.erase(0, 1);
        return serial;
    }
    // Windows does not say which USB port without the setup API's device tree walk.
    std::string UsbPort(const std::string&) override { return std::string(); }

    bool StickNode(const std::string& argument, std::string* node, std::string* error) override {
        const std::uint32_t place = FindPlace(argument);
        if (place >= port_->PlaceCount()) {
            *error = argument +
                     ": no such drive (a drive letter such as E:, or an ASPI address "
                     "such as 1:0)";
            return false;
        }
        *node = port_->PlaceName(place);
        return true;
    }

    // Whether a drive is in use shows when its volume is locked (Hold).
    std::vector<std::string> Users(const std::string&) override { return {}; }
    bool MayCarryVendorCommands(const std::string&, std::string*) override { return true; }

    int ReadOnlyFlag(const std::string& node) override {
        const char letter = DriveLetterOf(node);
        const HANDLE volume = letter == 0 ? INVALID_HANDLE_VALUE : OpenVolume(letter, 0);
        if (volume == INVALID_HANDLE_VALUE) return -1;
        DWORD returned = 0;
        const bool writable = DeviceIoControl(volume, IOCTL_DISK_IS_WRITABLE, nullptr, 0, nullptr,
                                              0, &returned, nullptr) != 0;
        const DWORD error = GetLastError();
        CloseHandle(volume);
        if (writable) return 0;
        return error == ERROR_WRITE_PROTECT ? 1 : -1;
    }

    // The place a --device argument names: "E:", "e", "E:\" or "1:0"; PlaceCount() when none.
    std::uint32_t FindPlace(const std::string& argument) const {
        std::string wanted = argument;
        while (!wanted.empty() && (wanted.back() == '\\' || wanted.back() == '/'))
            wanted.pop_back();
        if (wanted.size() == 1 && std::isalpha(static_cast<unsigned char>(wanted[0])))
            wanted += ':';
        for (char& c : wanted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (std::uint32_t place = 0; place < port_->PlaceCount(); ++place) {
            if (port_->PlaceName(place) == wanted) return place;
        }
        // Over ASPI a drive letter leads to the target whose SCSI address its volume has.
        const bool letter = wanted.size() == 2 && wanted[1] == ':';
        for (std::uint32_t place = 0; letter && place < port_->PlaceCount(); ++place) {
            if (port_->Shape() == PortShape::ReaderLuns &&
                DriveLetterOf(port_->PlaceName(place)) == wanted[0]) {
                return place;
            }
        }
        return port_->PlaceCount();
    }

  private:
    Win32OsLayer os_;
    WindowsBackEnds backEnds_;
    ScsiPort* port_ = nullptr;
    std::string named_;  // the --device argument; empty: every place
};

}  // namespace

std::unique_ptr<HostDevices> HostDevices::Open(const CliOptions& options, std::string* error,
                                               int* exitCode) {
    auto devices = std::make_unique<WindowsDevices>();
    if (!devices->Start()) {
        *error =
            "no way to the drives: WNASPI32.DLL did not load and the SCSI pass-through "
            "requests were refused; run brevant-cli from an administrator's command prompt, "
            "or try it on a simulated disk with --simulate";
        *exitCode = kExitNoDisk;
        return nullptr;
    }
    if (!options.device.empty() &&
        devices->FindPlace(options.device) >= devices->Port().PlaceCount()) {
        *error = options.device +
                 ": no such drive (a drive letter such as E:, or an ASPI "
                 "address such as 1:0)";
        *exitCode = kExitNoDisk;
        return nullptr;
    }
    devices->Narrow(options.device);
    return devices;
}
