#include <gtest/gtest.h>

#include "app/format_dlg.h"
#include "app/os_code.h"
#include "core/string_table.h"
#include "tests/fake_host.h"

namespace {

constexpr std::uint32_t kTreeChanged = 0x0007;
constexpr std::uint32_t kArrival = 0x8000;
constexpr std::uint32_t kRemoval = 0x8004;

struct DeviceChangeFixture : ::testing::Test {
    FakeHost host;
    FakeDevice device;
    CFormatDlg dlg{host, device};

    void StartOn(std::uint32_t platform, std::uint32_t major, std::uint32_t minor,
                 std::vector<MediaType> units) {
        host.platform = platform;
        host.majorVersion = major;
        host.minorVersion = minor;
        host.hasDirectory = false;
        device.units = std::move(units);
        dlg.OnInitDialog();
    }
    void StartNt(std::vector<MediaType> units) { StartOn(2, 5, 1, std::move(units)); }
    void Start9x(std::vector<MediaType> units) { StartOn(1, 4, 10, std::move(units)); }
};

TEST(OsCode, HostVersionsMapToTheirFamilyCodes) {
    EXPECT_EQ(OsCode(1, 4, 0), 3);   // 95
    EXPECT_EQ(OsCode(1, 4, 10), 3);  // 98
    EXPECT_EQ(OsCode(1, 4, 90), 4);  // Me
    EXPECT_EQ(OsCode(2, 4, 0), 5);   // NT 4.0
    EXPECT_EQ(OsCode(2, 5, 0), 5);   // 2000
    EXPECT_EQ(OsCode(2, 5, 1), 6);   // XP
    EXPECT_EQ(OsCode(2, 5, 2), 6);   // Server 2003
    EXPECT_EQ(OsCode(2, 6, 0), 5);   // Vista
    EXPECT_EQ(OsCode(2, 6, 1), 6);   // 7
    EXPECT_EQ(OsCode(2, 10, 0), 5);  // 10 and 11
    EXPECT_EQ(OsCode(0, 3, 10), 3);  // Win32s and anything else counts as the 9x family
    EXPECT_EQ(OsCode(1, 3, 95), 3);
}

TEST_F(DeviceChangeFixture, InitialisationTakesTheCodeFromTheHost) {
    Start9x({});
    EXPECT_EQ(dlg.OsFamilyCode(), 3);
    FakeHost ntHost;
    FakeDevice ntDevice;
    ntHost.platform = 2;
    ntHost.majorVersion = 6;
    ntHost.minorVersion = 1;
    ntHost.hasDirectory = false;
    CFormatDlg nt(ntHost, ntDevice);
    nt.OnInitDialog();
    EXPECT_EQ(nt.OsFamilyCode(), 6);
}

TEST_F(DeviceChangeFixture, NtArrivalAfterTreeChangeFindsThePluggedDisk) {
    StartNt({});
    ASSERT_EQ(host.Text(IDC_STATUS), AppString(IDS_NO_USB_DISK));
    device.units = {8};
    dlg.OnDeviceChange(kTreeChanged, 0);
    EXPECT_EQ(device.discoveries, 1);  // the tree change alone does nothing but count
    EXPECT_EQ(dlg.DevNodeChanges(), 1);
    dlg.OnDeviceChange(kArrival, 0);
    EXPECT_EQ(device.discoveries, 2);
    EXPECT_EQ(dlg.DevNodeChanges(), 0);
    EXPECT_EQ(dlg.SelectedMedia(), kMediaUsbDisk);
    EXPECT_TRUE(host.Enabled(IDC_START_STOP));
    EXPECT_EQ(host.Text(IDC_STATUS),
              "61.0 MB  125056 sectors\nClick \"Start\" to start formatting");
}

TEST_F(DeviceChangeFixture, NtArrivalWithoutTreeChangeDoesNothing) {
    StartNt({});
    device.units = {8};
    dlg.OnDeviceChange(kArrival, 0);
    EXPECT_EQ(device.discoveries, 1);
    EXPECT_EQ(dlg.SelectedMedia(), kMediaNone);
}

TEST_F(DeviceChangeFixture, NtTreeChangeCounterWrapsAt256) {
    StartNt({});
    device.units = {8};
    for (int i = 0; i < 256; ++i) dlg.OnDeviceChange(kTreeChanged, 0);
    EXPECT_EQ(dlg.DevNodeChanges(), 0);
    dlg.OnDeviceChange(kArrival, 0);
    EXPECT_EQ(device.discoveries, 1);
    EXPECT_EQ(dlg.SelectedMedia(), kMediaNone);
    // One more notice and the arrival counts again.
    dlg.OnDeviceChange(kTreeChanged, 0);
    dlg.OnDeviceChange(kArrival, 0);
    EXPECT_EQ(dlg.SelectedMedia(), kMediaUsbDisk);
}

TEST_F(DeviceChangeFixture, NtRemovalThatEmptiesTheTableRescans) {
    StartNt({8});
    device.units = {};
    dlg.OnDeviceChange(kTreeChanged, 0);
    dlg.OnDeviceChange(kRemoval, 0);
    EXPECT_EQ(device.discoveries, 2);
    EXPECT_EQ(dlg.DevNodeChanges(), 0);
    EXPECT_EQ(host.Text(IDC_STATUS), AppString(IDS_NO_USB_DISK));
    EXPECT_FALSE(host.Enabled(IDC_START_STOP));
    EXPECT_EQ(dlg.SelectedMedia(), kMediaNone);
}

TEST_F(DeviceChangeFixture, NtChangesThatKeepTheCountOnOneSideLeaveTheDialogAlone) {
    StartNt({8});
    const std::string status = host.Text(IDC_STATUS);
    // Another device went away; the reader is still there.
    dlg.OnDeviceChange(kTreeChanged, 0);
    dlg.OnDeviceChange(kRemoval, 0);
    EXPECT_EQ(device.discoveries, 2);
    EXPECT_EQ(device.Count("tur 8"), 1);
    // Another device arrived while units are known: no discovery at all.
    dlg.OnDeviceChange(kTreeChanged, 0);
    dlg.OnDeviceChange(kArrival, 0);
    EXPECT_EQ(device.discoveries, 2);
    EXPECT_EQ(dlg.DevNodeChanges(), 0);
    EXPECT_EQ(host.Text(IDC_STATUS), status);
    // Events it does not follow.
    dlg.OnDeviceChange(0x8001, 0);
    dlg.OnDeviceChange(0x0018, 0);
    EXPECT_EQ(device.discoveries, 2);
}

TEST_F(DeviceChangeFixture, NineXArrivalThenTreeChangeFindsTheDisk) {
    Start9x({});
    device.units = {8};
    dlg.OnDeviceChange(kArrival, 0);
    EXPECT_TRUE(dlg.ArrivalSeen());
    EXPECT_EQ(device.discoveries, 1);
    dlg.OnDeviceChange(kTreeChanged, 0);
    EXPECT_EQ(device.discoveries, 2);
    EXPECT_EQ(dlg.SelectedMedia(), kMediaUsbDisk);
    EXPECT_TRUE(dlg.ArrivalSeen());  // kept until a removal
    // Further tree changes with units present do nothing.
    dlg.OnDeviceChange(kTreeChanged, 0);
    EXPECT_EQ(device.discoveries, 2);
}

TEST_F(DeviceChangeFixture, NineXRemovalThenTreeChangeEmptiesTheDialog) {
    Start9x({8});
    device.units = {};
    dlg.OnDeviceChange(kRemoval, 0);
    EXPECT_FALSE(dlg.ArrivalSeen());
    EXPECT_EQ(device.discoveries, 1);
    dlg.OnDeviceChange(kTreeChanged, 0);
    EXPECT_EQ(device.discoveries, 2);
    EXPECT_EQ(host.Text(IDC_STATUS), AppString(IDS_NO_USB_DISK));
    EXPECT_EQ(dlg.SelectedMedia(), kMediaNone);
    // A tree change with nothing known and no arrival seen does not look.
    dlg.OnDeviceChange(kTreeChanged, 0);
    EXPECT_EQ(device.discoveries, 2);
}

TEST_F(DeviceChangeFixture, MeCountsAsNineXAndTreeChangeAloneDoesNotCount) {
    StartOn(1, 4, 90, {});
    EXPECT_EQ(dlg.OsFamilyCode(), 4);
    dlg.OnDeviceChange(kTreeChanged, 0);
    EXPECT_EQ(dlg.DevNodeChanges(), 0);  // the NT counter is not used
}

TEST_F(DeviceChangeFixture, ReplugReturnsTheModeToQuick) {
    StartNt({8});
    dlg.OnFull();
    ASSERT_EQ(dlg.Mode(), FormatMode::Full);
    device.units = {};
    dlg.OnDeviceChange(kTreeChanged, 0);
    dlg.OnDeviceChange(kRemoval, 0);
    device.units = {8};
    dlg.OnDeviceChange(kTreeChanged, 0);
    dlg.OnDeviceChange(kArrival, 0);
    EXPECT_EQ(dlg.Mode(), FormatMode::Quick);
    EXPECT_TRUE(host.Checked(IDC_QUICK));
    EXPECT_FALSE(host.Checked(IDC_FULL));
    EXPECT_TRUE(host.Enabled(IDC_START_STOP));
}

TEST_F(DeviceChangeFixture, NotReadyDiskIsLeftOnlyByAReplug) {
    device.ready = false;
    device.senses = {SenseNone, SenseNotReady};
    StartNt({8});
    ASSERT_EQ(host.Text(IDC_STATUS), AppString(IDS_POWERED_OFF));
    device.ready = true;
    dlg.OnDeviceChange(kTreeChanged, 0);
    dlg.OnDeviceChange(kArrival, 0);  // units are known: nothing re-probes
    EXPECT_EQ(host.Text(IDC_STATUS), AppString(IDS_POWERED_OFF));
    device.units = {};
    dlg.OnDeviceChange(kTreeChanged, 0);
    dlg.OnDeviceChange(kRemoval, 0);
    device.units = {8};
    dlg.OnDeviceChange(kTreeChanged, 0);
    dlg.OnDeviceChange(kArrival, 0);
    EXPECT_TRUE(host.Enabled(IDC_START_STOP));
}

}  // namespace
