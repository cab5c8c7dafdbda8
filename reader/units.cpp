#include "reader/units.h"

#include <cstring>

#include "reader/commands.h"
#include "reader/transport.h"

namespace {

UnitTable table;

constexpr std::uint32_t kInquiryLength = 56;
constexpr std::uint16_t kInquiryTimeoutSeconds = 2;
const std::uint8_t kInquiry[12] = {0x12, 0, 0, 0, kInquiryLength, 0, 0, 0, 0, 0, 0, 0};

// The reader's LUNs are asked at most this many times after LUN 0.
constexpr int kLunRepliesExamined = 3;

bool AspiInquiry(std::uint8_t lun, std::uint8_t* reply) {
    std::memset(reply, 0, kInquiryLength);
    return AspiExecute(lun, kInquiry, reply, kInquiryLength, kAspiDirIn, kInquiryTimeoutSeconds) ==
           kAspiComplete;
}

bool DriveInquiry(OsHandle handle, std::uint8_t* reply) {
    std::memset(reply, 0, kInquiryLength);
    return PassThroughExecute(handle, kInquiry, reply, kInquiryLength, kPassThroughDataIn,
                              kInquiryTimeoutSeconds) == kPassThroughOk;
}

void ClearKeys() {
    for (MediaType& key : table.keys) key = kMediaNone;
}

// Finds the first reader (lowest host adapter, then lowest target) and walks its LUNs.
void AspiScan() {
    ScsiTransport& transport = Transport();
    std::uint8_t reply[kInquiryLength];
    bool found = false;
    for (unsigned adapter = 0; adapter < transport.hostAdapterCount && !found; ++adapter) {
        for (unsigned target = 0; target < 8 && !found; ++target) {
            transport.readerHostAdapter = static_cast<std::uint8_t>(adapter);
            transport.readerTarget = static_cast<std::uint8_t>(target);
            found = AspiInquiry(0, reply) && HasReaderSignature(reply);
        }
    }
    if (!found) return;

    // The reply in hand is LUN 0's. An unrecognised medium code takes no position, so the next
    // INQUIRY goes to the same LUN again.
    for (int examined = 0;;) {
        const MediaType key = KeyOfInquiry(reply, table.count);
        if (key != kMediaNone) table.keys[table.count++] = key;
        if (!AspiInquiry(table.count, reply)) break;
        if (++examined >= kLunRepliesExamined) break;
    }
    // A reader that answers every LUN with the same data is one unit.
    if (table.count >= 2 && table.keys[0] == table.keys[1]) table.count = 1;
}

// Opens the drives C: to Z: in order and keeps those that identify as the reader's units.
void DriveWalk() {
    OsLayer& os = CurrentOsLayer();
    ScsiTransport& transport = Transport();
    std::uint8_t reply[kInquiryLength];
    for (char letter = 'C'; letter <= 'Z' && table.count < kMaxUnits; ++letter) {
        const char path[] = {'\\', '\\', '.', '\\', letter, ':', '\0'};
        OsHandle handle = os.CreateFile(path, kGenericReadWrite, kShareReadWrite, kOpenExisting, 0);
        if (handle == nullptr) continue;

        // A drive that does not carry the signature (the user's own disks) gets nothing but
        // this INQUIRY.
        if (!DriveInquiry(handle, reply) || !HasReaderSignature(reply)) {
            os.CloseHandle(handle);
            continue;
        }
        if (transport.directProbed == 0) {
            ProbeDirectPassThrough(handle);
            transport.directProbed = 1;
        }
        const MediaType key = KeyOfInquiry(reply, table.count);
        if (key == kMediaNone) {
            os.CloseHandle(handle);
            continue;
        }
        table.entries[table.count] = UnitEntry{handle, key, letter};
        ++table.count;
    }
    for (std::uint8_t i = 0; i < table.count; ++i) table.keys[i] = table.entries[i].key;
}

void Report(std::uint8_t* outCount, MediaType* outKeys) {
    if (outCount != nullptr) *outCount = table.count;
    if (outKeys == nullptr) return;
    for (std::uint8_t i = 0; i < table.count; ++i) {
        outKeys[i] = AspiActive() ? table.keys[i] : table.entries[i].key;
    }
}

}  // namespace

const UnitTable& Units() { return table; }

bool HasReaderSignature(const std::uint8_t* reply) { return reply[36] == 'Q' && reply[37] == 'Z'; }

MediaType KeyOfInquiry(const std::uint8_t* reply, std::uint8_t unitsBefore) {
    const char a = static_cast<char>(reply[38]);
    const char b = static_cast<char>(reply[39]);
    if (a == 'D' && b == 'S') return static_cast<MediaType>(kMediaUsbDisk + unitsBefore);
    if (a == 'C' && b == 'F') return kMediaCompactFlash;
    if (a == 'S' && b == 'M') return kMediaSmartMedia;
    if (a == 'M' && b == 'M') return kMediaMmc;
    return kMediaNone;
}

void ReleaseUnits() {
    OsLayer& os = CurrentOsLayer();
    for (std::uint8_t i = 0; i < table.count && i < kMaxUnits; ++i) {
        if (table.entries[i].handle != nullptr) os.CloseHandle(table.entries[i].handle);
    }
    table = UnitTable{};
}

int UnitsStillPresent() {
    if (table.count == 0) return 0;
    const MediaType first = AspiActive() ? table.keys[0] : table.entries[0].key;
    if (TestUnitReady(first) == 1) return 1;
    // Only a vanished device counts; no medium or a changed medium keeps the list.
    if (AspiActive()) {
        const std::uint32_t status = Transport().lastAspiStatus;
        return status == kAspiNoDevice || status == kAspiAborted ? 0 : 1;
    }
    return Transport().lastPassThroughError == kErrorDevNotExist ? 0 : 1;
}

void DiscoverUnits(std::uint8_t* outCount, MediaType* outKeys) {
    if (table.count != 0) {
        if (UnitsStillPresent() == 1) {
            Report(outCount, outKeys);
            return;
        }
        ReleaseUnits();
    }
    ClearKeys();
    if (AspiActive()) {
        AspiScan();
    } else {
        DriveWalk();
    }
    Report(outCount, outKeys);
}

std::uint8_t LunOfUnit(MediaType key) {
    for (std::uint8_t i = 0; i < table.count; ++i) {
        if (table.keys[i] == key) return i;
    }
    return kNoLun;
}

OsHandle HandleOfUnit(MediaType key) {
    for (std::uint8_t i = 0; i < table.count; ++i) {
        if (table.entries[i].key == key) return table.entries[i].handle;
    }
    return nullptr;
}
