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

#include "reader/sgio.h"
#include "reader/sgio_nodes.h"
#include "reader/sgio_os_layer.h"
#include "tests/temp_dir.h"

namespace {

// Stands in for the kernel: records every SG_IO request as it arrived and answers it from a
// script.
class FakeSgDevice final : public SgDeviceIo {
  public:
    struct Seen {
        int fd;
        sg_io_hdr_t header;
        std::vector<std::uint8_t> cdb;
        std::vector<std::uint8_t> dataOut;  // what a data-out command carried
    };
    // Fills the reply fields (and data-in bytes, sense bytes) and returns the ioctl result.
    using Reply = std::function<int(sg_io_hdr_t*)>;

    std::map<std::string, int> nodes;  // path -> fd, or -errno for a failing open
    std::vector<Seen> seen;
    std::vector<int> closed;
    Reply reply = [](sg_io_hdr_t*) { return 0; };

    int Open(const char* path) override {
        auto it = nodes.find(path);
        return it == nodes.end() ? -ENOENT : it->second;
    }
    int SgIo(int fd, sg_io_hdr_t* header) override {
        Seen s{fd, *header, {}, {}};
        s.cdb.assign(header->cmdp, header->cmdp + header->cmd_len);
        if (header->dxfer_direction == SG_DXFER_TO_DEV && header->dxferp != nullptr) {
            auto* p = static_cast<std::uint8_t*>(header->dxferp);
            s.dataOut.assign(p, p + header->dxfer_len);
        }
        seen.push_back(s);
        return reply(header);
    }
    void Close(int fd) override { closed.push_back(fd); }
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
    int result = WithStopSignalsHeld([&seenDuringCall] {
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
    SgDeviceIo& io = RealSgDeviceIo();
    int fd = io.Open("/dev/null");
    ASSERT_GE(fd, 0);
    std::uint8_t sense[kSgSenseBufferSize] = {};
    std::uint8_t data[56] = {};
    sg_io_hdr_t header;
    BuildSgIoHeader(kInquiryCdb, data, sizeof data, SgDirection::In, 2, sense, &header);
    int rc = io.SgIo(fd, &header);
    io.Close(fd);
    EXPECT_LT(rc, 0);
    EXPECT_EQ(ClassifySgIoReply(rc, header), SgOutcome::Failed);
    EXPECT_EQ(io.Open("/dev/brevant-no-such-node"), -ENOENT);
}

// ---- The request itself ----

TEST(SgioRequest, DataInFillsEveryHeaderField) {
    std::uint8_t cdb[12] = {0xE8, 0x20, 0x60, 0, 0, 1, 0, 0, 0, 0, 0, 0};
    std::uint8_t buffer[528];
    std::uint8_t sense[kSgSenseBufferSize];
    sg_io_hdr_t h;
    std::memset(&h, 0xA5, sizeof h);  // nothing of the caller's garbage may survive
    BuildSgIoHeader(cdb, buffer, 528, SgDirection::In, 2, sense, &h);
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

    BuildSgIoHeader(cdb, buffer, 512, SgDirection::Out, 2, sense, &h);
    EXPECT_EQ(h.dxfer_direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(h.dxfer_len, 512u);
    EXPECT_EQ(h.dxferp, buffer);

    // TEST UNIT READY: no data phase, one second.
    BuildSgIoHeader(cdb, buffer, 0, SgDirection::None, 1, sense, &h);
    EXPECT_EQ(h.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(h.dxfer_len, 0u);
    EXPECT_EQ(h.dxferp, nullptr);
    EXPECT_EQ(h.timeout, 1000u);

    // A length of 0 never opens a data phase, whatever direction was named.
    BuildSgIoHeader(cdb, buffer, 0, SgDirection::In, 2, sense, &h);
    EXPECT_EQ(h.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(h.dxferp, nullptr);
    BuildSgIoHeader(cdb, buffer, 64, SgDirection::None, 2, sense, &h);
    EXPECT_EQ(h.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(h.dxfer_len, 0u);

    BuildSgIoHeader(cdb, buffer, 2, SgDirection::In, 65535, sense, &h);
    EXPECT_EQ(h.timeout, 65535000u);
}

TEST(SgioRequest, ReplyClassification) {
    sg_io_hdr_t h{};
    EXPECT_EQ(ClassifySgIoReply(0, h), SgOutcome::Good);

    h.status = kScsiStatusCheckCondition;
    h.driver_status = kSgDriverSense;
    EXPECT_EQ(ClassifySgIoReply(0, h), SgOutcome::CheckCondition);

    h = {};
    h.status = 0x08;  // BUSY
    EXPECT_EQ(ClassifySgIoReply(0, h), SgOutcome::Failed);
    h = {};
    h.status = 0x18;  // RESERVATION CONFLICT
    EXPECT_EQ(ClassifySgIoReply(0, h), SgOutcome::Failed);

    h = {};
    h.host_status = kSgHostNoConnect;
    EXPECT_EQ(ClassifySgIoReply(0, h), SgOutcome::DeviceGone);
    h.host_status = kSgHostTimeOut;
    EXPECT_EQ(ClassifySgIoReply(0, h), SgOutcome::TimedOut);
    h.host_status = 0x07;  // DID_ERROR
    EXPECT_EQ(ClassifySgIoReply(0, h), SgOutcome::Failed);

    h = {};
    h.driver_status = kSgDriverTimeOut;
    EXPECT_EQ(ClassifySgIoReply(0, h), SgOutcome::TimedOut);
    h.driver_status = 0x04;  // DRIVER_ERROR
    EXPECT_EQ(ClassifySgIoReply(0, h), SgOutcome::Failed);
    h.driver_status = 0x10 | kSgDriverSense;  // a suggestion bit beside the sense flag
    h.status = kScsiStatusCheckCondition;
    EXPECT_EQ(ClassifySgIoReply(0, h), SgOutcome::CheckCondition);

    h = {};
    EXPECT_EQ(ClassifySgIoReply(-ENODEV, h), SgOutcome::DeviceGone);
    EXPECT_EQ(ClassifySgIoReply(-ENXIO, h), SgOutcome::DeviceGone);
    EXPECT_EQ(ClassifySgIoReply(-ETIMEDOUT, h), SgOutcome::TimedOut);
    EXPECT_EQ(ClassifySgIoReply(-EINVAL, h), SgOutcome::Failed);
    EXPECT_EQ(ClassifySgIoReply(-EPERM, h), SgOutcome::Failed);
}

TEST(SgioExecute, CheckConditionHandsOverTheSense) {
    FakeSgDevice dev;
    dev.reply = CheckConditionReply(7, 0x27);
    std::uint8_t cdb[12] = {0x2A};
    std::uint8_t data[512] = {1, 2, 3};
    SgCommandResult r = SgioExecute(dev, 5, cdb, data, 512, SgDirection::Out, 2);
    EXPECT_EQ(r.outcome, SgOutcome::CheckCondition);
    EXPECT_EQ(r.scsiStatus, kScsiStatusCheckCondition);
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
    SgCommandResult r = SgioExecute(dev, 3, cdb, nullptr, 0, SgDirection::None, 1);
    EXPECT_EQ(r.senseLength, kSgSenseBufferSize);

    dev.reply = [](sg_io_hdr_t* h) {
        h->sb_len_wr = 18;  // sense beside a GOOD status is not a failure to report
        return 0;
    };
    r = SgioExecute(dev, 3, cdb, nullptr, 0, SgDirection::None, 1);
    EXPECT_EQ(r.outcome, SgOutcome::Good);
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
    SgCommandResult r = SgioExecute(dev, 3, kInquiryCdb, reply, 56, SgDirection::In, 2);
    EXPECT_EQ(r.outcome, SgOutcome::Good);
    EXPECT_EQ(r.transferred, 36u);
    EXPECT_EQ(reply[35], 'S');
    EXPECT_EQ(reply[36], 0);
    EXPECT_EQ(reply[37], 0);

    dev.reply = [](sg_io_hdr_t* h) {
        std::memset(h->dxferp, 0x77, h->dxfer_len);
        h->resid = 1000;  // beyond the transfer: nothing counts as moved
        return 0;
    };
    r = SgioExecute(dev, 3, kInquiryCdb, reply, 56, SgDirection::In, 2);
    EXPECT_EQ(r.transferred, 0u);
    EXPECT_EQ(reply[0], 0);
}

TEST(SgioExecute, RefusedIoctlKeepsItsErrno) {
    FakeSgDevice dev;
    dev.reply = [](sg_io_hdr_t*) { return -ENODEV; };
    std::uint8_t cdb[12] = {0x00};
    SgCommandResult r = SgioExecute(dev, 3, cdb, nullptr, 0, SgDirection::None, 1);
    EXPECT_EQ(r.outcome, SgOutcome::DeviceGone);
    EXPECT_EQ(r.error, ENODEV);
}

// ---- The pass-through requests carried by the Linux OS layer ----

// Builds the 44-byte pass-through request as the transport's buffered form does.
std::vector<std::uint8_t> BufferedRequest(const std::uint8_t* cdb, std::uint32_t length,
                                          std::uint8_t dataIn, std::uint32_t timeout) {
    std::vector<std::uint8_t> work(48 + 65540, 0);
    work[0] = 44;
    work[6] = 12;
    work[8] = dataIn;
    std::uint32_t n = length == 1 ? 2 : length;
    std::memcpy(&work[12], &n, 4);
    std::memcpy(&work[16], &timeout, 4);
    std::uint32_t offset = 48;
    std::memcpy(&work[20], &offset, 4);
    std::memcpy(&work[28], cdb, 12);
    return work;
}

struct SgioLayer : ::testing::Test {
    FakeSgDevice dev;
    SgioOsLayer layer{dev, {"/dev/sg0", "/dev/sg1", "/dev/sdc"}};
    void SetUp() override { dev.nodes = {{"/dev/sg0", 10}, {"/dev/sg1", 11}, {"/dev/sdc", 12}}; }
    // Sends a buffered request; returns DeviceIoControl's answer.
    bool Send(OsHandle h, std::vector<std::uint8_t>& work, std::uint32_t length,
              std::uint8_t dataIn) {
        std::uint32_t n = length == 1 ? 2 : length;
        std::uint32_t inSize = length == 0 || dataIn == 1 ? 44 : n + 48;
        std::uint32_t outSize = length != 0 && dataIn == 1 ? n + 48 : 44;
        std::uint32_t returned = 0;
        return layer.DeviceIoControl(h, kIoctlScsiPassThrough, work.data(), inSize, work.data(),
                                     outSize, &returned);
    }
    // Opens C: and lets it identify itself as a reader.
    OsHandle OpenReader() {
        OsHandle h =
            layer.CreateFile("\\\\.\\C:", kGenericReadWrite, kShareReadWrite, kOpenExisting, 0);
        std::vector<std::uint8_t> reply(56, 0);
        reply[36] = 'Q';
        reply[37] = 'Z';
        reply[38] = 'D';
        reply[39] = 'S';
        dev.reply = GoodReply(reply);
        auto work = BufferedRequest(kInquiryCdb, 56, 1, 2);
        EXPECT_TRUE(Send(h, work, 56, 1));
        dev.seen.clear();
        return h;
    }
};

TEST_F(SgioLayer, DriveLettersNameTheNodesInOrder) {
    EXPECT_EQ(layer.NodeOfLetter('C'), "/dev/sg0");
    EXPECT_EQ(layer.NodeOfLetter('E'), "/dev/sdc");
    EXPECT_EQ(layer.NodeOfLetter('F'), "");
    EXPECT_NE(layer.CreateFile("\\\\.\\D:", kGenericReadWrite, kShareReadWrite, kOpenExisting, 0),
              nullptr);
    EXPECT_EQ(layer.CreateFile("\\\\.\\F:", kGenericReadWrite, kShareReadWrite, kOpenExisting, 0),
              nullptr);
    EXPECT_EQ(layer.GetLastError(), SgioOsLayer::kErrorFileNotFound);
    EXPECT_EQ(layer.CreateFile("\\\\.\\c:", kGenericReadWrite, kShareReadWrite, kOpenExisting, 0),
              nullptr);
    EXPECT_EQ(layer.CreateFile("C:", kGenericReadWrite, kShareReadWrite, kOpenExisting, 0),
              nullptr);
    EXPECT_EQ(layer.LoadLibrary("WNASPI32.DLL"), nullptr);  // so the transport uses pass-through
}

TEST_F(SgioLayer, OpenWithoutRightsIsCounted) {
    dev.nodes["/dev/sg1"] = -EACCES;
    EXPECT_EQ(layer.CreateFile("\\\\.\\D:", kGenericReadWrite, kShareReadWrite, kOpenExisting, 0),
              nullptr);
    EXPECT_EQ(layer.GetLastError(), SgioOsLayer::kErrorAccessDenied);
    EXPECT_EQ(layer.PermissionDenials(), 1);
}

TEST_F(SgioLayer, BufferedInquiryBecomesOneSgioRequest) {
    OsHandle h =
        layer.CreateFile("\\\\.\\D:", kGenericReadWrite, kShareReadWrite, kOpenExisting, 0);
    std::vector<std::uint8_t> reply(56, 0);
    reply[36] = 'Q';
    reply[37] = 'Z';
    reply[38] = 'C';
    reply[39] = 'F';
    dev.reply = GoodReply(reply);
    auto work = BufferedRequest(kInquiryCdb, 56, 1, 2);
    ASSERT_TRUE(Send(h, work, 56, 1));
    ASSERT_EQ(dev.seen.size(), 1u);
    const auto& s = dev.seen[0];
    EXPECT_EQ(s.fd, 11);
    EXPECT_EQ(s.cdb, std::vector<std::uint8_t>(kInquiryCdb, kInquiryCdb + 12));
    EXPECT_EQ(s.header.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(s.header.dxfer_len, 56u);
    EXPECT_EQ(s.header.dxferp, work.data() + 48);
    EXPECT_EQ(s.header.timeout, 2000u);
    EXPECT_EQ(work[2], 0);  // ScsiStatus
    EXPECT_EQ(work[48 + 38], 'C');
}

TEST_F(SgioLayer, OneByteReadAsksForTwoBytesAndDataOutCarriesTheBytes) {
    OsHandle h = OpenReader();
    std::uint8_t bankCount[12] = {0xC2};
    dev.reply = GoodReply({3, 0});
    auto work = BufferedRequest(bankCount, 1, 1, 2);
    ASSERT_TRUE(Send(h, work, 1, 1));
    EXPECT_EQ(dev.seen.back().header.dxfer_len, 2u);
    EXPECT_EQ(work[48], 3);

    std::uint8_t write10[12] = {0x2A, 0, 0, 0, 0, 0x3F, 0, 0, 1};
    auto out = BufferedRequest(write10, 512, 0, 2);
    out[48] = 0xEB;
    out[48 + 511] = 0xAA;
    ASSERT_TRUE(Send(h, out, 512, 0));
    const auto& s = dev.seen.back();
    EXPECT_EQ(s.header.dxfer_direction, SG_DXFER_TO_DEV);
    ASSERT_EQ(s.dataOut.size(), 512u);
    EXPECT_EQ(s.dataOut[0], 0xEB);
    EXPECT_EQ(s.dataOut[511], 0xAA);

    std::uint8_t tur[12] = {0x00};
    auto none = BufferedRequest(tur, 0, 0, 1);
    ASSERT_TRUE(Send(h, none, 0, 0));
    EXPECT_EQ(dev.seen.back().header.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(dev.seen.back().header.timeout, 1000u);
}

TEST_F(SgioLayer, UnidentifiedNodeIsSentNothingButInquiry) {
    OsHandle h =
        layer.CreateFile("\\\\.\\C:", kGenericReadWrite, kShareReadWrite, kOpenExisting, 0);
    // A plain disk: INQUIRY without the signature.
    std::vector<std::uint8_t> reply(56, 0);
    std::memcpy(&reply[8], "ATA     SYSTEM DISK", 19);
    dev.reply = GoodReply(reply);
    auto work = BufferedRequest(kInquiryCdb, 56, 1, 2);
    ASSERT_TRUE(Send(h, work, 56, 1));
    for (std::uint8_t op : {0x00, 0x03, 0x25, 0x2A, 0xF2, 0x1B}) {
        std::uint8_t cdb[12] = {op};
        auto cmd = BufferedRequest(cdb, op == 0x25 ? 8 : 0, op == 0x25 ? 1 : 0, 2);
        EXPECT_FALSE(Send(h, cmd, op == 0x25 ? 8 : 0, op == 0x25 ? 1 : 0)) << int(op);
        EXPECT_EQ(layer.GetLastError(), SgioOsLayer::kErrorAccessDenied);
    }
    ASSERT_EQ(dev.seen.size(), 1u);
    EXPECT_EQ(dev.seen[0].cdb[0], 0x12);
    EXPECT_EQ(layer.RefusedCommands(), 6);
}

TEST_F(SgioLayer, UnidentifiedNodeGetsNoInquiryThatCarriesData) {
    OsHandle h =
        layer.CreateFile("\\\\.\\C:", kGenericReadWrite, kShareReadWrite, kOpenExisting, 0);
    // The INQUIRY opcode with a data-out phase would hand 56 bytes to a device that has not
    // said who it is.
    auto work = BufferedRequest(kInquiryCdb, 56, 0, 2);
    work[48] = 0xA5;
    EXPECT_FALSE(Send(h, work, 56, 0));
    EXPECT_EQ(layer.GetLastError(), SgioOsLayer::kErrorAccessDenied);
    EXPECT_TRUE(dev.seen.empty());
    EXPECT_EQ(layer.RefusedCommands(), 1);
    // The plain question still goes out.
    dev.reply = GoodReply();
    auto question = BufferedRequest(kInquiryCdb, 56, 1, 2);
    EXPECT_TRUE(Send(h, question, 56, 1));
    ASSERT_EQ(dev.seen.size(), 1u);
    EXPECT_EQ(dev.seen[0].header.dxfer_direction, SG_DXFER_FROM_DEV);
}

TEST_F(SgioLayer, CommandBlockLongerThanTwelveBytesIsRefused) {
    OsHandle h = OpenReader();
    std::uint8_t read16[12] = {0x88};
    for (std::uint8_t cdbLength : {13, 16}) {
        auto work = BufferedRequest(read16, 512, 1, 2);
        work[6] = cdbLength;
        EXPECT_FALSE(Send(h, work, 512, 1)) << int(cdbLength);
        EXPECT_EQ(layer.GetLastError(), SgioOsLayer::kErrorInvalidParameter);
    }
    EXPECT_TRUE(dev.seen.empty());
    // A shorter block goes out padded with zeros to the 12 bytes the kernel is given.
    std::uint8_t tur[12] = {0x00, 0, 0, 0, 0, 0, 0xEE, 0xEE};
    auto six = BufferedRequest(tur, 0, 0, 1);
    six[6] = 6;
    dev.reply = GoodReply();
    ASSERT_TRUE(Send(h, six, 0, 0));
    ASSERT_EQ(dev.seen.size(), 1u);
    EXPECT_EQ(dev.seen[0].header.cmd_len, 12u);
    EXPECT_EQ(dev.seen[0].cdb, std::vector<std::uint8_t>(12, 0));
}

TEST_F(SgioLayer, SenseCollectedByTheKernelAnswersTheNextRequestSense) {
    OsHandle h = OpenReader();
    std::uint8_t write10[12] = {0x2A};
    dev.reply = CheckConditionReply(7, 0x27);
    auto cmd = BufferedRequest(write10, 512, 0, 2);
    ASSERT_TRUE(Send(h, cmd, 512, 0));  // the call works; the command failed
    EXPECT_EQ(cmd[2], kScsiStatusCheckCondition);

    std::uint8_t requestSense[12] = {0x03, 0, 0, 0, 18};
    auto rs = BufferedRequest(requestSense, 18, 1, 2);
    std::size_t before = dev.seen.size();
    ASSERT_TRUE(Send(h, rs, 18, 1));
    EXPECT_EQ(dev.seen.size(), before);  // answered here, not at the device
    EXPECT_EQ(rs[2], 0);
    EXPECT_EQ(rs[48 + 2], 7);
    EXPECT_EQ(rs[48 + 12], 0x27);

    // Handed over once: the next REQUEST SENSE goes to the reader.
    dev.reply = GoodReply({0x70, 0, 0});
    auto again = BufferedRequest(requestSense, 18, 1, 2);
    ASSERT_TRUE(Send(h, again, 18, 1));
    EXPECT_EQ(dev.seen.size(), before + 1);
    EXPECT_EQ(again[48 + 2], 0);
}

TEST_F(SgioLayer, AnyOtherCommandDropsTheKeptSense) {
    OsHandle h = OpenReader();
    std::uint8_t tur[12] = {0x00};
    dev.reply = CheckConditionReply(6, 0x28);
    auto cmd = BufferedRequest(tur, 0, 0, 1);
    ASSERT_TRUE(Send(h, cmd, 0, 0));
    dev.reply = GoodReply();
    auto cmd2 = BufferedRequest(tur, 0, 0, 1);
    ASSERT_TRUE(Send(h, cmd2, 0, 0));
    std::uint8_t requestSense[12] = {0x03, 0, 0, 0, 18};
    auto rs = BufferedRequest(requestSense, 18, 1, 2);
    std::size_t before = dev.seen.size();
    ASSERT_TRUE(Send(h, rs, 18, 1));
    EXPECT_EQ(dev.seen.size(), before + 1);
    EXPECT_EQ(rs[48 + 2], 0);  // the unit attention is no longer reported
}

TEST_F(SgioLayer, SenseIsKeptPerNode) {
    OsHandle reader = OpenReader();
    OsHandle other =
        layer.CreateFile("\\\\.\\D:", kGenericReadWrite, kShareReadWrite, kOpenExisting, 0);
    std::vector<std::uint8_t> reply(56, 0);
    reply[36] = 'Q';
    reply[37] = 'Z';
    dev.reply = GoodReply(reply);
    auto inq = BufferedRequest(kInquiryCdb, 56, 1, 2);
    ASSERT_TRUE(Send(other, inq, 56, 1));
    std::uint8_t tur[12] = {0x00};
    dev.reply = CheckConditionReply(2, 0x3A);
    auto cmd = BufferedRequest(tur, 0, 0, 1);
    ASSERT_TRUE(Send(reader, cmd, 0, 0));
    dev.reply = GoodReply({0x70});
    std::uint8_t requestSense[12] = {0x03, 0, 0, 0, 18};
    auto rs = BufferedRequest(requestSense, 18, 1, 2);
    std::size_t before = dev.seen.size();
    ASSERT_TRUE(Send(other, rs, 18, 1));
    EXPECT_EQ(dev.seen.size(), before + 1);
    EXPECT_EQ(dev.seen.back().fd, 11);
    EXPECT_EQ(rs[48 + 2], 0);
}

TEST_F(SgioLayer, DirectRequestResolvesTheBufferAddress) {
    OsHandle h = OpenReader();
    std::uint8_t data[56] = {};
    std::uint8_t request[48] = {};
    request[0] = 44;
    request[6] = 12;
    request[8] = 1;
    std::uint32_t n = 56, t = 2;
    std::memcpy(&request[12], &n, 4);
    std::memcpy(&request[16], &t, 4);
    std::uint32_t address = layer.BufferAddress(data);
    std::memcpy(&request[20], &address, 4);
    std::memcpy(&request[28], kInquiryCdb, 12);
    dev.reply = GoodReply({0x00, 0x80});
    std::uint32_t returned = 0;
    ASSERT_TRUE(
        layer.DeviceIoControl(h, kIoctlScsiPassThroughDirect, request, 48, request, 48, &returned));
    EXPECT_EQ(dev.seen.back().header.dxferp, data);
    EXPECT_EQ(data[1], 0x80);

    // An address the layer never handed out (or one long since reused) reaches no device.
    for (int i = 0; i < 20; ++i) layer.BufferAddress(data);
    std::size_t before = dev.seen.size();
    EXPECT_FALSE(
        layer.DeviceIoControl(h, kIoctlScsiPassThroughDirect, request, 48, request, 48, &returned));
    EXPECT_EQ(layer.GetLastError(), SgioOsLayer::kErrorInvalidParameter);
    EXPECT_EQ(dev.seen.size(), before);
}

TEST_F(SgioLayer, MalformedRequestsReachNoDevice) {
    OsHandle h = OpenReader();
    std::uint8_t read10[12] = {0x28};
    auto work = BufferedRequest(read10, 512, 1, 2);
    std::uint32_t returned;
    // Output size too small for the data the request names.
    EXPECT_FALSE(layer.DeviceIoControl(h, kIoctlScsiPassThrough, work.data(), 44, work.data(), 100,
                                       &returned));
    work[0] = 40;  // wrong Length
    EXPECT_FALSE(layer.DeviceIoControl(h, kIoctlScsiPassThrough, work.data(), 44, work.data(), 560,
                                       &returned));
    work[0] = 44;
    EXPECT_FALSE(layer.DeviceIoControl(h, 0x2D1400, work.data(), 44, work.data(), 560, &returned));
    EXPECT_FALSE(layer.DeviceIoControl(reinterpret_cast<OsHandle>(&returned), kIoctlScsiPassThrough,
                                       work.data(), 44, work.data(), 560, &returned));
    EXPECT_EQ(layer.GetLastError(), SgioOsLayer::kErrorInvalidHandle);
    EXPECT_TRUE(dev.seen.empty());
}

TEST_F(SgioLayer, FailuresMapToTheErrorsDiscoveryLooksAt) {
    OsHandle h = OpenReader();
    std::uint8_t tur[12] = {0x00};
    auto cmd = BufferedRequest(tur, 0, 0, 1);
    dev.reply = [](sg_io_hdr_t*) { return -ENODEV; };
    EXPECT_FALSE(Send(h, cmd, 0, 0));
    EXPECT_EQ(layer.GetLastError(), kErrorDevNotExist);
    dev.reply = [](sg_io_hdr_t* hdr) {
        hdr->host_status = kSgHostTimeOut;
        return 0;
    };
    EXPECT_FALSE(Send(h, cmd, 0, 0));
    EXPECT_EQ(layer.GetLastError(), SgioOsLayer::kErrorSemTimeout);
    dev.reply = [](sg_io_hdr_t* hdr) {
        hdr->status = 0x08;
        return 0;
    };
    EXPECT_FALSE(Send(h, cmd, 0, 0));
    EXPECT_EQ(layer.GetLastError(), SgioOsLayer::kErrorIoDevice);
}

TEST_F(SgioLayer, ClosingReleasesTheDescriptor) {
    OsHandle h = OpenReader();
    layer.CloseHandle(h);
    ASSERT_EQ(dev.closed.size(), 1u);
    EXPECT_EQ(dev.closed[0], 10);
    std::uint8_t tur[12] = {0x00};
    auto cmd = BufferedRequest(tur, 0, 0, 1);
    EXPECT_FALSE(Send(h, cmd, 0, 0));  // the handle is stale now
    EXPECT_EQ(layer.GetLastError(), SgioOsLayer::kErrorInvalidHandle);
}

}  // namespace

// ---- Which nodes are walked ----

namespace nodes_test {

void Touch(const std::filesystem::path& p) {
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p.string()).put('\n');
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
