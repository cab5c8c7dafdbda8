#include "sim/sim_os_layer.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "reader/byte_order.h"
#include "reader/win32/request_layouts.h"
#include "sim/aspi_request.h"

namespace sim {
namespace {

// What the face hands out for the library and its two entry points: addresses that belong to
// nothing else, so a confused caller cannot pass one for another.
char libraryTag;
char supportInfoTag;
char sendCommandTag;

constexpr std::uint32_t kErrorModNotFound = 126;
constexpr std::uint32_t kErrorProcNotFound = 127;

constexpr std::uint8_t kDataInUnspecified = 2;

bool SameNameIgnoringCase(const std::string& a, const char* b) {
    const std::size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// "\\.\X:" -> 'X' (upper case), else 0.
char DriveLetterOfPath(const char* path) {
    if (path == nullptr || std::strlen(path) != 6) return 0;
    if (std::strncmp(path, "\\\\.\\", 4) != 0 || path[5] != ':') return 0;
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[4])));
    return letter >= 'A' && letter <= 'Z' ? letter : 0;
}

}  // namespace

SimOsLayer::SimOsLayer(SimBus& bus) : bus_(bus) {}

SimOsLayer::~SimOsLayer() = default;

OsLibrary SimOsLayer::LoadLibrary(const char* fileName) {
    ++loadLibraryCalls_;
    lastLibraryName_ = fileName != nullptr ? fileName : "";
    if (!bus_.AspiLibrary().present || !SameNameIgnoringCase(lastLibraryName_, "WNASPI32.DLL")) {
        lastError_ = kErrorModNotFound;
        return nullptr;
    }
    libraryLoaded_ = true;
    return &libraryTag;
}

OsEntry SimOsLayer::GetProcAddress(OsLibrary library, const char* name) {
    const std::string entry = name != nullptr ? name : "";
    procNamesAsked_.push_back(entry);
    if (library != &libraryTag || !libraryLoaded_ || entry == bus_.AspiLibrary().missingEntry) {
        lastError_ = kErrorProcNotFound;
        return nullptr;
    }
    if (entry == "GetASPI32SupportInfo") return &supportInfoTag;
    if (entry == "SendASPI32Command") return &sendCommandTag;
    lastError_ = kErrorProcNotFound;
    return nullptr;
}

void SimOsLayer::FreeLibrary(OsLibrary library) {
    if (library != &libraryTag || !libraryLoaded_) return;
    ++freeLibraryCalls_;
    libraryLoaded_ = false;
    CheckOwnedBlocks();
    pending_.clear();  // the manager is gone, and with it every claim on a block
}

std::uint32_t SimOsLayer::CallSupportInfo(OsEntry getSupportInfo) {
    if (getSupportInfo != &supportInfoTag || !libraryLoaded_) return 0;
    return bus_.AspiSupportInfo();
}

std::uint32_t SimOsLayer::CallSendCommand(OsEntry sendCommand, void* requestBlock) {
    if (sendCommand != &sendCommandTag || !libraryLoaded_ || requestBlock == nullptr) {
        return kSsInvalidSrb;
    }
    ++sendCommandCalls_;
    CheckOwnedBlocks();
    auto* block = static_cast<std::uint8_t*>(requestBlock);
    // Handing in a block the manager still owns is a rewrite of it, even if the bytes match.
    auto owned = std::find_if(pending_.begin(), pending_.end(),
                              [block](const PendingRequest& p) { return p.block == block; });
    if (owned != pending_.end()) {
        ++ownedBlockRewrites_;
        pending_.erase(owned);
    }
    std::memcpy(lastRequestBlock_.data(), block, lastRequestBlock_.size());

    const std::uint32_t result =
        ExecuteAspiRequest(bus_, block, [this](std::uint32_t address, std::uint32_t length) {
            return ResolveToken(address, length);
        });
    if (block[srb::kCmd] == kScAbortSrb) {
        // An aborted request is complete: its block is the caller's again.
        pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                      [](const PendingRequest& p) {
                                          return p.block[srb::kStatus] != kSsPending;
                                      }),
                       pending_.end());
        for (PendingRequest& p : pending_) std::memcpy(p.bytes.data(), p.block, p.bytes.size());
    } else if (block[srb::kCmd] == srb::kExecScsiCommand && result == kSsPending) {
        PendingRequest request{block, {}};
        std::memcpy(request.bytes.data(), block, request.bytes.size());
        pending_.push_back(request);
    }
    return result;
}

void SimOsLayer::Sleep(std::uint32_t milliseconds) {
    ++sleepCalls_;
    clockMs_ += milliseconds;
}

std::uint32_t SimOsLayer::BufferAddress(void* buffer) {
    if (buffer == nullptr) return 0;
    auto* p = static_cast<std::uint8_t*>(buffer);
    auto known = tokenOf_.find(p);
    if (known != tokenOf_.end()) return known->second;
    const std::uint32_t token = nextToken_;
    nextToken_ += 0x10;
    tokens_[token] = p;
    tokenOf_[p] = token;
    return token;
}

std::uint8_t* SimOsLayer::ResolveToken(std::uint32_t address, std::uint32_t /*length*/) {
    auto it = tokens_.find(address);
    return it != tokens_.end() ? it->second : nullptr;
}

std::uint32_t SimOsLayer::OwnedBlockRewrites() {
    CheckOwnedBlocks();
    return ownedBlockRewrites_;
}

void SimOsLayer::CheckOwnedBlocks() {
    for (PendingRequest& p : pending_) {
        if (std::memcmp(p.block, p.bytes.data(), p.bytes.size()) != 0) {
            ++ownedBlockRewrites_;
            std::memcpy(p.bytes.data(), p.block, p.bytes.size());  // count each change once
        }
    }
}

OsHandle SimOsLayer::CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                                std::uint32_t disposition, std::uint32_t flagsAndAttributes) {
    CheckOwnedBlocks();
    openedPaths_.push_back(path != nullptr ? path : "");
    lastCreateAccess_ = access;
    lastCreateShare_ = share;
    lastCreateDisposition_ = disposition;
    lastCreateFlags_ = flagsAndAttributes;
    const char letter = DriveLetterOfPath(path);
    if (letter == 0 || !bus_.HasDrive(letter)) {
        lastError_ = kErrorFileNotFound;
        return nullptr;
    }
    nextHandle_ += 4;
    OsHandle handle = reinterpret_cast<OsHandle>(nextHandle_);
    handles_[handle] = letter;
    return handle;
}

void SimOsLayer::CloseHandle(OsHandle handle) {
    ++closeHandleCalls_;
    if (handles_.erase(handle) == 0) lastError_ = kErrorInvalidHandle;
}

std::uint32_t SimOsLayer::GetLastError() { return lastError_; }

bool SimOsLayer::DeviceIoControl(OsHandle handle, std::uint32_t controlCode, void* inBuffer,
                                 std::uint32_t inSize, void* outBuffer, std::uint32_t outSize,
                                 std::uint32_t* bytesReturned) {
    CheckOwnedBlocks();
    ++ioctlCalls_;
    lastIoctlCode_ = controlCode;
    lastInSize_ = inSize;
    lastOutSize_ = outSize;
    lastSameBuffer_ = inBuffer == outBuffer;
    lastIoctlLetter_ = 0;
    lastHeader_.fill(0);
    if (inBuffer != nullptr) {
        std::memcpy(lastHeader_.data(), inBuffer, std::min<std::size_t>(inSize, 48));
    }

    auto it = handles_.find(handle);
    if (it == handles_.end()) {
        lastError_ = kErrorInvalidHandle;
        return false;
    }
    lastIoctlLetter_ = it->second;
    const bool direct = controlCode == kIoctlScsiPassThroughDirect;
    if (!direct && controlCode != kIoctlScsiPassThrough) {
        lastError_ = kErrorInvalidFunction;
        return false;
    }
    if (direct && !bus_.DirectPassThroughSupported()) {
        lastError_ = kErrorInvalidFunction;
        return false;
    }
    return PassThrough(it->second, direct, static_cast<std::uint8_t*>(inBuffer), inSize,
                       static_cast<std::uint8_t*>(outBuffer), outSize, bytesReturned);
}

bool SimOsLayer::PassThrough(char letter, bool direct, std::uint8_t* in, std::uint32_t inSize,
                             std::uint8_t* out, std::uint32_t outSize,
                             std::uint32_t* bytesReturned) {
    if (in == nullptr || out == nullptr || inSize < spt::kRequestLength ||
        outSize < spt::kRequestLength || GetLe16(in + spt::kLength) != spt::kRequestLength ||
        in[spt::kCdbLength] == 0 || in[spt::kCdbLength] > 16 ||
        in[spt::kDataIn] > kDataInUnspecified) {
        lastError_ = kErrorInvalidParameter;
        return false;
    }
    // The driver works on a system copy of the input, as large as the larger of the two
    // buffers, and hands back as much of it as the output buffer holds.
    std::vector<std::uint8_t> system(std::max(inSize, outSize), 0);
    std::memcpy(system.data(), in, inSize);

    const std::uint32_t length = GetLe32(&system[spt::kDataTransferLength]);
    const bool dataIn = system[spt::kDataIn] != 0;  // 1 in; 2 (unspecified) is taken as in
    const Direction direction =
        length == 0 ? Direction::None : (dataIn ? Direction::In : Direction::Out);

    std::uint8_t* data = nullptr;
    std::uint32_t returned = spt::kRequestLength;
    if (length != 0 && direct) {
        data = ResolveToken(GetLe32(&system[spt::kDataBuffer]), length);
        if (data == nullptr) {
            lastError_ = kErrorInvalidParameter;
            return false;
        }
    } else if (length != 0) {
        const std::uint64_t offset = GetLe32(&system[spt::kDataBuffer]);
        const std::uint64_t end = offset + length;
        const std::uint32_t carrying = dataIn ? outSize : inSize;
        if (offset < spt::kRequestLength || end > carrying) {
            lastError_ = kErrorInvalidParameter;
            return false;
        }
        data = &system[offset];
        if (dataIn) returned = static_cast<std::uint32_t>(end);
    }

    std::uint8_t cdb[12];
    std::memcpy(cdb, &system[spt::kCdb], sizeof cdb);
    switch (bus_.ExecuteDrive(letter, cdb, direction, data, length)) {
        case Outcome::Good:
            system[spt::kScsiStatus] = 0;
            break;
        case Outcome::CheckCondition:
            system[spt::kScsiStatus] = kTargetStatusCheckCondition;
            returned = spt::kRequestLength;
            break;
        case Outcome::NoDevice:
            lastError_ = kErrorDevNotExist;
            return false;
        case Outcome::Hung:
            lastError_ = kErrorSemTimeout;
            return false;
    }
    std::memcpy(out, system.data(), outSize);
    if (bytesReturned != nullptr) *bytesReturned = returned;
    return true;
}

}  // namespace sim
