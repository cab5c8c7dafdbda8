#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "reader/linux/sgio.h"
#include "reader/linux/sgio_nodes.h"
#include "reader/linux/sgio_port.h"
#include "reader/reader.h"
#include "reader/reader_unit.h"
#include "reader/scsi_port.h"
#include "reader/sense.h"
#include "reader/units.h"
#include "tests/temp_dir.h"

namespace {

// Stands in for the kernel: records every request as it arrived (by SG_IO, or by the generic
// driver's write) and answers it from a script.
class FakeSgDevice final : public SgDeviceIo {
  public:
    struct Seen {
        int fd;
        sg_io_hdr_t header;
        std::vector<std::uint8_t> cdb;
        std::vector<std::uint8_t> dataOut;  // what a data-out command carried
        SgRoute route;
    };
    // Fills the reply fields (and data-in bytes, sense bytes) and returns the request's result.
    using Reply = std::function<int(sg_io_hdr_t*)>;

    std::map<std::string, int> nodes;                  // path -> fd, or -errno for a failing open
    std::vector<std::pair<std::string, bool>> opened;  // path, exclusive
    std::vector<Seen> seen;
    std::vector<int> closed;
    Reply reply = [](sg_io_hdr_t*) { return 0; };
    int interrupts = 0;  // waits for a reply that a signal breaks off first
    int collects = 0;
    std::uint32_t maxTransfer = 0;

    int Open(const char* path, bool exclusive) override {
        opened.emplace_back(path, exclusive);
        auto it = nodes.find(path);
        return it == nodes.end() ? -ENOENT : it->second;
    }
    int SgIo(int fd, sg_io_hdr_t* header) override {
        Record(fd, *header, SgRoute::Ioctl);
        return reply(header);
    }
    int Submit(int fd, sg_io_hdr_t* header) override {
        Record(fd, *header, SgRoute::WriteRead);
        pending_ = *header;
        pendingResult_ = reply(&pending_);
        // A write the kernel refuses hands nothing over.
        return pendingResult_ < 0 ? pendingResult_ : 0;
    }
    int Collect(int, sg_io_hdr_t* header) override {
        ++collects;
        if (interrupts > 0) {
            --interrupts;
            return -EINTR;
        }
        *header = pending_;
        return 0;
    }
    std::uint32_t MaxTransfer(int, bool) override { return maxTransfer; }
    void Close(int fd) override { closed.push_back(fd); }

  private:
    void Record(int fd, const sg_io_hdr_t& header, SgRoute route) {
        Seen s{fd, header, {}, {}, route};
        s.cdb.assign(header.cmdp, header.cmdp + header.cmd_len);
        if (header.dxfer_direction == SG_DXFER_TO_DEV && header.dxferp != nullptr) {
            auto* p = static_cast<std::uint8_t*>(header.dxferp);
            s.dataOut.assign(p, p + header.dxfer_len);
        }
        seen.push_back(s);
    }
    sg_io_hdr_t pending_{};
    int pendingResult_ = 0;
};

// A reply that completes the command; data-in commands receive `bytes` (then zeros).
FakeSgDevice::Reply GoodReply(std::vector<std::uint8_t> bytes = {}) {
    return [bytes](sg_io_hdr_t* h) {
        if (h->dxfer_direction == SG_DXFER_FROM_DEV) {
            auto* p = static_cast<std::uint8_t*>(h->dxferp);
            std::memset(p, 0, h->dxfer_len);
            if (!bytes.empty()) {
                std::memcpy(p, bytes.data(), std::min<std::size_t>(bytes.size(), h->dxfer_len));
            }
        }
        return 0;
    };
}

// CHECK CONDITION with fixed-format sense key/asc, collected by the kernel.
FakeSgDevice::Reply CheckConditionReply(std::uint8_t key, std::uint8_t asc) {
    return [key, asc](sg_io_hdr_t* h) {
        std::uint8_t sense[18] = {0x70, 0, key, 0, 0, 0, 0, 10, 0, 0, 0, 0, asc, 0};
        std::memcpy(h->sbp, sense, sizeof sense);
        h->sb_len_wr = sizeof sense;
        h->status = kScsiStatusCheckCondition;
        h->masked_status = 0x01;
        h->driver_status = kSgDriverSense;
        h->info = SG_INFO_CHECK;
        return 0;
    };
}

const std::uint8_t kInquiryCdb[12] = {0x12, 0, 0, 0, 0x38, 0, 0, 0, 0, 0, 0, 0};

volatile std::sig_atomic_t interruptsSeen = 0;
extern "C" void CountInterrupt(int) { interruptsSeen = interruptsSeen + 1; }

TEST(SgioRealDevice, StopSignalWaitsUntilTheRequestHasFinished) {
    struct sigaction action = {}, previous = {};
    action.sa_handler = CountInterrupt;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGINT, &action, &previous), 0);
    interruptsSeen = 0;
    int seenDuringCall = -1;
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    KernelSgDeviceIo io(stop);
    int result = io.Carry([&seenDuringCall] {
        raise(SIGINT);  // Ctrl-C while the command is with the device
        seenDuringCall = interruptsSeen;
        return 7;
    });
    int seenAfter = interruptsSeen;
    sigaction(SIGINT, &previous, nullptr);
    EXPECT_EQ(result, 7);
    EXPECT_EQ(seenDuringCall, 0);
    EXPECT_EQ(seenAfter, 1);
}

TEST(SgioRealDevice, ANodeWithoutSgioIsRefusedNotRetried) {
    KernelSgDeviceIo io;
    int fd = io.Open("/dev/null", false);
    ASSERT_GE(fd, 0);
    std::uint8_t sense[kSgSenseBufferSize] = {};
    std::uint8_t data[56] = {};
    sg_io_hdr_t header;
    BuildSgIoHeader(kInquiryCdb, 12, data, sizeof data, DataPhase::In, 2, sense, &header);
    int rc = io.SgIo(fd, &header);
    io.Close(fd);
    EXPECT_LT(rc, 0);
    EXPECT_EQ(ClassifySgIoReply(rc, header), CommandStatus::Failed);
    EXPECT_EQ(io.Open("/dev/brevant-no-such-node", false), -ENOENT);
}

// ---- The request itself ----

TEST(SgioRequest, DataInFillsEveryHeaderField) {
    std::uint8_t cdb[12] = {0xE8, 0x20, 0x60, 0, 0, 1, 0, 0, 0, 0, 0, 0};
    std::uint8_t buffer[528];
    std::uint8_t sense[kSgSenseBufferSize];
    sg_io_hdr_t h;
    std::memset(&h, 0xA5, sizeof h);  // nothing of the caller's garbage may survive
    BuildSgIoHeader(cdb, 12, buffer, 528, DataPhase::In, 2, sense, &h);
    EXPECT_EQ(h.interface_id, 'S');
    EXPECT_EQ(h.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(h.cmd_len, 12);
    EXPECT_EQ(h.mx_sb_len, kSgSenseBufferSize);
    EXPECT_EQ(h.iovec_count, 0);
    EXPECT_EQ(h.dxfer_len, 528u);
    EXPECT_EQ(h.dxferp, buffer);
    EXPECT_EQ(h.cmdp, cdb);
    EXPECT_EQ(h.sbp, sense);
    EXPECT_EQ(h.timeout, 2000u);
    EXPECT_EQ(h.flags, 0u);
    EXPECT_EQ(h.pack_id, 0);
    EXPECT_EQ(h.usr_ptr, nullptr);
    EXPECT_EQ(h.status, 0);
    EXPECT_EQ(h.host_status, 0);
    EXPECT_EQ(h.driver_status, 0);
    EXPECT_EQ(h.sb_len_wr, 0);
    EXPECT_EQ(h.resid, 0);
}

TEST(SgioRequest, DirectionsAndTimeOuts) {
    std::uint8_t cdb[12] = {};
    std::uint8_t buffer[512];
    std::uint8_t sense[kSgSenseBufferSize];
    sg_io_hdr_t h;

    BuildSgIoHeader(cdb, 12, buffer, 512, DataPhase::Out, 2, sense, &h);
    EXPECT_EQ(h.dxfer_direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(h.dxfer_len, 512u);
    EXPECT_EQ(h.dxferp, buffer);

    // TEST UNIT READY: no data phase, one second.
    BuildSgIoHeader(cdb, 12, buffer, 0, DataPhase::None, 1, sense, &h);
    EXPECT_EQ(h.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(h.dxfer_len, 0u);
    EXPECT_EQ(h.dxferp, nullptr);
    EXPECT_EQ(h.timeout, 1000u);

    // A length of 0 never opens a data phase, whatever direction was named.
    BuildSgIoHeader(cdb, 12, buffer, 0, DataPhase::In, 2, sense, &h);
    EXPECT_EQ(h.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(h.dxferp, nullptr);
    BuildSgIoHeader(cdb, 12, buffer, 64, DataPhase::None, 2, sense, &h);
    EXPECT_EQ(h.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(h.dxfer_len, 0u);

    BuildSgIoHeader(cdb, 12, buffer, 2, DataPhase::In, 65535, sense, &h);
    EXPECT_EQ(h.timeout, 65535000u);
}

TEST(SgioRequest, ReplyClassification) {
    sg_io_hdr_t h{};
    EXPECT_EQ(ClassifySgIoReply(0, h), CommandStatus::Good);

    h.status = kScsiStatusCheckCondition;
    h.driver_status = kSgDriverSense;
    EXPECT_EQ(ClassifySgIoReply(0, h), CommandStatus::CheckCondition);

    h = {};
    h.status = 0x08;  // BUSY
    EXPECT_EQ(ClassifySgIoReply(0, h), CommandStatus::Failed);
    h = {};
    h.status = 0x18;  // RESERVATION CONFLICT
    EXPECT_EQ(ClassifySgIoReply(0, h), CommandStatus::Failed);

    h = {};
    h.host_status = kSgHostNoConnect;
    EXPECT_EQ(ClassifySgIoReply(0, h), CommandStatus::NoDevice);
    h.host_status = kSgHostTimeOut;
    EXPECT_EQ(ClassifySgIoReply(0, h), CommandStatus::TimedOut);
    // The host's side failed: nothing is known of the device, which may be gone.
    for (std::uint16_t host : {kSgHostError, kSgHostReset, kSgHostSoftError, std::uint16_t{0x02},
                               std::uint16_t{0x05}, std::uint16_t{0x0E}}) {
        h.host_status = host;
        EXPECT_EQ(ClassifySgIoReply(0, h), CommandStatus::HostError) << host;
    }
    h.host_status = kSgHostBadTarget;
    EXPECT_EQ(ClassifySgIoReply(0, h), CommandStatus::NoDevice);
    // What the device itself said, the host only passing it on.
    h.host_status = kSgHostMediumError;
    EXPECT_EQ(ClassifySgIoReply(0, h), CommandStatus::Failed);
    h.host_status = kSgHostTargetFailure;
    EXPECT_EQ(ClassifySgIoReply(0, h), CommandStatus::Failed);

    h = {};
    h.driver_status = kSgDriverTimeOut;
    EXPECT_EQ(ClassifySgIoReply(0, h), CommandStatus::TimedOut);
    h.driver_status = 0x04;  // DRIVER_ERROR
    EXPECT_EQ(ClassifySgIoReply(0, h), CommandStatus::Failed);
    h.driver_status = 0x10 | kSgDriverSense;  // a suggestion bit beside the sense flag
    h.status = kScsiStatusCheckCondition;
    EXPECT_EQ(ClassifySgIoReply(0, h), CommandStatus::CheckCondition);

    h = {};
    EXPECT_EQ(ClassifySgIoReply(-ENODEV, h), CommandStatus::NoDevice);
    EXPECT_EQ(ClassifySgIoReply(-ENXIO, h), CommandStatus::NoDevice);
    EXPECT_EQ(ClassifySgIoReply(-ETIMEDOUT, h), CommandStatus::TimedOut);
    EXPECT_EQ(ClassifySgIoReply(-EINVAL, h), CommandStatus::Failed);
    // Refused for lack of rights (vendor commands through a disk node need CAP_SYS_RAWIO):
    // nothing was sent.
    EXPECT_EQ(ClassifySgIoReply(-EPERM, h), CommandStatus::Refused);
    EXPECT_EQ(ClassifySgIoReply(-EACCES, h), CommandStatus::Refused);
}

TEST(SgioExecute, CheckConditionHandsOverTheSense) {
    FakeSgDevice dev;
    dev.reply = CheckConditionReply(7, 0x27);
    std::uint8_t cdb[12] = {0x2A};
    std::uint8_t data[512] = {1, 2, 3};
    CommandOutcome r = SgioExecute(dev, 5, SgRoute::Ioctl, cdb, 12, data, 512, DataPhase::Out, 2);
    EXPECT_EQ(r.status, CommandStatus::CheckCondition);
    ASSERT_EQ(r.senseLength, 18);
    EXPECT_EQ(r.sense[2], 7);
    EXPECT_EQ(r.sense[12], 0x27);
    ASSERT_EQ(dev.seen.size(), 1u);
    EXPECT_EQ(dev.seen[0].fd, 5);
    EXPECT_EQ(dev.seen[0].dataOut[2], 3);
}

TEST(SgioExecute, SenseIsKeptOnlyOnCheckConditionAndNeverOverruns) {
    FakeSgDevice dev;
    dev.reply = [](sg_io_hdr_t* h) {
        h->sb_len_wr = 200;  // a driver that claims more than the room it was given
        h->status = kScsiStatusCheckCondition;
        return 0;
    };
    std::uint8_t cdb[12] = {0x00};
    CommandOutcome r = SgioExecute(dev, 3, SgRoute::Ioctl, cdb, 12, nullptr, 0, DataPhase::None, 1);
    EXPECT_EQ(r.senseLength, kSgSenseBufferSize);

    dev.reply = [](sg_io_hdr_t* h) {
        h->sb_len_wr = 18;  // sense beside a GOOD status is not a failure to report
        return 0;
    };
    r = SgioExecute(dev, 3, SgRoute::Ioctl, cdb, 12, nullptr, 0, DataPhase::None, 1);
    EXPECT_EQ(r.status, CommandStatus::Good);
    EXPECT_EQ(r.senseLength, 0);
}

TEST(SgioExecute, ShortReadClearsTheTail) {
    FakeSgDevice dev;
    // A plain disk answers INQUIRY with 36 bytes; whatever the buffer held at 36-39 must not
    // survive to be read as a signature.
    dev.reply = [](sg_io_hdr_t* h) {
        std::memset(h->dxferp, 'S', 36);
        h->resid = static_cast<int>(h->dxfer_len) - 36;
        return 0;
    };
    std::uint8_t reply[56];
    std::memset(reply, 0, sizeof reply);
    reply[36] = 'Q';
    reply[37] = 'Z';
    CommandOutcome r =
        SgioExecute(dev, 3, SgRoute::Ioctl, kInquiryCdb, 12, reply, 56, DataPhase::In, 2);
    EXPECT_EQ(r.status, CommandStatus::Good);
    EXPECT_EQ(r.transferred, 36u);
    EXPECT_EQ(reply[35], 'S');
    EXPECT_EQ(reply[36], 0);
    EXPECT_EQ(reply[37], 0);

    dev.reply = [](sg_io_hdr_t* h) {
        std::memset(h->dxferp, 0x77, h->dxfer_len);
        h->resid = 1000;  // beyond the transfer: nothing counts as moved
        return 0;
    };
    r = SgioExecute(dev, 3, SgRoute::Ioctl, kInquiryCdb, 12, reply, 56, DataPhase::In, 2);
    EXPECT_EQ(r.transferred, 0u);
    EXPECT_EQ(reply[0], 0);
}

TEST(SgioExecute, RefusedIoctlKeepsItsErrno) {
    FakeSgDevice dev;
    dev.reply = [](sg_io_hdr_t*) { return -ENODEV; };
    std::uint8_t cdb[12] = {0x00};
    int error = 0;
    CommandOutcome r =
        SgioExecute(dev, 3, SgRoute::Ioctl, cdb, 12, nullptr, 0, DataPhase::None, 1, &error);
    EXPECT_EQ(r.status, CommandStatus::NoDevice);
    EXPECT_EQ(error, ENODEV);
}

// ---- The SG_IO port under the transport's one command path ----

// The port over three nodes, lent to a reader for the length of a test.
struct SgioPortTest : ::testing::Test {
    FakeSgDevice dev;
    SgioPort port{dev, {"/dev/sg0", "/dev/sg1", "/dev/sdc"}};
    Reader reader{port};
    ReaderUnit disk{reader, kMediaUsbDisk};
    void SetUp() override {
        dev.nodes = {{"/dev/sg0", 10}, {"/dev/sg1", 11}, {"/dev/sdc", 12}};
        ASSERT_EQ(reader.OpenTransport(), 1);
    }
    CommandOutcome Send(std::uint32_t place, const std::uint8_t* cdb, void* data,
                        std::uint32_t length, DataPhase phase, std::uint8_t cdbLength = 12) {
        return reader.Commands().Execute(PortAddress{place, 0}, cdb, cdbLength, phase, data, length,
                                         2);
    }
    // Opens a node and lets it identify itself as a reader.
    void OpenReader(std::uint32_t place) {
        ASSERT_TRUE(port.Open(place));
        std::vector<std::uint8_t> reply(56, 0);
        reply[36] = 'Q';
        reply[37] = 'Z';
        reply[38] = 'D';
        reply[39] = 'S';
        dev.reply = GoodReply(reply);
        std::uint8_t data[56] = {};
        ASSERT_TRUE(Send(place, kInquiryCdb, data, 56, DataPhase::In).Good());
        dev.seen.clear();
    }
};

TEST_F(SgioPortTest, ThePlacesAreTheNodesInOrder) {
    EXPECT_EQ(port.PlaceCount(), 3u);
    EXPECT_EQ(port.PlaceName(0), "/dev/sg0");
    EXPECT_EQ(port.PlaceName(2), "/dev/sdc");
    EXPECT_EQ(port.PlaceName(3), "");
    EXPECT_TRUE(port.Open(1));
    EXPECT_FALSE(port.Open(3));
    EXPECT_TRUE(port.SenseComesWithStatus());
    // A port with no node limit: as many places as nodes are named.
    std::vector<std::string> many;
    for (int i = 0; i < 40; ++i) many.push_back("/dev/sg" + std::to_string(i));
    SgioPort wide(dev, many);
    EXPECT_EQ(wide.PlaceCount(), 40u);
    EXPECT_EQ(wide.PlaceName(39), "/dev/sg39");
}

TEST_F(SgioPortTest, OpenWithoutRightsIsCounted) {
    dev.nodes["/dev/sg1"] = -EACCES;
    dev.nodes["/dev/sdc"] = -EPERM;
    EXPECT_FALSE(port.Open(1));
    EXPECT_FALSE(port.Open(2));
    EXPECT_EQ(port.PermissionDenials(), 2);
    dev.nodes["/dev/sg0"] = -ENOENT;
    EXPECT_FALSE(port.Open(0));
    EXPECT_EQ(port.PermissionDenials(), 2);
}

TEST_F(SgioPortTest, AnInquiryIsOneSgioRequestIntoTheCallersBuffer) {
    ASSERT_TRUE(port.Open(1));
    std::vector<std::uint8_t> reply(56, 0);
    reply[36] = 'Q';
    reply[37] = 'Z';
    reply[38] = 'C';
    reply[39] = 'F';
    dev.reply = GoodReply(reply);
    std::uint8_t data[56] = {};
    const CommandOutcome outcome = Send(1, kInquiryCdb, data, 56, DataPhase::In);
    EXPECT_TRUE(outcome.Good());
    EXPECT_EQ(outcome.transferred, 56u);
    ASSERT_EQ(dev.seen.size(), 1u);
    const auto& s = dev.seen[0];
    EXPECT_EQ(s.fd, 11);
    EXPECT_EQ(s.cdb, std::vector<std::uint8_t>(kInquiryCdb, kInquiryCdb + 12));
    EXPECT_EQ(s.header.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(s.header.dxfer_len, 56u);
    EXPECT_EQ(s.header.dxferp, data);  // no copy through a work buffer
    EXPECT_EQ(s.header.timeout, 2000u);
    EXPECT_EQ(data[38], 'C');
    EXPECT_TRUE(reader.Commands().PlaceIdentified(1));
}

TEST_F(SgioPortTest, OneByteReadsAndDataOutGoAsAsked) {
    OpenReader(0);
    std::uint8_t bankCount[12] = {0xC2};
    dev.reply = GoodReply({3, 0});
    std::uint8_t out[2] = {0, 0xA5};
    ASSERT_TRUE(Send(0, bankCount, out, 1, DataPhase::In).Good());
    EXPECT_EQ(dev.seen.back().header.dxfer_len, 1u);
    EXPECT_EQ(out[0], 3);
    EXPECT_EQ(out[1], 0xA5);

    std::uint8_t write10[12] = {0x2A, 0, 0, 0, 0, 0x3F, 0, 0, 1};
    std::uint8_t sector[512] = {};
    sector[0] = 0xEB;
    sector[511] = 0xAA;
    ASSERT_TRUE(Send(0, write10, sector, 512, DataPhase::Out).Good());
    const auto& s = dev.seen.back();
    EXPECT_EQ(s.header.dxfer_direction, SG_DXFER_TO_DEV);
    ASSERT_EQ(s.dataOut.size(), 512u);
    EXPECT_EQ(s.dataOut[0], 0xEB);
    EXPECT_EQ(s.dataOut[511], 0xAA);

    std::uint8_t tur[12] = {0x00};
    ASSERT_TRUE(Send(0, tur, nullptr, 0, DataPhase::None).Good());
    EXPECT_EQ(dev.seen.back().header.dxfer_direction, SG_DXFER_NONE);
}

TEST_F(SgioPortTest, AnUnidentifiedNodeIsSentNothingButInquiry) {
    ASSERT_TRUE(port.Open(0));
    // A plain disk: INQUIRY without the signature.
    std::vector<std::uint8_t> reply(56, 0);
    std::memcpy(&reply[8], "ATA     SYSTEM DISK", 19);
    dev.reply = GoodReply(reply);
    std::uint8_t data[56] = {};
    ASSERT_TRUE(Send(0, kInquiryCdb, data, 56, DataPhase::In).Good());
    const std::uint64_t refusedBefore = reader.Commands().RefusedCommandCount();
    for (std::uint8_t op : {0x00, 0x03, 0x25, 0x2A, 0xF2, 0x1B}) {
        std::uint8_t cdb[12] = {op};
        std::uint8_t buffer[512] = {};
        const bool in = op == 0x25 || op == 0x03;
        EXPECT_EQ(Send(0, cdb, buffer, op == 0x00 || op == 0x1B || op == 0xF2 ? 0 : 8,
                       in ? DataPhase::In : DataPhase::Out)
                      .status,
                  CommandStatus::Refused)
            << int(op);
    }
    ASSERT_EQ(dev.seen.size(), 1u);
    EXPECT_EQ(dev.seen[0].cdb[0], 0x12);
    EXPECT_EQ(reader.Commands().RefusedCommandCount(), refusedBefore + 6);
    // Nor does asking for its sense send anything.
    EXPECT_EQ(disk.GetSenseStatus(), SenseFailed);
    EXPECT_EQ(dev.seen.size(), 1u);
}

TEST_F(SgioPortTest, AnUnidentifiedNodeGetsNoInquiryThatCarriesData) {
    ASSERT_TRUE(port.Open(0));
    // The INQUIRY opcode with a data-out phase would hand 56 bytes to a device that has not
    // said who it is.
    std::uint8_t data[56] = {0xA5};
    EXPECT_EQ(Send(0, kInquiryCdb, data, 56, DataPhase::Out).status, CommandStatus::Refused);
    EXPECT_TRUE(dev.seen.empty());
    // The plain question still goes out.
    dev.reply = GoodReply();
    EXPECT_TRUE(Send(0, kInquiryCdb, data, 56, DataPhase::In).Good());
    ASSERT_EQ(dev.seen.size(), 1u);
    EXPECT_EQ(dev.seen[0].header.dxfer_direction, SG_DXFER_FROM_DEV);
}

TEST_F(SgioPortTest, ANodeThatStopsCarryingTheSignatureIsUnknownAgain) {
    OpenReader(0);
    dev.reply = GoodReply();  // another device at the node: no signature
    std::uint8_t data[56] = {};
    ASSERT_TRUE(Send(0, kInquiryCdb, data, 56, DataPhase::In).Good());
    std::uint8_t tur[12] = {0x00};
    EXPECT_EQ(Send(0, tur, nullptr, 0, DataPhase::None).status, CommandStatus::Refused);
    EXPECT_EQ(dev.seen.size(), 1u);
}

TEST_F(SgioPortTest, CommandBlocksOutsideSixToTwelveBytesAreRefused) {
    OpenReader(0);
    std::uint8_t read16[16] = {0x88};
    std::uint8_t data[512];
    for (std::uint8_t cdbLength : {5, 13, 16}) {
        EXPECT_EQ(Send(0, read16, data, 512, DataPhase::In, cdbLength).status,
                  CommandStatus::Refused)
            << int(cdbLength);
    }
    EXPECT_TRUE(dev.seen.empty());
    // A six-byte block goes out as six bytes.
    std::uint8_t tur[6] = {0x00};
    dev.reply = GoodReply();
    ASSERT_TRUE(Send(0, tur, nullptr, 0, DataPhase::None, 6).Good());
    ASSERT_EQ(dev.seen.size(), 1u);
    EXPECT_EQ(dev.seen[0].header.cmd_len, 6u);
    // Transfers beyond 65536 bytes are refused too.
    std::vector<std::uint8_t> big(65537);
    std::uint8_t read10[12] = {0x28};
    EXPECT_EQ(Send(0, read10, big.data(), 65537, DataPhase::In).status, CommandStatus::Refused);
    EXPECT_EQ(dev.seen.size(), 1u);
}

// Units for the sense tests: discovery over the reader node.
struct SgioPortUnits : SgioPortTest {
    void SetUp() override {
        SgioPortTest::SetUp();
        std::vector<std::uint8_t> reply(56, 0);
        reply[36] = 'Q';
        reply[37] = 'Z';
        reply[38] = 'D';
        reply[39] = 'S';
        dev.nodes = {{"/dev/sg0", 10}};  // the only node that opens
        dev.reply = GoodReply(reply);
        std::uint8_t count = 0;
        MediaType keys[3];
        reader.DiscoverUnits(&count, keys);
        ASSERT_EQ(count, 1);
        ASSERT_EQ(keys[0], kMediaUsbDisk);
        dev.seen.clear();
    }
};

TEST_F(SgioPortUnits, SenseCollectedByTheKernelAnswersTheNextSenseQuestion) {
    std::uint8_t sector[512] = {};
    dev.reply = CheckConditionReply(7, 0x27);
    EXPECT_FALSE(disk.WriteSectors(0, 1, sector).Good());
    ASSERT_EQ(dev.seen.size(), 1u);
    EXPECT_EQ(disk.LastOutcome().status, CommandStatus::CheckCondition);
    EXPECT_EQ(disk.GetSenseStatus(), SenseDataProtect);
    EXPECT_EQ(dev.seen.size(), 1u);  // answered from the reply, not asked of the device

    // Handed over once: the next question goes to the reader.
    dev.reply = GoodReply({0x70, 0, 0});
    EXPECT_EQ(disk.GetSenseStatus(), SenseNone);
    ASSERT_EQ(dev.seen.size(), 2u);
    EXPECT_EQ(dev.seen[1].cdb[0], 0x03);
}

TEST_F(SgioPortUnits, AnyOtherCommandDropsTheKeptSense) {
    dev.reply = CheckConditionReply(6, 0x28);
    EXPECT_FALSE(disk.TestUnitReady().Good());
    dev.reply = GoodReply();
    EXPECT_TRUE(disk.TestUnitReady().Good());
    dev.reply = GoodReply({0x70, 0, 0});
    EXPECT_EQ(disk.GetSenseStatus(), SenseNone);  // the unit attention is gone
    EXPECT_EQ(dev.seen.size(), 3u);
}

TEST_F(SgioPortUnits, AnUnansweredCommandLeavesNothingToAsk) {
    dev.reply = [](sg_io_hdr_t* h) {
        h->host_status = kSgHostTimeOut;
        return 0;
    };
    EXPECT_FALSE(disk.TestUnitReady().Good());
    EXPECT_EQ(disk.LastOutcome().status, CommandStatus::TimedOut);
    EXPECT_EQ(disk.GetSenseStatus(), SenseFailed);
    EXPECT_EQ(dev.seen.size(), 1u);  // no REQUEST SENSE into a silence
    EXPECT_EQ(disk.SilentInARow(), 1u);
}

TEST_F(SgioPortUnits, FailuresMapToStatuses) {
    struct Case {
        FakeSgDevice::Reply reply;
        CommandStatus status;
    };
    const Case cases[] = {
        {[](sg_io_hdr_t*) { return -ENODEV; }, CommandStatus::NoDevice},
        {[](sg_io_hdr_t* h) {
             h->host_status = kSgHostTimeOut;
             return 0;
         },
         CommandStatus::TimedOut},
        {[](sg_io_hdr_t* h) {
             h->status = 0x08;  // BUSY
             return 0;
         },
         CommandStatus::Failed},
        {[](sg_io_hdr_t*) { return -EINTR; }, CommandStatus::Failed},
    };
    for (const Case& c : cases) {
        dev.reply = c.reply;
        EXPECT_FALSE(disk.TestUnitReady().Good());
        EXPECT_EQ(disk.LastOutcome().status, c.status);
    }
    // Only a vanished device makes the cached units go.
    dev.reply = cases[0].reply;
    EXPECT_EQ(reader.UnitsStillPresent(), 0);
    dev.reply = cases[1].reply;
    EXPECT_EQ(reader.UnitsStillPresent(), 1);
}

// ---- A command reaches the device once, whatever signals come ----

TEST(SgioExecute, AGenericNodesWaitIsBegunAgainAfterEverySignalAndTheCommandGoesOnce) {
    FakeSgDevice dev;
    dev.reply = GoodReply({0x11, 0x22});
    dev.interrupts = 3;  // a stop and continue, a resized terminal, a timer
    std::uint8_t cdb[12] = {0xE8, 0x20, 0x60, 0, 0, 1};
    std::uint8_t page[528] = {};
    const CommandOutcome r =
        SgioExecute(dev, 4, SgRoute::WriteRead, cdb, 12, page, sizeof page, DataPhase::In, 2);
    EXPECT_EQ(r.status, CommandStatus::Good);
    ASSERT_EQ(dev.seen.size(), 1u);  // handed over once
    EXPECT_EQ(dev.seen[0].route, SgRoute::WriteRead);
    EXPECT_EQ(dev.collects, 4);  // three waits broken off, the fourth got the reply
    EXPECT_EQ(page[1], 0x22);

    // A write the driver refuses is no command: nothing is waited for.
    dev.seen.clear();
    dev.collects = 0;
    dev.reply = [](sg_io_hdr_t*) { return -ENODEV; };
    EXPECT_EQ(SgioExecute(dev, 4, SgRoute::WriteRead, cdb, 12, page, sizeof page, DataPhase::In, 2)
                  .status,
              CommandStatus::NoDevice);
    EXPECT_EQ(dev.collects, 0);
}

TEST_F(SgioPortTest, GenericNodesGoByWriteAndReadDiskNodesBySgio) {
    dev.reply = GoodReply();
    OpenReader(0);
    OpenReader(2);
    std::uint8_t tur[12] = {0x00};
    ASSERT_TRUE(Send(0, tur, nullptr, 0, DataPhase::None).Good());
    ASSERT_TRUE(Send(2, tur, nullptr, 0, DataPhase::None).Good());
    ASSERT_EQ(dev.seen.size(), 2u);
    EXPECT_EQ(dev.seen[0].route, SgRoute::WriteRead);
    EXPECT_EQ(dev.seen[1].route, SgRoute::Ioctl);
}

// ---- The stick held for a run ----

TEST_F(SgioPortTest, AHeldNodeIsOpenedExclusivelyAndKeptOpenUntilReleased) {
    ASSERT_TRUE(port.Open(0));  // the program's own look at it first
    ASSERT_EQ(port.Hold(0), 0);
    ASSERT_EQ(dev.opened.size(), 2u);
    EXPECT_FALSE(dev.opened[0].second);
    EXPECT_TRUE(dev.opened[1].second);
    ASSERT_EQ(dev.closed.size(), 1u);  // its own open closed first: the driver counts it
    port.Close(0);                     // a session's end: the node stays held
    EXPECT_EQ(dev.closed.size(), 1u);
    port.Release(0);
    EXPECT_EQ(dev.closed.size(), 2u);

    // Another program holds a node: its open is refused as busy, and the node is named.
    dev.nodes["/dev/sg1"] = -EBUSY;
    EXPECT_EQ(port.Hold(1), EBUSY);
    EXPECT_FALSE(port.Open(1));
    EXPECT_EQ(port.BusyNodes(), std::vector<std::string>{"/dev/sg1"});
    EXPECT_EQ(port.PermissionDenials(), 0);
}

TEST_F(SgioPortTest, TheKernelsTransferLimitIsTheNodes) {
    dev.maxTransfer = 4096;
    ASSERT_TRUE(port.Open(0));
    EXPECT_EQ(port.MaxTransfer(0), 4096u);
    dev.maxTransfer = 0;  // the kernel does not say
    ASSERT_TRUE(port.Open(1));
    EXPECT_EQ(port.MaxTransfer(1), kMaxTransfer);
    dev.maxTransfer = 1u << 20;  // more than any command carries
    ASSERT_TRUE(port.Open(2));
    EXPECT_EQ(port.MaxTransfer(2), kMaxTransfer);
}

// ---- Sense as far as it came ----

TEST(SgioSense, FieldsPastTheLengthOrTheAdditionalLengthAreUnknown) {
    // UNIT ATTENTION whose bytes 12 and 13 say "reset", behind additional lengths of 10, 4, 0.
    std::uint8_t sense[18] = {0x70, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x29, 0x00};
    SenseFields f = DecodeSense(sense, 18);
    EXPECT_TRUE(f.keyKnown && f.ascKnown && f.ascqKnown);
    EXPECT_TRUE(IsResetNotice(f));
    for (std::uint8_t additional : {0, 4}) {
        sense[7] = additional;
        f = DecodeSense(sense, 18);
        EXPECT_TRUE(f.keyKnown);
        EXPECT_EQ(f.key, 6);
        EXPECT_FALSE(f.ascKnown) << int(additional);
        EXPECT_FALSE(f.ascqKnown);
        EXPECT_FALSE(IsResetNotice(f));  // a unit attention, not known to be a reset
        EXPECT_EQ(ClassifySenseFields(f), SenseUnitAttention);
    }
    // The code, but not its qualifier.
    sense[7] = 5;
    f = DecodeSense(sense, 18);
    EXPECT_TRUE(f.ascKnown);
    EXPECT_FALSE(f.ascqKnown);
    // Cut short by the length the kernel wrote, whatever the additional length says.
    sense[7] = 10;
    EXPECT_FALSE(DecodeSense(sense, 12).ascKnown);
    EXPECT_TRUE(DecodeSense(sense, 13).ascKnown);
    EXPECT_FALSE(DecodeSense(sense, 2).keyKnown);
    EXPECT_EQ(ClassifySenseFields(DecodeSense(sense, 2)), SenseFailed);
    EXPECT_EQ(ClassifySenseFields(DecodeSense(sense, 0)), SenseFailed);

    // ILLEGAL REQUEST with its code cut off matches no code of the table; with it, it does.
    std::uint8_t illegal[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0x20};
    EXPECT_EQ(ClassifySenseFields(DecodeSense(illegal, 18)), SenseNone);
    illegal[7] = 10;
    EXPECT_EQ(ClassifySenseFields(DecodeSense(illegal, 18)), SenseInvalidOpcode);

    // Descriptor format: key, code and qualifier in bytes 1 to 3.
    const std::uint8_t descriptor[8] = {0x72, 0x06, 0x29, 0x01, 0, 0, 0, 0};
    f = DecodeSense(descriptor, 8);
    EXPECT_TRUE(IsResetNotice(f));
    EXPECT_EQ(f.ascq, 1);
    EXPECT_FALSE(DecodeSense(descriptor, 2).ascKnown);
    const std::uint8_t protect[4] = {0x73, 0x07, 0x27, 0x00};
    EXPECT_EQ(ClassifySenseFields(DecodeSense(protect, 4)), SenseDataProtect);
}

// The kernel's sense, cut short: classified by what came, and a unit attention whose code is
// not there is no reset to send a command again for.
TEST_F(SgioPortUnits, ShortSenseFromTheKernelIsClassifiedByWhatCame) {
    auto unitAttention = [](std::uint8_t additional, std::uint8_t written) {
        return [additional, written](sg_io_hdr_t* h) {
            std::uint8_t sense[18] = {0x70, 0, 0x06, 0, 0, 0, 0, additional, 0, 0, 0, 0, 0x29};
            std::memcpy(h->sbp, sense, sizeof sense);
            h->sb_len_wr = written;
            h->status = kScsiStatusCheckCondition;
            h->driver_status = kSgDriverSense;
            return 0;
        };
    };
    for (std::uint8_t additional : {0, 4}) {
        dev.seen.clear();
        dev.reply = unitAttention(additional, 18);
        EXPECT_FALSE(disk.TestUnitReady().Good());
        EXPECT_EQ(dev.seen.size(), 1u) << "sent again for a reset nobody reported";
        EXPECT_EQ(disk.GetSenseStatus(), SenseUnitAttention);
    }
    // Only eight bytes written: the same.
    dev.seen.clear();
    dev.reply = unitAttention(10, 8);
    EXPECT_FALSE(disk.TestUnitReady().Good());
    EXPECT_EQ(dev.seen.size(), 1u);
    EXPECT_EQ(disk.GetSenseStatus(), SenseUnitAttention);
    // Two bytes: not even the key.
    dev.reply = unitAttention(10, 2);
    EXPECT_FALSE(disk.TestUnitReady().Good());
    EXPECT_EQ(disk.GetSenseStatus(), SenseFailed);
}

TEST_F(SgioPortUnits, AResetReportedInFullSendsTheCommandAgainAfterItsBank) {
    int calls = 0;
    dev.reply = [&calls](sg_io_hdr_t* h) {
        if (++calls != 2) return 0;
        // The second command meets the reset the first one's time-out brought.
        std::uint8_t sense[18] = {0x70, 0, 0x06, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x29};
        std::memcpy(h->sbp, sense, sizeof sense);
        h->sb_len_wr = 18;
        h->status = kScsiStatusCheckCondition;
        h->driver_status = kSgDriverSense;
        return 0;
    };
    ASSERT_TRUE(disk.SelectBank(1).Good());
    const CommandOutcome erased = disk.EraseBlock(7, 32);
    ASSERT_TRUE(erased.Good());
    ASSERT_EQ(dev.seen.size(), 4u);
    EXPECT_EQ(dev.seen[1].cdb[0], 0xF2);  // met the reset
    EXPECT_EQ(dev.seen[2].cdb[0], 0xFB);  // the bank again
    EXPECT_EQ(dev.seen[2].cdb[1], 1);
    EXPECT_EQ(dev.seen[3].cdb, dev.seen[1].cdb);  // and the erase, now carried out
    EXPECT_TRUE(erased.afterReset);               // the outcome says so
    EXPECT_EQ(disk.Resets(), 1u);
    EXPECT_EQ(reader.Commands().ResetNoticeCount(), 1u);
}

TEST_F(SgioPortUnits, ClosingTheTransportReleasesTheDescriptor) {
    reader.CloseTransport();
    ASSERT_EQ(dev.closed.size(), 1u);
    EXPECT_EQ(dev.closed[0], 10);
}

}  // namespace

// ---- Which nodes are walked ----

namespace nodes_test {

void Touch(const std::filesystem::path& p) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p.string()).put('\n');
}

TEST(SgioNodes, TheUsbSerialAndPortAreTheUsbDevicesAboveTheScsiDevice) {
    TempDir tmp;
    const std::filesystem::path sys = std::filesystem::path(tmp.Path()) / "sys";
    // A stick: the USB device (idVendor, serial), its interface, the SCSI host and device.
    const std::filesystem::path usb = sys / "devices/pci0000:00/usb1/1-2";
    const std::filesystem::path scsi = usb / "1-2:1.0/host6/target6:0:0/6:0:0:0";
    std::filesystem::create_directories(scsi);
    std::ofstream(usb / "idVendor") << "1234\n";
    std::ofstream(usb / "serial") << "AB12" << char(1) << "CD\n";
    std::ofstream(scsi / "serial") << "not this one\n";  // only a USB device's serial counts
    std::filesystem::create_directories(sys / "class/scsi_generic/sg3");
    std::filesystem::create_directory_symlink(scsi, sys / "class/scsi_generic/sg3/device");
    std::filesystem::create_directories(sys / "block/sdd");
    std::filesystem::create_directory_symlink(scsi, sys / "block/sdd/device");
    EXPECT_EQ(UsbSerialOfNode("/dev/sg3", sys.string()), "AB12CD");
    EXPECT_EQ(UsbSerialOfNode("/dev/sdd", sys.string()), "AB12CD");
    // The port it is plugged into is the USB device's name; the generic and the disk node of one
    // device lead to one SCSI device, one stick.
    EXPECT_EQ(UsbPortOfNode("/dev/sg3", sys.string()), "1-2");
    EXPECT_EQ(UsbPortOfNode("/dev/sdd", sys.string()), "1-2");
    EXPECT_EQ(ScsiDeviceOfNode("/dev/sg3", sys.string()),
              std::filesystem::canonical(scsi).string());
    EXPECT_EQ(ScsiDeviceOfNode("/dev/sdd", sys.string()),
              ScsiDeviceOfNode("/dev/sg3", sys.string()));
    // A disk that is not on USB, a node sysfs does not know, and a simulated node.
    const std::filesystem::path ata = sys / "devices/pci0000:00/ata1/host0/target0:0:0/0:0:0:0";
    std::filesystem::create_directories(ata);
    std::filesystem::create_directories(sys / "class/scsi_generic/sg0");
    std::filesystem::create_directory_symlink(ata, sys / "class/scsi_generic/sg0/device");
    EXPECT_EQ(UsbSerialOfNode("/dev/sg0", sys.string()), "");
    EXPECT_EQ(UsbSerialOfNode("/dev/sg9", sys.string()), "");
    EXPECT_EQ(UsbSerialOfNode("sim:E", sys.string()), "");
    EXPECT_EQ(UsbPortOfNode("/dev/sg0", sys.string()), "");
    EXPECT_NE(ScsiDeviceOfNode("/dev/sg0", sys.string()),
              ScsiDeviceOfNode("/dev/sg3", sys.string()));
    EXPECT_EQ(ScsiDeviceOfNode("/dev/sg9", sys.string()), "");  // sysfs cannot tell
}

// After a host-side error the port waits for the system to let a pulled stick go, and says so
// as soon as it has; a stick the system keeps running is there once the wait is over.
TEST(SgioNodes, PresenceIsWhatTheSystemSaysOfTheScsiDevice) {
    TempDir tmp;
    const std::filesystem::path sys = std::filesystem::path(tmp.Path()) / "sys";
    const std::filesystem::path scsi = sys / "devices/usb1/1-1/1-1:1.0/host2/target2:0:0/2:0:0:0";
    std::filesystem::create_directories(scsi);
    std::ofstream(scsi / "state") << "running\n";
    std::filesystem::create_directories(sys / "class/scsi_generic/sg1");
    std::filesystem::create_directory_symlink(scsi, sys / "class/scsi_generic/sg1/device");
    FakeSgDevice dev;
    dev.nodes = {{"/dev/sg1", 7}, {"/dev/sg2", 8}};
    SgioPort port(dev, {"/dev/sg1", "/dev/sg2"}, sys.string());
    ASSERT_TRUE(port.Open(0));
    ASSERT_TRUE(port.Open(1));
    EXPECT_EQ(port.AwaitPresence(0, 20), PlacePresence::There);
    EXPECT_EQ(port.AwaitPresence(1, 20), PlacePresence::Unknown);  // sysfs does not know sg2
    std::ofstream(scsi / "state") << "offline\n";
    EXPECT_EQ(port.AwaitPresence(0, 20), PlacePresence::Gone);
    std::ofstream(scsi / "state") << "running\n";
    std::filesystem::remove_all(scsi);
    EXPECT_EQ(port.AwaitPresence(0, 1000), PlacePresence::Gone);
}

TEST(SgioNodes, GenericNodesFirstAndEachDeviceOnce) {
    TempDir tmp;
    ASSERT_FALSE(tmp.Path().empty());
    std::filesystem::path dev = std::filesystem::path(tmp.Path()) / "dev";
    std::filesystem::path sys = std::filesystem::path(tmp.Path()) / "sys";
    for (const char* n :
         {"sg10", "sg2", "sg0", "sda", "sda1", "sdb", "sdaa", "sdc", "sr0", "sgx", "sd", "null"}) {
        Touch(dev / n);
    }
    // sg0 is sda, sg2 is sdb; sdc and sdaa have no generic node; sg10's device is a DVD drive.
    auto device = [&](const char* hctl) {
        std::filesystem::path d = sys / "devices" / hctl;
        std::filesystem::create_directories(d);
        return d;
    };
    auto link = [&](const std::filesystem::path& entry, const std::filesystem::path& target) {
        std::filesystem::create_directories(entry);
        std::filesystem::create_directory_symlink(target, entry / "device");
    };
    link(sys / "class/scsi_generic/sg0", device("0:0:0:0"));
    link(sys / "class/scsi_generic/sg2", device("2:0:0:0"));
    link(sys / "class/scsi_generic/sg10", device("5:0:0:0"));
    link(sys / "block/sda", device("0:0:0:0"));
    link(sys / "block/sdb", device("2:0:0:0"));
    link(sys / "block/sdc", device("3:0:0:0"));

    auto nodes = FindScsiNodes(dev.string(), sys.string());
    std::vector<std::string> expected = {(dev / "sg0").string(), (dev / "sg2").string(),
                                         (dev / "sg10").string(), (dev / "sdc").string(),
                                         (dev / "sdaa").string()};
    EXPECT_EQ(nodes, expected);
}

// Only USB disks are worth asking who they are: the system disk on its own bus, a DVD drive and
// an enclosure's processor are left alone; a node sysfs knows nothing of is asked.
TEST(SgioNodes, StickCandidatesAreTheUsbDisksAndWhatSysfsCannotTell) {
    TempDir tmp;
    const std::filesystem::path dev = std::filesystem::path(tmp.Path()) / "dev";
    const std::filesystem::path sys = std::filesystem::path(tmp.Path()) / "sys";
    auto scsi = [&](const std::string& at, const char* type) {
        const std::filesystem::path d = sys / "devices" / at;
        std::filesystem::create_directories(d);
        std::ofstream(d / "type") << type << "\n";
        return d;
    };
    auto generic = [&](const char* sg, const std::filesystem::path& device) {
        Touch(dev / sg);
        std::filesystem::create_directories(sys / "class/scsi_generic" / sg);
        std::filesystem::create_directory_symlink(device,
                                                  sys / "class/scsi_generic" / sg / "device");
    };
    for (const char* port : {"1-1", "1-2"}) {  // the USB devices
        std::filesystem::create_directories(sys / "devices/usb1" / port);
        std::ofstream(sys / "devices/usb1" / port / "idVendor") << "1d6b\n";
    }
    generic("sg0", scsi("ata1/host0/target0:0:0/0:0:0:0", "0"));              // the system disk
    generic("sg1", scsi("usb1/1-1/1-1:1.0/host1/target1:0:0/1:0:0:0", "0"));  // a stick
    generic("sg2", scsi("usb1/1-2/1-2:1.0/host2/target2:0:0/2:0:0:0", "5"));  // a DVD drive
    Touch(dev / "sg3");  // sysfs knows nothing of it
    const std::vector<std::string> expected = {(dev / "sg1").string(), (dev / "sg3").string()};
    EXPECT_EQ(FindStickNodes(dev.string(), sys.string()), expected);

    // A disk node named by the user goes to its generic node.
    std::filesystem::create_directories(sys / "block/sdb/device/scsi_generic/sg1");
    Touch(dev / "sdb");
    EXPECT_EQ(GenericNodeOfDisk((dev / "sdb").string(), dev.string(), sys.string()),
              (dev / "sg1").string());
    EXPECT_EQ(GenericNodeOfDisk((dev / "sdc").string(), dev.string(), sys.string()), "");
    EXPECT_EQ(GenericNodeOfDisk((dev / "sg2").string(), dev.string(), sys.string()),
              (dev / "sg2").string());
}

TEST(SgioNodes, WithoutSysfsBothKindsAreKept) {
    TempDir tmp;
    std::filesystem::path dev = std::filesystem::path(tmp.Path()) / "dev";
    Touch(dev / "sg1");
    Touch(dev / "sdb");
    auto nodes = FindScsiNodes(dev.string(), (std::filesystem::path(tmp.Path()) / "none").string());
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(nodes[0], (dev / "sg1").string());
    EXPECT_EQ(nodes[1], (dev / "sdb").string());
    EXPECT_TRUE(FindScsiNodes((std::filesystem::path(tmp.Path()) / "missing").string()).empty());
}

TEST(SgioNodes, NodeNames) {
    EXPECT_TRUE(IsGenericNodeName("sg0"));
    EXPECT_TRUE(IsGenericNodeName("sg123"));
    EXPECT_FALSE(IsGenericNodeName("sg"));
    EXPECT_FALSE(IsGenericNodeName("sg1a"));
    EXPECT_TRUE(IsDiskNodeName("sdab"));
    EXPECT_FALSE(IsDiskNodeName("sda1"));  // a partition: SG_IO there would reach the whole disk
    EXPECT_FALSE(IsDiskNodeName("sd"));
    EXPECT_FALSE(IsDiskNodeName("sdA"));
}

}  // namespace nodes_test
