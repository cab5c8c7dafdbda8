// The simulated stick's Bulk-Only Transport (sim/usb/bulk_only.h): command block wrappers, and
// what the stick does on its pipes when the host's idea of the data phase and its own differ,
// against a simulated flash disk.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "reader/byte_order.h"
#include "sim/sim_bus.h"
#include "sim/sim_device.h"
#include "sim/sim_flash_disk.h"
#include "sim/usb/bulk_only.h"

namespace {

using sim::usb::CbwVerdict;
using sim::usb::CommandBlockWrapper;
using sim::usb::CswStatus;
using sim::usb::Exchange;

std::vector<std::uint8_t> Wrapper(std::uint32_t tag, std::uint32_t length, bool in,
                                  std::vector<std::uint8_t> block, std::uint8_t lun = 0) {
    std::vector<std::uint8_t> bytes(sim::usb::kCbwBytes, 0);
    PutLe32(&bytes[0], 0x43425355);
    PutLe32(&bytes[4], tag);
    PutLe32(&bytes[8], length);
    bytes[12] = in ? 0x80 : 0x00;
    bytes[13] = lun;
    bytes[14] = static_cast<std::uint8_t>(block.size());
    if (!block.empty()) std::memcpy(&bytes[15], block.data(), block.size());
    return bytes;
}

TEST(UsbCommandWrapper, AValidWrapperIsDecoded) {
    CommandBlockWrapper cbw;
    const auto bytes = Wrapper(0x1234, 36, true, {0x12, 0, 0, 0, 36, 0});
    ASSERT_EQ(sim::usb::DecodeCbw(bytes.data(), bytes.size(), 1, &cbw), CbwVerdict::Good);
    EXPECT_EQ(cbw.tag, 0x1234u);
    EXPECT_EQ(cbw.dataLength, 36u);
    EXPECT_TRUE(cbw.dataIn);
    EXPECT_EQ(cbw.blockLength, 6);
    EXPECT_EQ(cbw.block[4], 36);
}

TEST(UsbCommandWrapper, WrappersThatAreNotValidOrNotMeaningfulAreTold) {
    CommandBlockWrapper cbw;
    auto bytes = Wrapper(1, 0, false, {0});
    EXPECT_EQ(sim::usb::DecodeCbw(bytes.data(), 30, 1, &cbw), CbwVerdict::NotValid);
    bytes.push_back(0);
    EXPECT_EQ(sim::usb::DecodeCbw(bytes.data(), 32, 1, &cbw), CbwVerdict::NotValid);
    bytes = Wrapper(1, 0, false, {0});
    bytes[3] = 0x44;  // "USBD"
    EXPECT_EQ(sim::usb::DecodeCbw(bytes.data(), bytes.size(), 1, &cbw), CbwVerdict::NotValid);

    bytes = Wrapper(1, 0, false, {0});
    bytes[12] = 0x01;  // a reserved flag
    EXPECT_EQ(sim::usb::DecodeCbw(bytes.data(), bytes.size(), 1, &cbw), CbwVerdict::NotMeaningful);
    bytes = Wrapper(1, 0, false, {0}, 1);  // LUN 1 of a stick with one unit
    EXPECT_EQ(sim::usb::DecodeCbw(bytes.data(), bytes.size(), 1, &cbw), CbwVerdict::NotMeaningful);
    EXPECT_EQ(sim::usb::DecodeCbw(bytes.data(), bytes.size(), 2, &cbw), CbwVerdict::Good);
    bytes = Wrapper(1, 0, false, {});  // no command block
    EXPECT_EQ(sim::usb::DecodeCbw(bytes.data(), bytes.size(), 1, &cbw), CbwVerdict::NotMeaningful);
    bytes = Wrapper(1, 0, false, {0});
    bytes[14] = 17;
    EXPECT_EQ(sim::usb::DecodeCbw(bytes.data(), bytes.size(), 1, &cbw), CbwVerdict::NotMeaningful);
}

TEST(UsbCommandWrapper, TheStatusWrapperCarriesTagResidueAndStatus) {
    const auto csw = sim::usb::EncodeCsw(0xA1B2C3D4, 188, CswStatus::PhaseError);
    const std::uint8_t expected[] = {0x55, 0x53, 0x42, 0x53, 0xD4, 0xC3, 0xB2,
                                     0xA1, 188,  0,    0,    0,    2};
    EXPECT_EQ(std::vector<std::uint8_t>(csw.begin(), csw.end()),
              std::vector<std::uint8_t>(expected, expected + sizeof expected));
}

// The host's end of the pipes: what the stick sent and halted, and the data the host has to give.
class HostPipes final : public sim::usb::BulkPipes {
  public:
    long Receive(std::uint8_t* buffer, std::uint32_t length) override {
        if (toDevice.empty()) return -1;
        std::vector<std::uint8_t> chunk = toDevice.front();
        toDevice.pop_front();
        const std::uint32_t n = std::min<std::uint32_t>(length, chunk.size());
        std::memcpy(buffer, chunk.data(), n);
        events.push_back("received " + std::to_string(n));
        return n;
    }
    bool Send(const std::uint8_t* data, std::uint32_t length) override {
        if (length == sim::usb::kCswBytes && GetLe32(data) == 0x53425355) {
            csw.assign(data, data + length);
            events.push_back("csw");
        } else {
            sent.insert(sent.end(), data, data + length);
            events.push_back("sent " + std::to_string(length));
        }
        return true;
    }
    void HaltIn() override { events.push_back("halt in"); }
    void HaltOut() override { events.push_back("halt out"); }

    std::deque<std::vector<std::uint8_t>> toDevice;
    std::vector<std::string> events;
    std::vector<std::uint8_t> sent;
    std::vector<std::uint8_t> csw;

    std::uint32_t Residue() const { return csw.size() == 13 ? GetLe32(&csw[8]) : 0xFFFFFFFF; }
    int Status() const { return csw.size() == 13 ? csw[12] : -1; }
};

class UsbTransport : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        bus_ = sim::SimBus::Parse(
            "reader\n unit DS\n  banks 73\n  cis\n  logical sectors=64\n  write-protected\n",
            &error);
        ASSERT_TRUE(bus_) << error;
        bus_->SetTraceEnabled(true);
    }

    // One command from its wrapper to its status, the host expecting `length` bytes in or out.
    Exchange Serve(std::vector<std::uint8_t> block, std::uint32_t length, bool in) {
        const auto bytes = Wrapper(7, length, in, std::move(block));
        CommandBlockWrapper cbw;
        EXPECT_EQ(sim::usb::DecodeCbw(bytes.data(), bytes.size(), 1, &cbw), CbwVerdict::Good);
        sim::SimDevice& device = *bus_->Reader(0);
        const sim::usb::RunCommand run = [&](std::uint8_t lun, const std::uint8_t* cdb,
                                             sim::Direction direction, std::uint8_t* buffer,
                                             std::uint32_t n) {
            return bus_->ExecuteUnit(device, lun, cdb, direction, buffer, n);
        };
        return sim::usb::ServeCommand(cbw, pipes_, run, &scratch_);
    }

    sim::SimFlashDisk& Disk() { return *bus_->FlashDisk(0); }
    std::vector<std::string> Sequence() const { return pipes_.events; }

    std::unique_ptr<sim::SimBus> bus_;
    HostPipes pipes_;
    std::vector<std::uint8_t> scratch_;
};

using Events = std::vector<std::string>;

TEST_F(UsbTransport, AnInquiryAsLongAsTheHostAsksForGoesThroughWhole) {
    const Exchange exchange = Serve({0x12, 0, 0, 0, 56, 0}, 56, true);
    EXPECT_TRUE(exchange.completed);
    EXPECT_EQ(Sequence(), (Events{"sent 56", "csw"}));
    EXPECT_EQ(pipes_.Status(), 0);
    EXPECT_EQ(pipes_.Residue(), 0u);
    ASSERT_EQ(pipes_.sent.size(), 56u);
    EXPECT_EQ(std::string(pipes_.sent.begin() + 36, pipes_.sent.begin() + 40), "QZDS");
}

TEST_F(UsbTransport, AHostThatAllowsMoreThanTheReplyGetsTheReplyAHaltAndTheResidue) {
    Serve({0x12, 0, 0, 0, 96, 0}, 96, true);
    EXPECT_EQ(Sequence(), (Events{"sent 56", "halt in", "csw"}));
    EXPECT_EQ(pipes_.Status(), 0);
    EXPECT_EQ(pipes_.Residue(), 40u);
}

TEST_F(UsbTransport, AHostThatAllowsLessThanTheDeviceMeansToSendGetsAPhaseError) {
    const Exchange exchange = Serve({0x12, 0, 0, 0, 56, 0}, 36, true);
    EXPECT_EQ(Sequence(), (Events{"sent 36", "csw"}));
    EXPECT_EQ(pipes_.Status(), 2);
    EXPECT_NE(exchange.anomaly.find("phase error"), std::string::npos);
}

TEST_F(UsbTransport, ADataPhaseInTheWrongDirectionOrNoneIsAPhaseError) {
    Serve({0x12, 0, 0, 0, 36, 0}, 0, false);
    EXPECT_EQ(Sequence(), (Events{"csw"}));
    EXPECT_EQ(pipes_.Status(), 2);
    pipes_.events.clear();
    Serve({0x12, 0, 0, 0, 36, 0}, 36, false);
    EXPECT_EQ(Sequence(), (Events{"halt out", "csw"}));
    EXPECT_EQ(pipes_.Status(), 2);
    EXPECT_EQ(pipes_.Residue(), 36u);
}

TEST_F(UsbTransport, ModeSenseOfAllPagesIsAHeaderWithTheWriteProtectSwitch) {
    Serve({0x1A, 0, 0x3F, 0, 192, 0}, 192, true);
    EXPECT_EQ(Sequence(), (Events{"sent 4", "halt in", "csw"}));
    EXPECT_EQ(pipes_.Residue(), 188u);
    EXPECT_EQ(pipes_.sent, (std::vector<std::uint8_t>{3, 0, 0x80, 0}));
    Disk().SetWriteProtected(false);
    pipes_.sent.clear();
    Serve({0x1A, 0, 0x3F, 0, 192, 0}, 192, true);
    EXPECT_EQ(pipes_.sent, (std::vector<std::uint8_t>{3, 0, 0x00, 0}));
}

TEST_F(UsbTransport, ACommandTheDeviceRefusesSendsNoDataAndFails) {
    // READ(10) of one sector with room for two: the disk refuses the field, the host gets a halt,
    // a failed status and every byte back as residue; the sense says why.
    Serve({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 1024, true);
    EXPECT_EQ(Sequence(), (Events{"halt in", "csw"}));
    EXPECT_EQ(pipes_.Status(), 1);
    EXPECT_EQ(pipes_.Residue(), 1024u);
    pipes_.sent.clear();
    Serve({0x03, 0, 0, 0, 18, 0}, 18, true);
    ASSERT_EQ(pipes_.sent.size(), 18u);
    EXPECT_EQ(pipes_.sent[2], 0x05);
    EXPECT_EQ(pipes_.sent[12], 0x24);
}

TEST_F(UsbTransport, ACommandWithoutDataWhereTheHostExpectsSomeIsRefusedAndThePipeHalted) {
    // The controller checks the data phase against the command: TEST UNIT READY with eight
    // bytes to read is an invalid field, and no data comes.
    Serve({0x00, 0, 0, 0, 0, 0}, 8, true);
    EXPECT_EQ(Sequence(), (Events{"halt in", "csw"}));
    EXPECT_EQ(pipes_.Status(), 1);
    EXPECT_EQ(pipes_.Residue(), 8u);
}

TEST_F(UsbTransport, DataOutIsTakenInWholeBeforeTheCommandRuns) {
    Disk().SetWriteProtected(false);
    std::vector<std::uint8_t> sector(512, 0x5A);
    pipes_.toDevice = {sector};
    Serve({0x2A, 0, 0, 0, 0, 3, 0, 0, 1, 0}, 512, false);
    EXPECT_EQ(Sequence(), (Events{"received 512", "csw"}));
    EXPECT_EQ(pipes_.Status(), 0);
    std::uint8_t stored[512];
    ASSERT_TRUE(Disk().ReadSector(3, stored));
    EXPECT_EQ(std::vector<std::uint8_t>(stored, stored + 512), sector);
}

TEST_F(UsbTransport, AWriteRefusedByTheDeviceTookTheDataAndProcessedNone) {
    pipes_.toDevice = {std::vector<std::uint8_t>(512, 0x5A)};
    Serve({0x2A, 0, 0, 0, 0, 3, 0, 0, 1, 0}, 512, false);  // write-protected
    EXPECT_EQ(Sequence(), (Events{"received 512", "csw"}));
    EXPECT_EQ(pipes_.Status(), 1);
    EXPECT_EQ(pipes_.Residue(), 512u);
}

TEST_F(UsbTransport, AHostThatSendsLessThanItSaidGetsAPhaseErrorAndNothingIsWritten) {
    Disk().SetWriteProtected(false);
    pipes_.toDevice = {std::vector<std::uint8_t>(100, 0x5A)};
    Serve({0x2A, 0, 0, 0, 0, 3, 0, 0, 1, 0}, 512, false);
    EXPECT_EQ(pipes_.Status(), 2);
    EXPECT_EQ(pipes_.Residue(), 412u);
    EXPECT_EQ(Disk().CommandCount(0x2A), 0u);
}

TEST_F(UsbTransport, MoreDataThanAStickMovesIsRefusedWithoutATransfer) {
    Serve({0x28, 0, 0, 0, 0, 0, 0, 0x10, 0, 0}, sim::usb::kMaxDataBytes * 2, true);
    EXPECT_EQ(Sequence(), (Events{"halt in", "csw"}));
    EXPECT_EQ(pipes_.Status(), 1);
}

TEST_F(UsbTransport, AHungCommandGetsNoStatus) {
    bus_->HangOnCommand(1);
    const Exchange exchange = Serve({0x00, 0, 0, 0, 0, 0}, 0, false);
    EXPECT_FALSE(exchange.completed);
    EXPECT_EQ(exchange.outcome, sim::Outcome::Hung);
    EXPECT_TRUE(Sequence().empty());
}

TEST_F(UsbTransport, TheTraceShowsTheCommandAsTheDeviceRanIt) {
    Serve({0x12, 0, 0, 0, 36, 0}, 36, true);  // a six-byte block, as the kernel sends it
    ASSERT_EQ(bus_->Trace().size(), 1u);
    EXPECT_EQ(sim::SimBus::FormatTraceEntry(bus_->Trace()[0]),
              "reader 0 lun 0: 12 00 00 00 24 00 00 00 00 00 00 00 in 36 good");
}

}  // namespace
