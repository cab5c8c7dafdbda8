// The volume label: what a user may type, where it lands, and what other systems read of it.
#include "format/fat_label.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "format/fat_boot_sector.h"
#include "format/fat_geometry.h"
#include "format/fat_volume.h"
#include "tests/fat_image_check.h"
#include "tests/temp_dir.h"

namespace {

using namespace format_test;

std::string Text(const FatLabel& label) { return std::string(label.data(), label.size()); }

FatLabel Label(const std::string& typed) {
    FatLabel label{};
    std::string reason;
    EXPECT_TRUE(ParseFatLabel(typed, &label, &reason)) << typed << ": " << reason;
    return label;
}

std::string Refusal(const std::string& typed) {
    FatLabel label = NoNameLabel();
    std::string reason;
    EXPECT_FALSE(ParseFatLabel(typed, &label, &reason)) << typed;
    EXPECT_EQ(label, NoNameLabel()) << "a refused label is left as it was";
    return reason;
}

TEST(FatLabel, TypedLabelsFollowMkfsFatsRules) {
    EXPECT_EQ(Text(Label("Brevant")), "BREVANT    ");
    EXPECT_EQ(Text(Label("my stick 1")), "MY STICK 1 ");
    EXPECT_EQ(Text(Label("ABCDEFGHIJK")), "ABCDEFGHIJK");
    EXPECT_EQ(Text(Label("ABCDEFGHIJK   ")), "ABCDEFGHIJK");  // trailing blanks are padding
    EXPECT_EQ(Text(Label("!#$%&'()-@^")), "!#$%&'()-@^");
    EXPECT_EQ(Text(Label("_`{}~ 09")), "_`{}~ 09   ");
    // Nothing, blanks or NO NAME in any case: no label.
    for (const char* none : {"", "   ", "NO NAME", "no name", "No Name    "}) {
        EXPECT_TRUE(IsNoName(Label(none))) << none;
    }

    EXPECT_EQ(Refusal("ABCDEFGHIJKL"),
              "a volume label has at most 11 characters; \"ABCDEFGHIJKL\" has 12");
    EXPECT_EQ(Refusal(" LEADING"), "a volume label cannot begin with a blank");
    for (char c : std::string("\"*+,./:;<=>?[\\]|")) {
        const std::string reason = Refusal(std::string("A") + c + "B");
        EXPECT_NE(reason.find(std::string("not \"") + c + "\""), std::string::npos) << reason;
    }
    EXPECT_NE(Refusal("CAF\xC3\x89").find("outside printable ASCII"), std::string::npos);
    EXPECT_NE(Refusal("TAB\tX").find("outside printable ASCII"), std::string::npos);
}

TEST(FatLabel, TimestampsAreFatDatesInTwoSecondSteps) {
    std::tm when{};
    when.tm_year = 2026 - 1900;
    when.tm_mon = 11;
    when.tm_mday = 8;
    when.tm_hour = 9;
    when.tm_min = 30;
    when.tm_sec = 17;
    const FatTimestamp stamp = FatTimestampOf(when);
    EXPECT_EQ(stamp.date, (46 << 9) | (12 << 5) | 8);
    EXPECT_EQ(stamp.time, (9 << 11) | (30 << 5) | 8);
    when.tm_year = 1975 - 1900;
    EXPECT_EQ(FatTimestampOf(when).date >> 9, 0);
    when.tm_year = 2200 - 1900;
    EXPECT_EQ(FatTimestampOf(when).date >> 9, 127);

    const auto entry = VolumeLabelEntry(Label("data"), stamp);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry.data()), 11), "DATA       ");
    EXPECT_EQ(entry[11], 0x08);
    EXPECT_EQ(entry[22] | entry[23] << 8, stamp.time);
    EXPECT_EQ(entry[24] | entry[25] << 8, stamp.date);
}

SectorWriter WriterFor(MemorySectorStore& store) {
    return [&store](std::uint32_t lba, const std::uint8_t* data) { return store.Write(lba, data); };
}

TEST(FatLabel, WithoutALabelTheVolumeIsByteForByteAsBefore) {
    MemorySectorStore plain;
    ASSERT_EQ(WriteFatVolume(WriterFor(plain), 64000, 65), FatVolumeResult::Written);
    MemorySectorStore noName;
    FatTimestamp stamp;
    stamp.date = 0x5A21;
    ASSERT_EQ(WriteFatVolume(WriterFor(noName), 64000, 65, Label("no name"), stamp),
              FatVolumeResult::Written);
    EXPECT_EQ(plain.writes, noName.writes);
    EXPECT_EQ(plain.sectors, noName.sectors);
    EXPECT_EQ(std::memcmp(plain.sectors[0].data() + boot::kVolumeLabel, "NO NAME    ", 11), 0);
}

TEST(FatLabel, ALabelLandsInTheBootSectorAndTheRootDirectoryForFsckAndMtools) {
    TempDir dir;
    FatTimestamp stamp;
    stamp.date = (46 << 9) | (12 << 5) | 8;
    stamp.time = (9 << 11) | (30 << 5) | 8;
    for (std::uint32_t total : {16000u, 64000u, 1000000u}) {
        SCOPED_TRACE(total);
        MemorySectorStore store;
        ASSERT_EQ(WriteFatVolume(WriterFor(store), total, 7, Label("Shop 42"), stamp),
                  FatVolumeResult::Written);
        VolumeGeometry g;
        ASSERT_TRUE(ComputeVolumeGeometry(total, &g));
        EXPECT_EQ(std::memcmp(store.sectors[0].data() + boot::kVolumeLabel, "SHOP 42    ", 11), 0);
        const std::vector<std::uint8_t>& root = store.sectors[1 + 2 * g.sectorsPerFat];
        EXPECT_EQ(std::memcmp(root.data(), "SHOP 42    ", 11), 0);
        EXPECT_EQ(root[11], 0x08);
        // Only the first root sector holds it.
        const std::vector<std::uint8_t>& next = store.sectors[2 + 2 * g.sectorsPerFat];
        EXPECT_EQ(std::count(next.begin(), next.end(), 0), 512);

        const std::string image = dir.Path() + "/disk.img";
        ASSERT_TRUE(WriteSparseImage(image, store.sectors, total));
        std::string output;
        EXPECT_TRUE(FsckClean(image, &output)) << output;
        output.clear();
        const std::string env = "MTOOLS_SKIP_CHECK=1 ";
        EXPECT_EQ(RunShell(env + "mlabel -s -i '" + image + "' ::", &output), 0);
        EXPECT_NE(output.find("Volume label is SHOP 42"), std::string::npos) << output;
        output.clear();
        EXPECT_EQ(RunShell(env + "minfo -i '" + image + "' ::", &output), 0);
        EXPECT_NE(output.find("label=\"SHOP 42    \""), std::string::npos) << output;
        output.clear();
        // Files still go on and come off, and the volume stays sound with them.
        EXPECT_TRUE(MtoolsRoundTrip(image, dir.Path(), 20000, &output)) << output;
        output.clear();
        EXPECT_TRUE(FsckClean(image, &output)) << output;
    }
}

}  // namespace
