// The probe of a unit before a format is offered, over the scripted reader.
#include "format/disk_probe.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fake_host.h"

namespace {

using Calls = std::vector<std::string>;

TEST(DiskProbe, ReadyUnitIsMeasuredAndProbedForWriteProtection) {
    FakeDevice device;
    device.lastBlockAddress = 127999;
    device.writeProtected = true;
    const DiskState state = ProbeDisk(device, kMediaUsbDisk, true);
    EXPECT_EQ(device.calls, (Calls{"sense 8", "tur 8", "capacity 8", "write protect 8"}));
    EXPECT_TRUE(state.ready);
    EXPECT_TRUE(state.capacityRead);
    EXPECT_EQ(state.lastBlock, 127999u);
    EXPECT_TRUE(state.writeProtectionProbed);
    EXPECT_TRUE(state.writeProtected);
    EXPECT_EQ(CapacityText(state), "62.5 MB  128000 sectors");
}

TEST(DiskProbe, CardSlotsAreMeasuredOnlyWhenAsked) {
    FakeDevice device;
    const DiskState state = ProbeDisk(device, 2, false);
    EXPECT_EQ(device.calls, (Calls{"sense 2", "tur 2", "capacity 2"}));
    EXPECT_FALSE(state.writeProtectionProbed);
    EXPECT_FALSE(state.writeProtected);
}

TEST(DiskProbe, NotReadyUnlessTheSenseIsAUnitAttention) {
    FakeDevice asleep;
    asleep.ready = false;
    asleep.senses = {SenseNone, SenseNotReady};
    EXPECT_FALSE(ProbeDisk(asleep, kMediaUsbDisk, true).ready);
    EXPECT_EQ(asleep.calls, (Calls{"sense 8", "tur 8", "sense 8"}));  // and nothing more

    FakeDevice fresh;
    fresh.ready = false;
    fresh.senses = {SenseNone, SenseUnitAttention};
    EXPECT_TRUE(ProbeDisk(fresh, kMediaUsbDisk, true).ready);
    EXPECT_EQ(fresh.Count("capacity 8"), 1);
}

TEST(DiskProbe, AFailedReadCapacityShowsNoSize) {
    FakeDevice device;
    device.capacityOk = false;  // leaves a plausible size in the buffer anyway
    const DiskState state = ProbeDisk(device, kMediaUsbDisk, true);
    EXPECT_TRUE(state.ready);
    EXPECT_FALSE(state.capacityRead);
    EXPECT_EQ(CapacityText(state), "Media is not formatted.");
    EXPECT_EQ(device.Count("write protect 8"), 1);
}

}  // namespace
