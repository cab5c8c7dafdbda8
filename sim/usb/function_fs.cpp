#include "sim/usb/function_fs.h"

#include <endian.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim::usb {

namespace {

constexpr std::uint8_t kClassMassStorage = 0x08;
constexpr std::uint8_t kSubclassScsi = 0x06;
constexpr std::uint8_t kProtocolBulkOnly = 0x50;

struct InterfaceDescriptors {
    usb_interface_descriptor interface;
    usb_endpoint_descriptor_no_audio in;
    usb_endpoint_descriptor_no_audio out;
} __attribute__((packed));

struct Descriptors {
    usb_functionfs_descs_head_v2 header;
    std::uint32_t fullSpeedCount;
    std::uint32_t highSpeedCount;
    InterfaceDescriptors fullSpeed;
    InterfaceDescriptors highSpeed;
} __attribute__((packed));

constexpr char kInterfaceName[] = "Bulk-Only mass storage";

struct Strings {
    usb_functionfs_strings_head header;
    std::uint16_t language;
    char text[sizeof kInterfaceName];
} __attribute__((packed));

InterfaceDescriptors InterfaceAt(std::uint16_t packetBytes) {
    InterfaceDescriptors d{};
    d.interface.bLength = sizeof d.interface;
    d.interface.bDescriptorType = USB_DT_INTERFACE;
    d.interface.bNumEndpoints = 2;
    d.interface.bInterfaceClass = kClassMassStorage;
    d.interface.bInterfaceSubClass = kSubclassScsi;
    d.interface.bInterfaceProtocol = kProtocolBulkOnly;
    d.interface.iInterface = 1;
    for (usb_endpoint_descriptor_no_audio* ep : {&d.in, &d.out}) {
        ep->bLength = sizeof *ep;
        ep->bDescriptorType = USB_DT_ENDPOINT;
        ep->bmAttributes = USB_ENDPOINT_XFER_BULK;
        ep->wMaxPacketSize = htole16(packetBytes);
    }
    d.in.bEndpointAddress = 1 | USB_DIR_IN;
    d.out.bEndpointAddress = 2 | USB_DIR_OUT;
    return d;
}

bool WriteWhole(int fd, const void* data, std::size_t length, const char* what,
                std::string* error) {
    if (::write(fd, data, length) == static_cast<ssize_t>(length)) return true;
    *error = std::string("FunctionFS refused the ") + what + ": " + std::strerror(errno);
    return false;
}

}  // namespace

bool WriteMassStorageDescriptors(int ep0, std::string* error) {
    Descriptors descriptors{};
    descriptors.header.magic = htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    descriptors.header.length = htole32(sizeof descriptors);
    descriptors.header.flags = htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    descriptors.fullSpeedCount = htole32(3);
    descriptors.highSpeedCount = htole32(3);
    descriptors.fullSpeed = InterfaceAt(64);
    descriptors.highSpeed = InterfaceAt(512);
    if (!WriteWhole(ep0, &descriptors, sizeof descriptors, "descriptors", error)) return false;

    Strings strings{};
    strings.header.magic = htole32(FUNCTIONFS_STRINGS_MAGIC);
    strings.header.length = htole32(sizeof strings);
    strings.header.str_count = htole32(1);
    strings.header.lang_count = htole32(1);
    strings.language = htole16(0x0409);
    std::memcpy(strings.text, kInterfaceName, sizeof kInterfaceName);
    return WriteWhole(ep0, &strings, sizeof strings, "strings", error);
}

long EndpointPipes::Receive(std::uint8_t* buffer, std::uint32_t length) {
    const ssize_t got = ::read(out_, buffer, length);
    return got < 0 ? -1 : static_cast<long>(got);
}

bool EndpointPipes::Send(const std::uint8_t* data, std::uint32_t length) {
    return ::write(in_, data, length) == static_cast<ssize_t>(length);
}

void EndpointPipes::HaltIn() {
    std::uint8_t none = 0;
    (void)!::read(in_, &none, 0);
}

void EndpointPipes::HaltOut() {
    const std::uint8_t none = 0;
    (void)!::write(out_, &none, 0);
}

}  // namespace sim::usb
