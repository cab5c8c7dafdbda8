// The main dialog against the real reader code and format engine, over a simulated machine.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/format_dlg.h"
#include "core/string_table.h"
#include "reader/reader.h"
#include "reader/win32/windows_back_ends.h"
#include "sim/sim_bus.h"
#include "sim/sim_os_layer.h"
#include "tests/fake_host.h"

namespace {

constexpr std::uint32_t kTreeChanged = 0x0007;
constexpr std::uint32_t kArrival = 0x8000;
constexpr std::uint32_t kRemoval = 0x8004;
constexpr std::uint8_t kStartStopUnit = 0x1B;
constexpr std::uint8_t kInquiry = 0x12;

const char kSmallDisk[] =
    "reader adapter=0 target=0\n"
    "unit DS drive=E\n"
    "banks 73\n"
    "cis page=0\n"
    "vendor-page\n";

// The program's start-up over a simulated machine, as the Windows program makes it: one reader
// over the Windows back-ends for the dialog's life, its transport opened, the dialog initialised.
class DialogOverReader : public ::testing::Test {
  protected:
    void Boot(const std::string& description) {
        std::string error;
        bus = sim::SimBus::Parse(description, &error);
        ASSERT_NE(bus, nullptr) << error;
        bus->SetTraceEnabled(true);
        layer = std::make_unique<sim::SimOsLayer>(*bus);
        reader = std::make_unique<Reader>(std::make_unique<WindowsBackEnds>(*layer));
        device = std::make_unique<ReaderDeviceAccess>(*reader);
        dlg = std::make_unique<CFormatDlg>(host, *device);
        ASSERT_EQ(device->OpenTransport(), 1);
        host.hasDirectory = false;
        dlg->OnInitDialog();
    }
    void DeviceChange(std::uint32_t event) { dlg->OnDeviceChange(event, 0); }

    std::unique_ptr<sim::SimBus> bus;
    std::unique_ptr<sim::SimOsLayer> layer;
    std::unique_ptr<Reader> reader;
    std::unique_ptr<ReaderDeviceAccess> device;
    FakeHost host;
    std::unique_ptr<CFormatDlg> dlg;
};

TEST_F(DialogOverReader, QuickFormatCompletesStopsTheDiskAndWaitsForTheReplug) {
    Boot(kSmallDisk);
    EXPECT_EQ(host.Text(IDC_STATUS), "15.6 MB  32000 sectors\nClick \"Start\" to start formatting");
    ASSERT_TRUE(host.Enabled(IDC_START_STOP));

    bus->ClearTrace();
    dlg->OnStartStop();
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[1].text, AppString(IDS_COMPLETE_REPLUG));
    EXPECT_EQ(host.Text(IDC_STATUS),
              std::string(AppString(IDS_COMPLETE_REPLUG)) + "Time elapsed 00:00:00.");
    EXPECT_EQ(host.Text(IDC_PERCENT), "100%");
    EXPECT_EQ(host.progress, 100);
    EXPECT_FALSE(host.Enabled(IDC_START_STOP));
    ASSERT_FALSE(bus->Trace().empty());
    EXPECT_EQ(bus->Trace().back().cdb[0], kStartStopUnit);  // the run's last command
    EXPECT_GT(host.pumps, 1000);                            // one message per block

    // The user re-plugs: the disk is found again and can be formatted again.
    bus->Unplug();
    DeviceChange(kTreeChanged);
    DeviceChange(kRemoval);
    EXPECT_EQ(host.Text(IDC_STATUS), AppString(IDS_NO_USB_DISK));
    bus->Replug();
    DeviceChange(kTreeChanged);
    DeviceChange(kArrival);
    EXPECT_TRUE(host.Enabled(IDC_START_STOP));
    const std::string& status = host.Text(IDC_STATUS);
    EXPECT_NE(status.find(" MB  "), std::string::npos) << status;
    EXPECT_NE(status.find("sectors\nClick \"Start\""), std::string::npos) << status;
}

TEST_F(DialogOverReader, WriteProtectedDiskCannotBeStarted) {
    Boot(std::string(kSmallDisk) + "write-protected\n");
    EXPECT_EQ(host.Text(IDC_STATUS), "15.6 MB  32000 sectors\nMedia is write-protected !");
    EXPECT_FALSE(host.Enabled(IDC_START_STOP));
    EXPECT_FALSE(host.Enabled(IDC_QUICK));
    EXPECT_FALSE(host.Enabled(IDC_FULL));
}

TEST_F(DialogOverReader, CardSlotsAreSentNothingButInquiry) {
    Boot("reader adapter=0 target=2\nunit CF drive=E card=yes\nunit SM drive=F\nunit MM drive=G\n");
    EXPECT_EQ(dlg->UnitCount(), 3);
    EXPECT_FALSE(host.Enabled(IDC_START_STOP));
    ASSERT_FALSE(bus->Trace().empty());
    for (const sim::TraceEntry& entry : bus->Trace()) EXPECT_EQ(entry.cdb[0], kInquiry);
}

TEST_F(DialogOverReader, DiskPulledDuringARunEndsItCancelled) {
    Boot(kSmallDisk);
    ASSERT_TRUE(host.Enabled(IDC_START_STOP));
    // Half way through the scan the stick goes; the host reports it with the next messages.
    bus->UnplugAfterCommands(400);
    bool reported = false;
    std::function<void()> watch = [&] {
        if (!bus->Plugged() && !reported) {
            reported = true;
            host.pending.push_back([&] { DeviceChange(kTreeChanged); });
            host.pending.push_back([&] { DeviceChange(kRemoval); });
        }
        if (!reported) host.pending.push_back(watch);
    };
    host.pending.push_back(watch);
    dlg->OnStartStop();
    EXPECT_TRUE(reported);
    EXPECT_EQ(host.Text(IDC_STATUS), "Format was canceled.Time elapsed 00:00:00.");
    EXPECT_EQ(dlg->SelectedMedia(), kMediaNone);
    EXPECT_FALSE(host.Enabled(IDC_START_STOP));
    EXPECT_TRUE(host.Enabled(IDC_EXIT));
    EXPECT_NE(host.progress, 100);
}

}  // namespace
