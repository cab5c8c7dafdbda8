#include "sim/sim_flash_disk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

#include "sim/machine/factory_image.h"
#include "tests/temp_dir.h"

namespace {

using sim::Direction;
using sim::Outcome;
using sim::SimFlashDisk;

// A 12-byte command block from its leading bytes; the rest stays 0.
struct Cdb {
    std::uint8_t bytes[12] = {};
    Cdb(std::initializer_list<std::uint8_t> lead) { std::copy(lead.begin(), lead.end(), bytes); }
};

Cdb PageCdb(std::uint8_t op, std::uint8_t byte1, std::uint32_t page, std::uint8_t byte5) {
    return Cdb{op,
               byte1,
               static_cast<std::uint8_t>(page),
               static_cast<std::uint8_t>(page >> 8),
               static_cast<std::uint8_t>(page >> 16),
               byte5};
}

Cdb Le32At2(std::uint8_t op, std::uint8_t byte1, std::uint32_t page) {
    return Cdb{op,
               byte1,
               static_cast<std::uint8_t>(page),
               static_cast<std::uint8_t>(page >> 8),
               static_cast<std::uint8_t>(page >> 16),
               static_cast<std::uint8_t>(page >> 24)};
}

Cdb Le32At7(std::uint8_t op, std::uint8_t byte1, std::uint8_t byte5, std::uint32_t page) {
    Cdb c{op, byte1, 0, 0, 0, byte5};
    for (int i = 0; i < 4; ++i) c.bytes[7 + i] = static_cast<std::uint8_t>(page >> (8 * i));
    return c;
}

Cdb Rw10(std::uint8_t op, std::uint32_t lba, std::uint16_t count) {
    return Cdb{op,
               0,
               static_cast<std::uint8_t>(lba >> 24),
               static_cast<std::uint8_t>(lba >> 16),
               static_cast<std::uint8_t>(lba >> 8),
               static_cast<std::uint8_t>(lba),
               0,
               static_cast<std::uint8_t>(count >> 8),
               static_cast<std::uint8_t>(count)};
}

class SimFlashDiskTest : public ::testing::Test {
  protected:
    // One bank of 73h: 32 pages per block, 1024 blocks.
    SimFlashDiskTest() { disk.AddBank(0x73); }

    Outcome Run(const Cdb& cdb, Direction direction = Direction::None,
                std::uint8_t* buffer = nullptr, std::uint32_t length = 0) {
        return disk.Execute(cdb.bytes, direction, buffer, length);
    }

    // The sense key and code the last command left.
    std::pair<int, int> Sense() const {
        const sim::SenseCode code = disk.PendingSenseCode();
        return {code.key, code.asc};
    }

    Outcome Erase(std::uint32_t block) { return Run(Le32At2(0xF2, 0, block * 32)); }

    Outcome WritePage(std::uint32_t page, const sim::PageBytes& image) {
        sim::PageBytes copy = image;
        return Run(Le32At7(0xE9, 32, 1, page), Direction::Out, copy.data(), 528);
    }

    sim::PageBytes ReadPage(std::uint32_t page) {
        sim::PageBytes image{};
        EXPECT_EQ(Outcome::Good, Run(PageCdb(0xE8, 32, page, 1), Direction::In, image.data(), 528));
        return image;
    }

    SimFlashDisk disk;
};

TEST_F(SimFlashDiskTest, FreshBlocksReadErasedAndProgrammingOnlyClearsBits) {
    sim::PageBytes image = ReadPage(96);
    for (std::uint8_t b : image) ASSERT_EQ(0xFF, b);

    sim::PageBytes first;
    first.fill(0xF0);
    ASSERT_EQ(Outcome::Good, WritePage(96, first));
    sim::PageBytes second;
    second.fill(0x3C);
    ASSERT_EQ(Outcome::Good, WritePage(96, second));
    image = ReadPage(96);
    for (std::uint8_t b : image) ASSERT_EQ(0x30, b);  // F0 AND 3C
    // Neighbouring pages are untouched.
    EXPECT_EQ(0xFF, ReadPage(95)[0]);
    EXPECT_EQ(0xFF, ReadPage(97)[527]);

    ASSERT_EQ(Outcome::Good, Erase(3));
    image = ReadPage(96);
    for (std::uint8_t b : image) ASSERT_EQ(0xFF, b);
}

TEST_F(SimFlashDiskTest, PageCommandsUseTheirOwnPageFields) {
    // E9 carries the page LE32 at bytes 7..10, E8 LE24 at bytes 2..4: page 96 of the Part's
    // example lands where a read of page 96 finds it, not elsewhere.
    sim::PageBytes image;
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i);
    ASSERT_EQ(Outcome::Good, WritePage(96, image));
    EXPECT_EQ(image, disk.ReadPage(0, 96));
    EXPECT_EQ(image, ReadPage(96));
    EXPECT_EQ(0xFF, disk.ReadPage(0, 0)[1]);

    // A page past 16 bits reaches the cells through the 24-bit field.
    sim::SimFlashDisk big;
    big.AddBank(0x79);  // 262,144 pages
    sim::PageBytes mark{};
    Cdb write = Le32At7(0xE9, 32, 1, 0x012345);
    ASSERT_EQ(Outcome::Good, big.Execute(write.bytes, Direction::Out, mark.data(), 528));
    EXPECT_EQ(0x00, big.ReadPage(0, 0x012345)[10]);
    EXPECT_EQ(0xFF, big.ReadPage(0, 0x2345)[10]);
}

TEST_F(SimFlashDiskTest, ReadRedundantAreaAndBlockDataReturnConsecutivePages) {
    sim::PageBytes image;
    for (std::uint32_t p = 0; p < 3; ++p) {
        image.fill(static_cast<std::uint8_t>(0x10 + p));
        image[512] = static_cast<std::uint8_t>(0xA0 + p);
        disk.ProgramPageRaw(0, 64 + p, image.data());
    }
    std::vector<std::uint8_t> spare(3 * 16);
    ASSERT_EQ(Outcome::Good,
              Run(PageCdb(0xF3, 0, 64, 3), Direction::In, spare.data(), spare.size()));
    EXPECT_EQ(0xA0, spare[0]);
    EXPECT_EQ(0x10, spare[1]);
    EXPECT_EQ(0xA2, spare[32]);
    EXPECT_EQ(0x12, spare[47]);

    std::vector<std::uint8_t> data(3 * 512);
    ASSERT_EQ(Outcome::Good,
              Run(PageCdb(0xFA, 32, 64, 3), Direction::In, data.data(), data.size()));
    EXPECT_EQ(0x10, data[0]);
    EXPECT_EQ(0x11, data[512]);
    EXPECT_EQ(0x12, data[1535]);
}

TEST_F(SimFlashDiskTest, SmallPagePartsReturnEightSpareBytesPerPage) {
    SimFlashDisk small;
    small.AddBank(0x6E);  // 256-byte pages, 8 spare bytes, 16 pages per block
    std::vector<std::uint8_t> spare(16 * 8, 0);
    Cdb read = PageCdb(0xF3, 0, 0, 16);
    ASSERT_EQ(Outcome::Good, small.Execute(read.bytes, Direction::In, spare.data(), 128));
    for (std::uint8_t b : spare) ASSERT_EQ(0xFF, b);
    // The 16-byte length of the large parts is wrong here.
    std::vector<std::uint8_t> wrong(16 * 16);
    EXPECT_EQ(Outcome::CheckCondition, small.Execute(read.bytes, Direction::In, wrong.data(), 256));
}

TEST_F(SimFlashDiskTest, FillBlockPatternWritesDataAndSpareAndIsKeptAsOneByte) {
    ASSERT_EQ(Outcome::Good, Run(Le32At7(0xC1, 0x55, 32, 5 * 32)));
    EXPECT_EQ(0u, disk.StoredBytes());  // a uniform block costs no pages
    std::vector<std::uint8_t> data(32 * 512);
    ASSERT_EQ(Outcome::Good,
              Run(PageCdb(0xFA, 32, 5 * 32, 32), Direction::In, data.data(), data.size()));
    for (std::uint8_t b : data) ASSERT_EQ(0x55, b);
    std::vector<std::uint8_t> spare(32 * 16);
    ASSERT_EQ(Outcome::Good,
              Run(PageCdb(0xF3, 0, 5 * 32, 32), Direction::In, spare.data(), spare.size()));
    for (std::uint8_t b : spare) ASSERT_EQ(0x55, b);

    // Filling without erasing first ANDs: 55 then AA leaves 00.
    ASSERT_EQ(Outcome::Good, Run(Le32At7(0xC1, 0xAA, 32, 5 * 32)));
    EXPECT_EQ(0x00, disk.ReadPage(0, 5 * 32 + 7)[300]);

    // A partial fill touches only its pages.
    ASSERT_EQ(Outcome::Good, Erase(6));
    ASSERT_EQ(Outcome::Good, Run(Le32At7(0xC1, 0x0F, 2, 6 * 32 + 4)));
    EXPECT_EQ(0xFF, disk.ReadPage(0, 6 * 32 + 3)[0]);
    EXPECT_EQ(0x0F, disk.ReadPage(0, 6 * 32 + 4)[527]);
    EXPECT_EQ(0x0F, disk.ReadPage(0, 6 * 32 + 5)[0]);
    EXPECT_EQ(0xFF, disk.ReadPage(0, 6 * 32 + 6)[0]);
}

TEST_F(SimFlashDiskTest, MarkBlockBadClearsSpareBytesZeroToFiveOfTheFirstPage) {
    ASSERT_FALSE(disk.IsMarkedBad(0, 7));
    ASSERT_EQ(Outcome::Good, Run(Le32At2(0xF1, 32, 7 * 32)));
    EXPECT_TRUE(disk.IsMarkedBad(0, 7));
    const sim::PageBytes first = disk.ReadPage(0, 7 * 32);
    for (int i = 512; i < 518; ++i) EXPECT_EQ(0x00, first[i]) << i;
    for (int i = 518; i < 528; ++i) EXPECT_EQ(0xFF, first[i]) << i;
    EXPECT_EQ(0xFF, first[0]);
    EXPECT_EQ(0xFF, disk.ReadPage(0, 7 * 32 + 1)[512]);
    EXPECT_FALSE(disk.IsMarkedBad(0, 8));
}

TEST_F(SimFlashDiskTest, BankSelectionAndCodes) {
    disk.AddBank(0x75);
    std::uint8_t reply[2] = {0xEE, 0xEE};
    ASSERT_EQ(Outcome::Good, Run(Cdb{0xC2}, Direction::In, reply, 2));
    EXPECT_EQ(2, reply[0]);
    EXPECT_EQ(0, reply[1]);
    ASSERT_EQ(Outcome::Good, Run(Cdb{0xF7}, Direction::In, reply, 1));
    EXPECT_EQ(0x73, reply[0]);
    ASSERT_EQ(Outcome::Good, Run(Cdb{0xFB, 1}));
    ASSERT_EQ(Outcome::Good, Run(Cdb{0xF7}, Direction::In, reply, 2));
    EXPECT_EQ(0x75, reply[0]);
    EXPECT_EQ(1, disk.SelectedBank());

    // Pages now index bank 1.
    ASSERT_EQ(Outcome::Good, Run(Le32At2(0xF1, 32, 32)));
    EXPECT_TRUE(disk.IsMarkedBad(1, 1));
    EXPECT_FALSE(disk.IsMarkedBad(0, 1));
    // A page past bank 1's end (2048 blocks) but inside a bigger bank is out of range.
    EXPECT_EQ(Outcome::CheckCondition, Run(Le32At2(0xF2, 0, 2048 * 32)));
    EXPECT_EQ(std::make_pair(5, 0x21), Sense());

    // A bank that does not exist is refused and the selection stays.
    EXPECT_EQ(Outcome::CheckCondition, Run(Cdb{0xFB, 2}));
    EXPECT_EQ(std::make_pair(5, 0x24), Sense());
    EXPECT_EQ(1, disk.SelectedBank());

    disk.OverrideReportedBankCount(9);
    ASSERT_EQ(Outcome::Good, Run(Cdb{0xC2}, Direction::In, reply, 1));
    EXPECT_EQ(9, reply[0]);
}

TEST_F(SimFlashDiskTest, TransferLengthsThatCannotBeRightAreRefused) {
    std::vector<std::uint8_t> buffer(1024);
    struct Case {
        Cdb cdb;
        Direction direction;
        std::uint32_t length;
    };
    const Case cases[] = {
        {PageCdb(0xE8, 32, 0, 1), Direction::In, 512},   // page+spare is 528
        {PageCdb(0xE8, 32, 0, 1), Direction::Out, 528},  // wrong direction
        {PageCdb(0xE8, 16, 0, 1), Direction::In, 528},   // wrong pages per block
        {PageCdb(0xE8, 32, 0, 2), Direction::In, 528},   // E8 moves one page
        {Le32At7(0xE9, 32, 1, 0), Direction::In, 528},
        {PageCdb(0xF3, 0, 0, 2), Direction::In, 16},
        {PageCdb(0xF3, 0, 0, 0), Direction::In, 0},
        {PageCdb(0xFA, 32, 0, 2), Direction::In, 528},
        {Cdb{0xF7}, Direction::In, 3},
        {Cdb{0xC2}, Direction::In, 0},
        {Cdb{0xC3}, Direction::In, 2},
        {Cdb{0x25, 0, 0, 0, 8}, Direction::In, 4},
        {Le32At2(0xF2, 0, 0), Direction::In, 16},
        {Le32At2(0xF2, 0, 5), Direction::None, 0},   // not a block's first page
        {Le32At2(0xF1, 16, 0), Direction::None, 0},  // wrong pages per block
        {Le32At7(0xC1, 0x55, 0, 0), Direction::None, 0},
        {Cdb{0x00}, Direction::In, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "opcode " << std::hex << int(c.cdb.bytes[0]));
        EXPECT_EQ(Outcome::CheckCondition, Run(c.cdb, c.direction, buffer.data(), c.length));
        EXPECT_EQ(std::make_pair(5, 0x24), Sense());
    }
    EXPECT_EQ(Outcome::CheckCondition, Run(Cdb{0xD0}));
    EXPECT_EQ(std::make_pair(5, 0x20), Sense());
    // Nothing of the refused writes reached the cells.
    EXPECT_EQ(0xFF, disk.ReadPage(0, 0)[0]);
    EXPECT_FALSE(disk.IsMarkedBad(0, 0));
}

TEST_F(SimFlashDiskTest, FieldsInTheWrongPlaceAreRefusedWithoutEffect) {
    std::vector<std::uint8_t> buffer(528, 0x00);
    // Mistakes a host can make in the command blocks, each of which would otherwise reach some
    // page or block the host did not mean.
    Cdb readAtWriteField = PageCdb(0xE8, 32, 0, 1);  // the page where E9 carries it
    readAtWriteField.bytes[7] = 0x60;
    Cdb writeAtReadField = Le32At2(0xE9, 32, 96);  // the page where E8 carries it
    writeAtReadField.bytes[5] = 1;
    Cdb fillAtReadField = PageCdb(0xC1, 0x00, 96, 32);
    const struct {
        Cdb cdb;
        Direction direction;
        std::uint32_t length;
    } mistakes[] = {
        {readAtWriteField, Direction::In, 528},
        {writeAtReadField, Direction::Out, 528},
        {fillAtReadField, Direction::None, 0},
        {Le32At2(0xF2, 32, 96), Direction::None, 0},  // erase given the mark's byte 1
        {PageCdb(0xF3, 32, 96, 1), Direction::In, 16},
        {Cdb{0xFB, 0, 1}, Direction::None, 0},            // bank in byte 2
        {Cdb{0x28, 0, 0, 0, 0, 3, 1}, Direction::In, 0},  // count in byte 6
        {Cdb{0x2A, 0, 0, 0, 0, 3, 0, 0, 1, 1}, Direction::Out, 512},
        {Cdb{0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, Direction::None, 0},
    };
    disk.SetSectorCount(16);
    for (const auto& m : mistakes) {
        SCOPED_TRACE(::testing::Message() << "opcode " << std::hex << int(m.cdb.bytes[0]));
        EXPECT_EQ(Outcome::CheckCondition, Run(m.cdb, m.direction, buffer.data(), m.length));
        EXPECT_EQ(std::make_pair(5, 0x24), Sense());
    }
    for (std::uint32_t page : {0u, 96u}) {
        for (std::uint8_t b : disk.ReadPage(0, page)) ASSERT_EQ(0xFF, b);
    }
    EXPECT_EQ(0, disk.SelectedBank());
    std::uint8_t sector[512];
    ASSERT_TRUE(disk.ReadSector(3, sector));
    EXPECT_EQ(0, sector[0]);

    // The same commands with their fields where they belong go through.
    EXPECT_EQ(Outcome::Good, Run(PageCdb(0xE8, 32, 96, 1), Direction::In, buffer.data(), 528));
    EXPECT_EQ(Outcome::Good, Run(Le32At7(0xC1, 0x00, 32, 96)));
    EXPECT_EQ(Outcome::Good, Erase(3));
    EXPECT_EQ(Outcome::Good, Run(Cdb{0x25, 0, 0, 0, 8}, Direction::In, buffer.data(), 8));

    // A malformed REQUEST SENSE copies nothing.
    std::fill(buffer.begin(), buffer.end(), 0xEE);
    EXPECT_EQ(Outcome::CheckCondition,
              Run(Cdb{0x03, 0, 0, 0, 18, 0, 0, 1}, Direction::In, buffer.data(), 18));
    EXPECT_EQ(0xEE, buffer[0]);
    EXPECT_EQ(std::make_pair(5, 0x24), Sense());
}

TEST_F(SimFlashDiskTest, PagesOutOfRangeAreRefused) {
    std::vector<std::uint8_t> buffer(32 * 512);
    const std::uint32_t pages = 1024 * 32;
    EXPECT_EQ(Outcome::CheckCondition,
              Run(PageCdb(0xE8, 32, pages, 1), Direction::In, buffer.data(), 528));
    EXPECT_EQ(std::make_pair(5, 0x21), Sense());
    EXPECT_EQ(Outcome::CheckCondition,
              Run(PageCdb(0xFA, 32, pages - 1, 2), Direction::In, buffer.data(), 1024));
    EXPECT_EQ(Outcome::Good,
              Run(PageCdb(0xFA, 32, pages - 2, 2), Direction::In, buffer.data(), 1024));
    EXPECT_EQ(Outcome::CheckCondition,
              Run(Le32At7(0xE9, 32, 1, 0x01000000u), Direction::Out, buffer.data(), 528));
}

TEST_F(SimFlashDiskTest, RequestSenseHandsOverAndClearsTheSense) {
    ASSERT_EQ(Outcome::CheckCondition, Run(Cdb{0xD0}));
    std::uint8_t sense[18];
    std::memset(sense, 0xEE, sizeof sense);
    ASSERT_EQ(Outcome::Good, Run(Cdb{0x03, 0, 0, 0, 18}, Direction::In, sense, 18));
    EXPECT_EQ(0x70, sense[0]);
    EXPECT_EQ(5, sense[2]);
    EXPECT_EQ(10, sense[7]);
    EXPECT_EQ(0x20, sense[12]);
    ASSERT_EQ(Outcome::Good, Run(Cdb{0x03, 0, 0, 0, 18}, Direction::In, sense, 18));
    EXPECT_EQ(0, sense[2]);
    EXPECT_EQ(0, sense[12]);
    // A good command leaves no sense behind either.
    ASSERT_EQ(Outcome::CheckCondition, Run(Cdb{0xD0}));
    ASSERT_EQ(Outcome::Good, Run(Cdb{0x00}));
    EXPECT_EQ(std::make_pair(0, 0), Sense());
}

TEST_F(SimFlashDiskTest, BlockFaults) {
    // Erase fails: MEDIUM ERROR, block unchanged.
    sim::PageBytes data;
    data.fill(0x12);
    disk.ProgramPageRaw(0, 10 * 32 + 3, data.data());
    disk.SetEraseFails(0, 10);
    EXPECT_EQ(Outcome::CheckCondition, Erase(10));
    EXPECT_EQ(3, Sense().first);
    EXPECT_EQ(data, disk.ReadPage(0, 10 * 32 + 3));
    EXPECT_EQ(Outcome::Good, Erase(11));

    // Stuck bits read 0 after erase and after a fill.
    sim::StuckBits bits;
    bits.pageInBlock = 2;
    bits.byteOffset = 100;
    bits.mask = 0x10;
    disk.SetStuckBits(0, 12, bits);
    ASSERT_EQ(Outcome::Good, Erase(12));
    EXPECT_EQ(0xEF, disk.ReadPage(0, 12 * 32 + 2)[100]);
    EXPECT_EQ(0xFF, disk.ReadPage(0, 12 * 32 + 2)[101]);
    EXPECT_EQ(0xFF, disk.ReadPage(0, 12 * 32 + 3)[100]);
    ASSERT_EQ(Outcome::Good, Run(Le32At7(0xC1, 0x55, 32, 12 * 32)));
    std::vector<std::uint8_t> block(32 * 512);
    ASSERT_EQ(Outcome::Good,
              Run(PageCdb(0xFA, 32, 12 * 32, 32), Direction::In, block.data(), block.size()));
    EXPECT_EQ(0x45, block[2 * 512 + 100]);
    EXPECT_EQ(0x55, block[2 * 512 + 99]);
    // Stuck bits in the spare area show through F3h.
    bits.byteOffset = 520;
    disk.SetStuckBits(0, 13, bits);
    std::vector<std::uint8_t> spare(32 * 16);
    ASSERT_EQ(Outcome::Good,
              Run(PageCdb(0xF3, 0, 13 * 32, 32), Direction::In, spare.data(), spare.size()));
    EXPECT_EQ(0xEF, spare[2 * 16 + 8]);

    // The mark that does not stick: F1h succeeds, the spare bytes stay.
    disk.SetMarkDoesNotStick(0, 14);
    EXPECT_EQ(Outcome::Good, Run(Le32At2(0xF1, 32, 14 * 32)));
    EXPECT_FALSE(disk.IsMarkedBad(0, 14));

    // Factory-bad blocks carry the mark from the start, until erased.
    disk.SetFactoryBad(0, 15);
    EXPECT_TRUE(disk.IsMarkedBad(0, 15));
    ASSERT_EQ(Outcome::Good, Erase(15));
    EXPECT_FALSE(disk.IsMarkedBad(0, 15));
}

TEST_F(SimFlashDiskTest, WornBlockFailsEveryEraseAfterItsCount) {
    disk.SetEraseFailsAfter(0, 20, 2);
    sim::PageBytes data;
    data.fill(0x0F);
    ASSERT_EQ(Outcome::Good, WritePage(20 * 32 + 5, data));
    EXPECT_EQ(Outcome::Good, Erase(20));
    EXPECT_EQ(0xFF, disk.ReadPage(0, 20 * 32 + 5)[0]);
    ASSERT_EQ(Outcome::Good, WritePage(20 * 32 + 5, data));
    EXPECT_EQ(Outcome::Good, Erase(20));
    ASSERT_EQ(Outcome::Good, WritePage(20 * 32 + 5, data));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Outcome::CheckCondition, Erase(20)) << i;  // the third and every later one
        EXPECT_EQ(std::make_pair(3, 0x51), Sense());
        EXPECT_EQ(data, disk.ReadPage(0, 20 * 32 + 5));  // left as it was
    }
    EXPECT_EQ(5u, disk.EraseCount(0, 20));
    EXPECT_EQ(0u, disk.EraseCount(0, 21));
    EXPECT_EQ(Outcome::Good, Erase(21));  // the neighbour wears on its own
    EXPECT_EQ(1u, disk.EraseCount(0, 21));

    // after=0, as SetEraseFails: from the first erase on; cleared, it erases again.
    disk.SetEraseFailsAfter(0, 22, 0);
    EXPECT_EQ(Outcome::CheckCondition, Erase(22));
    disk.SetEraseFails(0, 22, false);
    EXPECT_EQ(Outcome::Good, Erase(22));
}

TEST_F(SimFlashDiskTest, BlockGoesBadAfterItsPagePrograms) {
    disk.SetProgramFailsAfter(0, 30, 35);
    sim::PageBytes data;
    data.fill(0xA5);
    // A fill of the whole block is 32 page programs; the next fill gets three pages in.
    ASSERT_EQ(Outcome::Good, Run(Le32At7(0xC1, 0x55, 32, 30 * 32)));
    ASSERT_EQ(Outcome::Good, Erase(30));
    EXPECT_EQ(Outcome::CheckCondition, Run(Le32At7(0xC1, 0xAA, 32, 30 * 32)));
    EXPECT_EQ(std::make_pair(3, 0x0C), Sense());
    EXPECT_EQ(0xAA, disk.ReadPage(0, 30 * 32 + 2)[527]);
    EXPECT_EQ(0xFF, disk.ReadPage(0, 30 * 32 + 3)[0]);  // the refused page and those after it
    EXPECT_EQ(0xFF, disk.ReadPage(0, 30 * 32 + 31)[0]);
    // Erasing does not heal it: a page write fails and leaves the page alone.
    ASSERT_EQ(Outcome::Good, Erase(30));
    EXPECT_EQ(Outcome::CheckCondition, WritePage(30 * 32 + 7, data));
    EXPECT_EQ(std::make_pair(3, 0x0C), Sense());
    EXPECT_EQ(0xFF, disk.ReadPage(0, 30 * 32 + 7)[0]);
    // It can still be marked bad.
    EXPECT_EQ(Outcome::Good, Run(Le32At2(0xF1, 32, 30 * 32)));
    EXPECT_TRUE(disk.IsMarkedBad(0, 30));
    // A fill that crosses into the worn block programs the pages before it.
    disk.SetProgramFailsAfter(0, 32, 0);
    EXPECT_EQ(Outcome::CheckCondition, Run(Le32At7(0xC1, 0x00, 34, 31 * 32)));
    EXPECT_EQ(0x00, disk.ReadPage(0, 31 * 32 + 31)[0]);
    EXPECT_EQ(0xFF, disk.ReadPage(0, 32 * 32)[0]);
    EXPECT_EQ(Outcome::Good, WritePage(33 * 32, data));
}

TEST_F(SimFlashDiskTest, BitFlipsAreHandedOutOnReadsUntilTheBudgetIsSpent) {
    disk.SetBitFlips(0, 40, 3, 7);
    EXPECT_EQ(3u, disk.BitFlipsLeft(0, 40));
    auto flippedBits = [](const std::uint8_t* bytes, std::size_t n, std::uint8_t expected) {
        int bits = 0;
        for (std::size_t i = 0; i < n; ++i) {
            bits += __builtin_popcount(static_cast<unsigned>(bytes[i] ^ expected));
        }
        return bits;
    };
    sim::PageBytes page = ReadPage(40 * 32 + 1);
    EXPECT_EQ(1, flippedBits(page.data(), page.size(), 0xFF));
    EXPECT_EQ(0, flippedBits(disk.ReadPage(0, 40 * 32 + 1).data(), 528, 0xFF));  // cells intact
    std::vector<std::uint8_t> block(32 * 512);
    ASSERT_EQ(Outcome::Good,
              Run(PageCdb(0xFA, 32, 40 * 32, 32), Direction::In, block.data(), block.size()));
    EXPECT_EQ(1, flippedBits(block.data(), block.size(), 0xFF));
    std::vector<std::uint8_t> spare(32 * 16);
    ASSERT_EQ(Outcome::Good,
              Run(PageCdb(0xF3, 0, 40 * 32, 32), Direction::In, spare.data(), spare.size()));
    EXPECT_EQ(1, flippedBits(spare.data(), spare.size(), 0xFF));
    EXPECT_EQ(0u, disk.BitFlipsLeft(0, 40));
    page = ReadPage(40 * 32 + 1);  // spent: clean reads
    EXPECT_EQ(0, flippedBits(page.data(), page.size(), 0xFF));

    // A read across two blocks flips only in the block that has flips to give.
    disk.SetBitFlips(0, 42, 1);
    std::vector<std::uint8_t> two(32 * 16 * 2);
    ASSERT_EQ(Outcome::Good,
              Run(PageCdb(0xF3, 0, 41 * 32, 64), Direction::In, two.data(), two.size()));
    EXPECT_EQ(0, flippedBits(two.data(), 32 * 16, 0xFF));
    EXPECT_EQ(1, flippedBits(two.data() + 32 * 16, 32 * 16, 0xFF));

    // The same seed lands the flips in the same places.
    SimFlashDisk again;
    again.AddBank(0x73);
    again.SetBitFlips(0, 40, 1, 7);
    sim::PageBytes first{};
    const Cdb read = PageCdb(0xE8, 32, 40 * 32 + 1, 1);
    ASSERT_EQ(Outcome::Good, again.Execute(read.bytes, Direction::In, first.data(), 528));
    SimFlashDisk twin;
    twin.AddBank(0x73);
    twin.SetBitFlips(0, 40, 1, 7);
    sim::PageBytes second{};
    ASSERT_EQ(Outcome::Good, twin.Execute(read.bytes, Direction::In, second.data(), 528));
    EXPECT_EQ(first, second);
}

TEST_F(SimFlashDiskTest, WriteProtectionRefusesEveryWrite) {
    disk.SetSectorCount(100);
    disk.SetWriteProtected(true);
    sim::PageBytes image{};
    std::vector<std::uint8_t> sector(512, 0x42);
    EXPECT_EQ(Outcome::CheckCondition, WritePage(0, image));
    EXPECT_EQ(std::make_pair(7, 0x27), Sense());
    EXPECT_EQ(Outcome::CheckCondition, Run(Le32At7(0xC1, 0, 32, 0)));
    EXPECT_EQ(std::make_pair(7, 0x27), Sense());
    EXPECT_EQ(Outcome::CheckCondition, Run(Le32At2(0xF1, 32, 0)));
    EXPECT_EQ(std::make_pair(7, 0x27), Sense());
    EXPECT_EQ(Outcome::CheckCondition, Erase(0));
    EXPECT_EQ(std::make_pair(7, 0x27), Sense());
    EXPECT_EQ(Outcome::CheckCondition, Run(Rw10(0x2A, 1, 1), Direction::Out, sector.data(), 512));
    EXPECT_EQ(std::make_pair(7, 0x27), Sense());
    // Reads still work and nothing changed.
    EXPECT_EQ(0xFF, ReadPage(0)[0]);
    EXPECT_FALSE(disk.IsMarkedBad(0, 0));
    EXPECT_EQ(Outcome::Good, Run(Rw10(0x28, 1, 1), Direction::In, sector.data(), 512));
    EXPECT_EQ(0, sector[0]);
}

TEST_F(SimFlashDiskTest, NotReadyUnitAttentionAndStop) {
    disk.SetNotReady(true);
    EXPECT_EQ(Outcome::CheckCondition, Run(Cdb{0x00}));
    EXPECT_EQ(std::make_pair(2, 0x3A), Sense());
    disk.SetNotReady(false);

    disk.RaiseUnitAttention();
    EXPECT_EQ(Outcome::CheckCondition, Run(Cdb{0x00}));
    EXPECT_EQ(std::make_pair(6, 0x28), Sense());
    EXPECT_EQ(Outcome::Good, Run(Cdb{0x00}));  // reported once

    // A unit attention is also handed over by REQUEST SENSE itself.
    disk.RaiseUnitAttention();
    std::uint8_t sense[18] = {};
    ASSERT_EQ(Outcome::Good, Run(Cdb{0x03, 0, 0, 0, 18}, Direction::In, sense, 18));
    EXPECT_EQ(6, sense[2]);
    EXPECT_EQ(Outcome::Good, Run(Cdb{0x00}));

    ASSERT_EQ(Outcome::Good, Run(Cdb{0x1B}));
    EXPECT_TRUE(disk.Stopped());
    EXPECT_EQ(Outcome::CheckCondition, Run(Cdb{0x00}));
    EXPECT_EQ(2, Sense().first);
    EXPECT_EQ(Outcome::CheckCondition, Erase(0));
    disk.PowerCycle();
    EXPECT_FALSE(disk.Stopped());
    EXPECT_EQ(Outcome::CheckCondition, Run(Cdb{0x00}));  // medium changed
    EXPECT_EQ(6, Sense().first);
    EXPECT_EQ(Outcome::Good, Run(Cdb{0x00}));
}

// A stopped disk asks for an initializing command (2/04/02); START UNIT is that command. A reset
// of the controller by the host brings it back too, and is reported as one (6/29h), on bank 0.
TEST_F(SimFlashDiskTest, AStoppedDiskStartsOnStartUnitOrAReset) {
    ASSERT_EQ(Outcome::Good, Run(Cdb{0x1B}));
    EXPECT_EQ(Outcome::CheckCondition, Run(Cdb{0x00}));
    ASSERT_EQ(Outcome::Good, Run(Cdb{0x1B, 0x01, 0, 0, 0x01}));  // START, immediate
    EXPECT_FALSE(disk.Stopped());
    EXPECT_EQ(Outcome::Good, Run(Cdb{0x00}));

    ASSERT_EQ(Outcome::Good, Run(Cdb{0x1B}));
    disk.Reset();
    EXPECT_FALSE(disk.Stopped());
    EXPECT_EQ(Outcome::CheckCondition, Run(Cdb{0x00}));
    EXPECT_EQ(std::make_pair(6, 0x29), Sense());
    EXPECT_EQ(Outcome::Good, Run(Cdb{0x00}));  // reported once
    disk.PowerCycle();                         // a re-plug is a new medium as before
    EXPECT_EQ(Outcome::CheckCondition, Run(Cdb{0x00}));
    EXPECT_EQ(std::make_pair(6, 0x28), Sense());
}

TEST_F(SimFlashDiskTest, StartStopAndVendorFE) {
    ASSERT_EQ(Outcome::Good, Run(Cdb{0x1B, 0, 0, 0, 0x01}));  // START = 1 keeps it running
    EXPECT_FALSE(disk.Stopped());
    EXPECT_EQ(-1, disk.LastVendorFEValue());
    ASSERT_EQ(Outcome::Good, Run(Cdb{0xFE, 0, 3}));
    EXPECT_EQ(3, disk.LastVendorFEValue());
    std::uint8_t data[4];
    EXPECT_EQ(Outcome::CheckCondition, Run(Cdb{0xFE, 0, 3}, Direction::In, data, 4));
    EXPECT_EQ(2u, disk.CommandCount(0xFE));
    EXPECT_EQ(1u, disk.CommandCount(0x1B));
}

TEST_F(SimFlashDiskTest, CisPageNumberFindsTheFirstUnmarkedUsbcBlock) {
    std::uint8_t reply[4] = {};
    ASSERT_EQ(Outcome::Good, Run(Cdb{0xC3}, Direction::In, reply, 4));
    EXPECT_EQ(0xFFFFFFFFu,
              reply[0] | reply[1] << 8 | reply[2] << 16 | std::uint32_t(reply[3]) << 24);

    sim::WriteCisPage(disk, 2 * 32, 5000);
    // A marked block with a USBC page and a USBC page that is not a block's first are not it.
    sim::WriteCisPage(disk, 1 * 32, 4000);
    disk.SetFactoryBad(0, 1);
    sim::PageBytes usbc;
    usbc.fill(0xFF);
    std::memcpy(usbc.data(), "USBC", 4);
    disk.ProgramPageRaw(0, 1, usbc.data());
    ASSERT_EQ(Outcome::Good, Run(Cdb{0xC3}, Direction::In, reply, 4));
    EXPECT_EQ(64u, reply[0] | reply[1] << 8 | reply[2] << 16 | std::uint32_t(reply[3]) << 24);
    EXPECT_EQ(64u, disk.CisPageNumber());
    EXPECT_EQ(5000u, disk.CisSectorTotal());

    // Pages index bank 0 whatever bank is selected.
    disk.AddBank(0x73);
    ASSERT_EQ(Outcome::Good, Run(Cdb{0xFB, 1}));
    ASSERT_EQ(Outcome::Good, Run(Cdb{0xC3}, Direction::In, reply, 4));
    EXPECT_EQ(64, reply[0]);
}

// A CIS page for two banks of 73h (32 pages per block): groups 250 and 200 in bank 0, 100 in
// bank 1; totals 14400 and 17600.
sim::PageBytes TwoBankCisPage() {
    sim::PageBytes cis{};
    std::memcpy(cis.data(), "USBC", 4);
    cis[4] = 250;
    cis[5] = 200;
    cis[4 + 32] = 100;
    const std::uint32_t totals[2] = {14400, 17600};
    for (int b = 0; b < 2; ++b) {
        for (int i = 0; i < 4; ++i) {
            cis[260 + 4 * b + i] = static_cast<std::uint8_t>(totals[b] >> (8 * i));
        }
    }
    std::fill_n(cis.begin() + 512, 6, 0xFF);
    return cis;
}

TEST_F(SimFlashDiskTest, VendorC4SizesTheLogicalDiskFromTheLastBanksTotalAndEmptiesIt) {
    disk.AddBank(0x73);
    disk.SetSectorCount(10);
    std::vector<std::uint8_t> sector(512, 0x77);
    ASSERT_TRUE(disk.WriteSector(3, sector.data()));

    // No CIS page: the controller cannot size the disk.
    EXPECT_EQ(Outcome::CheckCondition, Run(Cdb{0xC4}));
    EXPECT_EQ(10u, disk.SectorCount());

    disk.ProgramPageRaw(0, 0, TwoBankCisPage().data());
    ASSERT_EQ(Outcome::Good, Run(Cdb{0xC4}));
    EXPECT_EQ(17600u, disk.SectorCount());
    ASSERT_TRUE(disk.ReadSector(3, sector.data()));
    EXPECT_EQ(0, sector[0]);

    std::uint8_t capacity[8] = {};
    ASSERT_EQ(Outcome::Good, Run(Cdb{0x25, 0, 0, 0, 8}, Direction::In, capacity, 8));
    const std::uint8_t expected[8] = {0, 0, 0x44, 0xBF, 0, 0, 2, 0};  // 17599, 512
    EXPECT_EQ(0, std::memcmp(expected, capacity, 8));
}

TEST_F(SimFlashDiskTest, VendorC4RefusesACisPageWhoseCountsDoNotAddUp) {
    disk.AddBank(0x73);  // two banks of 4 groups
    const auto setLe32 = [](sim::PageBytes& page, std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) page[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    struct Case {
        const char* what;
        std::function<void(sim::PageBytes&)> spoil;
    };
    const Case cases[] = {
        {"a total that is not the running sum", [&](sim::PageBytes& p) { setLe32(p, 264, 17601); }},
        {"the first bank's total left out", [&](sim::PageBytes& p) { setLe32(p, 260, 0); }},
        {"per-bank instead of running totals", [&](sim::PageBytes& p) { setLe32(p, 264, 3200); }},
        {"a group past the bank's four", [&](sim::PageBytes& p) { p[4 + 4] = 1; }},
        {"a bank the disk does not have", [&](sim::PageBytes& p) { p[4 + 64] = 1; }},
        {"a total for a bank the disk does not have",
         [&](sim::PageBytes& p) { setLe32(p, 268, 17600); }},
        {"a group offering more than 250 blocks",
         [&](sim::PageBytes& p) {
             p[4] = 251;
             setLe32(p, 260, 14432);
             setLe32(p, 264, 17632);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::PageBytes cis = TwoBankCisPage();
        c.spoil(cis);
        disk.FillBlockRaw(0, 0, 0xFF);
        disk.ProgramPageRaw(0, 0, cis.data());
        disk.SetSectorCount(100);
        EXPECT_EQ(Outcome::CheckCondition, Run(Cdb{0xC4}));
        EXPECT_EQ(std::make_pair(3, 0x31), Sense());
        // No map, no disk: writing the volume now fails instead of landing in unmapped blocks.
        EXPECT_EQ(0u, disk.SectorCount());
        std::uint8_t capacity[8];
        EXPECT_EQ(Outcome::CheckCondition, Run(Cdb{0x25, 0, 0, 0, 8}, Direction::In, capacity, 8));
    }

    // A group cannot offer more data blocks than it has unmarked blocks: six of group 0's first
    // 255 blocks marked bad leave 249 for its 250.
    disk.FillBlockRaw(0, 0, 0xFF);
    disk.ProgramPageRaw(0, 0, TwoBankCisPage().data());
    for (std::uint32_t block = 10; block < 16; ++block) disk.SetFactoryBad(0, block);
    EXPECT_EQ(Outcome::CheckCondition, Run(Cdb{0xC4}));
    disk.FillBlockRaw(0, 15, 0xFF);  // five marked: 250 usable
    EXPECT_EQ(Outcome::Good, Run(Cdb{0xC4}));
    EXPECT_EQ(17600u, disk.SectorCount());
}

TEST_F(SimFlashDiskTest, LogicalSectorsReadAndWriteInBigEndianFields) {
    disk.SetSectorCount(1000);
    std::vector<std::uint8_t> two(1024);
    for (std::size_t i = 0; i < two.size(); ++i) two[i] = static_cast<std::uint8_t>(i * 3 + 1);
    ASSERT_EQ(Outcome::Good, Run(Rw10(0x2A, 0x0102, 2), Direction::Out, two.data(), 1024));
    std::vector<std::uint8_t> back(512);
    ASSERT_TRUE(disk.ReadSector(0x0103, back.data()));
    EXPECT_EQ(0, std::memcmp(two.data() + 512, back.data(), 512));
    ASSERT_EQ(Outcome::Good, Run(Rw10(0x28, 0x0102, 1), Direction::In, back.data(), 512));
    EXPECT_EQ(0, std::memcmp(two.data(), back.data(), 512));

    EXPECT_EQ(Outcome::CheckCondition, Run(Rw10(0x28, 999, 2), Direction::In, two.data(), 1024));
    EXPECT_EQ(std::make_pair(5, 0x21), Sense());
    EXPECT_EQ(Outcome::CheckCondition, Run(Rw10(0x28, 0, 2), Direction::In, two.data(), 512));
    EXPECT_EQ(std::make_pair(5, 0x24), Sense());

    // An unformatted disk has no capacity to report.
    disk.SetSectorCount(0);
    std::uint8_t capacity[8];
    EXPECT_EQ(Outcome::CheckCondition, Run(Cdb{0x25, 0, 0, 0, 8}, Direction::In, capacity, 8));
}

TEST_F(SimFlashDiskTest, ExportsTheLogicalImageAndBankPages) {
    TempDir dir;
    disk.SetSectorCount(64);
    std::vector<std::uint8_t> sector(512, 0xAB);
    ASSERT_TRUE(disk.WriteSector(63, sector.data()));
    sector.assign(512, 0x01);
    ASSERT_TRUE(disk.WriteSector(0, sector.data()));
    const std::string image = dir.Path() + "/disk.img";
    ASSERT_TRUE(disk.ExportImage(image));
    std::ifstream in(image, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(64u * 512, bytes.size());
    EXPECT_EQ(0x01, bytes[0]);
    EXPECT_EQ(0x00, bytes[512]);
    EXPECT_EQ(static_cast<char>(0xAB), bytes[63 * 512 + 511]);

    sim::PageBytes page;
    page.fill(0x5A);
    disk.ProgramPageRaw(0, 33, page.data());
    const std::string pages = dir.Path() + "/pages.bin";
    ASSERT_TRUE(disk.ExportBankPages(0, 32, 3, pages));
    std::ifstream pin(pages, std::ios::binary);
    std::vector<char> raw((std::istreambuf_iterator<char>(pin)), std::istreambuf_iterator<char>());
    ASSERT_EQ(3u * 528, raw.size());
    EXPECT_EQ(static_cast<char>(0xFF), raw[527]);
    EXPECT_EQ(0x5A, raw[528]);
    EXPECT_EQ(0x5A, raw[2 * 528 - 1]);
    EXPECT_EQ(static_cast<char>(0xFF), raw[2 * 528]);

    std::string error;
    EXPECT_FALSE(disk.ExportBankPages(0, 1024 * 32 - 1, 2, pages, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(disk.ExportImage(dir.Path() + "/no/such/folder/disk.img", &error));
}

TEST(SimFlashDiskStore, GigabyteDiskStaysSmallAfterFillsAndKeepsMixedBlocksExact) {
    SimFlashDisk disk;
    for (int b = 0; b < 8; ++b) disk.AddBank(0x79);
    for (std::uint8_t bank = 0; bank < 8; ++bank) {
        Cdb select{0xFB, bank};
        ASSERT_EQ(Outcome::Good, disk.Execute(select.bytes, Direction::None, nullptr, 0));
        for (std::uint32_t block = 0; block < 8192; ++block) {
            Cdb fill = Le32At7(0xC1, 0x55, 32, block * 32);
            ASSERT_EQ(Outcome::Good, disk.Execute(fill.bytes, Direction::None, nullptr, 0));
        }
    }
    EXPECT_EQ(0u, disk.StoredBytes());
    EXPECT_EQ(0x55, disk.ReadPage(7, 8191 * 32 + 31)[527]);

    // One page written into a uniform block keeps the rest of the block's value.
    sim::PageBytes image;
    image.fill(0x11);
    Cdb write = Le32At7(0xE9, 32, 1, 100 * 32 + 5);
    ASSERT_EQ(Outcome::Good, disk.Execute(write.bytes, Direction::Out, image.data(), 528));
    EXPECT_EQ(0x11, disk.ReadPage(7, 100 * 32 + 5)[0]);  // 55 AND 11
    EXPECT_EQ(0x55, disk.ReadPage(7, 100 * 32 + 4)[0]);
    EXPECT_EQ(0x55, disk.ReadPage(7, 100 * 32 + 6)[527]);
    EXPECT_EQ(32u * 528, disk.StoredBytes());
    // Erasing returns the block to one byte.
    Cdb erase = Le32At2(0xF2, 0, 100 * 32);
    ASSERT_EQ(Outcome::Good, disk.Execute(erase.bytes, Direction::None, nullptr, 0));
    EXPECT_EQ(0u, disk.StoredBytes());
}

}  // namespace
