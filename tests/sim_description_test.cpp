#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "sim/sim_bus.h"
#include "sim/sim_device.h"
#include "sim/sim_flash_disk.h"
#include "tests/sim_parse.h"
#include "tests/temp_dir.h"

namespace {

using sim::SimBus;

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

TEST(SimDescription, BuildsTheWholeMachine) {
    const auto bus = ParseOk(R"(# a machine
aspi adapters=3 support-info=0x0103
passthrough direct=no
latency us=250
foreign drive=C adapter=0 target=0 name="System Disk"
foreign drive=d:                       # by letter only
reader adapter=1 target=4 serial="QZ 0001"
  unit CF drive=E card=yes
  unit DS drive=F
    banks 73 2x75
    bad 0:5 1:2047
    data 0:8 0:9
    erase-fails 0:6
    stuck 0:7 page=3 byte=520 mask=0x81
    mark-does-not-stick 2:9
    cis page=32 sectors=100000
    vendor-page text="OUR VENDOR"
    logical sectors=64000
    write-protected
  unit XY
reader adapter=2 target=0
  unit DS drive=G
    banks 6E
    reported-banks 9
    not-ready
unplug-after 1000
)");
    ASSERT_TRUE(bus);
    EXPECT_EQ(3, bus->HostAdapterCount());
    EXPECT_EQ(0x0103u, bus->AspiSupportInfo());
    EXPECT_FALSE(bus->DirectPassThroughSupported());
    EXPECT_EQ(250u, bus->LatencyMicroseconds());
    EXPECT_EQ(4u, bus->DeviceCount());
    EXPECT_TRUE(bus->HasDrive('D'));
    EXPECT_EQ(sim::SimUnit::Kind::Foreign, bus->UnitOfDrive('D')->GetKind());

    EXPECT_EQ("QZ 0001", bus->Reader(0)->Serial());
    EXPECT_EQ("", bus->Reader(1)->Serial());  // none given: none announced

    sim::SimUnit* slot = bus->UnitAt(1, 4, 0);
    ASSERT_NE(nullptr, slot);
    EXPECT_EQ("CF", slot->MediumCode());
    EXPECT_EQ('E', slot->DriveLetter());
    EXPECT_EQ("XY", bus->UnitAt(1, 4, 2)->MediumCode());

    ASSERT_EQ(2u, bus->FlashDiskCount());
    sim::SimFlashDisk& disk = *bus->FlashDisk(0);
    EXPECT_EQ(bus->UnitOfDrive('F')->FlashDisk(), &disk);
    ASSERT_EQ(3u, disk.BankCount());
    EXPECT_EQ(0x73, disk.DeviceCode(0));
    EXPECT_EQ(0x75, disk.DeviceCode(2));
    EXPECT_TRUE(disk.IsMarkedBad(0, 5));
    EXPECT_TRUE(disk.IsMarkedBad(1, 2047));
    EXPECT_FALSE(disk.IsMarkedBad(0, 6));
    // A block with data: data in every page, no mark, spare bytes 6..10 not blank.
    for (std::uint32_t p : {8u * 32, 8u * 32 + 31, 9u * 32}) {
        const sim::PageBytes page = disk.ReadPage(0, p);
        EXPECT_FALSE(std::all_of(page.begin(), page.begin() + 512,
                                 [](std::uint8_t b) { return b == 0xFF; }));
        EXPECT_FALSE(std::all_of(page.begin() + 518, page.begin() + 523,
                                 [](std::uint8_t b) { return b == 0xFF; }));
    }
    EXPECT_NE(disk.ReadPage(0, 8 * 32), disk.ReadPage(0, 9 * 32));
    EXPECT_FALSE(disk.IsMarkedBad(0, 8));
    EXPECT_EQ(0x7E, disk.ReadPage(0, 7 * 32 + 3)[520]);
    EXPECT_EQ(0xFF, disk.ReadPage(0, 7 * 32 + 2)[520]);
    EXPECT_TRUE(disk.WriteProtected());

    EXPECT_EQ(32u, disk.CisPageNumber());
    EXPECT_EQ(100000u, disk.CisSectorTotal());
    const sim::PageBytes cis = disk.ReadPage(0, 32);
    EXPECT_EQ(0, std::memcmp(cis.data(), "USBC", 4));
    EXPECT_EQ(100000u, Le32(&cis[260 + 8]));
    EXPECT_LT(Le32(&cis[260]), Le32(&cis[264]));
    EXPECT_EQ(0u, Le32(&cis[260 + 12]));
    for (int i = 512; i < 518; ++i) EXPECT_EQ(0xFF, cis[i]);
    for (int i = 518; i < 528; ++i) EXPECT_EQ(0x00, cis[i]);
    const sim::PageBytes vendor = disk.ReadPage(0, 33);
    EXPECT_EQ(0, std::memcmp(vendor.data(), "USBCOUR VENDOR", 14));
    EXPECT_EQ(64000u, disk.SectorCount());  // the logical size given wins

    sim::SimFlashDisk& second = *bus->FlashDisk(1);
    EXPECT_EQ(9, second.ReportedBankCount());
    EXPECT_TRUE(second.NotReady());
    EXPECT_EQ(sim::kNoPage, second.CisPageNumber());
    EXPECT_EQ(0u, second.SectorCount());
}

TEST(SimDescription, ErasesDefaultsAndLogicalSizeFromTheCisPage) {
    const auto bus = ParseOk("reader\nunit DS\nbanks 76\ncis\n");
    ASSERT_TRUE(bus);
    sim::SimFlashDisk& disk = *bus->FlashDisk();
    EXPECT_EQ(0u, disk.CisPageNumber());
    // 16 groups of 250 blocks of 32 pages: what a clean format of 76h offers.
    EXPECT_EQ(128000u, disk.SectorCount());
    EXPECT_EQ(1, bus->HostAdapterCount());
    EXPECT_TRUE(bus->AspiLibrary().present);
    EXPECT_TRUE(bus->DirectPassThroughSupported());
    EXPECT_EQ(0xFF, disk.ReadPage(0, 32)[0]);
}

TEST(SimDescription, DescribedCisPagesAreOnesTheControllerLoads) {
    // C4h makes the controller load the page; a described old CIS page must be one a format
    // could have left, also on banks of different parts and with bad blocks in a group.
    const std::uint8_t c4[12] = {0xC4};
    const struct {
        const char* text;
        std::uint32_t sectors;
    } machines[] = {
        {"reader\nunit DS\nbanks 73 79\ncis\n", 4 * 250 * 32 + 32 * 250 * 32},
        {"reader\nunit DS\nbanks 73 79\nbad 0:1 0:2 0:3 0:4 0:5 0:6\ncis sectors=40000\n", 40000},
        {"reader\nunit DS\nbanks 2x6E\ncis sectors=4000\n", 4000},
    };
    for (const auto& m : machines) {
        SCOPED_TRACE(m.text);
        const auto bus = ParseOk(m.text);
        ASSERT_TRUE(bus);
        sim::SimFlashDisk& disk = *bus->FlashDisk();
        ASSERT_EQ(sim::Outcome::Good, disk.Execute(c4, sim::Direction::None, nullptr, 0));
        EXPECT_EQ(m.sectors, disk.SectorCount());
        const sim::PageBytes cis = disk.ReadPage(0, 0);
        // 73h has four groups: nothing is placed past them.
        for (int g = 4; g < 32; ++g) EXPECT_EQ(0, cis[4 + g]) << "group " << g;
    }
}

TEST(SimDescription, NumbersAreDecimalOrHexadecimalNeverOctal) {
    const auto bus = ParseOk(
        "reader\nunit DS\nbanks 73\ncis page=064 sectors=0x3E80\n"
        "logical sectors=010\n");
    ASSERT_TRUE(bus);
    sim::SimFlashDisk& disk = *bus->FlashDisk();
    EXPECT_EQ(64u, disk.CisPageNumber());
    EXPECT_EQ(16000u, disk.CisSectorTotal());
    EXPECT_EQ(10u, disk.SectorCount());
    EXPECT_NE(std::string::npos, ParseError("reader\nunit DS\nbanks 73\nlogical sectors=0x\n")
                                     .find("line 4: sectors \"0x\" is not a number"));
}

TEST(SimDescription, CommandFaultsCountFromTheStart) {
    const auto bus = ParseOk("reader\nunit DS drive=E\nbanks 73\nhang-on 1\nunplug-after 2\n");
    ASSERT_TRUE(bus);
    const std::uint8_t testUnitReady[12] = {};
    EXPECT_EQ(sim::Outcome::Hung,
              bus->ExecuteDrive('E', testUnitReady, sim::Direction::None, nullptr, 0));
    EXPECT_EQ(sim::Outcome::Good,
              bus->ExecuteDrive('E', testUnitReady, sim::Direction::None, nullptr, 0));
    EXPECT_FALSE(bus->Plugged());
    EXPECT_FALSE(bus->HasDrive('E'));
}

TEST(SimDescription, FailOnEndsACommandWithTheSenseGiven) {
    const auto bus = ParseOk("reader\nunit DS drive=E\nbanks 73\nfail-on 2 sense=7/27\n");
    ASSERT_TRUE(bus);
    const std::uint8_t testUnitReady[12] = {};
    const std::uint8_t requestSense[12] = {0x03, 0, 0, 0, 18};
    std::uint8_t sense[18] = {};
    EXPECT_EQ(sim::Outcome::Good,
              bus->ExecuteDrive('E', testUnitReady, sim::Direction::None, nullptr, 0));
    EXPECT_EQ(sim::Outcome::CheckCondition,
              bus->ExecuteDrive('E', testUnitReady, sim::Direction::None, nullptr, 0));
    EXPECT_EQ(sim::Outcome::Good,
              bus->ExecuteDrive('E', requestSense, sim::Direction::In, sense, sizeof sense));
    EXPECT_EQ(0x07, sense[2]);
    EXPECT_EQ(0x27, sense[12]);
    EXPECT_EQ(0x00, sense[13]);
    // The disk itself saw only the first TEST UNIT READY.
    EXPECT_EQ(1u, bus->FlashDisk()->CommandCount(0x00));
    EXPECT_EQ(0u, bus->FlashDisk()->CommandCount(0x03));

    // Without sense=: a MEDIUM ERROR, unrecovered read error; with a qualifier: all three.
    const auto plain = ParseOk("reader\nunit DS drive=E\nbanks 73\nfail-on 1\n");
    ASSERT_TRUE(plain);
    EXPECT_EQ(sim::Outcome::CheckCondition,
              plain->ExecuteDrive('E', testUnitReady, sim::Direction::None, nullptr, 0));
    plain->ExecuteDrive('E', requestSense, sim::Direction::In, sense, sizeof sense);
    EXPECT_EQ(0x03, sense[2]);
    EXPECT_EQ(0x11, sense[12]);
    const auto full = ParseOk("fail-on 1 sense=4/3e/1\nreader\nunit DS drive=E\nbanks 73\n");
    ASSERT_TRUE(full);
    EXPECT_EQ(sim::Outcome::CheckCondition,
              full->ExecuteDrive('E', testUnitReady, sim::Direction::None, nullptr, 0));
    full->ExecuteDrive('E', requestSense, sim::Direction::In, sense, sizeof sense);
    EXPECT_EQ(0x04, sense[2]);
    EXPECT_EQ(0x3E, sense[12]);
    EXPECT_EQ(0x01, sense[13]);
    EXPECT_EQ(10, sense[7]);

    // length=: the sense says it carries fewer bytes, and the bytes after are sent all the same.
    const auto cut = ParseOk("reader\nunit DS drive=E\nbanks 73\nfail-on 1 sense=6/29 length=0\n");
    ASSERT_TRUE(cut);
    EXPECT_EQ(sim::Outcome::CheckCondition,
              cut->ExecuteDrive('E', testUnitReady, sim::Direction::None, nullptr, 0));
    cut->ExecuteDrive('E', requestSense, sim::Direction::In, sense, sizeof sense);
    EXPECT_EQ(0x06, sense[2]);
    EXPECT_EQ(0, sense[7]);
    EXPECT_EQ(0x29, sense[12]);
}

TEST(SimDescription, CountedBlockFaults) {
    const auto bus = ParseOk(
        "reader\nunit DS\nbanks 73\nerase-fails 0:5 0:6 after=2\nerase-fails 0:7\n"
        "program-fails 0:8 after=40\nbit-flips 0:9 budget=3 seed=11\nbit-flips 0:10\n");
    ASSERT_TRUE(bus);
    sim::SimFlashDisk& disk = *bus->FlashDisk();
    const std::uint8_t erase6[12] = {0xF2, 0, 0xC0};  // block 6
    const std::uint8_t erase7[12] = {0xF2, 0, 0xE0};  // block 7
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(sim::Outcome::Good, disk.Execute(erase6, sim::Direction::None, nullptr, 0));
    }
    EXPECT_EQ(sim::Outcome::CheckCondition, disk.Execute(erase6, sim::Direction::None, nullptr, 0));
    EXPECT_EQ(sim::Outcome::CheckCondition, disk.Execute(erase7, sim::Direction::None, nullptr, 0));
    EXPECT_EQ(3u, disk.BitFlipsLeft(0, 9));
    EXPECT_EQ(1u, disk.BitFlipsLeft(0, 10));
    EXPECT_EQ(0u, disk.BitFlipsLeft(0, 8));
    const std::uint8_t fill8[12] = {0xC1, 0x55, 0, 0, 0, 32, 0, 0x00, 0x01};  // block 8
    EXPECT_EQ(sim::Outcome::Good, disk.Execute(fill8, sim::Direction::None, nullptr, 0));
    EXPECT_EQ(sim::Outcome::CheckCondition,
              disk.Execute(fill8, sim::Direction::None, nullptr, 0));  // 8 programs left

    EXPECT_NE(std::string::npos, ParseError("reader\nunit DS\nbanks 73\nbad 0:1 after=2\n")
                                     .find("line 4: \"bad\" has no option \"after\""));
    EXPECT_NE(std::string::npos, ParseError("reader\nunit DS\nbanks 73\nbit-flips 0:1 budget=x\n")
                                     .find("line 4: budget \"x\" is not a number"));
}

TEST(SimDescription, AspiLibraryFaults) {
    auto bus = ParseOk("aspi library=absent\n");
    ASSERT_TRUE(bus);
    EXPECT_FALSE(bus->AspiLibrary().present);
    bus = ParseOk("aspi missing-entry=SendASPI32Command\n");
    ASSERT_TRUE(bus);
    EXPECT_EQ("SendASPI32Command", bus->AspiLibrary().missingEntry);
}

TEST(SimDescription, BrokenInputNamesTheLine) {
    struct Case {
        const char* text;
        const char* expected;  // part of the message
    };
    const Case cases[] = {
        {"reader\nunit DS\nbanks 73\nbogus 1\n", "line 4: unknown keyword \"bogus\""},
        {"unit DS\n", "line 1: \"unit\" needs a \"reader\""},
        {"reader\nbanks 73\n", "line 2: \"banks\" needs a \"unit DS\""},
        {"reader\nunit DS\n\nreader adapter=1\n", "line 2: the flash disk has no \"banks\""},
        {"reader\nunit DS\nbanks 73\nbad 0:1024\n", "line 4: block 0:1024"},
        {"reader\nunit DS\nbanks 73\nbad 1:0\n", "line 4: block 1:0: the disk has no bank 1"},
        {"reader\nunit DS\nbanks 73\nbad 5\n", "bank:block"},
        {"reader\nunit DS\nbanks 7G\n", "line 3: device code"},
        {"reader\nunit DS\nbanks 73\ncis page=5\n", "line 4: CIS page 5"},
        {"reader\nunit DS\nbanks 73\nbad 0:2\ncis page=64\nlogical sectors=9\n",
         "line 5: the CIS page's block 0:2 is bad"},
        {"reader\nunit DS\nbanks 73\nvendor-page\n", "line 4: \"vendor-page\" needs a \"cis\""},
        {"reader\nunit CF drive=E\nforeign drive=E\n", "line 3: drive E: is given twice"},
        {"reader\nunit DS drive=B\n", "line 2: drive \"B\""},
        {"reader adapter=0 target=0\nforeign adapter=0 target=0\n", "line 2: adapter 0 target 0"},
        {"reader target=8\n", "line 1: target 8 is too large"},
        {"reader\nunit DSX\n", "line 2: \"unit\" needs a two-letter"},
        {"reader\nunit CF card=maybe\n", "line 2: card must be yes or no"},
        {"reader\nunit DS card=yes\n", "line 2: \"card\" is for card slots"},
        {"reader\nunit DS\nbanks 73\nstuck 0:1 mask=0\n", "line 4: mask 0"},
        {"reader\nunit DS\nbanks 73\nstuck 0:1 page=32\n", "line 4: page 32"},
        {"reader\nunit DS\nbanks 73\nlogical\n", "line 4: \"logical\" needs sectors"},
        {"reader\nunit DS\nbanks 73\nlogical sectors=-5\n", "line 4: sectors \"-5\""},
        {"reader\nunit DS\nbanks 73\nbanks 73\n", "line 4: the disk's banks are given twice"},
        {"reader wheel=1\n", "line 1: \"reader\" has no option \"wheel\""},
        {"reader serial=\"\"\n", "line 1: serial \"\" must be 1 to 64 characters"},
        {"reader serial=\"A\tB\"\n", "line 1: serial holds a character that is not printable"},
        {"foreign name=\"Only A Name\"\n", "line 1: \"foreign\" needs a drive or an adapter"},
        {"foreign drive=C name=\"System\n", "line 1: unterminated quote"},
        {"aspi library=maybe\n", "line 1: library must be present or absent"},
        {"latency\n", "line 1: \"latency\" needs us="},
        {"hang-on x\n", "line 1: command count \"x\""},
        {"reader\nunit DS\nbanks 255x79\nreader\nunit DS\nbanks 255x79\nreader\nunit DS\n"
         "banks 3x79\n",
         "line 9: the machine's flash disks would hold more than 4194304 blocks"},
        {"fail-on 3 sense=3\n", "line 1: sense \"3\" is not K/ASC"},
        {"fail-on 3 sense=3/11/0/0\n", "line 1: sense \"3/11/0/0\" is not K/ASC"},
        {"fail-on 3 sense=10/11\n", "line 1: sense 10 is too large"},
        {"fail-on 3 sense=3/zz\n", "line 1: sense \"zz\" is not a number"},
        {"hang-on 3 sense=3/11\n", "line 1: \"hang-on\" has no option \"sense\""},
        {"hang-on 3 length=4\n", "line 1: \"hang-on\" has no option \"length\""},
        {"fail-on 3 length=11\n", "line 1: sense length 11 is too large"},
        {"fail-on\n", "line 1: \"fail-on\" needs a command count"},
        {"reader\nunit DS\nbanks 73 x=1 x=2\n", "line 3: option \"x\" is given twice"},
        {"reader\nunit DS\nbanks 256x73\n", "line 3: bank repeat count 256 is too large"},
        {"reader\n"
         "unit CF\n"
         "unit CF\n"
         "unit CF\n"
         "unit CF\n"
         "unit CF\n"
         "unit CF\n"
         "unit CF\n"
         "unit CF\n"
         "unit CF\n",
         "line 10: a reader has at most 8 units"},
    };
    for (const Case& c : cases) {
        const std::string error = ParseError(c.text);
        EXPECT_NE(std::string::npos, error.find(c.expected)) << "input:\n"
                                                             << c.text << "error: " << error;
    }
}

// The caller names the file; the reason says what is wrong with it, with the line when the
// text is at fault. Only a plain file of a sane size is read.
TEST(SimDescription, LoadReadsOnlyAPlainFileAndSaysWhatIsWrong) {
    TempDir dir;
    const std::string good = dir.Path() + "/good.txt";
    std::ofstream(good) << "reader\nunit DS\nbanks 75\n";
    std::string error;
    auto bus = SimBus::Load(good, &error);
    ASSERT_TRUE(bus) << error;
    EXPECT_EQ(0x75, bus->FlashDisk()->DeviceCode(0));

    const std::string bad = dir.Path() + "/bad.txt";
    std::ofstream(bad) << "reader\nunit DS\nbanks\n";
    EXPECT_EQ(nullptr, SimBus::Load(bad, &error));
    EXPECT_EQ(error.rfind("line 3:", 0), 0u) << error;

    EXPECT_EQ(nullptr, SimBus::Load(dir.Path() + "/missing.txt", &error));
    EXPECT_EQ(error, "cannot read the description: No such file or directory");
    EXPECT_EQ(nullptr, SimBus::Load(dir.Path(), &error));
    EXPECT_EQ(error, "cannot read the description: a folder, not a file");
    EXPECT_EQ(nullptr, SimBus::Load("/dev/zero", &error));
    EXPECT_EQ(error, "cannot read the description: not a plain file");
    const std::string huge = dir.Path() + "/huge.txt";
    std::ofstream(huge) << "reader\nunit DS\nbanks 75\n"
                        << std::string(sim::kMaxDescriptionBytes, '#');
    EXPECT_EQ(nullptr, SimBus::Load(huge, &error));
    EXPECT_EQ(error, "cannot read the description: larger than 1024 KiB");
}

TEST(SimDescription, EveryExampleMachineLoads) {
    const std::filesystem::path folder = std::filesystem::path(BREVANT_SOURCE_DIR) / "sim/examples";
    int loaded = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".txt") continue;
        std::string error;
        EXPECT_TRUE(SimBus::Load(entry.path().string(), &error)) << error;
        ++loaded;
    }
    EXPECT_GE(loaded, 4);

    std::string error;
    const auto demo = SimBus::Load((folder / "demo-64mb.txt").string(), &error);
    ASSERT_TRUE(demo) << error;
    sim::SimFlashDisk& disk = *demo->FlashDisk();
    EXPECT_EQ(0u, disk.CisPageNumber());
    EXPECT_EQ(0, std::memcmp(disk.ReadPage(0, 1).data(), "USBC", 4));
    EXPECT_TRUE(disk.IsMarkedBad(0, 37));
    EXPECT_GT(disk.SectorCount(), 250u);
    EXPECT_EQ(sim::SimUnit::Kind::Foreign, demo->UnitOfDrive('C')->GetKind());
}

}  // namespace
