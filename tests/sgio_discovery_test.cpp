// The transport, discovery and commands running over the SG_IO port, with the simulated
// machine standing in for the kernel's SCSI nodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "format/block_probes.h"
#include "format/physical_format.h"
#include "reader/linux/sgio_nodes.h"
#include "reader/linux/sgio_port.h"
#include "reader/port_subset.h"
#include "reader/reader.h"
#include "reader/reader_unit.h"
#include "reader/sense.h"
#include "reader/units.h"
#include "sim/sim_bus.h"
#include "sim/sim_device.h"
#include "sim/sim_flash_disk.h"
#include "tests/fake_run.h"
#include "tests/sim_kernel.h"
#include "tests/temp_dir.h"

namespace {

class SgioStack : public ::testing::Test {
  protected:
    // Builds the machine and opens the transport over its nodes; returns the units found.
    std::vector<MediaType> Start(const std::string& description) {
        std::string error;
        bus_ = sim::SimBus::Parse(description, &error);
        EXPECT_TRUE(bus_) << error;
        if (!bus_) return {};
        bus_->SetTraceEnabled(true);
        kernel_ = std::make_unique<SimKernel>(*bus_);
        port_ = std::make_unique<SgioPort>(*kernel_, kernel_->Nodes());
        reader_ = std::make_unique<Reader>(*port_);
        EXPECT_EQ(reader_->OpenTransport(), 1);
        EXPECT_EQ(reader_->Port()->Shape(), PortShape::Drives);  // no ASPI on Linux
        std::uint8_t count = 0;
        MediaType keys[3] = {kMediaNone, kMediaNone, kMediaNone};
        reader_->DiscoverUnits(&count, keys);
        return std::vector<MediaType>(keys, keys + count);
    }
    std::string NodeOfUnit(std::size_t i) {
        return port_->PlaceName(reader_->Units().entries[i].place);
    }
    // The opcodes of every command that reached `device` ("foreign C", "reader 0 lun 0").
    std::vector<std::uint8_t> OpcodesTo(const std::string& device) {
        std::vector<std::uint8_t> ops;
        for (const auto& entry : bus_->Trace()) {
            if (entry.device == device) ops.push_back(entry.cdb[0]);
        }
        return ops;
    }

    std::unique_ptr<sim::SimBus> bus_;
    std::unique_ptr<SimKernel> kernel_;
    std::unique_ptr<SgioPort> port_;
    // A port over some of port_'s nodes, for the reader of one test.
    std::unique_ptr<PlaceSubsetPort> subset_;
    std::unique_ptr<Reader> reader_;  // after the ports it runs over: it goes first
};

TEST_F(SgioStack, SameKeysAsTheDriveWalk) {
    auto keys = Start(
        "foreign drive=C adapter=0 target=0 name=\"System Disk\"\n"
        "reader adapter=0 target=1\n"
        "unit CF drive=E\n"
        "unit SM drive=F\n"
        "unit DS drive=G\n"
        "banks 73\n");
    ASSERT_EQ(keys, (std::vector<MediaType>{1, 2, 10}));  // the flash disk after two slots
    EXPECT_EQ(NodeOfUnit(0), "/dev/sg1");
    EXPECT_EQ(NodeOfUnit(2), "/dev/sg3");
    // The system disk heard one INQUIRY and nothing else.
    EXPECT_EQ(OpcodesTo("foreign C"), std::vector<std::uint8_t>{0x12});
}

TEST_F(SgioStack, CommandsReachTheDiskThroughSgio) {
    auto keys = Start(
        "reader adapter=0 target=0\n"
        "unit DS drive=E\n"
        "banks 73\n"
        "cis page=0\n");
    ASSERT_EQ(keys, std::vector<MediaType>{8});
    std::uint8_t banks[2] = {};
    ASSERT_TRUE(
        ReaderUnit(*reader_, 8).GetBankCount(banks).Good());  // a one-byte read, asked for as two
    EXPECT_EQ(banks[0], 1);
    std::uint8_t capacity[8] = {};
    ASSERT_TRUE(ReaderUnit(*reader_, 8).ReadCapacity(capacity).Good());
    EXPECT_EQ(BigEndian32(capacity) + 1, bus_->FlashDisk(0)->SectorCount());
    std::uint8_t page[528] = {};
    ASSERT_TRUE(ReaderUnit(*reader_, 8).ReadPageWithSpare(0, 32, page).Good());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(page), 4), "USBC");
    EXPECT_FALSE(ReaderUnit(*reader_, 99)
                     .TestUnitReady()
                     .Good());  // a key that is not in the table reaches nothing
}

// The kernel takes the sense data off the reader as soon as a command fails; the program's
// own REQUEST SENSE must still learn why.
TEST_F(SgioStack, SenseSurvivesTheKernelsAutomaticRequestSense) {
    auto keys = Start(
        "reader adapter=0 target=0\n"
        "unit DS drive=E\n"
        "banks 73\n"
        "cis page=0\n"
        "write-protected\n");
    ASSERT_EQ(keys, std::vector<MediaType>{8});
    ReaderUnit stick(*reader_, kMediaUsbDisk);
    EXPECT_TRUE(IsWriteProtected(stick));

    bus_->FlashDisk(0)->RaiseUnitAttention();
    EXPECT_FALSE(ReaderUnit(*reader_, 8).TestUnitReady().Good());
    EXPECT_EQ(ReaderUnit(*reader_, 8).GetSenseStatus(), SenseUnitAttention);
    EXPECT_TRUE(ReaderUnit(*reader_, 8).TestUnitReady().Good());

    bus_->FlashDisk(0)->SetNotReady(true);
    EXPECT_FALSE(ReaderUnit(*reader_, 8).TestUnitReady().Good());
    EXPECT_EQ(ReaderUnit(*reader_, 8).GetSenseStatus(), SenseNotReady);
    EXPECT_EQ(ReaderUnit(*reader_, 8).GetSenseStatus(),
              SenseNotReady);  // asked again: the reader's own answer
}

TEST_F(SgioStack, PulledReaderIsNoticedAndRescanned) {
    auto keys = Start(
        "reader adapter=0 target=0\n"
        "unit DS drive=E\n"
        "banks 73\n");
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(reader_->UnitsStillPresent(), 1);
    bus_->FlashDisk(0)->SetNotReady(true);
    EXPECT_EQ(reader_->UnitsStillPresent(), 1);  // not ready is not gone
    bus_->Unplug();
    EXPECT_EQ(reader_->UnitsStillPresent(), 0);
    std::uint8_t count = 9;
    MediaType again[3];
    reader_->DiscoverUnits(&count, again);
    EXPECT_EQ(count, 0);
}

// A shop's hub: more sticks than Windows has drive letters, each on its own node. Every node is
// discovered on its own (as the command line does), and the 30th stick is formatted through
// SG_IO while the others hear nothing but the look at who they are.
TEST_F(SgioStack, ThirtyTwoNodesAreAllReachedAndTheThirtiethIsFormatted) {
    std::string description;
    for (int stick = 1; stick <= 32; ++stick) {
        description +=
            "reader\nunit DS node=s" + std::to_string(stick) + "\nbanks 6E\ncis page=0\n";
    }
    std::string error;
    bus_ = sim::SimBus::Parse(description, &error);
    ASSERT_TRUE(bus_) << error;
    bus_->SetTraceEnabled(true);
    kernel_ = std::make_unique<SimKernel>(*bus_);
    port_ = std::make_unique<SgioPort>(*kernel_, kernel_->Nodes());
    ASSERT_EQ(port_->PlaceCount(), 32u);

    std::vector<std::uint32_t> disks;
    for (std::uint32_t place = 0; place < port_->PlaceCount(); ++place) {
        PlaceSubsetPort one(*port_, {place});
        Reader reader(one);
        ASSERT_EQ(reader.OpenTransport(), 1);
        std::uint8_t count = 0;
        MediaType keys[3];
        reader.DiscoverUnits(&count, keys);
        if (count == 1 && keys[0] == kMediaUsbDisk) disks.push_back(place);
    }
    EXPECT_EQ(disks.size(), 32u);

    bus_->ClearTrace();
    subset_ = std::make_unique<PlaceSubsetPort>(*port_, std::vector<std::uint32_t>{29});
    reader_ = std::make_unique<Reader>(*subset_);
    ASSERT_EQ(reader_->OpenTransport(), 1);
    std::uint8_t count = 0;
    MediaType keys[3];
    reader_->DiscoverUnits(&count, keys);
    ASSERT_EQ(count, 1);
    FakeRun run;
    EXPECT_EQ(RunPhysicalFormat(run, *reader_, kMediaUsbDisk, FormatMode::Quick),
              FormatResult::CompleteReplug)
        << run.runMessage;
    sim::SimFlashDisk* disk = bus_->Reader(bus_->ReaderNamed("s30"))->Unit(0)->FlashDisk();
    EXPECT_EQ(disk->SectorCount(), disk->CisSectorTotal());
    EXPECT_GT(disk->SectorCount(), 0u);
    for (const auto& entry : bus_->Trace()) {
        ASSERT_EQ(entry.device, bus_->Trace().front().device);  // one stick only
    }
}

// ---- Mounted file systems on a node's disk ----

TEST(SgioMounts, FindsTheDiskAndItsPartitions) {
    TempDir tmp;
    namespace fs = std::filesystem;
    fs::path sys = fs::path(tmp.Path()) / "sys";
    fs::create_directories(sys / "class/scsi_generic/sg1/device/block/sdb");
    fs::create_directories(sys / "class/scsi_generic/sg0/device/block/sda");
    std::string mounts = (fs::path(tmp.Path()) / "mounts").string();
    std::ofstream(mounts) << "/dev/sda2 / ext4 rw 0 0\n"
                             "proc /proc proc rw 0 0\n"
                             "/dev/sdb1 /media/stick vfat rw 0 0\n"
                             "/dev/sdba /media/other vfat rw 0 0\n"
                             "/dev/sdb /media/whole vfat rw 0 0\n";
    std::vector<std::string> expected = {"/dev/sdb1 on /media/stick", "/dev/sdb on /media/whole"};
    EXPECT_EQ(MountsOnDisk("/dev/sg1", sys.string(), mounts), expected);
    EXPECT_EQ(MountsOnDisk("/dev/sdb", sys.string(), mounts), expected);
    EXPECT_EQ(MountsOnDisk("/dev/sg0", sys.string(), mounts),
              std::vector<std::string>{"/dev/sda2 on /"});
    EXPECT_TRUE(MountsOnDisk("/dev/sdc", sys.string(), mounts).empty());
    EXPECT_TRUE(MountsOnDisk("/dev/sg7", sys.string(), mounts).empty());  // sysfs knows no disk
}

TEST(SgioMounts, SwapAndVolumesBuiltOverTheDiskHoldItToo) {
    TempDir tmp;
    namespace fs = std::filesystem;
    fs::path sys = fs::path(tmp.Path()) / "sys";
    fs::create_directories(sys / "class/scsi_generic/sg1/device/block/sdb");
    fs::create_directories(sys / "block/sdb/sdb1/holders/dm-0");
    fs::create_directories(sys / "block/sdb/holders/md127");
    fs::create_directories(sys / "block/sdb/queue");
    fs::create_directories(sys / "block/sdc/sdc1/holders/dm-3");
    std::string mounts = (fs::path(tmp.Path()) / "mounts").string();
    std::ofstream(mounts) << "/dev/mapper/stick /media/crypt ext4 rw 0 0\n";
    std::string swaps = (fs::path(tmp.Path()) / "swaps").string();
    std::ofstream(swaps) << "Filename\t\t\t\tType\t\tSize\tUsed\tPriority\n"
                            "/dev/sdb2                               partition\t1024\t0\t-2\n"
                            "/dev/sdc2                               partition\t1024\t0\t-3\n"
                            "/swapfile                               file\t\t1024\t0\t-4\n";
    std::vector<std::string> users = DiskUsers("/dev/sg1", sys.string(), mounts, swaps);
    std::sort(users.begin(), users.end());
    std::vector<std::string> expected = {"/dev/sdb2 as swap", "sdb held by md127",
                                         "sdb1 held by dm-0"};
    EXPECT_EQ(users, expected);
    users = DiskUsers("/dev/sdb", sys.string(), mounts, swaps);
    std::sort(users.begin(), users.end());
    EXPECT_EQ(users, expected);
    // A disk nothing holds.
    fs::create_directories(sys / "block/sdd/sdd1/holders");
    EXPECT_TRUE(DiskUsers("/dev/sdd", sys.string(), mounts, swaps).empty());
}

}  // namespace
