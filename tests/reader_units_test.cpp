#include "reader/reader_unit.h"
#include "reader/units.h"
#include "reader/win32/pass_through_backend.h"
#include "reader_fixture.h"
#include "sim/sim_flash_disk.h"

namespace {

struct Found {
    std::uint8_t count = 0xEE;
    std::vector<MediaType> keys;
};

Found Discover(Reader& reader) {
    Found found;
    MediaType keys[3] = {0xEE, 0xEE, 0xEE};
    reader.DiscoverUnits(&found.count, keys);
    found.keys.assign(keys, keys + (found.count <= 3 ? found.count : 3));
    return found;
}

// The drive ("E:") the unit at table position i was found on.
std::string DriveOf(const Reader& reader, int i) {
    return reader.Port()->PlaceName(reader.Units().entries[i].place);
}

int CountOpcode(const std::vector<sim::TraceEntry>& trace, std::uint8_t opcode) {
    int n = 0;
    for (const sim::TraceEntry& e : trace) n += e.cdb[0] == opcode ? 1 : 0;
    return n;
}

class ReaderAspiDiscovery : public ReaderTest {
  protected:
    void Open() { ASSERT_EQ(reader.OpenTransport(), 1) << "ASPI"; }
};

TEST_F(ReaderAspiDiscovery, ReadersAnsweringEveryLunAlikeAreOneUnit) {
    AddReader(0, 0, {"CF", "CF"});
    Open();
    const Found found = Discover(reader);
    EXPECT_EQ(found.count, 1);
    EXPECT_EQ(found.keys, (std::vector<MediaType>{kMediaCompactFlash}));
    EXPECT_EQ(reader.Units().LunOfUnit(kMediaCompactFlash), 0);
}

TEST_F(ReaderAspiDiscovery, CardSlotsGetTheirKeysInLunOrder) {
    AddReader(0, 0, {"CF", "SM", "MM"});
    Open();
    const Found found = Discover(reader);
    EXPECT_EQ(found.keys, (std::vector<MediaType>{1, 2, 4}));
    EXPECT_EQ(reader.Units().LunOfUnit(2), 1);
    EXPECT_EQ(reader.Units().LunOfUnit(4), 2);
    EXPECT_EQ(reader.Units().LunOfUnit(8), kNoLun);
}

TEST_F(ReaderAspiDiscovery, TwoFlashDisksGetEightAndNine) {
    AddReader(0, 0, {"DS", "DS"});
    Open();
    EXPECT_EQ(Discover(reader).keys, (std::vector<MediaType>{8, 9}));
}

TEST_F(ReaderAspiDiscovery, AFlashDiskAfterTwoSlotsGetsTen) {
    AddReader(0, 0, {"CF", "SM", "DS"});
    Open();
    EXPECT_EQ(Discover(reader).keys, (std::vector<MediaType>{1, 2, 10}));
    EXPECT_EQ(reader.Units().LunOfUnit(10), 2);
}

TEST_F(ReaderAspiDiscovery, AnUnknownCodeAtLunZeroLeavesTheListEmpty) {
    AddReader(0, 0, {"XY", "DS"});
    Open();
    const Found found = Discover(reader);
    EXPECT_EQ(found.count, 0);
    // LUN 0 was asked again and again; LUN 1 never.
    for (const sim::TraceEntry& e : TraceOf("reader 0")) EXPECT_EQ(e.device, "reader 0 lun 0");
    EXPECT_EQ(CountOpcode(TraceOf("reader 0 lun 0"), 0x12), 4);
}

TEST_F(ReaderAspiDiscovery, FindsTheFirstReaderAndSendsForeignTargetsOnlyInquiry) {
    bus.SetHostAdapterCount(3);
    bus.AddForeignDrive('C', 0, 0, "system disk");
    bus.AddForeignDrive('D', 1, 2, "DVD");
    AddReader(1, 6, {"DS"});
    AddReader(2, 0, {"CF"});
    Open();
    const Found found = Discover(reader);
    EXPECT_EQ(found.keys, (std::vector<MediaType>{8}));
    EXPECT_EQ(backEnds.Transport().readerHostAdapter, 1);
    EXPECT_EQ(backEnds.Transport().readerTarget, 6);
    EXPECT_TRUE(TraceOf("reader 1").empty());  // scanning stopped at the first reader
    for (const char* foreign : {"foreign C", "foreign D"}) {
        const auto trace = TraceOf(foreign);
        ASSERT_EQ(trace.size(), 1u) << foreign;
        EXPECT_EQ(Cdb(trace[0]), Bytes({0x12, 0, 0, 0, 0x38}));
        EXPECT_EQ(trace[0].length, 56u);
    }
}

TEST_F(ReaderAspiDiscovery, NoReaderGivesNoUnits) {
    bus.AddForeignDrive('C', 0, 0, "system disk");
    Open();
    EXPECT_EQ(Discover(reader).count, 0);
    EXPECT_EQ(reader.Units().LunOfUnit(kMediaNone), kNoLun);
}

TEST_F(ReaderAspiDiscovery, ACachedListIsReusedWithOneTestUnitReady) {
    AddReader(0, 0, {"CF", "DS"});
    Open();
    ASSERT_EQ(Discover(reader).keys, (std::vector<MediaType>{1, 9}));
    bus.ClearTrace();
    // The empty CF slot fails TEST UNIT READY (no medium): that keeps the list.
    EXPECT_EQ(Discover(reader).keys, (std::vector<MediaType>{1, 9}));
    ASSERT_EQ(bus.Trace().size(), 1u);
    EXPECT_EQ(Cdb(bus.Trace()[0]), Bytes({0x00}));
    EXPECT_EQ(bus.Trace()[0].device, "reader 0 lun 0");
}

TEST_F(ReaderAspiDiscovery, AVanishedReaderIsScannedAgain) {
    AddReader(0, 0, {"DS"});
    Open();
    ASSERT_EQ(Discover(reader).count, 1);
    bus.Unplug();
    EXPECT_EQ(reader.UnitsStillPresent(), 0);
    EXPECT_EQ(Discover(reader).count, 0);
    bus.Replug();
    EXPECT_EQ(Discover(reader).keys, (std::vector<MediaType>{8}));
}

TEST_F(ReaderAspiDiscovery, AHungPresenceCheckCountsAsVanished) {
    AddReader(0, 0, {"DS"});
    Open();
    ASSERT_EQ(Discover(reader).count, 1);
    bus.HangOnCommand(1);
    EXPECT_EQ(reader.UnitsStillPresent(), 0);
    EXPECT_EQ(backEnds.Transport().lastAspiStatus, kAspiAborted);
}

TEST_F(ReaderAspiDiscovery, ACommandForAnUnknownKeyReachesNoUnit) {
    AddReader(0, 0, {"DS"});
    Open();
    ASSERT_EQ(Discover(reader).count, 1);
    const std::uint32_t sent = layer.SendCommandCalls();
    bus.ClearTrace();
    EXPECT_FALSE(ReaderUnit(reader, kMediaCompactFlash).TestUnitReady().Good());
    EXPECT_FALSE(ReaderUnit(reader, kMediaNone).TestUnitReady().Good());
    EXPECT_EQ(layer.SendCommandCalls(), sent);
    EXPECT_TRUE(bus.Trace().empty());
    EXPECT_TRUE(ReaderUnit(reader, 8).TestUnitReady().Good());
}

class ReaderDriveWalk : public ReaderTest {
  protected:
    ReaderDriveWalk() { WithoutAspi(); }
    void Open() { ASSERT_EQ(reader.OpenTransport(), 1); }
};

TEST_F(ReaderDriveWalk, OpensEveryDriveFromCToZInOrder) {
    Open();
    EXPECT_EQ(Discover(reader).count, 0);
    std::vector<std::string> expected;
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        expected.push_back(std::string("\\\\.\\") + letter + ":");
    }
    EXPECT_EQ(layer.OpenedPaths(), expected);
    EXPECT_EQ(layer.LastCreateAccess(), 0xC0000000u);
    EXPECT_EQ(layer.LastCreateShare(), 3u);
    EXPECT_EQ(layer.LastCreateDisposition(), 3u);
    EXPECT_EQ(layer.LastCreateFlags(), 0u);
}

TEST_F(ReaderDriveWalk, ForeignDrivesGetOnlyInquiryAndAreClosed) {
    bus.AddForeignDrive('C', sim::kNoAspiAddress, 0, "system disk");
    bus.AddForeignDrive('D', sim::kNoAspiAddress, 0, "DVD");
    AddReader(0, 0, {"DS"}, "F");
    bus.AddForeignDrive('G', sim::kNoAspiAddress, 0, "second disk");
    Open();
    const Found found = Discover(reader);
    EXPECT_EQ(found.keys, (std::vector<MediaType>{8}));
    EXPECT_EQ(DriveOf(reader, 0), "F:");
    EXPECT_EQ(layer.OpenHandleCount(), 1u);  // only the reader's drive stays open
    EXPECT_EQ(reader.Units().PlaceOfUnit(8), reader.Units().entries[0].place);
    EXPECT_NE(static_cast<PassThroughPort*>(reader.Port())->HandleOf(reader.Units().PlaceOfUnit(8)),
              nullptr);
    for (const char* foreign : {"foreign C", "foreign D", "foreign G"}) {
        const auto trace = TraceOf(foreign);
        ASSERT_EQ(trace.size(), 1u) << foreign;
        EXPECT_EQ(Cdb(trace[0]), Bytes({0x12, 0, 0, 0, 0x38})) << foreign;
        EXPECT_EQ(bus.UnitOfDrive(foreign[8])->NonInquiryCommands(), 0u);
    }
    // The first reader drive was probed for the direct request, once.
    EXPECT_EQ(backEnds.Transport().directProbed, 1);
    EXPECT_EQ(backEnds.Transport().useDirect, 1);
    EXPECT_EQ(CountOpcode(TraceOf("reader 0"), 0x12), 2);
}

TEST_F(ReaderDriveWalk, CollectsTheUnitsOfSeveralReadersInLetterOrder) {
    AddReader(0, 0, {"DS"}, "H");
    AddReader(0, 1, {"CF", "MM"}, "EK");
    Open();
    const Found found = Discover(reader);
    EXPECT_EQ(found.keys, (std::vector<MediaType>{1, 9, 4}));
    EXPECT_EQ(DriveOf(reader, 0), "E:");
    EXPECT_EQ(DriveOf(reader, 1), "H:");
    EXPECT_EQ(DriveOf(reader, 2), "K:");
    EXPECT_EQ(reader.Units().keys[1], 9);
    EXPECT_EQ(CountOpcode(bus.Trace(), 0x12), 4);  // three units and one direct probe
}

TEST_F(ReaderDriveWalk, StopsAtTheThirdUnit) {
    AddReader(0, 0, {"DS", "SM"}, "EF");
    AddReader(0, 1, {"CF", "DS"}, "GH");
    Open();
    const Found found = Discover(reader);
    EXPECT_EQ(found.count, 3);
    EXPECT_EQ(found.keys, (std::vector<MediaType>{8, 2, 1}));
    EXPECT_EQ(layer.OpenedPaths().back(), "\\\\.\\G:");  // H: is never opened
    EXPECT_EQ(layer.OpenHandleCount(), 3u);
    EXPECT_TRUE(TraceOf("reader 1 lun 1").empty());
}

TEST_F(ReaderDriveWalk, AnUnknownCodeOrANoiseReplyIsClosed) {
    AddReader(0, 0, {"ZZ"}, "E");
    AddReader(0, 1, {"SM"}, "F");
    Open();
    EXPECT_EQ(Discover(reader).keys, (std::vector<MediaType>{2}));
    EXPECT_EQ(layer.OpenHandleCount(), 1u);
}

TEST_F(ReaderDriveWalk, KeepsTheBufferedRequestWhenDirectIsNotSupported) {
    bus.SetDirectPassThroughSupported(false);
    AddReader(0, 0, {"DS"}, "E");
    Open();
    EXPECT_EQ(Discover(reader).count, 1);
    EXPECT_EQ(backEnds.Transport().directProbed, 1);
    EXPECT_EQ(backEnds.Transport().useDirect, 0);
    EXPECT_TRUE(ReaderUnit(reader, 8).TestUnitReady().Good());
    EXPECT_EQ(layer.LastIoctlCode(), kIoctlScsiPassThrough);
}

TEST_F(ReaderDriveWalk, ACachedListIsReusedWithOneTestUnitReady) {
    sim::SimDevice& device = AddReader(0, 0, {"DS"}, "E");
    Open();
    ASSERT_EQ(Discover(reader).count, 1);
    device.Unit(0)->FlashDisk()->SetNotReady(true);  // fails, but the stick is there
    bus.ClearTrace();
    const std::size_t opened = layer.OpenedPaths().size();
    EXPECT_EQ(Discover(reader).keys, (std::vector<MediaType>{8}));
    ASSERT_EQ(bus.Trace().size(), 1u);
    EXPECT_EQ(bus.Trace()[0].cdb[0], 0x00);
    EXPECT_EQ(layer.OpenedPaths().size(), opened);
}

TEST_F(ReaderDriveWalk, AVanishedStickIsClosedAndScannedAgain) {
    AddReader(0, 0, {"DS"}, "E");
    Open();
    ASSERT_EQ(Discover(reader).count, 1);
    bus.Unplug();
    EXPECT_EQ(Discover(reader).count, 0);
    EXPECT_EQ(layer.OpenHandleCount(), 0u);
    EXPECT_EQ(reader.Units().PlaceOfUnit(8), kNoPlace);
    bus.Replug();
    EXPECT_EQ(Discover(reader).count, 1);
    EXPECT_EQ(backEnds.Transport().useDirect, 1);  // the probe is not repeated, its result stays
}

TEST_F(ReaderDriveWalk, ClosingTheTransportClosesTheUnitHandles) {
    AddReader(0, 0, {"CF", "DS"}, "EF");
    Open();
    ASSERT_EQ(Discover(reader).count, 2);
    EXPECT_EQ(layer.OpenHandleCount(), 2u);
    reader.CloseTransport();
    EXPECT_EQ(layer.OpenHandleCount(), 0u);
    EXPECT_EQ(reader.Units().count, 0);
    EXPECT_EQ(reader.Units().PlaceOfUnit(1), kNoPlace);
}

TEST_F(ReaderDriveWalk, ACommandForAnUnknownKeyReachesNoDrive) {
    AddReader(0, 0, {"DS"}, "E");
    Open();
    ASSERT_EQ(Discover(reader).count, 1);
    const std::uint32_t ioctls = layer.IoctlCalls();
    EXPECT_FALSE(ReaderUnit(reader, 9).TestUnitReady().Good());
    EXPECT_FALSE(ReaderUnit(reader, kMediaNone).StopUnit().Good());
    EXPECT_EQ(layer.IoctlCalls(), ioctls);
}

TEST(ReaderInquiryCodes, KeysOfTheMediumCodes) {
    std::uint8_t reply[56] = {};
    reply[36] = 'Q';
    reply[37] = 'Z';
    const struct {
        const char* code;
        std::uint8_t before;
        MediaType key;
    } cases[] = {{"DS", 0, 8}, {"DS", 2, 10},  {"CF", 1, 1},   {"SM", 0, 2},
                 {"MM", 2, 4}, {"ds", 0, 255}, {"SD", 0, 255}, {"M\0", 0, 255}};
    for (const auto& c : cases) {
        reply[38] = static_cast<std::uint8_t>(c.code[0]);
        reply[39] = static_cast<std::uint8_t>(c.code[1]);
        EXPECT_EQ(KeyOfInquiry(reply, c.before), c.key) << c.code;
    }
    EXPECT_TRUE(HasReaderSignature(reply));
    reply[37] = 'z';
    EXPECT_FALSE(HasReaderSignature(reply));
}

}  // namespace
