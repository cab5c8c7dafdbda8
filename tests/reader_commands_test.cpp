#include <cstring>
#include <functional>

#include "reader/commands.h"
#include "reader/sense.h"
#include "reader_fixture.h"
#include "sim/machine/factory_image.h"
#include "sim/scsi_codes.h"
#include "sim/sim_flash_disk.h"

namespace {

enum class BackEnd { Aspi, Buffered, Direct };

std::string BackEndName(const ::testing::TestParamInfo<BackEnd>& info) {
    switch (info.param) {
        case BackEnd::Aspi:
            return "Aspi";
        case BackEnd::Buffered:
            return "Buffered";
        case BackEnd::Direct:
            return "Direct";
    }
    return "";
}

// One flash disk (key 8) reached through the back-end of the parameter.
class ReaderCommands : public ReaderTest, public ::testing::WithParamInterface<BackEnd> {
  protected:
    void SetUp() override {
        if (GetParam() != BackEnd::Aspi) WithoutAspi();
        bus.SetDirectPassThroughSupported(GetParam() == BackEnd::Direct);
        AddReader(0, 0, {"DS"}, "E");
        disk = bus.FlashDisk();
        disk->SetSectorCount(1000);
        ASSERT_EQ(OpenTransport(), 1);
        std::uint8_t count = 0;
        MediaType keys[3] = {};
        DiscoverUnits(&count, keys);
        ASSERT_EQ(count, 1);
        ASSERT_EQ(keys[0], kMediaUsbDisk);
        if (GetParam() != BackEnd::Aspi) {
            ASSERT_EQ(Transport().useDirect, GetParam() == BackEnd::Direct ? 1 : 0);
        }
        bus.ClearTrace();
    }

    const sim::TraceEntry& Last() const { return bus.Trace().back(); }

    sim::SimFlashDisk* disk = nullptr;
};

struct Expected {
    const char* name;
    std::function<int()> send;
    std::vector<std::uint8_t> cdb;
    sim::Direction direction;
    std::uint32_t length;
    std::uint16_t timeout;
};

std::uint8_t scratch[70000];

std::vector<Expected> EveryOperation() {
    using sim::Direction;
    const auto b = [](std::initializer_list<int> v) {
        std::vector<std::uint8_t> bytes;
        for (int x : v) bytes.push_back(static_cast<std::uint8_t>(x));
        bytes.resize(12, 0);
        return bytes;
    };
    return {
        {"TestUnitReady", [] { return TestUnitReady(8); }, b({0x00}), Direction::None, 0, 1},
        {"ReadCapacity", [] { return ReadCapacity(8, scratch); }, b({0x25, 0, 0, 0, 0x08}),
         Direction::In, 8, 2},
        {"RequestSense", [] { return RequestSense(8, scratch, 18); }, b({0x03, 0, 0, 0, 18}),
         Direction::In, 18, 2},
        {"EraseBlock", [] { return EraseBlock(8, 3, 32); }, b({0xF2, 0x00, 0x60, 0, 0, 0}),
         Direction::None, 0, 2},
        {"EraseBlockHigh", [] { return EraseBlock(8, 0x00123456, 32); },
         b({0xF2, 0, 0xC0, 0x8A, 0x46, 0x02}), Direction::None, 0, 2},
        {"MarkBlockBad", [] { return MarkBlockBad(8, 0x00123456, 32); },
         b({0xF1, 0x20, 0xC0, 0x8A, 0x46, 0x02}), Direction::None, 0, 2},
        {"ReadRedundantArea", [] { return ReadRedundantArea(8, 0x01ABCDEF, 4, 16, scratch); },
         b({0xF3, 0, 0xEF, 0xCD, 0xAB, 4}), Direction::In, 64, 2},
        {"ReadBlockData", [] { return ReadBlockData(8, 0x260, 32, 32, 512, scratch); },
         b({0xFA, 0x20, 0x60, 0x02, 0x00, 0x20}), Direction::In, 16384, 2},
        {"ReadPageWithSpare", [] { return ReadPageWithSpare(8, 96, 32, scratch); },
         b({0xE8, 0x20, 0x60, 0, 0, 1}), Direction::In, 528, 2},
        {"WritePageWithSpare", [] { return WritePageWithSpare(8, 96, 32, scratch); },
         b({0xE9, 0x20, 0, 0, 0, 1, 0, 0x60, 0, 0, 0, 0}), Direction::Out, 528, 2},
        {"FillBlockPattern", [] { return FillBlockPattern(8, 0x12345678, 32, 0x55); },
         b({0xC1, 0x55, 0, 0, 0, 0x20, 0, 0x78, 0x56, 0x34, 0x12}), Direction::None, 0, 2},
        {"ReadDeviceCode", [] { return ReadDeviceCode(8, scratch); }, b({0xF7}), Direction::In, 1,
         2},
        {"GetBankCount", [] { return GetBankCount(8, scratch); }, b({0xC2}), Direction::In, 1, 2},
        {"SelectBank", [] { return SelectBank(8, 3); }, b({0xFB, 3}), Direction::None, 0, 2},
        {"ReadSectors", [] { return ReadSectors(8, 63, 1, scratch); },
         b({0x28, 0, 0, 0, 0, 0x3F, 0, 0, 1}), Direction::In, 512, 2},
        {"ReadSectorsWide", [] { return ReadSectors(8, 0x01020304, 0x80, scratch); },
         b({0x28, 0, 1, 2, 3, 4, 0, 0, 0x80}), Direction::In, 0x80 * 512, 2},
        {"WriteSectors", [] { return WriteSectors(8, 0xA0B0C0D0, 1, scratch); },
         b({0x2A, 0, 0xA0, 0xB0, 0xC0, 0xD0, 0, 0, 1}), Direction::Out, 512, 2},
        {"SendVendorC4", [] { return SendVendorC4(8); }, b({0xC4}), Direction::None, 0, 2},
        {"SendVendorFE", [] { return SendVendorFE(8, 3); }, b({0xFE, 0, 3}), Direction::None, 0, 2},
        {"ReadCisPageNumber",
         [] {
             std::uint32_t page = 0;
             return ReadCisPageNumber(8, &page);
         },
         b({0xC3}), Direction::In, 4, 2},
        {"StopUnit", [] { return StopUnit(8); }, b({0x1B}), Direction::None, 0, 1},
    };
}

TEST_P(ReaderCommands, EveryOperationSendsItsBlockDirectionLengthAndTimeOut) {
    for (const Expected& op : EveryOperation()) {
        SCOPED_TRACE(op.name);
        bus.ClearTrace();
        op.send();
        ASSERT_EQ(bus.Trace().size(), 1u);
        EXPECT_EQ(Cdb(Last()), op.cdb);
        EXPECT_EQ(Last().direction, op.direction);
        // Through pass-through a one-byte read asks the driver for two.
        const bool doubled = op.length == 1 && GetParam() != BackEnd::Aspi;
        EXPECT_EQ(Last().length, doubled ? 2u : op.length);

        if (GetParam() == BackEnd::Aspi) {
            const auto& block = layer.LastRequestBlock();
            EXPECT_EQ(block[3], op.direction == sim::Direction::In    ? 8
                                : op.direction == sim::Direction::Out ? 16
                                                                      : 0);
            EXPECT_EQ(block[21], 12);
            // The time-out shows as the polls a command that never completes is given.
            bus.HangOnCommand(1);
            const std::uint32_t sleeps = layer.SleepCalls();
            EXPECT_EQ(op.send(), 0);
            EXPECT_EQ(layer.SleepCalls() - sleeps, op.timeout * 1000u);
        } else {
            const auto& header = layer.LastPassThroughHeader();
            EXPECT_EQ(GetLe32(&header[16]), op.timeout);
            EXPECT_EQ(header[8], op.direction == sim::Direction::In ? 1 : 0);
            EXPECT_EQ(header[6], 12);
        }
    }
}

TEST_P(ReaderCommands, ReadCapacityHandsOverTheReplyAsSent) {
    std::uint8_t out[8] = {};
    ASSERT_EQ(ReadCapacity(8, out), 1);
    EXPECT_EQ(BigEndian32(out) + 1, 1000u);
    EXPECT_EQ(BigEndian32(out + 4), 512u);
}

TEST_P(ReaderCommands, OneByteRepliesReachOneByteBuffers) {
    std::uint8_t code[2] = {0, 0xA5};
    std::uint8_t banks[2] = {0, 0xA5};
    ASSERT_EQ(ReadDeviceCode(8, code), 1);
    ASSERT_EQ(GetBankCount(8, banks), 1);
    EXPECT_EQ(code[0], 0x75);
    EXPECT_EQ(banks[0], 1);
    EXPECT_EQ(code[1], 0xA5);
    EXPECT_EQ(banks[1], 0xA5);
}

TEST_P(ReaderCommands, PagesAndSectorsTravelIntact) {
    std::uint8_t page[528];
    for (int i = 0; i < 528; ++i) page[i] = static_cast<std::uint8_t>(i * 13 + 1);
    ASSERT_EQ(WritePageWithSpare(8, 96, 32, page), 1);
    std::uint8_t back[528] = {};
    ASSERT_EQ(ReadPageWithSpare(8, 96, 32, back), 1);
    EXPECT_EQ(std::memcmp(back, page, sizeof page), 0);
    std::uint8_t spare[16] = {};
    ASSERT_EQ(ReadRedundantArea(8, 96, 1, 16, spare), 1);
    EXPECT_EQ(std::memcmp(spare, page + 512, 16), 0);

    std::uint8_t sector[512];
    for (int i = 0; i < 512; ++i) sector[i] = static_cast<std::uint8_t>(255 - i);
    ASSERT_EQ(WriteSectors(8, 63, 1, sector), 1);
    std::uint8_t read[512] = {};
    ASSERT_EQ(ReadSectors(8, 63, 1, read), 1);
    EXPECT_EQ(std::memcmp(read, sector, 512), 0);
}

TEST_P(ReaderCommands, ReadCisPageNumberDecodesTheLittleEndianReply) {
    std::uint32_t page = 0;
    ASSERT_EQ(ReadCisPageNumber(8, &page), 1);
    EXPECT_EQ(page, 0xFFFFFFFFu);
    sim::WriteCisPage(*disk, 64, 5000);
    ASSERT_EQ(ReadCisPageNumber(8, &page), 1);
    EXPECT_EQ(page, 64u);
}

TEST_P(ReaderCommands, RequestSenseCopiesAtMostEighteenBytes) {
    disk->SetNotReady(true);
    const auto sentinel = [](std::uint8_t* buf) { std::memset(buf, 0xCC, 32); };
    std::uint8_t buf[32];
    for (const std::uint8_t len : {14, 0, 30, 18}) {
        SCOPED_TRACE(static_cast<int>(len));
        ASSERT_EQ(TestUnitReady(8), 0);
        sentinel(buf);
        ASSERT_EQ(RequestSense(8, buf, len), 1);
        const std::size_t copied = len < 18 ? len : 18;
        for (std::size_t i = copied; i < sizeof buf; ++i) ASSERT_EQ(buf[i], 0xCC) << i;
        if (copied > 12) {
            EXPECT_EQ(buf[2] & 0x0F, sim::kSenseNotReady);
            EXPECT_EQ(buf[12], sim::kAscMediumNotPresent);
        }
    }
}

TEST_P(ReaderCommands, AFailedRequestSenseLeavesTheBufferAndGivesFailed) {
    bus.Unplug();
    std::uint8_t buf[18];
    std::memset(buf, 0xCC, sizeof buf);
    EXPECT_EQ(RequestSense(8, buf, 18), 0);
    for (std::uint8_t b : buf) ASSERT_EQ(b, 0xCC);
    EXPECT_EQ(GetSenseStatus(8), SenseFailed);
}

TEST_P(ReaderCommands, SenseOfTheDeviceIsClassified) {
    disk->SetWriteProtected(true);
    std::uint8_t sector[512] = {};
    EXPECT_EQ(WriteSectors(8, 0, 1, sector), 0);
    EXPECT_EQ(GetSenseStatus(8), SenseDataProtect);
    EXPECT_EQ(GetSenseStatus(8), SenseNone);  // REQUEST SENSE handed it over

    disk->RaiseUnitAttention();
    EXPECT_EQ(TestUnitReady(8), 0);
    EXPECT_EQ(GetSenseStatus(8), SenseUnitAttention);

    disk->SetNotReady(true);
    EXPECT_EQ(TestUnitReady(8), 0);
    EXPECT_EQ(GetSenseStatus(8), SenseNotReady);
}

TEST_P(ReaderCommands, TransfersAboveSixtyFourKiBAreRefusedUnsent) {
    EXPECT_EQ(ReadBlockData(8, 0, 255, 32, 512, scratch), 0);
    EXPECT_EQ(ReadSectors(8, 0, 129, scratch), 0);
    EXPECT_TRUE(bus.Trace().empty());
    EXPECT_EQ(ReadSectors(8, 0, 128, scratch), 1);  // exactly 65536 bytes is fine
}

INSTANTIATE_TEST_SUITE_P(AllBackEnds, ReaderCommands,
                         ::testing::Values(BackEnd::Aspi, BackEnd::Buffered, BackEnd::Direct),
                         BackEndName);

TEST(ReaderSenseClasses, EveryKeyAndCodePair) {
    const std::uint8_t codes[] = {0x00, 0x09, 0x0A, 0x20, 0x21, 0x24, 0x3A, 0xFF};
    for (int key = 0; key < 16; ++key) {
        for (std::uint8_t asc : codes) {
            SenseStatus expected = SenseNone;
            switch (key) {
                case 2:
                    expected = SenseNotReady;
                    break;
                case 3:
                    expected = SenseMediumError;
                    break;
                case 6:
                    expected = SenseUnitAttention;
                    break;
                case 7:
                    expected = SenseDataProtect;
                    break;
                case 5:
                    expected = asc == 0x20   ? SenseInvalidOpcode
                               : asc == 0x24 ? SenseInvalidField
                                             : SenseNone;
                    break;
                case 9:
                    expected = asc == 0x09   ? SenseVendor09
                               : asc == 0x0A ? SenseVendor0A
                                             : SenseNone;
                    break;
                default:
                    break;
            }
            std::uint8_t sense[18] = {0x70};
            // The flag bits above the key do not change the class.
            sense[2] = static_cast<std::uint8_t>(key | 0xE0);
            sense[12] = asc;
            EXPECT_EQ(ClassifySense(sense), expected) << "key " << key << " asc " << int(asc);
        }
    }
}

TEST(ReaderSenseClasses, BigEndian32ReadsMostSignificantFirst) {
    const std::uint8_t a[4] = {0x12, 0x34, 0x56, 0x78};
    const std::uint8_t b[4] = {0xFF, 0x00, 0x00, 0x01};
    EXPECT_EQ(BigEndian32(a), 0x12345678u);
    EXPECT_EQ(BigEndian32(b), 0xFF000001u);
}

}  // namespace
