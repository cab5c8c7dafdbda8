#include "reader/win32/request_layouts.h"
#include "reader/win32/win32_os_layer.h"

// clang-format off
#include <windows.h>
#include <ntddscsi.h>
// clang-format on

#include <cstddef>
#include <cstring>

// <windows.h> turns these two names into their ANSI forms; the layer's operations keep theirs
// and call the ANSI functions by name.
#undef LoadLibrary
#undef CreateFile

namespace {

// The back-ends fill the pass-through requests byte by byte at the offsets of 32-bit Windows;
// these hold them to the system's own declarations.
static_assert(sizeof(SCSI_PASS_THROUGH) == spt::kRequestLength, "SCSI_PASS_THROUGH is 44 bytes");
static_assert(offsetof(SCSI_PASS_THROUGH, Length) == spt::kLength, "Length");
static_assert(offsetof(SCSI_PASS_THROUGH, ScsiStatus) == spt::kScsiStatus, "ScsiStatus");
static_assert(offsetof(SCSI_PASS_THROUGH, PathId) == spt::kPathId, "PathId");
static_assert(offsetof(SCSI_PASS_THROUGH, TargetId) == spt::kTargetId, "TargetId");
static_assert(offsetof(SCSI_PASS_THROUGH, Lun) == spt::kLun, "Lun");
static_assert(offsetof(SCSI_PASS_THROUGH, CdbLength) == spt::kCdbLength, "CdbLength");
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoLength) == spt::kSenseInfoLength,
              "SenseInfoLength");
static_assert(offsetof(SCSI_PASS_THROUGH, DataIn) == spt::kDataIn, "DataIn");
static_assert(offsetof(SCSI_PASS_THROUGH, DataTransferLength) == spt::kDataTransferLength,
              "DataTransferLength");
static_assert(offsetof(SCSI_PASS_THROUGH, TimeOutValue) == spt::kTimeOutValue, "TimeOutValue");
static_assert(offsetof(SCSI_PASS_THROUGH, DataBufferOffset) == spt::kDataBuffer,
              "DataBufferOffset");
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoOffset) == spt::kSenseInfoOffset,
              "SenseInfoOffset");
static_assert(offsetof(SCSI_PASS_THROUGH, Cdb) == spt::kCdb, "Cdb");

static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == spt::kRequestLength,
              "SCSI_PASS_THROUGH_DIRECT is 44 bytes");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, ScsiStatus) == spt::kScsiStatus, "ScsiStatus");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, CdbLength) == spt::kCdbLength, "CdbLength");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataIn) == spt::kDataIn, "DataIn");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == spt::kDataTransferLength,
              "DataTransferLength");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue) == spt::kTimeOutValue,
              "TimeOutValue");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == spt::kDataBuffer, "DataBuffer");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == spt::kSenseInfoOffset,
              "SenseInfoOffset");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == spt::kCdb, "Cdb");

static_assert(IOCTL_SCSI_PASS_THROUGH == kIoctlScsiPassThrough, "control code");
static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == kIoctlScsiPassThroughDirect, "control code");
static_assert(SCSI_IOCTL_DATA_IN == 1 && SCSI_IOCTL_DATA_OUT == 0, "DataIn values");
static_assert((GENERIC_READ | GENERIC_WRITE) == kGenericReadWrite, "access");
static_assert((FILE_SHARE_READ | FILE_SHARE_WRITE) == kShareReadWrite, "share");
static_assert(OPEN_EXISTING == kOpenExisting, "disposition");
static_assert(ERROR_DEV_NOT_EXIST == kErrorDevNotExist, "error code");
// Buffer addresses go into 32-bit request fields as they are.
static_assert(sizeof(void*) == 4, "the request layouts are those of 32-bit Windows");

// The ASPI entry points, called with the C calling convention.
using SupportInfoEntry = DWORD(__cdecl*)();
using SendCommandEntry = DWORD(__cdecl*)(void*);

// Entry points travel through the layer as plain addresses; on this platform a function
// pointer and an object pointer have the same size and representation.
template <typename To, typename From>
To BitCast(From from) {
    static_assert(sizeof(To) == sizeof(From), "same size");
    To to;
    std::memcpy(&to, &from, sizeof to);
    return to;
}

}  // namespace

OsLibrary Win32OsLayer::LoadLibrary(const char* fileName) { return ::LoadLibraryA(fileName); }

OsEntry Win32OsLayer::GetProcAddress(OsLibrary library, const char* name) {
    FARPROC entry = ::GetProcAddress(static_cast<HMODULE>(library), name);
    return BitCast<OsEntry>(entry);
}

void Win32OsLayer::FreeLibrary(OsLibrary library) {
    if (library != nullptr) ::FreeLibrary(static_cast<HMODULE>(library));
}

std::uint32_t Win32OsLayer::CallSupportInfo(OsEntry getSupportInfo) {
    if (getSupportInfo == nullptr) return 0;
    return BitCast<SupportInfoEntry>(getSupportInfo)();
}

std::uint32_t Win32OsLayer::CallSendCommand(OsEntry sendCommand, void* requestBlock) {
    if (sendCommand == nullptr) return 0;
    return BitCast<SendCommandEntry>(sendCommand)(requestBlock);
}

void Win32OsLayer::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

std::uint32_t Win32OsLayer::BufferAddress(void* buffer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(buffer));
}

OsHandle Win32OsLayer::CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                                  std::uint32_t disposition, std::uint32_t flagsAndAttributes) {
    HANDLE handle =
        ::CreateFileA(path, access, share, nullptr, disposition, flagsAndAttributes, nullptr);
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

bool Win32OsLayer::DeviceIoControl(OsHandle handle, std::uint32_t controlCode, void* inBuffer,
                                   std::uint32_t inSize, void* outBuffer, std::uint32_t outSize,
                                   std::uint32_t* bytesReturned) {
    DWORD returned = 0;
    const BOOL ok = ::DeviceIoControl(handle, controlCode, inBuffer, inSize, outBuffer, outSize,
                                      &returned, nullptr);
    if (bytesReturned != nullptr) *bytesReturned = returned;
    return ok != FALSE;
}

void Win32OsLayer::CloseHandle(OsHandle handle) {
    if (handle != nullptr) ::CloseHandle(handle);
}

std::uint32_t Win32OsLayer::GetLastError() { return ::GetLastError(); }
