#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "core/format_settings.h"
#include "tests/temp_dir.h"

namespace {

// Reads `text` as the settings file into settings that start at their defaults.
struct SettingsFixture : ::testing::Test {
    TempDir dir;
    FormatSettings settings;

    int Load(const std::string& text) {
        const std::string path = dir.Path() + "/Brevant.ini";
        std::ofstream(path, std::ios::binary) << text;
        return LoadSettings(dir.Path(), &settings);
    }
};

TEST_F(SettingsFixture, MissingFileKeepsEveryDefault) {
    EXPECT_EQ(LoadSettings(dir.Path(), &settings), 0);
    const FormatSettings defaults;
    for (const SettingKey& key : kSettingKeys)
        EXPECT_EQ(settings.*key.member, defaults.*key.member);
    EXPECT_EQ(LoadSettings("", &settings), 0);
}

TEST_F(SettingsFixture, AllNineKeysAreRead) {
    ASSERT_EQ(Load("[Setting]\r\n"
                   "GenerateLog=1\r\n"
                   "RestoreVendorPage=0\r\n"
                   "55PtnTest=0\r\n"
                   "AAPtnTest=0\r\n"
                   "AscendPtnTest=1\r\n"
                   "DescendPtnTest=1\r\n"
                   "VerifyEraseFree=0\r\n"
                   "VerifyMarkBad=1\r\n"
                   "ForceTestBad=7\r\n"),
              1);
    EXPECT_EQ(settings.GenerateLog, 1);
    EXPECT_EQ(settings.RestoreVendorPage, 0);
    EXPECT_EQ(settings.PtnTest55, 0);
    EXPECT_EQ(settings.PtnTestAA, 0);
    EXPECT_EQ(settings.AscendPtnTest, 1);
    EXPECT_EQ(settings.DescendPtnTest, 1);
    EXPECT_EQ(settings.VerifyEraseFree, 0);
    EXPECT_EQ(settings.VerifyMarkBad, 1);
    EXPECT_EQ(settings.ForceTestBad, 7);
}

TEST_F(SettingsFixture, OnlyTheSettingSectionCountsAndAbsentKeysKeepDefaults) {
    ASSERT_EQ(Load("GenerateLog=1\n"
                   "[Other]\n"
                   "55PtnTest=0\n"
                   "[Setting]\n"
                   "AAPtnTest=0\n"
                   "UnknownKey=5\n"
                   "[Settings]\n"
                   "VerifyMarkBad=1\n"),
              1);
    EXPECT_EQ(settings.GenerateLog, 0);
    EXPECT_EQ(settings.PtnTest55, 1);
    EXPECT_EQ(settings.PtnTestAA, 0);
    EXPECT_EQ(settings.VerifyMarkBad, 0);
    EXPECT_EQ(settings.RestoreVendorPage, 1);
}

TEST_F(SettingsFixture, FirstLineOfAKeyCountsAcrossRepeatedSections) {
    ASSERT_EQ(Load("[Setting]\nGenerateLog=1\nGenerateLog=0\n[X]\n[setting]\nGenerateLog=0\n"
                   "ForceTestBad=1\n"),
              1);
    EXPECT_EQ(settings.GenerateLog, 1);
    EXPECT_EQ(settings.ForceTestBad, 1);  // the repeated section is read as the same one
}

TEST_F(SettingsFixture, SpacesCaseCommentsAndNotations) {
    ASSERT_EQ(Load("  [ Setting ]  ; the switches\n"
                   "; GenerateLog=1\n"
                   "  generatelog =  1   ; on\n"
                   "55PTNTEST= 0x0\n"
                   "AscendPtnTest=0x10\n"
                   "ForceTestBad=-1\n"
                   "VerifyMarkBad=2,3\n"),
              1);
    EXPECT_EQ(settings.GenerateLog, 1);
    EXPECT_EQ(settings.PtnTest55, 0);
    EXPECT_EQ(settings.AscendPtnTest, 16);
    EXPECT_EQ(settings.ForceTestBad, -1);
    EXPECT_EQ(settings.VerifyMarkBad, 2);  // field 1 only
}

TEST_F(SettingsFixture, BrokenValuesLeaveTheirSwitchUnchanged) {
    ASSERT_EQ(Load("[Setting]\n"
                   "GenerateLog=yes\n"
                   "55PtnTest=\n"
                   "AAPtnTest=12abc\n"
                   "AscendPtnTest=99999999999\n"
                   "VerifyEraseFree\n"
                   "RestoreVendorPage=0x\n"
                   "ForceTestBad=2147483647\n"
                   "VerifyMarkBad=-2147483648\n"),
              1);
    EXPECT_EQ(settings.GenerateLog, 0);
    EXPECT_EQ(settings.PtnTest55, 1);
    EXPECT_EQ(settings.PtnTestAA, 1);
    EXPECT_EQ(settings.AscendPtnTest, 0);
    EXPECT_EQ(settings.VerifyEraseFree, 1);
    EXPECT_EQ(settings.RestoreVendorPage, 1);
    EXPECT_EQ(settings.ForceTestBad, 2147483647);
    EXPECT_EQ(settings.VerifyMarkBad, -2147483647 - 1);
}

TEST_F(SettingsFixture, BinaryGarbageIsReadWithoutHarm) {
    std::string garbage("[Setting]\nGenerateLog=1\n", 24);
    for (int i = 0; i < 512; ++i) garbage.push_back(static_cast<char>((i * 37) & 0xFF));
    garbage += "\n[Setting\nForceTestBad=1\n";
    ASSERT_EQ(Load(garbage), 1);
    EXPECT_EQ(settings.GenerateLog, 1);
}

}  // namespace
