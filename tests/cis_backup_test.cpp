// The file a stick's old CIS and vendor pages are kept in before a format erases them.
#include "format/cis_backup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/temp_dir.h"

namespace {

CisBackup Sample(bool withVendor) {
    CisBackup backup;
    backup.device = "/dev/sg2";
    backup.identity = "GENERIC  USB FLASH DISK  1.00";
    backup.saved = "2026-12-08T09:30:00+0000";
    backup.deviceCode = 0x76;
    backup.pagesPerBlock = 32;
    backup.cisPage = 64;
    for (std::size_t i = 0; i < backup.cis.size(); ++i)
        backup.cis[i] = static_cast<std::uint8_t>(i);
    if (withVendor) {
        backup.vendorPage = 65;
        backup.vendor.fill(0xA5);
        backup.vendor[0] = 'U';
    }
    return backup;
}

TEST(CisBackup, RoundTripsWithAndWithoutAVendorPage) {
    for (bool withVendor : {true, false}) {
        const CisBackup written = Sample(withVendor);
        CisBackup read;
        std::string error;
        ASSERT_TRUE(DecodeCisBackup(EncodeCisBackup(written), &read, &error)) << error;
        EXPECT_EQ(read.device, written.device);
        EXPECT_EQ(read.identity, written.identity);
        EXPECT_EQ(read.saved, written.saved);
        EXPECT_EQ(read.deviceCode, 0x76);
        EXPECT_EQ(read.pagesPerBlock, 32);
        EXPECT_EQ(read.cisPage, 64);
        EXPECT_EQ(read.vendorPage, withVendor ? 65 : -1);
        EXPECT_EQ(read.cis, written.cis);
        if (withVendor) {
            EXPECT_EQ(read.vendor, written.vendor);
        }
    }
}

TEST(CisBackup, TheHeaderIsPlainTextAHeaderLineCannotBreak) {
    CisBackup backup = Sample(true);
    backup.identity = "EVIL\ncis-page 0";  // an INQUIRY text with a line break in it
    const std::string text = EncodeCisBackup(backup);
    EXPECT_EQ(text.compare(0, 21, "BREVANT CIS BACKUP 1\n"), 0);
    EXPECT_NE(text.find("bank0 device-code=0x76 pages-per-block=32\n"), std::string::npos);
    CisBackup read;
    std::string error;
    ASSERT_TRUE(DecodeCisBackup(text, &read, &error)) << error;
    EXPECT_EQ(read.cisPage, 64);
    EXPECT_EQ(read.identity, "EVIL cis-page 0");
}

TEST(CisBackup, DamageIsFoundNotRestored) {
    const std::string good = EncodeCisBackup(Sample(true));
    struct Case {
        std::string bytes;
        const char* reason;
    };
    std::string flipped = good;
    flipped[flipped.size() - 100] ^= 0x01;  // one bit of the vendor page
    std::string badPage = good;
    badPage.replace(badPage.find("cis-page 64"), 11, "cis-page 65");  // not a block's first page
    std::string pastBank = good;
    pastBank.replace(pastBank.find("cis-page 64"), 11, "cis-page 999999");
    std::string unknownCode = good;
    unknownCode.replace(unknownCode.find("0x76"), 4, "0x42");
    const Case cases[] = {
        {flipped, "checksum"},         {good.substr(0, good.size() - 1), "not all there"},
        {good + "x", "not all there"}, {"BREVANT CIS BACKUP 2\n", "not a CIS backup"},
        {"", "not a CIS backup"},      {good.substr(0, good.find("crc32")), "incomplete"},
        {badPage, "no stick"},         {pastBank, "no stick"},
        {unknownCode, "no stick"},
    };
    for (const Case& c : cases) {
        CisBackup read;
        std::string error;
        EXPECT_FALSE(DecodeCisBackup(c.bytes, &read, &error)) << c.reason;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

// A reason reaches a terminal: the line it quotes shows its control bytes as '?'.
TEST(CisBackup, AnUnreadableLineIsQuotedAsPlainText) {
    std::string text = EncodeCisBackup(Sample(false));
    text.replace(text.find("crc32"), 5, "cr\x1b[2Jc\x80");
    CisBackup read;
    std::string error;
    ASSERT_FALSE(DecodeCisBackup(text, &read, &error));
    EXPECT_EQ(error.compare(0, 23, "a line it cannot read: "), 0) << error;
    EXPECT_NE(error.find("cr?[2Jc?"), std::string::npos) << error;
    for (char c : error) EXPECT_TRUE(c >= 0x20 && c <= 0x7E) << int{c};
}

TEST(CisBackup, TheFileIsWrittenWholeAndNeverOverAnother) {
    TempDir dir;
    const std::string path = dir.Path() + "/sg2-20261208-093000.cis";
    std::string error;
    ASSERT_TRUE(WriteCisBackup(path, Sample(true), &error)) << error;
    EXPECT_FALSE(std::filesystem::exists(path + ".part"));
    CisBackup read;
    ASSERT_TRUE(ReadCisBackup(path, &read, &error)) << error;
    EXPECT_EQ(read.vendor, Sample(true).vendor);
    // A second backup under the same name does not replace the first.
    EXPECT_FALSE(WriteCisBackup(path, Sample(false), &error));
    EXPECT_NE(error.find("exists"), std::string::npos) << error;
    ASSERT_TRUE(ReadCisBackup(path, &read, &error)) << error;
    EXPECT_EQ(read.vendorPage, 65);
    // A folder that is not there, and a file far too large to be a backup.
    EXPECT_FALSE(WriteCisBackup(dir.Path() + "/no/such/folder/x.cis", Sample(true), &error));
    const std::string big = dir.Path() + "/big.cis";
    std::ofstream(big) << std::string(100000, 'x');
    EXPECT_FALSE(ReadCisBackup(big, &read, &error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
}

TEST(CisBackup, Crc32OfTheUsualCheckValue) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc32(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()),
              0xCBF43926u);
}

}  // namespace
