#include <gtest/gtest.h>

#include <string>

#include "app/format_dlg.h"
#include "core/string_table.h"
#include "tests/fake_host.h"

namespace {

// A dialog over a fake window and a fake reader, started the way the program starts it.
struct MediaFixture : ::testing::Test {
    FakeHost host;
    FakeDevice device;
    CFormatDlg dlg{host, device};

    void Start(std::vector<MediaType> units) {
        device.units = std::move(units);
        host.hasDirectory = false;  // no settings file, no log
        dlg.OnInitDialog();
    }
    void ExpectFormatControls(bool enabled) {
        EXPECT_EQ(host.Enabled(IDC_START_STOP), enabled);
        EXPECT_EQ(host.Enabled(IDC_QUICK), enabled);
        EXPECT_EQ(host.Enabled(IDC_FULL), enabled);
    }
    bool Probed() const { return device.Count("tur 8") > 0; }
};

const std::string kNewline = "\n";

TEST_F(MediaFixture, NoUnitShowsPlugInAndDisablesEverything) {
    Start({});
    EXPECT_EQ(host.Text(IDC_STATUS), "No USB disk found ! Please plug in the device.");
    ExpectFormatControls(false);
    EXPECT_EQ(dlg.SelectedMedia(), kMediaNone);
    EXPECT_TRUE(host.Checked(IDC_QUICK));
    EXPECT_FALSE(host.Checked(IDC_FULL));
    EXPECT_TRUE(dlg.StopRequested());
    EXPECT_FALSE(dlg.Running());
    EXPECT_FALSE(Probed());
}

TEST_F(MediaFixture, CardSlotsAndLaterFlashDisksAreCountedButNeverProbed) {
    for (const auto& units : {std::vector<MediaType>{1, 2, 4}, std::vector<MediaType>{1, 9}}) {
        FakeHost freshHost;
        FakeDevice freshDevice;
        freshDevice.units = units;
        freshHost.hasDirectory = false;
        CFormatDlg fresh(freshHost, freshDevice);
        fresh.OnInitDialog();
        EXPECT_EQ(fresh.UnitCount(), units.size());
        EXPECT_NE(freshHost.Text(IDC_STATUS), AppString(IDS_NO_USB_DISK));
        EXPECT_FALSE(freshHost.Enabled(IDC_START_STOP));
        EXPECT_FALSE(freshHost.Enabled(IDC_QUICK));
        EXPECT_FALSE(freshHost.Enabled(IDC_FULL));
        EXPECT_EQ(fresh.SelectedMedia(), kMediaNone);
        // Nothing but discovery reached the reader.
        EXPECT_EQ(freshDevice.calls, std::vector<std::string>{"discover"});
    }
}

TEST_F(MediaFixture, ReadyUnprotectedDiskShowsCapacityAndEnablesFormatting) {
    device.lastBlockAddress = 127999;
    Start({8});
    EXPECT_EQ(host.Text(IDC_STATUS),
              "62.5 MB  128000 sectors\nClick \"Start\" to start formatting");
    ExpectFormatControls(true);
    EXPECT_EQ(dlg.SelectedMedia(), kMediaUsbDisk);
    EXPECT_TRUE(host.Checked(IDC_QUICK));
    // Pending sense is cleared before the readiness test.
    ASSERT_GE(device.calls.size(), 3u);
    EXPECT_EQ(device.calls[1], "sense 8");
    EXPECT_EQ(device.calls[2], "tur 8");
}

TEST_F(MediaFixture, FlashDiskBehindAnotherUnitIsNotTheOneProbed) {
    // Key 8 is only ever the first unit; a disk found second carries key 9.
    Start({2, 8});
    EXPECT_TRUE(Probed());
    ExpectFormatControls(true);
}

TEST_F(MediaFixture, WriteProtectedDiskShowsCapacityAndDisablesFormatting) {
    device.writeProtected = true;
    device.lastBlockAddress = 131071;
    Start({8});
    EXPECT_EQ(host.Text(IDC_STATUS), "64.0 MB  131072 sectors\nMedia is write-protected !");
    ExpectFormatControls(false);
    EXPECT_EQ(dlg.SelectedMedia(), kMediaUsbDisk);
}

TEST_F(MediaFixture, DiskNotReadyShowsPoweredOffAndStopsProbing) {
    device.ready = false;
    device.senses = {SenseNone, SenseNotReady};
    Start({8});
    EXPECT_EQ(host.Text(IDC_STATUS), "USB Disk is powered off. Please re-plug the device.");
    ExpectFormatControls(false);
    EXPECT_EQ(dlg.SelectedMedia(), kMediaUsbDisk);
    EXPECT_EQ(device.Count("capacity 8"), 0);
    EXPECT_EQ(device.Count("write protect 8"), 0);
}

TEST_F(MediaFixture, UnitAttentionCountsAsReady) {
    device.ready = false;
    device.senses = {SenseNone, SenseUnitAttention};
    Start({8});
    EXPECT_EQ(host.Text(IDC_STATUS),
              "61.0 MB  125056 sectors\nClick \"Start\" to start formatting");
    ExpectFormatControls(true);
}

TEST_F(MediaFixture, CapacityOutsideTheRangeShowsNotFormattedButStaysFormattable) {
    for (std::uint32_t lba : {249u, 2048001u, 0u, 0xFFFFFFFFu}) {
        FakeHost freshHost;
        FakeDevice freshDevice;
        freshDevice.units = {8};
        freshDevice.lastBlockAddress = lba;
        freshHost.hasDirectory = false;
        CFormatDlg fresh(freshHost, freshDevice);
        fresh.OnInitDialog();
        EXPECT_EQ(freshHost.Text(IDC_STATUS),
                  "Media is not formatted.\nClick \"Start\" to start formatting")
            << lba;
        EXPECT_TRUE(freshHost.Enabled(IDC_START_STOP)) << lba;
    }
}

TEST_F(MediaFixture, FailedReadCapacityShowsNotFormattedInsteadOfStaleBytes) {
    device.capacityOk = false;  // the fake leaves a plausible size in the buffer anyway
    Start({8});
    EXPECT_EQ(host.Text(IDC_STATUS),
              "Media is not formatted.\nClick \"Start\" to start formatting");
}

TEST_F(MediaFixture, ModeButtonsSetTheModeTheMarksAndClearTheProgress) {
    Start({8});
    host.progress = 37;
    host.SetControlText(IDC_PERCENT, "37%");
    dlg.TotalBlocks() = 500;
    dlg.BlocksDone() = 200;
    const std::string status = host.Text(IDC_STATUS);

    dlg.OnFull();
    EXPECT_EQ(dlg.Mode(), FormatMode::Full);
    EXPECT_TRUE(host.Checked(IDC_FULL));
    EXPECT_FALSE(host.Checked(IDC_QUICK));
    EXPECT_EQ(host.progress, 0);
    EXPECT_EQ(host.Text(IDC_PERCENT), "");
    EXPECT_EQ(dlg.TotalBlocks(), 0u);
    EXPECT_EQ(dlg.BlocksDone(), 0u);
    EXPECT_EQ(host.Text(IDC_STATUS), status);  // the status text on screen stays

    dlg.OnQuick();
    EXPECT_EQ(dlg.Mode(), FormatMode::Quick);
    EXPECT_TRUE(host.Checked(IDC_QUICK));
    EXPECT_FALSE(host.Checked(IDC_FULL));
}

TEST_F(MediaFixture, ShowFormatModeTreatsEveryOtherValueAsQuick) {
    Start({8});
    dlg.ShowFormatMode(FormatMode::Full);
    EXPECT_TRUE(host.Checked(IDC_FULL));
    dlg.ShowFormatMode(static_cast<FormatMode>(7));  // a value no control gives
    EXPECT_TRUE(host.Checked(IDC_QUICK));
    EXPECT_FALSE(host.Checked(IDC_FULL));
}

}  // namespace
