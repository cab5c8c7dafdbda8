// The claim of a stick for a run, over a sysfs and a /dev of a test's own: the node held
// exclusively, the disk driver taken off and bound back, the media polling off and back, a node
// another program holds refused and named; and who may send vendor commands through a disk node.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "cli/shared/stick_claim.h"
#include "reader/linux/sgio_port.h"
#include "tests/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Opens that succeed or fail as told; no command is ever sent here.
class OpenOnlyIo final : public SgDeviceIo {
  public:
    std::map<std::string, int> results;  // path -> -errno; anything else opens
    std::vector<std::pair<std::string, bool>> opened;
    int Open(const char* path, bool exclusive) override {
        opened.emplace_back(path, exclusive);
        auto it = results.find(path);
        return it != results.end() ? it->second : 20 + static_cast<int>(opened.size());
    }
    int SgIo(int, sg_io_hdr_t*) override { return -EIO; }
    int Submit(int, sg_io_hdr_t*) override { return -EIO; }
    int Collect(int, sg_io_hdr_t*) override { return -EIO; }
    std::uint32_t MaxTransfer(int, bool) override { return 0; }
    void Close(int) override {}
};

std::string Read(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    return text;
}

// A stick at 2:0:0:0 with the disk sdb, its partition sdb1 and its generic node sg1, the disk
// driver bound to it, polled every two seconds as a desktop sets it.
class StickClaimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::path(tmp_.Path());
        sys_ = root_ / "sys";
        dev_ = root_ / "dev";
        scsi_ = sys_ / "devices/usb1/1-1/1-1:1.0/host2/target2:0:0/2:0:0:0";
        driver_ = sys_ / "bus/scsi/drivers/sd";
        fs::create_directories(scsi_ / "block/sdb");
        fs::create_directories(driver_);
        std::ofstream(driver_ / "bind") << "";
        std::ofstream(driver_ / "unbind") << "";
        std::ofstream(scsi_ / "type") << "0\n";
        std::ofstream(scsi_ / "state") << "running\n";
        fs::create_directory_symlink(driver_, scsi_ / "driver");
        fs::create_directories(sys_ / "class/scsi_generic/sg1");
        fs::create_directory_symlink(scsi_, sys_ / "class/scsi_generic/sg1/device");
        fs::create_directories(sys_ / "block/sdb/sdb1");
        std::ofstream(sys_ / "block/sdb/sdb1/partition") << "1\n";
        std::ofstream(sys_ / "block/sdb/events_poll_msecs") << "2000\n";
        fs::create_directories(dev_);
        for (const char* node : {"sg1", "sdb", "sdb1"}) std::ofstream(dev_ / node) << "";
    }
    std::string Node() const { return (dev_ / "sg1").string(); }

    TempDir tmp_;
    fs::path root_, sys_, dev_, scsi_, driver_;
    OpenOnlyIo io_;
};

TEST_F(StickClaimTest, AFormatTakesTheDiskDriverOffTheStickAndBindsItBackAfter) {
    SgioPort port(io_, {Node()}, sys_.string());
    StickClaim claim(sys_.string(), dev_.string());
    std::string reason;
    bool busy = true;
    ASSERT_TRUE(claim.Take(port, 0, StickClaim::Scope::DriverOff, &reason, &busy)) << reason;
    EXPECT_FALSE(busy);
    ASSERT_EQ(io_.opened.size(), 1u);
    EXPECT_TRUE(io_.opened[0].second);  // the generic node, exclusively
    EXPECT_TRUE(claim.DriverOff());
    EXPECT_EQ(claim.DeviceName(), "2:0:0:0");
    EXPECT_EQ(Read(driver_ / "unbind"), "2:0:0:0");
    EXPECT_EQ(Read(driver_ / "bind"), "");
    // The polling was turned off before the disk was opened (and then let go with the driver).
    EXPECT_EQ(Read(sys_ / "block/sdb/events_poll_msecs"), "0");
    claim.Release();
    EXPECT_EQ(Read(driver_ / "bind"), "2:0:0:0");
    EXPECT_FALSE(claim.DriverOff());
    // The disk the driver makes again is polled as the one before was.
    EXPECT_EQ(Read(sys_ / "block/sdb/events_poll_msecs"), "2000");
}

TEST_F(StickClaimTest, ASoftReplugAfterTheRunLeavesTheDriverToTheNewDevice) {
    SgioPort port(io_, {Node()}, sys_.string());
    StickClaim claim(sys_.string(), dev_.string());
    std::string reason;
    bool busy = false;
    ASSERT_TRUE(claim.Take(port, 0, StickClaim::Scope::DriverOff, &reason, &busy));
    claim.Release(false);
    EXPECT_EQ(Read(driver_ / "bind"), "");
}

TEST_F(StickClaimTest, AProbeHoldsTheDiskAndTurnsTheMediaPollingOffUntilTheEnd) {
    SgioPort port(io_, {Node()}, sys_.string());
    {
        StickClaim claim(sys_.string(), dev_.string());
        std::string reason;
        bool busy = false;
        ASSERT_TRUE(claim.Take(port, 0, StickClaim::Scope::Exclusive, &reason, &busy));
        EXPECT_FALSE(claim.DriverOff());
        EXPECT_EQ(Read(driver_ / "unbind"), "");
        EXPECT_EQ(Read(sys_ / "block/sdb/events_poll_msecs"), "0");
    }
    EXPECT_EQ(Read(sys_ / "block/sdb/events_poll_msecs"), "2000");
}

TEST_F(StickClaimTest, WhereTheDriverCannotBeTakenOffTheDiskIsHeldAndPollsNoMore) {
    fs::remove(driver_ / "unbind");
    fs::create_directories(driver_ / "unbind");  // an attribute nobody may write
    SgioPort port(io_, {Node()}, sys_.string());
    StickClaim claim(sys_.string(), dev_.string());
    std::string reason;
    bool busy = false;
    ASSERT_TRUE(claim.Take(port, 0, StickClaim::Scope::DriverOff, &reason, &busy)) << reason;
    EXPECT_FALSE(claim.DriverOff());
    EXPECT_EQ(Read(sys_ / "block/sdb/events_poll_msecs"), "0");
    claim.Release();
    EXPECT_EQ(Read(sys_ / "block/sdb/events_poll_msecs"), "2000");
}

TEST_F(StickClaimTest, AStickAnotherProgramHoldsIsRefusedAndNothingChanges) {
    io_.results[Node()] = -EBUSY;
    SgioPort port(io_, {Node()}, sys_.string());
    StickClaim claim(sys_.string(), dev_.string());
    std::string reason;
    bool busy = false;
    EXPECT_FALSE(claim.Take(port, 0, StickClaim::Scope::DriverOff, &reason, &busy));
    EXPECT_TRUE(busy);
    EXPECT_NE(reason.find(Node()), std::string::npos);
    EXPECT_NE(reason.find("in use by another program"), std::string::npos);
    EXPECT_EQ(Read(driver_ / "unbind"), "");
    EXPECT_EQ(Read(sys_ / "block/sdb/events_poll_msecs"), "2000");
    EXPECT_EQ(port.BusyNodes(), std::vector<std::string>{Node()});
}

TEST(VendorCommands, ThroughADiskNodeOnlyWithTheRawIoCapability) {
    TempDir tmp;
    const fs::path status = fs::path(tmp.Path()) / "status";
    std::string reason;
    std::ofstream(status) << "Name:\tbrevant\nCapEff:\t000001ffffffffff\n";
    EXPECT_TRUE(MayCarryVendorCommands("/dev/sdb", &reason, status.string()));
    std::ofstream(status) << "Name:\tbrevant\nCapEff:\t000001fffffdffff\n";  // bit 17 off
    EXPECT_FALSE(MayCarryVendorCommands("/dev/sdb", &reason, status.string()));
    EXPECT_NE(reason.find("CAP_SYS_RAWIO"), std::string::npos);
    EXPECT_NE(reason.find("modprobe sg"), std::string::npos);
    // A generic node needs no capability; a status that does not say leaves it to the commands.
    EXPECT_TRUE(MayCarryVendorCommands("/dev/sg2", &reason, status.string()));
    EXPECT_TRUE(MayCarryVendorCommands("/dev/sdb", &reason, "/nonexistent/status"));
}

}  // namespace
