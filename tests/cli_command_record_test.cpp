// brevant --trace on real devices: the record of every command sent (cli/command_record.h),
// over a simulated machine's port, held against what the machine received.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "cli/shared/cli_options.h"
#include "cli/shared/command_record.h"
#include "sim/sim_bus.h"
#include "sim/sim_port.h"
#include "tests/temp_dir.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(CommandRecord, EveryCommandSentIsALineAsTheMachineSawIt) {
    std::string error;
    auto bus = sim::SimBus::Parse("reader\n unit DS drive=E\n  banks 73\n", &error);
    ASSERT_TRUE(bus) << error;
    bus->SetTraceEnabled(true);
    sim::SimPort port(*bus);
    TempDir dir;
    const std::string path = dir.Path() + "/record.txt";
    std::FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    auto record = std::make_unique<CommandRecordPort>(port, out);
    const std::uint32_t place = port.FindPlace("sim:E");
    ASSERT_TRUE(record->Open(place));

    std::uint8_t reply[56] = {};
    const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, 56, 0};  // six bytes: padded in the record
    EXPECT_TRUE(record->Execute({place, 0}, inquiry, 6, DataPhase::In, reply, 56, 2).Good());
    const std::uint8_t unknown[12] = {0xD0};
    EXPECT_EQ(record->Execute({place, 0}, unknown, 12, DataPhase::None, nullptr, 0, 2).status,
              CommandStatus::CheckCondition);
    // A command the port refuses never left the machine: not recorded.
    EXPECT_EQ(record->Execute({place + 7, 0}, inquiry, 6, DataPhase::In, reply, 56, 2).status,
              CommandStatus::Refused);
    // Each line is in the file as soon as its command is back.
    EXPECT_EQ(ReadAll(path),
              "sim:E: 12 00 00 00 38 00 00 00 00 00 00 00 in 56 good\n"
              "sim:E: D0 00 00 00 00 00 00 00 00 00 00 00 none 0 check-condition\n");
    ASSERT_TRUE(record->Finish());

    // What the machine received is the same, after the device name (and the REQUEST SENSE the
    // port sends after a failed command, as Linux does).
    ASSERT_EQ(bus->Trace().size(), 3u);
    EXPECT_EQ(sim::SimBus::FormatTraceEntry(bus->Trace()[1]),
              "reader 0 lun 0: D0 00 00 00 00 00 00 00 00 00 00 00 none 0 check-condition");
}

TEST(CommandRecord, TheTraceOptionNeedsNoSimulatedMachine) {
    CliOptions options;
    std::string error;
    EXPECT_TRUE(ParseCommandLine({"check", "--trace", "sent.txt"}, &options, &error)) << error;
    EXPECT_EQ(options.tracePath, "sent.txt");
    EXPECT_FALSE(ParseCommandLine({"check", "--export-image", "x.img"}, &options, &error));
}

}  // namespace
