#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "reader/sgio_os_layer.h"

namespace {

// Offsets of the 44-byte pass-through request (SCSI_PASS_THROUGH and its direct form).
constexpr std::uint32_t kRequestLength = 44;
constexpr std::uint32_t kOffLength = 0;
constexpr std::uint32_t kOffScsiStatus = 2;
constexpr std::uint32_t kOffCdbLength = 6;
constexpr std::uint32_t kOffDataIn = 8;
constexpr std::uint32_t kOffTransferLength = 12;
constexpr std::uint32_t kOffTimeOut = 16;
constexpr std::uint32_t kOffDataBuffer = 20;  // DataBufferOffset, or DataBuffer (direct)
constexpr std::uint32_t kOffCdb = 28;

constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::uint8_t kOpRequestSense = 0x03;
constexpr std::uint32_t kSignatureOffset = 36;

std::uint32_t Get32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t Get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
void Put32(std::uint8_t* p, std::uint32_t v) {
    p[0] = v & 0xFF;
    p[1] = (v >> 8) & 0xFF;
    p[2] = (v >> 16) & 0xFF;
    p[3] = (v >> 24) & 0xFF;
}

// The letter of a path of the form \\.\X: (upper case, C to Z), or 0.
char LetterOfPath(const char* path) {
    if (path == nullptr || std::strlen(path) != 6) return 0;
    if (std::strncmp(path, "\\\\.\\", 4) != 0 || path[5] != ':') return 0;
    char letter = path[4];
    return letter >= 'C' && letter <= 'Z' ? letter : 0;
}

}  // namespace

struct SgioOsLayer::OpenNode {
    int fd = -1;
    bool identified = false;  // answered INQUIRY with the reader's signature
    std::uint8_t senseLength = 0;
    std::uint8_t sense[kSgSenseBufferSize] = {};
};

SgioOsLayer::SgioOsLayer(SgDeviceIo& io, std::vector<std::string> nodes)
    : io_(io), nodes_(std::move(nodes)) {
    if (nodes_.size() > kMaxNodes) nodes_.resize(kMaxNodes);
}

SgioOsLayer::~SgioOsLayer() {
    for (auto& node : open_) io_.Close(node->fd);
}

std::string SgioOsLayer::NodeOfLetter(char letter) const {
    if (letter < 'C' || letter > 'Z') return std::string();
    std::size_t index = static_cast<std::size_t>(letter - 'C');
    return index < nodes_.size() ? nodes_[index] : std::string();
}

OsLibrary SgioOsLayer::LoadLibrary(const char*) {
    lastError_ = kErrorFileNotFound;
    return nullptr;
}
OsEntry SgioOsLayer::GetProcAddress(OsLibrary, const char*) { return nullptr; }
void SgioOsLayer::FreeLibrary(OsLibrary) {}
std::uint32_t SgioOsLayer::CallSupportInfo(OsEntry) { return 0; }
std::uint32_t SgioOsLayer::CallSendCommand(OsEntry, void*) { return 0; }

void SgioOsLayer::Sleep(std::uint32_t milliseconds) {
    ::usleep(static_cast<useconds_t>(milliseconds) * 1000u);
}

std::uint32_t SgioOsLayer::BufferAddress(void* buffer) {
    // Token layout: a fixed high half, a running count above the slot number. A stale token
    // (its slot reused since) does not resolve.
    ++nextToken_;
    std::uint32_t token = 0xB0000000u | ((nextToken_ & 0x0FFFFFFu) << 4);
    std::uint32_t slot = nextToken_ % kBufferSlots;
    token |= slot;
    bufferSlots_[slot] = buffer;
    slotTokens_[slot] = token;
    return token;
}

void* SgioOsLayer::ResolveBuffer(std::uint32_t address) const {
    std::uint32_t slot = address & (kBufferSlots - 1);
    return slotTokens_[slot] == address ? bufferSlots_[slot] : nullptr;
}

OsHandle SgioOsLayer::CreateFile(const char* path, std::uint32_t, std::uint32_t, std::uint32_t,
                                 std::uint32_t) {
    std::string node = NodeOfLetter(LetterOfPath(path));
    if (node.empty()) {
        lastError_ = kErrorFileNotFound;
        return nullptr;
    }
    int fd = io_.Open(node.c_str());
    if (fd < 0) {
        if (fd == -EACCES || fd == -EPERM) {
            ++permissionDenials_;
            lastError_ = kErrorAccessDenied;
        } else {
            lastError_ = kErrorFileNotFound;
        }
        return nullptr;
    }
    auto opened = std::make_unique<OpenNode>();
    opened->fd = fd;
    open_.push_back(std::move(opened));
    return open_.back().get();
}

SgioOsLayer::OpenNode* SgioOsLayer::Find(OsHandle handle) const {
    for (const auto& node : open_) {
        if (node.get() == handle) return node.get();
    }
    return nullptr;
}

void SgioOsLayer::CloseHandle(OsHandle handle) {
    auto it = std::find_if(open_.begin(), open_.end(),
                           [handle](const auto& node) { return node.get() == handle; });
    if (it == open_.end()) return;
    io_.Close((*it)->fd);
    open_.erase(it);
}

std::uint32_t SgioOsLayer::GetLastError() { return lastError_; }

bool SgioOsLayer::Fail(std::uint32_t error) {
    lastError_ = error;
    return false;
}

bool SgioOsLayer::DeviceIoControl(OsHandle handle, std::uint32_t controlCode, void* inBuffer,
                                  std::uint32_t inSize, void* outBuffer, std::uint32_t outSize,
                                  std::uint32_t* bytesReturned) {
    if (bytesReturned != nullptr) *bytesReturned = 0;
    OpenNode* node = Find(handle);
    if (node == nullptr) return Fail(kErrorInvalidHandle);
    bool direct = controlCode == kIoctlScsiPassThroughDirect;
    if (!direct && controlCode != kIoctlScsiPassThrough) return Fail(kErrorInvalidParameter);
    if (inBuffer == nullptr || outBuffer == nullptr || inSize < kRequestLength ||
        outSize < kRequestLength) {
        return Fail(kErrorInvalidParameter);
    }
    const auto* in = static_cast<const std::uint8_t*>(inBuffer);
    auto* out = static_cast<std::uint8_t*>(outBuffer);
    // The kernel is always handed 12 command bytes: a longer block would reach the device cut
    // short, as a different command.
    if (Get16(in + kOffLength) != kRequestLength || in[kOffCdbLength] == 0 ||
        in[kOffCdbLength] > kSgCommandLength) {
        return Fail(kErrorInvalidParameter);
    }
    std::uint8_t dataIn = in[kOffDataIn];
    std::uint32_t length = Get32(in + kOffTransferLength);
    std::uint32_t timeout = Get32(in + kOffTimeOut);
    std::uint32_t dataField = Get32(in + kOffDataBuffer);
    std::uint8_t cdb[kSgCommandLength] = {};
    std::memcpy(cdb, in + kOffCdb, in[kOffCdbLength]);
    if (dataIn > 1) return Fail(kErrorInvalidParameter);
    SgDirection direction =
        length == 0 ? SgDirection::None : (dataIn == 1 ? SgDirection::In : SgDirection::Out);

    // Where the data lives: behind the header (buffered) or at the caller's address (direct).
    std::uint8_t* data = nullptr;
    if (length != 0) {
        if (direct) {
            data = static_cast<std::uint8_t*>(ResolveBuffer(dataField));
            if (data == nullptr) return Fail(kErrorInvalidParameter);
        } else {
            std::uint32_t room = direction == SgDirection::In ? outSize : inSize;
            if (dataField < kRequestLength || dataField > room || length > room - dataField) {
                return Fail(kErrorInvalidParameter);
            }
            data = (direction == SgDirection::In ? out : const_cast<std::uint8_t*>(in)) + dataField;
        }
    }

    // The reader's own answer to REQUEST SENSE was used up by the kernel; give the one kept.
    if (cdb[0] == kOpRequestSense && node->senseLength != 0 && direction == SgDirection::In) {
        std::memset(data, 0, length);
        std::memcpy(data, node->sense, std::min<std::uint32_t>(length, node->senseLength));
        node->senseLength = 0;
        if (out != in) std::memcpy(out, in, kRequestLength);
        out[kOffScsiStatus] = kScsiStatusGood;
        if (bytesReturned != nullptr) *bytesReturned = kRequestLength;
        return true;
    }
    node->senseLength = 0;

    // An unknown device may be asked who it is, and nothing else: an INQUIRY that would carry
    // data to it is no question.
    bool question = cdb[0] == kOpInquiry && direction != SgDirection::Out;
    if (!node->identified && !question) {
        ++refusedCommands_;
        return Fail(kErrorAccessDenied);
    }

    std::uint16_t seconds = timeout > 0xFFFF ? 0xFFFF : static_cast<std::uint16_t>(timeout);
    SgCommandResult result = SgioExecute(io_, node->fd, cdb, data, length, direction, seconds);
    switch (result.outcome) {
        case SgOutcome::DeviceGone:
            return Fail(kErrorDevNotExist);
        case SgOutcome::TimedOut:
            return Fail(kErrorSemTimeout);
        case SgOutcome::Failed:
            return Fail(kErrorIoDevice);
        case SgOutcome::CheckCondition:
            std::memcpy(node->sense, result.sense, result.senseLength);
            node->senseLength = result.senseLength;
            break;
        case SgOutcome::Good:
            break;
    }
    if (result.outcome == SgOutcome::Good && cdb[0] == kOpInquiry &&
        result.transferred >= kSignatureOffset + 2 && data[kSignatureOffset] == 'Q' &&
        data[kSignatureOffset + 1] == 'Z') {
        node->identified = true;
    }
    if (out != in) std::memcpy(out, in, kRequestLength);
    out[kOffScsiStatus] = result.scsiStatus;
    Put32(out + kOffTransferLength, result.transferred);
    if (bytesReturned != nullptr) *bytesReturned = outSize;
    return true;
}
