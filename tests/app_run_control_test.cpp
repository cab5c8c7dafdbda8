#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/format_dlg.h"
#include "core/string_table.h"
#include "tests/fake_host.h"

namespace {

constexpr std::uint32_t kTreeChanged = 0x0007;
constexpr std::uint32_t kArrival = 0x8000;
constexpr std::uint32_t kRemoval = 0x8004;

const std::string kReplugText = AppString(IDS_COMPLETE_REPLUG);

struct RunFixture : ::testing::Test {
    FakeHost host;
    FakeDevice device;
    CFormatDlg dlg{host, device};

    void SetUp() override {
        device.units = {8};
        host.hasDirectory = false;
        dlg.OnInitDialog();
        ASSERT_TRUE(host.Enabled(IDC_START_STOP));
    }
    // An engine that takes `seconds`, leaves `message` and answers `result`.
    void Engine(FormatResult result, std::int64_t seconds, std::string message = "") {
        device.format = [this, result, seconds, message](RunInterface& run, MediaType, FormatMode) {
            run.ResetProgress();
            run.TotalBlocks() = 500;
            host.clock += seconds;
            if (!message.empty()) run.SetRunMessage(message);
            return result;
        };
    }
    void PullAndReplug() {
        device.units = {};
        dlg.OnDeviceChange(kTreeChanged, 0);
        dlg.OnDeviceChange(kRemoval, 0);
        device.units = {8};
        dlg.OnDeviceChange(kTreeChanged, 0);
        dlg.OnDeviceChange(kArrival, 0);
    }
};

TEST_F(RunFixture, CancelInTheConfirmationChangesNothing) {
    const auto controls = host.controls;
    host.answers = {BoxAnswer::Cancel};
    dlg.OnStartStop();
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, AppString(IDS_CONFIRM_ERASE));
    EXPECT_EQ(host.boxes[0].caption, "Brevant Utility");
    EXPECT_EQ(host.boxes[0].buttons, BoxButtons::OkCancel);
    EXPECT_EQ(host.controls, controls);
    EXPECT_EQ(device.formats, 0);
    EXPECT_TRUE(dlg.StopRequested());
    EXPECT_FALSE(dlg.Running());
}

TEST_F(RunFixture, RunningStateLocksTheDialogAndRunsTheTimer) {
    std::map<int, FakeControl> during;
    std::map<unsigned, unsigned> timers;
    bool running = false, stopRequested = true;
    device.format = [&](RunInterface& run, MediaType unit, FormatMode mode) {
        during = host.controls;
        timers = host.timers;
        running = dlg.Running();
        stopRequested = run.StopRequested();
        EXPECT_EQ(unit, kMediaUsbDisk);
        EXPECT_EQ(mode, FormatMode::Full);
        EXPECT_EQ(dlg.RunMessage(), "");
        return FormatResult::Failed;
    };
    dlg.OnFull();
    dlg.OnStartStop();
    EXPECT_EQ(during[IDC_START_STOP].text, "Stop");
    EXPECT_TRUE(during[IDC_START_STOP].enabled);
    EXPECT_FALSE(during[IDC_EXIT].enabled);
    EXPECT_FALSE(during[IDC_QUICK].enabled);
    EXPECT_FALSE(during[IDC_FULL].enabled);
    EXPECT_EQ(during[IDC_STATUS].text, AppString(IDS_FORMATTING));
    EXPECT_EQ(timers, (std::map<unsigned, unsigned>{{1u, 2000u}}));
    EXPECT_TRUE(running);
    EXPECT_FALSE(stopRequested);
    EXPECT_TRUE(host.timers.empty());  // the timer lives only inside the run
}

TEST_F(RunFixture, CompleteRunShowsTheBoxStopsTheUnitAndWaitsForAReplug) {
    Engine(FormatResult::CompleteReplug, 125, kReplugText);
    dlg.OnStartStop();
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[1].text, kReplugText);
    EXPECT_EQ(host.boxes[1].caption, "Brevant Utility");
    EXPECT_EQ(host.boxes[1].buttons, BoxButtons::Ok);
    EXPECT_EQ(host.Text(IDC_STATUS), kReplugText + "Time elapsed 00:02:05.");
    EXPECT_EQ(host.Text(IDC_START_STOP), "Start");
    EXPECT_FALSE(host.Enabled(IDC_START_STOP));
    EXPECT_FALSE(host.Enabled(IDC_QUICK));
    EXPECT_FALSE(host.Enabled(IDC_FULL));
    EXPECT_TRUE(host.Enabled(IDC_EXIT));
    EXPECT_EQ(host.progress, 100);
    EXPECT_TRUE(dlg.StopRequested());
    EXPECT_FALSE(dlg.Running());
    // The unit is stopped before the timer goes, and the box comes after both.
    EXPECT_EQ(device.Count("stop 8"), 1);
    EXPECT_EQ(host.events, (std::vector<std::string>{"box", "timer on 1", "timer off 1", "box"}));
    // Only a re-plug brings Start back.
    PullAndReplug();
    EXPECT_TRUE(host.Enabled(IDC_START_STOP));
}

TEST_F(RunFixture, ResultTextsFollowTheRunMessage) {
    struct Row {
        FormatResult result;
        const char* message;
        const char* status;
    };
    const Row rows[] = {
        {FormatResult::Complete, "", "Format is complete.Time elapsed 00:00:03."},
        {FormatResult::Cancelled, "", "Format was canceled.Time elapsed 00:00:03."},
        {FormatResult::Failed, "Media is not present !",
         "Media is not present !Format failed !Time elapsed 00:00:03."},
        {FormatResult::Failed, "Bank number = 0 !\n",
         "Bank number = 0 !\nFormat failed !Time elapsed 00:00:03."},
        {static_cast<FormatResult>(7), "", "Format failed !Time elapsed 00:00:03."},
    };
    for (const Row& row : rows) {
        Engine(row.result, 3, row.message);
        dlg.OnStartStop();
        EXPECT_EQ(host.Text(IDC_STATUS), row.status) << static_cast<int>(row.result);
        // Back to Done: a new run can start at once on the same unit.
        EXPECT_TRUE(host.Enabled(IDC_START_STOP));
        EXPECT_TRUE(host.Enabled(IDC_QUICK));
        EXPECT_TRUE(host.Enabled(IDC_FULL));
        EXPECT_TRUE(host.Enabled(IDC_EXIT));
        EXPECT_EQ(host.Text(IDC_START_STOP), "Start");
        EXPECT_EQ(dlg.SelectedMedia(), kMediaUsbDisk);
    }
    EXPECT_EQ(device.formats, 5);
    EXPECT_EQ(device.Count("stop 8"), 0);
}

TEST_F(RunFixture, StopOnlySetsTheFlagsAndTheRunEndsCancelled) {
    std::map<int, FakeControl> afterClick;
    int progressAfterClick = -1;
    device.format = [&](RunInterface& run, MediaType, FormatMode) {
        run.ResetProgress();
        run.TotalBlocks() = 500;
        // The user presses Stop; the click arrives with the next pumped message.
        host.pending.push_back([&] {
            const auto before = host.controls;
            dlg.OnStartStop();
            afterClick = host.controls;
            EXPECT_EQ(afterClick, before);
        });
        for (std::uint32_t block = 0; block < 500; ++block) {
            ++run.BlocksDone();
            if (block == 0) dlg.OnTimer(1);
            run.PumpOneMessage();
            if (run.StopRequested()) {
                progressAfterClick = host.progress;
                host.clock += 7;
                return FormatResult::Cancelled;
            }
        }
        return FormatResult::CompleteReplug;
    };
    dlg.OnStartStop();
    EXPECT_EQ(afterClick[IDC_START_STOP].text, "Stop");
    EXPECT_EQ(progressAfterClick, 4);  // the tick before the click
    EXPECT_EQ(host.Text(IDC_STATUS), "Format was canceled.Time elapsed 00:00:07.");
    EXPECT_EQ(host.progress, 4);  // not moved to 100
    EXPECT_EQ(host.Text(IDC_PERCENT), "4%");
    EXPECT_TRUE(host.Enabled(IDC_START_STOP));
    EXPECT_EQ(device.Count("stop 8"), 0);
}

TEST_F(RunFixture, FailedRunLeavesTheBarAt100AndTheLastPercentage) {
    device.format = [&](RunInterface& run, MediaType, FormatMode) {
        run.ResetProgress();
        run.TotalBlocks() = 500;
        run.BlocksDone() = 250;
        dlg.OnTimer(1);
        return FormatResult::Failed;
    };
    dlg.OnStartStop();
    EXPECT_EQ(host.progress, 100);
    EXPECT_EQ(host.Text(IDC_PERCENT), "52%");
}

TEST_F(RunFixture, ProgressTicksShowPercentages) {
    dlg.TotalBlocks() = 500;
    const std::string status = host.Text(IDC_STATUS);
    for (const auto& [done, percent] :
         {std::pair<std::uint32_t, int>{0, 4}, {250, 52}, {499, 99}, {500, 100}}) {
        dlg.BlocksDone() = done;
        dlg.OnTimer(1);
        EXPECT_EQ(host.progress, percent);
        EXPECT_EQ(host.Text(IDC_PERCENT), std::to_string(percent) + "%");
        EXPECT_EQ(dlg.Status(), std::to_string(percent) + "%");
    }
    EXPECT_EQ(host.Text(IDC_STATUS), status);  // the status control is not touched
    // Other timers are not the progress timer.
    dlg.BlocksDone() = 0;
    dlg.OnTimer(2);
    EXPECT_EQ(host.progress, 100);
}

TEST_F(RunFixture, TickAfterAProgressResetDoesNotDivideByZero) {
    dlg.ResetProgress();
    dlg.OnTimer(1);
    EXPECT_EQ(host.progress, 4);
    EXPECT_EQ(host.Text(IDC_PERCENT), "4%");
    EXPECT_EQ(ProgressTickPercent(0, 0), 4);
    EXPECT_EQ(ProgressTickPercent(3, 0), 4);
}

TEST_F(RunFixture, LongRunShowsItsSpan) {
    Engine(FormatResult::Cancelled, 3725);
    dlg.OnStartStop();
    EXPECT_EQ(host.Text(IDC_STATUS), "Format was canceled.Time elapsed 01:02:05.");
    Engine(FormatResult::Cancelled, 90000);
    dlg.OnStartStop();
    EXPECT_EQ(host.Text(IDC_STATUS), "Format was canceled.Time elapsed 01:00:00.");
}

TEST_F(RunFixture, PullingTheDiskDuringARunCancelsIt) {
    device.format = [&](RunInterface& run, MediaType, FormatMode) {
        run.ResetProgress();
        run.TotalBlocks() = 500;
        device.units = {};
        host.pending.push_back([&] { dlg.OnDeviceChange(kTreeChanged, 0); });
        host.pending.push_back([&] { dlg.OnDeviceChange(kRemoval, 0); });
        for (std::uint32_t block = 0; block < 500; ++block) {
            ++run.BlocksDone();
            run.PumpOneMessage();
            if (run.StopRequested()) return FormatResult::Cancelled;
        }
        return FormatResult::CompleteReplug;
    };
    dlg.OnStartStop();
    EXPECT_EQ(host.Text(IDC_STATUS), "Format was canceled.Time elapsed 00:00:00.");
    EXPECT_FALSE(host.Enabled(IDC_START_STOP));
    EXPECT_TRUE(host.Enabled(IDC_QUICK));
    EXPECT_TRUE(host.Enabled(IDC_FULL));
    EXPECT_TRUE(host.Enabled(IDC_EXIT));
    EXPECT_EQ(dlg.SelectedMedia(), kMediaNone);
    EXPECT_EQ(host.pumps, 2);  // stopped at the poll after the removal
    // Plugging it back in makes it formattable again.
    device.units = {8};
    dlg.OnDeviceChange(kTreeChanged, 0);
    dlg.OnDeviceChange(kArrival, 0);
    EXPECT_TRUE(host.Enabled(IDC_START_STOP));
    EXPECT_EQ(dlg.SelectedMedia(), kMediaUsbDisk);
}

TEST_F(RunFixture, DiskPulledWhileTheConfirmationIsOpenRunsNothing) {
    Engine(FormatResult::Complete, 1);
    host.whileBoxOpen = [&] {
        device.units = {};
        dlg.OnDeviceChange(kTreeChanged, 0);
        dlg.OnDeviceChange(kRemoval, 0);
    };
    dlg.OnStartStop();  // answered OK
    EXPECT_EQ(device.formats, 0);
    EXPECT_EQ(host.Text(IDC_STATUS), AppString(IDS_NO_USB_DISK));
    EXPECT_FALSE(host.Enabled(IDC_START_STOP));
    EXPECT_FALSE(host.Enabled(IDC_QUICK));
    EXPECT_FALSE(host.Enabled(IDC_FULL));
    EXPECT_TRUE(host.Enabled(IDC_EXIT));
    EXPECT_EQ(host.Text(IDC_START_STOP), "Start");
    EXPECT_TRUE(host.timers.empty());
}

TEST_F(RunFixture, ReplugWhileTheResultBoxIsOpenStillEndsWithStartDisabled) {
    bool enabledInsideBox = false;
    device.format = [&](RunInterface& run, MediaType, FormatMode) {
        run.SetRunMessage(kReplugText);
        host.whileBoxOpen = [&] {  // inside the result box, the next one
            PullAndReplug();
            enabledInsideBox = host.Enabled(IDC_START_STOP);
        };
        return FormatResult::CompleteReplug;
    };
    dlg.OnStartStop();
    EXPECT_TRUE(enabledInsideBox);
    EXPECT_FALSE(host.Enabled(IDC_START_STOP));
    EXPECT_EQ(host.Text(IDC_STATUS), kReplugText + "Time elapsed 00:00:00.");
}

TEST_F(RunFixture, NoSecondRunAndNoExitWhileARunIsInProgress) {
    device.format = [&](RunInterface& run, MediaType, FormatMode) {
        run.TotalBlocks() = 10;
        dlg.OnStartStop();  // Stop
        EXPECT_TRUE(run.StopRequested());
        dlg.OnStartStop();  // pressed again before the engine returned
        dlg.OnCancel();     // the cancel command sent to the window anyway
        return FormatResult::Cancelled;
    };
    dlg.OnStartStop();
    EXPECT_EQ(device.formats, 1);
    EXPECT_EQ(host.boxes.size(), 1u);  // no second confirmation
    EXPECT_EQ(host.endResult, -1);
    EXPECT_EQ(device.Count("close"), 0);
    // Once the run is over, Exit works.
    dlg.OnCancel();
    EXPECT_EQ(host.endResult, 2);
}

}  // namespace
