// The decorators of the simulated link, one by one and stacked, over a device stand-in.
#include "sim/sim_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <vector>

#include "sim/sim_device.h"
#include "sim/sim_trace.h"

namespace {

using sim::Direction;
using sim::Outcome;

const std::uint8_t kTestUnitReady[12] = {};

// Stands where the device would: counts what reaches it and answers as told.
class FakeDevice final : public sim::CommandTarget {
  public:
    Outcome Execute(const sim::UnitCommand& command) override {
        reached.push_back(command.lun);
        return answer;
    }
    Outcome answer = Outcome::Good;
    std::vector<std::uint8_t> reached;
};

class SimLinkTest : public ::testing::Test {
  protected:
    Outcome Send(sim::CommandTarget& target, std::uint8_t lun = 0) {
        const sim::UnitCommand command{reader, lun, kTestUnitReady, Direction::None, nullptr, 0};
        return target.Execute(command);
    }

    sim::SimDevice reader{sim::SimDevice::Kind::Reader, 0, 0, "reader 0"};
    FakeDevice device;
    sim::SimLink link;
};

TEST_F(SimLinkTest, UnplugCountsAnsweredCommandsAndPullsAfterTheCount) {
    sim::UnplugDecorator unplug(device, link);
    link.UnplugAfterCommands(2);
    EXPECT_EQ(Outcome::Good, Send(unplug));
    EXPECT_TRUE(link.Plugged());
    device.answer = Outcome::Hung;  // a hung command was still received
    EXPECT_EQ(Outcome::Hung, Send(unplug));
    EXPECT_FALSE(link.Plugged());
    EXPECT_EQ(Outcome::NoDevice, Send(unplug));
    EXPECT_EQ(2u, device.reached.size());  // nothing gets through a pulled link
    EXPECT_EQ(2u, link.Commands());

    // A command that an inner pulled link refused found no device: it does not count.
    link.SetPlugged(true);
    sim::SimLink inner;
    inner.SetPlugged(false);
    sim::UnplugDecorator innerUnplug(device, inner);
    sim::UnplugDecorator outerUnplug(innerUnplug, link);
    link.UnplugAfterCommands(1);
    EXPECT_EQ(Outcome::NoDevice, Send(outerUnplug));
    EXPECT_TRUE(link.Plugged());
    EXPECT_EQ(2u, link.Commands());
}

TEST_F(SimLinkTest, HangOnNamesOneCommandThatNeverReachesTheDevice) {
    sim::HangDecorator hang(device, link);
    link.HangOnCommand(2);
    EXPECT_EQ(Outcome::Good, Send(hang, 0));
    EXPECT_EQ(Outcome::Hung, Send(hang, 1));
    EXPECT_EQ(Outcome::Good, Send(hang, 2));
    EXPECT_EQ((std::vector<std::uint8_t>{0, 2}), device.reached);
    link.HangOnCommand(1);
    link.HangOnCommand(0);  // cancelled before it came
    EXPECT_EQ(Outcome::Good, Send(hang));
}

TEST_F(SimLinkTest, FailOnEndsOneCommandWithCheckConditionAndHandsItsSenseOver) {
    sim::FailDecorator fail(device, link);
    link.FailOnCommand(2, 0x03, 0x11, 0x05);
    EXPECT_EQ(Outcome::Good, Send(fail, 0));
    EXPECT_EQ(Outcome::CheckCondition, Send(fail, 1));
    EXPECT_EQ((std::vector<std::uint8_t>{0}), device.reached);  // the failed one did not arrive

    // An INQUIRY to the unit leaves the sense where it is; the REQUEST SENSE takes it.
    const std::uint8_t inquiry[12] = {0x12, 0, 0, 0, 36};
    std::uint8_t reply[36] = {};
    EXPECT_EQ(Outcome::Good,
              fail.Execute(sim::UnitCommand{reader, 1, inquiry, Direction::In, reply, 36}));
    const std::uint8_t requestSense[12] = {0x03, 0, 0, 0, 18};
    std::uint8_t sense[20];
    std::fill(std::begin(sense), std::end(sense), 0xEE);
    EXPECT_EQ(Outcome::Good,
              fail.Execute(sim::UnitCommand{reader, 1, requestSense, Direction::In, sense, 18}));
    EXPECT_EQ(0x70, sense[0]);
    EXPECT_EQ(0x03, sense[2]);
    EXPECT_EQ(10, sense[7]);
    EXPECT_EQ(0x11, sense[12]);
    EXPECT_EQ(0x05, sense[13]);
    EXPECT_EQ(0xEE, sense[18]);  // no more than the 18 bytes asked for
    EXPECT_EQ((std::vector<std::uint8_t>{0, 1}), device.reached);  // only the INQUIRY went on

    // Taken once: the next REQUEST SENSE is the device's again.
    EXPECT_EQ(Outcome::Good,
              fail.Execute(sim::UnitCommand{reader, 1, requestSense, Direction::In, sense, 18}));
    EXPECT_EQ((std::vector<std::uint8_t>{0, 1, 1}), device.reached);
}

TEST_F(SimLinkTest, FailOnSenseIsDroppedByTheNextCommandAndKeptPerUnit) {
    sim::FailDecorator fail(device, link);
    link.FailOnCommand(1);
    EXPECT_EQ(Outcome::CheckCondition, Send(fail, 0));
    EXPECT_EQ(Outcome::Good, Send(fail, 2));  // another unit: its sense is its own
    EXPECT_EQ(Outcome::Good, Send(fail, 0));  // replaces the pending sense
    const std::uint8_t requestSense[12] = {0x03, 0, 0, 0, 18};
    std::uint8_t sense[18] = {};
    fail.Execute(sim::UnitCommand{reader, 0, requestSense, Direction::In, sense, 18});
    EXPECT_EQ((std::vector<std::uint8_t>{2, 0, 0}), device.reached);
    EXPECT_EQ(0, sense[2]);  // the fake device wrote nothing: not the injected 3/11

    link.FailOnCommand(1);
    link.FailOnCommand(0);  // cancelled before it came
    EXPECT_EQ(Outcome::Good, Send(fail));
}

TEST_F(SimLinkTest, LatencyPausesEveryCommand) {
    sim::LatencyDecorator latency(device, link);
    link.SetLatencyMicroseconds(15000);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Outcome::Good, Send(latency));
    EXPECT_EQ(Outcome::Good, Send(latency));
    // A lower bound only: the pause is the point, not how fast the host is.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    EXPECT_EQ(2u, device.reached.size());
}

TEST_F(SimLinkTest, TraceRecordsWhatCameBackOnlyWhileKept) {
    sim::TraceRecorder recorder;
    EXPECT_FALSE(recorder.Active());  // nothing unless asked
    recorder.Keep(true);
    sim::TraceDecorator trace(device, recorder);
    sim::HangDecorator hang(trace, link);
    link.HangOnCommand(1);
    EXPECT_EQ(Outcome::Hung, Send(hang));  // hung above the trace: never reached it
    device.answer = Outcome::CheckCondition;
    EXPECT_EQ(Outcome::CheckCondition, Send(trace, 1));
    ASSERT_EQ(1u, recorder.Entries().size());
    EXPECT_EQ("reader 0 lun 1", recorder.Entries()[0].device);
    EXPECT_EQ(Outcome::CheckCondition, recorder.Entries()[0].outcome);

    recorder.Keep(false);
    EXPECT_FALSE(recorder.Active());
    Send(trace);
    EXPECT_EQ(1u, recorder.Entries().size());
    EXPECT_EQ(2u, device.reached.size());  // the hung one never got there
}

}  // namespace
