#include "sim/sim_bus.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

#include "sim/sim_device.h"
#include "sim/sim_flash_disk.h"
#include "tests/temp_dir.h"

namespace {

using sim::Direction;
using sim::Outcome;
using sim::SimBus;

const std::uint8_t kInquiry[12] = {0x12, 0, 0, 0, 0x38};
const std::uint8_t kTestUnitReady[12] = {0x00};
const std::uint8_t kEraseBlock3[12] = {0xF2, 0x00, 0x60, 0x00, 0x00, 0x00};

// A reader at adapter 1 target 2 with a CF slot (E:) and a flash disk (F:), and a system disk
// C: at adapter 0 target 0.
class SimBusTest : public ::testing::Test {
  protected:
    SimBusTest() {
        bus.AddForeignDrive('C', 0, 0, "System Disk");
        sim::SimDevice& reader = bus.AddReader(1, 2);
        reader.AddUnit("CF").SetDriveLetter('E');
        sim::SimUnit& disk = reader.AddUnit("DS");
        disk.SetDriveLetter('F');
        disk.FlashDisk()->AddBank(0x73);
    }

    std::array<std::uint8_t, 56> Inquiry(std::uint8_t adapter, std::uint8_t target,
                                         std::uint8_t lun, Outcome* outcome) {
        std::array<std::uint8_t, 56> reply{};
        *outcome = bus.ExecuteAspi(adapter, target, lun, kInquiry, Direction::In, reply.data(), 56);
        return reply;
    }

    SimBus bus;
};

TEST_F(SimBusTest, InquiryCarriesTheSignatureAndMediumCodeOnlyOnReaderUnits) {
    Outcome outcome;
    auto reply = Inquiry(1, 2, 0, &outcome);
    ASSERT_EQ(Outcome::Good, outcome);
    EXPECT_EQ(0x00, reply[0] & 0x1F);  // direct-access
    EXPECT_EQ(0x80, reply[1]);         // removable
    EXPECT_EQ(0, std::memcmp(&reply[36], "QZCF", 4));
    reply = Inquiry(1, 2, 1, &outcome);
    ASSERT_EQ(Outcome::Good, outcome);
    EXPECT_EQ(0, std::memcmp(&reply[36], "QZDS", 4));

    reply = Inquiry(0, 0, 0, &outcome);
    ASSERT_EQ(Outcome::Good, outcome);
    EXPECT_NE(0, std::memcmp(&reply[36], "QZ", 2));
    EXPECT_NE(std::string::npos,
              std::string(reply.begin() + 16, reply.begin() + 32).find("System Disk"));
}

TEST_F(SimBusTest, InquiryHonoursTheAllocationLengthAndLeavesConditionsPending) {
    bus.FlashDisk()->RaiseUnitAttention();
    bus.FlashDisk()->SetNotReady(true);
    std::array<std::uint8_t, 56> reply;
    reply.fill(0xEE);
    const std::uint8_t shortInquiry[12] = {0x12, 0, 0, 0, 36};
    ASSERT_EQ(Outcome::Good,
              bus.ExecuteAspi(1, 2, 1, shortInquiry, Direction::In, reply.data(), 56));
    EXPECT_EQ(0x80, reply[1]);
    EXPECT_EQ(0xEE, reply[36]);  // only the 36 bytes asked for
    // The unit attention is still there for the next command, then the not-ready state.
    EXPECT_EQ(Outcome::CheckCondition,
              bus.ExecuteAspi(1, 2, 1, kTestUnitReady, Direction::None, nullptr, 0));
    EXPECT_EQ(6, bus.PendingSense(1, 2, 1)[2]);
    EXPECT_EQ(Outcome::CheckCondition,
              bus.ExecuteAspi(1, 2, 1, kTestUnitReady, Direction::None, nullptr, 0));
    EXPECT_EQ(2, bus.PendingSense(1, 2, 1)[2]);
}

TEST_F(SimBusTest, ForeignDrivesRefuseVendorCommandsAndCountThem) {
    std::uint8_t buffer[528];
    const std::uint8_t readPage[12] = {0xE8, 32, 0, 0, 0, 1};
    EXPECT_EQ(Outcome::CheckCondition, bus.ExecuteDrive('C', readPage, Direction::In, buffer, 528));
    EXPECT_EQ(5, bus.PendingSense(0, 0, 0)[2]);
    EXPECT_EQ(0x20, bus.PendingSense(0, 0, 0)[12]);
    EXPECT_EQ(1u, bus.UnitOfDrive('C')->NonInquiryCommands());
    EXPECT_EQ(0u, bus.ReaderCommandCount());
}

TEST_F(SimBusTest, OnlyTheDevicesAddressesAnswer) {
    Outcome outcome;
    Inquiry(1, 3, 0, &outcome);
    EXPECT_EQ(Outcome::NoDevice, outcome);
    Inquiry(2, 2, 0, &outcome);
    EXPECT_EQ(Outcome::NoDevice, outcome);
    Inquiry(1, 2, 2, &outcome);  // a LUN past the reader's units
    EXPECT_EQ(Outcome::NoDevice, outcome);
    EXPECT_EQ(2, bus.HostAdapterCount());
    EXPECT_EQ(0x0102u, bus.AspiSupportInfo());

    EXPECT_TRUE(bus.HasDrive('C'));
    EXPECT_TRUE(bus.HasDrive('F'));
    EXPECT_FALSE(bus.HasDrive('D'));
    EXPECT_EQ(Outcome::NoDevice,
              bus.ExecuteDrive('D', kTestUnitReady, Direction::None, nullptr, 0));
}

TEST_F(SimBusTest, BothAddressingsReachTheSameDisk) {
    ASSERT_EQ(Outcome::Good, bus.ExecuteDrive('F', kEraseBlock3, Direction::None, nullptr, 0));
    const std::uint8_t mark[12] = {0xF1, 32, 0x60};
    ASSERT_EQ(Outcome::Good, bus.ExecuteAspi(1, 2, 1, mark, Direction::None, nullptr, 0));
    EXPECT_TRUE(bus.FlashDisk()->IsMarkedBad(0, 3));
    EXPECT_EQ(1u, bus.FlashDiskCount());
    EXPECT_EQ(nullptr, bus.FlashDisk(1));
    EXPECT_EQ(bus.UnitAt(1, 2, 1), bus.UnitOfDrive('F'));
    EXPECT_EQ(bus.UnitAt(1, 2, 1)->FlashDisk(), bus.FlashDisk());
}

TEST_F(SimBusTest, TraceRecordsEveryCommandAFaceDelivered) {
    std::uint8_t data[56];
    bus.ExecuteDrive('C', kInquiry, Direction::In, data, 56);
    bus.ExecuteDrive('C', kTestUnitReady, Direction::None, nullptr, 0);
    bus.ExecuteAspi(1, 2, 1, kEraseBlock3, Direction::None, nullptr, 0);
    const std::uint8_t bad[12] = {0xF2, 0, 0x61};
    bus.ExecuteAspi(1, 2, 1, bad, Direction::None, nullptr, 0);
    bus.ExecuteAspi(5, 5, 0, kInquiry, Direction::In, data, 56);  // nobody there: not received

    const auto& trace = bus.Trace();
    ASSERT_EQ(4u, trace.size());
    EXPECT_EQ("foreign C", trace[0].device);
    EXPECT_EQ(0x12, trace[0].cdb[0]);
    EXPECT_EQ(Direction::In, trace[0].direction);
    EXPECT_EQ(56u, trace[0].length);
    EXPECT_EQ(0x00, trace[1].cdb[0]);
    EXPECT_EQ("reader 0 lun 1", trace[2].device);
    EXPECT_EQ(0, std::memcmp(kEraseBlock3, trace[2].cdb, 12));
    EXPECT_EQ(Outcome::Good, trace[2].outcome);
    EXPECT_EQ(Outcome::CheckCondition, trace[3].outcome);
    // What the foreign drive got besides INQUIRY is counted on its unit too.
    EXPECT_EQ(1u, bus.UnitOfDrive('C')->NonInquiryCommands());

    TempDir dir;
    const std::string path = dir.Path() + "/trace.txt";
    ASSERT_TRUE(bus.WriteTrace(path));
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("reader 0 lun 1: F2 00 60 00 00 00 00 00 00 00 00 00 none 0 good", lines[2]);
    EXPECT_EQ("foreign C: 12 00 00 00 38 00 00 00 00 00 00 00 in 56 good", lines[0]);
    EXPECT_NE(std::string::npos, lines[3].find("check-condition"));

    bus.ClearTrace();
    EXPECT_TRUE(bus.Trace().empty());
    bus.SetTraceEnabled(false);
    bus.ExecuteAspi(1, 2, 1, kTestUnitReady, Direction::None, nullptr, 0);
    EXPECT_TRUE(bus.Trace().empty());
}

TEST_F(SimBusTest, PendingSenseIsVisibleByAddress) {
    const std::uint8_t unknown[12] = {0xD5};
    ASSERT_EQ(Outcome::CheckCondition,
              bus.ExecuteAspi(1, 2, 1, unknown, Direction::None, nullptr, 0));
    const auto sense = bus.PendingSense(1, 2, 1);
    ASSERT_EQ(18u, sense.size());
    EXPECT_EQ(5, sense[2]);
    EXPECT_EQ(0x20, sense[12]);
    // The empty CF slot is not ready.
    ASSERT_EQ(Outcome::CheckCondition,
              bus.ExecuteAspi(1, 2, 0, kTestUnitReady, Direction::None, nullptr, 0));
    EXPECT_EQ(2, bus.PendingSense(1, 2, 0)[2]);
    EXPECT_EQ(0x3A, bus.PendingSense(1, 2, 0)[12]);
    bus.UnitOfDrive('E')->SetCardPresent(true);
    EXPECT_EQ(Outcome::Good, bus.ExecuteDrive('E', kTestUnitReady, Direction::None, nullptr, 0));
}

TEST_F(SimBusTest, UnplugTakesTheReaderAwayUntilReplugged) {
    bus.Unplug();
    Outcome outcome;
    Inquiry(1, 2, 1, &outcome);
    EXPECT_EQ(Outcome::NoDevice, outcome);
    EXPECT_FALSE(bus.HasDrive('F'));
    EXPECT_FALSE(bus.HasDrive('E'));
    EXPECT_TRUE(bus.HasDrive('C'));  // the system disk stays
    EXPECT_EQ(Outcome::NoDevice, bus.ExecuteDrive('F', kEraseBlock3, Direction::None, nullptr, 0));
    EXPECT_EQ(Outcome::Good, bus.ExecuteDrive('C', kInquiry, Direction::In,
                                              std::array<std::uint8_t, 56>().data(), 56));

    // Back after the re-plug, with a unit attention (the medium may have changed).
    bus.Replug();
    EXPECT_EQ(Outcome::CheckCondition,
              bus.ExecuteDrive('F', kTestUnitReady, Direction::None, nullptr, 0));
    EXPECT_EQ(6, bus.PendingSense(1, 2, 1)[2]);

    // A stopped disk comes back up after a re-plug too.
    const std::uint8_t stop[12] = {0x1B};
    ASSERT_EQ(Outcome::Good, bus.ExecuteDrive('F', stop, Direction::None, nullptr, 0));
    EXPECT_EQ(Outcome::CheckCondition,
              bus.ExecuteDrive('F', kTestUnitReady, Direction::None, nullptr, 0));
    bus.Unplug();
    bus.Replug();
    EXPECT_TRUE(bus.Plugged());
    EXPECT_EQ(Outcome::CheckCondition,
              bus.ExecuteDrive('F', kTestUnitReady, Direction::None, nullptr, 0));
    EXPECT_EQ(6, bus.PendingSense(1, 2, 1)[2]);
    EXPECT_EQ(Outcome::Good, bus.ExecuteDrive('F', kTestUnitReady, Direction::None, nullptr, 0));
}

TEST_F(SimBusTest, UnplugAfterCountsOnlyReaderCommands) {
    bus.UnplugAfterCommands(2);
    std::uint8_t data[56];
    EXPECT_EQ(Outcome::Good, bus.ExecuteAspi(0, 0, 0, kInquiry, Direction::In, data, 56));
    EXPECT_EQ(Outcome::Good, bus.ExecuteAspi(1, 2, 1, kTestUnitReady, Direction::None, nullptr, 0));
    EXPECT_EQ(Outcome::Good, bus.ExecuteAspi(1, 2, 1, kEraseBlock3, Direction::None, nullptr, 0));
    EXPECT_FALSE(bus.Plugged());
    EXPECT_EQ(Outcome::NoDevice,
              bus.ExecuteAspi(1, 2, 1, kTestUnitReady, Direction::None, nullptr, 0));
    EXPECT_EQ(2u, bus.ReaderCommandCount());
}

TEST_F(SimBusTest, HungCommandHasNoEffectAndLaterCommandsComplete) {
    bus.HangOnCommand(2);
    EXPECT_EQ(Outcome::Good, bus.ExecuteAspi(1, 2, 1, kTestUnitReady, Direction::None, nullptr, 0));
    const std::uint8_t mark[12] = {0xF1, 32, 0x60};
    EXPECT_EQ(Outcome::Hung, bus.ExecuteAspi(1, 2, 1, mark, Direction::None, nullptr, 0));
    EXPECT_FALSE(bus.FlashDisk()->IsMarkedBad(0, 3));
    EXPECT_EQ(Outcome::Good, bus.ExecuteAspi(1, 2, 1, mark, Direction::None, nullptr, 0));
    EXPECT_TRUE(bus.FlashDisk()->IsMarkedBad(0, 3));
    EXPECT_EQ(Outcome::Hung, bus.Trace()[1].outcome);
}

TEST_F(SimBusTest, LatencyDelaysEveryReaderCommand) {
    bus.SetLatencyMicroseconds(20000);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Outcome::Good, bus.ExecuteAspi(1, 2, 1, kTestUnitReady, Direction::None, nullptr, 0));
    ASSERT_EQ(Outcome::Good, bus.ExecuteAspi(1, 2, 1, kTestUnitReady, Direction::None, nullptr, 0));
    // A lower bound only: the pause is the point, not how fast the host is.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
}

TEST_F(SimBusTest, AspiLibraryAndPassThroughSettings) {
    EXPECT_TRUE(bus.AspiLibrary().present);
    bus.MutableAspiLibrary().supportInfoOverridden = true;
    bus.MutableAspiLibrary().supportInfo = 0x0203;
    EXPECT_EQ(0x0203u, bus.AspiSupportInfo());
    bus.SetHostAdapterCount(4);
    EXPECT_EQ(4, bus.HostAdapterCount());
    EXPECT_TRUE(bus.DirectPassThroughSupported());
    bus.SetDirectPassThroughSupported(false);
    EXPECT_FALSE(bus.DirectPassThroughSupported());
}

}  // namespace
