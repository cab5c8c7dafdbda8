// Machines with many sticks: each reader's own faults and plug beside the machine's, pulls and
// plugs on a schedule and through a control folder, the Linux-side port over every unit, and
// commands to different sticks from different threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_bus.h"
#include "sim/sim_device.h"
#include "sim/sim_flash_disk.h"
#include "sim/sim_port.h"
#include "tests/sim_parse.h"
#include "tests/temp_dir.h"

namespace {

using sim::Direction;
using sim::Outcome;
using sim::SimBus;

const std::uint8_t kTestUnitReady[12] = {};
const std::uint8_t kInquiry[12] = {0x12, 0, 0, 0, 0x38};

// A description of `count` sticks, each a reader with one flash disk of 73h named s01, s02, ...,
// with `extra(i)` written after stick i's lines.
template <typename Extra>
std::string Sticks(int count, Extra extra) {
    std::string text;
    for (int i = 1; i <= count; ++i) {
        char node[16];
        std::snprintf(node, sizeof node, "s%02d", i);
        text += std::string("reader\nunit DS node=") + node + "\nbanks 73\n" + extra(i);
    }
    return text;
}

std::string NoExtra(int) { return ""; }

Outcome Tur(SimBus& bus, std::size_t reader) {
    return bus.ExecuteUnit(*bus.Reader(reader), 0, kTestUnitReady, Direction::None, nullptr, 0);
}

// TEST UNIT READY until it passes (a re-plugged disk reports its unit attention first).
bool ReadyAfterAttention(SimBus& bus, std::size_t reader) {
    return Tur(bus, reader) == Outcome::CheckCondition && Tur(bus, reader) == Outcome::Good;
}

// ---- Each stick its own faults ----

TEST(SimSticks, FaultsAfterAReaderLineAreThatReadersAndBeforeOneTheMachines) {
    const auto bus = ParseOk(
        "hang-on 5\n"
        "reader\nunit DS drive=E\nbanks 73\nunplug-after 2\n"
        "reader\nunit DS drive=F\nbanks 73\nlatency us=7\nhang-on 1\n");
    ASSERT_TRUE(bus);
    EXPECT_EQ(0u, bus->LatencyMicroseconds());
    EXPECT_EQ(7u, bus->ReaderLink(1).LatencyMicroseconds());
    EXPECT_EQ(0u, bus->ReaderLink(0).LatencyMicroseconds());

    EXPECT_EQ(Outcome::Hung, Tur(*bus, 1));  // reader 1's first command
    EXPECT_EQ(Outcome::Good, Tur(*bus, 0));
    EXPECT_EQ(Outcome::Good, Tur(*bus, 0));  // reader 0's second: it is pulled after it
    EXPECT_FALSE(bus->ReaderPlugged(0));
    EXPECT_FALSE(bus->HasDrive('E'));
    EXPECT_TRUE(bus->HasDrive('F'));
    EXPECT_FALSE(bus->Plugged());  // not every reader is in
    // A pulled reader's commands find nobody and count nowhere.
    EXPECT_EQ(Outcome::NoDevice, Tur(*bus, 0));
    EXPECT_EQ(3u, bus->ReaderCommandCount());
    EXPECT_EQ(Outcome::Good, Tur(*bus, 1));
    EXPECT_EQ(Outcome::Hung, Tur(*bus, 1));  // the machine's fifth reader command
    EXPECT_EQ(2u, bus->ReaderLink(0).Commands());
    EXPECT_EQ(3u, bus->ReaderLink(1).Commands());

    // The machine's re-plug brings the pulled reader back, power-cycled; the other one was in
    // all along and is not.
    bus->Replug();
    EXPECT_TRUE(bus->Plugged());
    EXPECT_TRUE(ReadyAfterAttention(*bus, 0));
    EXPECT_EQ(Outcome::Good, Tur(*bus, 1));
}

TEST(SimSticks, OneReaderMachinesKeepTheirMeaning) {
    // Written after the only reader, the faults act as they did machine-wide.
    const auto bus = ParseOk("reader\nunit DS drive=E\nbanks 73\nhang-on 1\nunplug-after 2\n");
    ASSERT_TRUE(bus);
    EXPECT_EQ(Outcome::Hung, bus->ExecuteDrive('E', kTestUnitReady, Direction::None, nullptr, 0));
    EXPECT_EQ(Outcome::Good, bus->ExecuteDrive('E', kTestUnitReady, Direction::None, nullptr, 0));
    EXPECT_FALSE(bus->Plugged());
    bus->Replug();  // as the DLL's control file "replug" does it
    EXPECT_TRUE(bus->HasDrive('E'));
    EXPECT_TRUE(ReadyAfterAttention(*bus, 0));
}

TEST(SimSticks, AStickThatHangsForGoodRecoversOnlyByARePlug) {
    const auto bus = ParseOk(Sticks(2, [](int i) { return i == 1 ? "hang-from 3\n" : ""; }));
    ASSERT_TRUE(bus);
    EXPECT_EQ(Outcome::Good, Tur(*bus, 0));
    EXPECT_EQ(Outcome::Good, Tur(*bus, 0));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Outcome::Hung, Tur(*bus, 0)) << i;
    EXPECT_TRUE(bus->ReaderLink(0).LockedUp());
    EXPECT_EQ(Outcome::Good, Tur(*bus, 1));  // its neighbour goes on
    bus->ReplugReader(0);                    // still in: no power cycle, still hung
    EXPECT_EQ(Outcome::Hung, Tur(*bus, 0));
    bus->UnplugReader(0);
    bus->ReplugReader(0);
    EXPECT_FALSE(bus->ReaderLink(0).LockedUp());
    EXPECT_TRUE(ReadyAfterAttention(*bus, 0));

    // Machine-wide, every reader hangs until the machine is re-plugged.
    bus->HangFromCommand(1);
    EXPECT_EQ(Outcome::Hung, Tur(*bus, 1));
    EXPECT_EQ(Outcome::Hung, Tur(*bus, 0));
    bus->Unplug();
    bus->Replug();
    EXPECT_TRUE(ReadyAfterAttention(*bus, 0));
    EXPECT_TRUE(ReadyAfterAttention(*bus, 1));
}

TEST(SimSticks, SimLatencyOverridesEveryPause) {
    const auto bus = ParseOk("latency us=100\n" +
                             Sticks(2, [](int i) { return i == 2 ? "latency us=900\n" : ""; }));
    ASSERT_TRUE(bus);
    bus->OverrideLatencyMicroseconds(5);
    EXPECT_EQ(5u, bus->LatencyMicroseconds());
    EXPECT_EQ(0u, bus->ReaderLink(1).LatencyMicroseconds());
}

// ---- Plugs on a schedule ----

TEST(SimSticks, ScheduledPullsAndPlugsFollowTheClock) {
    const auto bus = ParseOk(
        "reader plugged=no\nunit DS node=late\nbanks 73\nplug-at ms=100\n"
        "reader\nunit DS node=early\nbanks 73\npull-at ms=100\nplug-at ms=300\n"
        "reader\nunit DS node=third\nbanks 73\n");
    ASSERT_TRUE(bus);
    std::uint64_t now = 5000;
    bus->SetClock([&now] { return now; });  // time 0 of the schedule: 5000
    EXPECT_FALSE(bus->ReaderPlugged(0));
    EXPECT_TRUE(bus->ReaderPlugged(1));
    EXPECT_EQ(Outcome::NoDevice, Tur(*bus, 0));
    now = 5099;
    EXPECT_FALSE(bus->DevicePresent(*bus->Reader(0)));
    now = 5100;
    EXPECT_TRUE(bus->DevicePresent(*bus->Reader(0)));  // plugged in: a medium just inserted
    EXPECT_FALSE(bus->DevicePresent(*bus->Reader(1)));
    EXPECT_TRUE(ReadyAfterAttention(*bus, 0));
    now = 6000;
    EXPECT_TRUE(bus->ReaderPlugged(1));
    EXPECT_TRUE(ReadyAfterAttention(*bus, 1));
    EXPECT_TRUE(bus->ReaderPlugged(2));  // never touched
    EXPECT_EQ(Outcome::Good, Tur(*bus, 2));
}

TEST(SimSticks, ScheduledByCommandsAndForTheWholeMachine) {
    const auto bus = ParseOk(
        "pull-at commands=4\nplug-at commands=5\n"
        "reader\nunit DS\nbanks 73\n"
        "reader plugged=no\nunit DS\nbanks 73\nplug-at commands=2\n");
    ASSERT_TRUE(bus);
    EXPECT_EQ(Outcome::NoDevice, Tur(*bus, 1));
    EXPECT_EQ(Outcome::Good, Tur(*bus, 0));
    EXPECT_EQ(Outcome::Good, Tur(*bus, 0));            // two reader commands: reader 1 comes in
    EXPECT_EQ(Outcome::CheckCondition, Tur(*bus, 1));  // its unit attention (the third)
    EXPECT_EQ(Outcome::Good, Tur(*bus, 1));            // the fourth: the machine goes
    EXPECT_FALSE(bus->Plugged());
    EXPECT_EQ(Outcome::NoDevice, Tur(*bus, 0));
    // Pulled, the machine receives no commands, so the plug at 5 never comes by itself.
    EXPECT_EQ(4u, bus->ReaderCommandCount());
    EXPECT_FALSE(bus->Plugged());
}

// ---- The control folder ----

TEST(SimSticks, ControlFolderPullsAndPlugsSticksByNameAndTakesTheFilesAway) {
    const auto bus = ParseOk(Sticks(3, NoExtra) + "reader\nunit DS drive=K\nbanks 73\n");
    ASSERT_TRUE(bus);
    TempDir dir;
    bus->FollowControlFolder(dir.Path(), 0);
    auto put = [&](const std::string& name) { std::ofstream(dir.Path() + "/" + name) << ""; };
    auto there = [&](const std::string& name) {
        return std::filesystem::exists(dir.Path() + "/" + name);
    };

    put("unplug-s02");
    put("unplug-K");
    put("unplug-nosuch");
    put("notes.txt");
    EXPECT_EQ(Outcome::Good, Tur(*bus, 0));  // the look comes with the command
    EXPECT_FALSE(there("unplug-s02"));
    EXPECT_FALSE(there("unplug-K"));
    EXPECT_TRUE(there("unplug-nosuch"));  // no such stick: left for whoever wrote it
    EXPECT_TRUE(there("notes.txt"));
    EXPECT_FALSE(bus->ReaderPlugged(1));
    EXPECT_FALSE(bus->HasDrive('K'));
    EXPECT_TRUE(bus->ReaderPlugged(2));

    put("replug-1");  // by the reader's number
    EXPECT_TRUE(bus->ReaderPlugged(1));
    EXPECT_FALSE(there("replug-1"));
    EXPECT_TRUE(ReadyAfterAttention(*bus, 1));

    put("unplug");
    put("replug-0");  // pulls before plugs: the machine stays out
    EXPECT_FALSE(bus->HasDrive('K'));
    EXPECT_FALSE(bus->ReaderPlugged(0));
    put("replug");
    EXPECT_TRUE(bus->Plugged());
    EXPECT_FALSE(there("replug"));
}

// Several programs simulating one machine each follow the folder: a file that holds a stick
// out is seen by all of them, for as long as it is there.
TEST(SimSticks, APulledFileHoldsAStickOutForEveryMachineThatLooks) {
    const auto first = ParseOk(Sticks(3, NoExtra));
    const auto second = ParseOk(Sticks(3, NoExtra));
    ASSERT_TRUE(first && second);
    TempDir dir;
    first->FollowControlFolder(dir.Path(), 0);
    second->FollowControlFolder(dir.Path(), 0);
    std::ofstream(dir.Path() + "/pulled-s03") << "";
    EXPECT_EQ(Outcome::Good, Tur(*first, 0));
    EXPECT_EQ(Outcome::Good, Tur(*second, 0));
    EXPECT_FALSE(first->ReaderPlugged(2));
    EXPECT_FALSE(second->ReaderPlugged(2));
    EXPECT_TRUE(std::filesystem::exists(dir.Path() + "/pulled-s03"));  // left for the others
    std::filesystem::remove(dir.Path() + "/pulled-s03");
    EXPECT_EQ(Outcome::Good, Tur(*first, 0));
    EXPECT_EQ(Outcome::Good, Tur(*second, 1));
    EXPECT_TRUE(first->ReaderPlugged(2));
    EXPECT_TRUE(second->ReaderPlugged(2));
    EXPECT_TRUE(ReadyAfterAttention(*first, 2));  // back as from a re-plug
}

TEST(SimSticks, ControlFolderIsLookedIntoAtMostOncePerInterval) {
    const auto bus = ParseOk(Sticks(1, NoExtra));
    ASSERT_TRUE(bus);
    std::uint64_t now = 0;
    bus->SetClock([&now] { return now; });
    TempDir dir;
    bus->FollowControlFolder(dir.Path(), 50);
    EXPECT_EQ(Outcome::Good, Tur(*bus, 0));  // the first look, at 0
    std::ofstream(dir.Path() + "/unplug-0") << "";
    now = 49;
    EXPECT_EQ(Outcome::Good, Tur(*bus, 0));
    now = 50;
    EXPECT_EQ(Outcome::NoDevice, Tur(*bus, 0));
}

// ---- Descriptions of many sticks ----

TEST(SimSticks, ReadersWithoutAnAddressTakeTheNextFreeOne) {
    const auto bus = ParseOk("foreign adapter=0 target=1 name=\"Disk\"\n" + Sticks(40, NoExtra));
    ASSERT_TRUE(bus);
    ASSERT_EQ(40u, bus->ReaderCount());
    EXPECT_EQ(0, bus->Reader(0)->Adapter());
    EXPECT_EQ(0, bus->Reader(0)->Target());
    EXPECT_EQ(2, bus->Reader(1)->Target());  // 0:1 is the foreign drive's
    EXPECT_EQ(1, bus->Reader(7)->Adapter());
    EXPECT_EQ(0, bus->Reader(7)->Target());
    EXPECT_EQ(5, bus->Reader(39)->Adapter());
    EXPECT_EQ("reader 39", bus->Reader(39)->Name());
    EXPECT_EQ(40u, bus->FlashDiskCount());
    EXPECT_EQ(39u, bus->ReaderNamed("s40"));
    EXPECT_EQ(SimBus::kNoReader, bus->ReaderNamed("s41"));
    EXPECT_EQ(SimBus::kNoReader, bus->ReaderNamed("40"));
    EXPECT_EQ(12u, bus->ReaderNamed("12"));
}

TEST(SimSticks, BrokenStickLinesNameTheLine) {
    struct Case {
        std::string text;
        const char* expected;
    };
    const Case cases[] = {
        {"reader\nunit DS node=a1\nbanks 73\nreader\nunit DS node=a1\nbanks 73\n",
         "line 5: node a1 is given twice"},
        {"reader\nunit DS node=E\nbanks 73\n", "line 2: node \"E\" must be 2 to 32"},
        {"reader\nunit DS node=17\nbanks 73\n", "not all digits"},
        {"reader\nunit DS node=a/b\nbanks 73\n", "line 2: node \"a/b\""},
        {"reader\nunit DS\nbanks 73\npull-at\n", "line 4: \"pull-at\" needs ms="},
        {"reader\nunit DS\nbanks 73\nplug-at ms=1 commands=2\n", "line 4: \"plug-at\" needs ms="},
        {"hang-from 0\n", "line 1: \"hang-from\" counts from command 1"},
        {"reader plugged=maybe\n", "line 1: plugged must be yes or no"},
        {"foreign drive=C node=sys\nforeign drive=D node=sys\n", "line 2: node sys is given twice"},
    };
    for (const Case& c : cases) {
        const std::string error = ParseError(c.text);
        EXPECT_NE(std::string::npos, error.find(c.expected)) << c.text << " -> " << error;
    }
}

TEST(SimSticks, TheStationExampleHasThirtyTwoSticksWithTheirOwnFaults) {
    std::string error;
    const auto bus = SimBus::Load(BREVANT_SOURCE_DIR "/sim/examples/station-32.txt", &error);
    ASSERT_TRUE(bus) << error;
    EXPECT_EQ(32u, bus->ReaderCount());
    EXPECT_FALSE(bus->ReaderPlugged(bus->ReaderNamed("s30")));
    EXPECT_EQ(300u, bus->ReaderLink(bus->ReaderNamed("s12")).LatencyMicroseconds());
    EXPECT_EQ(0u, bus->ReaderLink(bus->ReaderNamed("s11")).LatencyMicroseconds());
    sim::SimPort port(*bus);
    EXPECT_EQ(32u, port.PlaceCount());
    EXPECT_EQ("sim:s01", port.PlaceName(0));
    EXPECT_EQ("sim:s32", port.PlaceName(31));
}

// ---- The Linux-side port ----

class SimPortTest : public ::testing::Test {
  protected:
    CommandOutcome Send(sim::SimPort& port, std::uint32_t place, const std::uint8_t* cdb,
                        DataPhase phase = DataPhase::None, void* buffer = nullptr,
                        std::uint32_t length = 0) {
        return port.Execute(PortAddress{place, 0}, cdb, 12, phase, buffer, length, 2);
    }
};

// "sim:E" and "sim:s1" of one unit are one stick; each place knows the reader it is on, and the
// serial number that reader announces.
TEST_F(SimPortTest, AUnitNamedByNodeAnswersToItsDriveLetterToo) {
    const auto bus = ParseOk(
        "reader serial=X1\nunit DS drive=E node=s1\nbanks 73\n"
        "reader serial=X2\nunit DS node=s2\nbanks 73\n");
    ASSERT_TRUE(bus);
    sim::SimPort port(*bus);
    ASSERT_EQ(2u, port.PlaceCount());
    EXPECT_EQ("sim:s1", port.PlaceName(0));
    EXPECT_EQ(0u, port.FindPlace("sim:E"));
    EXPECT_EQ(0u, port.FindPlace("sim:s1"));
    EXPECT_EQ(port.PlaceCount(), port.FindPlace("sim:F"));
    ASSERT_NE(nullptr, port.DeviceAt(1));
    EXPECT_EQ("X1", port.DeviceAt(0)->Serial());
    EXPECT_EQ("X2", port.DeviceAt(1)->Serial());
    EXPECT_EQ(nullptr, port.DeviceAt(2));
}

TEST_F(SimPortTest, EveryUnitIsAPlaceLetteredFirstThenInDescriptionOrder) {
    // 30 sticks without letters, a card reader with letters, a foreign disk by address only.
    const auto bus =
        ParseOk(Sticks(30, NoExtra) +
                "reader adapter=7 target=3\nunit CF drive=G\nunit DS drive=E\nbanks 73\nunit SM\n"
                "foreign adapter=9 target=0\nforeign drive=C\n");
    ASSERT_TRUE(bus);
    sim::SimPort port(*bus);
    ASSERT_EQ(30u + 3u + 2u, port.PlaceCount());
    EXPECT_EQ("sim:C", port.PlaceName(0));
    EXPECT_EQ("sim:E", port.PlaceName(1));
    EXPECT_EQ("sim:G", port.PlaceName(2));
    EXPECT_EQ("sim:s01", port.PlaceName(3));
    EXPECT_EQ("sim:s30", port.PlaceName(32));
    EXPECT_EQ("sim:7:3:2", port.PlaceName(33));  // the SM slot: its address
    EXPECT_EQ("sim:9:0:0", port.PlaceName(34));
    EXPECT_EQ("", port.PlaceName(35));
    EXPECT_EQ(27u, port.FindPlace("sim:s25"));
    EXPECT_EQ(port.PlaceCount(), port.FindPlace("sim:s31"));

    // The 25th stick answers at its place, as itself.
    std::uint8_t reply[56] = {};
    ASSERT_TRUE(Send(port, 27, kInquiry, DataPhase::In, reply, 56).Good());
    EXPECT_EQ(0, std::memcmp(reply + 36, "QZDS", 4));
    const std::uint8_t erase3[12] = {0xF2, 0, 0x60};
    ASSERT_TRUE(Send(port, 27, erase3).Good());
    EXPECT_EQ(1u, bus->FlashDisk(24)->EraseCount(0, 3));
    EXPECT_EQ(0u, bus->FlashDisk(23)->EraseCount(0, 3));
}

TEST_F(SimPortTest, APulledStickKeepsItsPlaceAndAnswersNothing) {
    const auto bus = ParseOk(Sticks(26, NoExtra));
    ASSERT_TRUE(bus);
    sim::SimPort port(*bus);
    bus->UnplugReader(25);
    EXPECT_EQ(26u, port.PlaceCount());
    EXPECT_EQ("sim:s26", port.PlaceName(25));
    EXPECT_FALSE(port.Open(25));
    EXPECT_TRUE(port.Open(24));
    EXPECT_EQ(CommandStatus::NoDevice, Send(port, 25, kTestUnitReady).status);
    bus->ReplugReader(25);
    EXPECT_TRUE(port.Open(25));
    // The unit attention comes back with its sense bytes, as Linux hands them over.
    bus->SetTraceEnabled(true);
    const CommandOutcome attention = Send(port, 25, kTestUnitReady);
    EXPECT_EQ(CommandStatus::CheckCondition, attention.status);
    ASSERT_EQ(18, attention.senseLength);
    EXPECT_EQ(6, attention.sense[2] & 0x0F);
    ASSERT_EQ(2u, bus->Trace().size());
    EXPECT_EQ(0x03, bus->Trace()[1].cdb[0]);  // the port's own REQUEST SENSE
    EXPECT_EQ("reader 25 lun 0", bus->Trace()[1].device);
    EXPECT_TRUE(Send(port, 25, kTestUnitReady).Good());
}

TEST_F(SimPortTest, AStickThatHangsTimesOut) {
    const auto bus = ParseOk(Sticks(2, [](int i) { return i == 2 ? "hang-from 1\n" : ""; }));
    ASSERT_TRUE(bus);
    sim::SimPort port(*bus);
    EXPECT_EQ(CommandStatus::TimedOut, Send(port, 1, kTestUnitReady).status);
    EXPECT_TRUE(Send(port, 0, kTestUnitReady).Good());
}

// ---- Threads ----

TEST(SimSticks, SticksTakeCommandsFromThreadsOfTheirOwn) {
    constexpr int kSticks = 8;
    constexpr int kCommands = 3000;
    const auto bus = ParseOk(Sticks(kSticks, NoExtra));
    ASSERT_TRUE(bus);
    bus->SetTraceEnabled(true);
    bus->HangOnCommand(kSticks * kCommands / 4);  // one command somewhere on some stick
    // What came back to each thread: commands that reached the disk, hung ones, refused ones.
    std::vector<int> reached(kSticks, 0), hung(kSticks, 0), absent(kSticks, 0);
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int s = 0; s < kSticks; ++s) {
        threads.emplace_back([&, s] {
            sim::SimDevice& reader = *bus->Reader(s);
            for (int i = 0; i < kCommands; ++i) {
                const std::uint32_t page = (i % 1000) * 32;
                const std::uint8_t erase[12] = {0xF2, 0, static_cast<std::uint8_t>(page),
                                                static_cast<std::uint8_t>(page >> 8)};
                switch (bus->ExecuteUnit(reader, 0, erase, Direction::None, nullptr, 0)) {
                    case Outcome::Hung:
                        ++hung[s];
                        break;
                    case Outcome::NoDevice:
                        ++absent[s];
                        break;
                    default:
                        ++reached[s];
                }
            }
        });
    }
    // Meanwhile the last stick is pulled and plugged again and again (power-cycled each time).
    std::thread plugger([&] {
        while (!stop) {
            bus->UnplugReader(kSticks - 1);
            bus->ReplugReader(kSticks - 1);
        }
    });
    for (std::thread& t : threads) t.join();
    stop = true;
    plugger.join();

    int hungTotal = 0;
    std::uint64_t answered = 0;
    for (int s = 0; s < kSticks; ++s) {
        hungTotal += hung[s];
        answered += bus->ReaderLink(s).Commands();
        // Every command that was not refused or hung reached the disk, once (an erase after a
        // power cycle is refused by the disk's unit attention, but it got there).
        EXPECT_EQ(static_cast<std::uint64_t>(reached[s]), bus->FlashDisk(s)->CommandCount(0xF2))
            << s;
        EXPECT_EQ(static_cast<std::uint64_t>(reached[s] + hung[s]), bus->ReaderLink(s).Commands())
            << s;
        if (s < kSticks - 1) {
            EXPECT_EQ(0, absent[s]) << s;
        }
    }
    EXPECT_EQ(1, hungTotal);
    EXPECT_EQ(answered, bus->ReaderCommandCount());
    EXPECT_EQ(static_cast<std::size_t>(kSticks * kCommands), bus->Trace().size());
}

}  // namespace
