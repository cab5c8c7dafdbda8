// The one run sequence around the engine that the dialog and the command line share.
#include "format/run_sequence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fake_host.h"
#include "tests/fake_run.h"

namespace {

// A front end whose timer hooks go into the device's call list, so that the two show in one
// order.
class TimedRun : public FakeRun {
  public:
    explicit TimedRun(FakeDevice& device) : device_(device) {}
    void StartProgressTimer() override { device_.calls.push_back("timer on"); }
    void StopProgressTimer() override { device_.calls.push_back("timer off"); }

  private:
    FakeDevice& device_;
};

TEST(RunSequence, EveryResultInTheOrderOfTheDialog) {
    struct Row {
        FormatResult result;
        std::vector<std::string> calls;
        int progress;  // -1: not moved
    };
    const Row rows[] = {
        {FormatResult::CompleteReplug, {"timer on", "format 8 1", "stop 8", "timer off"}, 100},
        {FormatResult::Failed, {"timer on", "format 8 1", "timer off"}, 100},
        {FormatResult::Complete, {"timer on", "format 8 1", "timer off"}, 100},
        {FormatResult::Cancelled, {"timer on", "format 8 1", "timer off"}, 37},
    };
    for (const Row& row : rows) {
        FakeDevice device;
        TimedRun run(device);
        std::string logDuringEngine;
        device.format = [&](RunInterface& engineRun, MediaType, FormatMode) {
            logDuringEngine = run.LogText();
            engineRun.SetProgressPosition(37);
            engineRun.Log().Append("Bank No = %d\n", 0);
            return row.result;
        };
        EXPECT_EQ(RunFormatSequence(run, device, kMediaUsbDisk, FormatMode::Full), row.result);
        const int result = static_cast<int>(row.result);
        EXPECT_EQ(device.calls, row.calls) << result;
        EXPECT_EQ(logDuringEngine, "Start formatting DISK\n") << result;
        EXPECT_EQ(run.LogText(), "Start formatting DISK\nBank No = 0\nEnd formatting DISK\n")
            << result;
        EXPECT_EQ(run.progress, row.progress) << result;
    }
}

}  // namespace
