// The file a stick's old CIS and vendor pages are kept in before a format erases them.
#include "format/cis_backup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/temp_dir.h"

namespace {

CisBackup Sample(bool withVendor) {
    CisBackup backup;
    backup.device = "/dev/sg2";
    backup.usbSerial = "0123456789AB";
    backup.usbPort = "1-1.2";
    backup.inquiryVendor = "GENERIC";
    backup.inquiryProduct = "USB FLASH DISK";
    backup.inquiryRevision = "1.00";
    backup.saved = "2026-12-08T09:30:00+0000";
    backup.banks = {BackupBank{0x76, 32, 4096}, BackupBank{0x73, 32, 1024}};
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
        EXPECT_EQ(read.version, kCisBackupVersion);
        EXPECT_EQ(read.device, written.device);
        EXPECT_EQ(read.usbSerial, "0123456789AB");
        EXPECT_EQ(read.usbPort, "1-1.2");
        EXPECT_EQ(read.inquiryVendor, "GENERIC");
        EXPECT_EQ(read.inquiryProduct, "USB FLASH DISK");
        EXPECT_EQ(read.inquiryRevision, "1.00");
        EXPECT_EQ(read.identity, "");
        EXPECT_EQ(read.saved, written.saved);
        EXPECT_EQ(read.banks, written.banks);
        EXPECT_EQ(read.DeviceCode(), 0x76);
        EXPECT_EQ(read.PagesPerBlock(), 32);
        EXPECT_EQ(read.cisPage, 64);
        EXPECT_EQ(read.vendorPage, withVendor ? 65 : -1);
        EXPECT_EQ(read.cis, written.cis);
        if (withVendor) {
            EXPECT_EQ(read.vendor, written.vendor);
        }
    }
    // A stick the system knew no serial or port of: the lines are left out, and read as none.
    CisBackup unknown = Sample(false);
    unknown.usbSerial.clear();
    unknown.usbPort.clear();
    const std::string text = EncodeCisBackup(unknown);
    EXPECT_EQ(text.find("usb-"), std::string::npos);
    CisBackup read;
    std::string error;
    ASSERT_TRUE(DecodeCisBackup(text, &read, &error)) << error;
    EXPECT_EQ(read.usbSerial, "");
    EXPECT_EQ(read.usbPort, "");
}

TEST(CisBackup, TheHeaderIsPlainTextAHeaderLineCannotBreak) {
    CisBackup backup = Sample(true);
    backup.inquiryProduct = "EVIL\ncis-page 0";  // an INQUIRY text with a line break in it
    const std::string text = EncodeCisBackup(backup);
    EXPECT_EQ(text.compare(0, 21, "BREVANT CIS BACKUP 2\n"), 0);
    EXPECT_NE(text.find("bank0 device-code=0x76 pages-per-block=32 blocks=4096\n"
                        "bank1 device-code=0x73 pages-per-block=32 blocks=1024\n"),
              std::string::npos)
        << text;
    CisBackup read;
    std::string error;
    ASSERT_TRUE(DecodeCisBackup(text, &read, &error)) << error;
    EXPECT_EQ(read.cisPage, 64);
    EXPECT_EQ(read.inquiryProduct, "EVIL cis-page 0");
}

// A file the first version wrote: bank 0 alone and the stick's name in one line. It is still
// read, as a file that names the kind of flash and not the stick.
TEST(CisBackup, AFileOfTheFirstVersionIsStillRead) {
    std::string data(2 * 528, '\0');
    for (std::size_t i = 0; i < 528; ++i) data[i] = static_cast<char>(i);
    data.replace(528, 4, "USBC");
    char crc[16];
    std::snprintf(crc, sizeof crc, "0x%08x",
                  Crc32(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
    const std::string text = std::string("BREVANT CIS BACKUP 1\n") +
                             "device /dev/sg2\n"
                             "identity GENERIC USB FLASH DISK 1.00\n"
                             "saved 2026-12-08T09:30:00+0000\n"
                             "bank0 device-code=0x76 pages-per-block=32\n"
                             "cis-page 0\n"
                             "vendor-page 1\n"
                             "crc32 " +
                             crc + "\n" + "data 1056\n" + data;
    CisBackup read;
    std::string error;
    ASSERT_TRUE(DecodeCisBackup(text, &read, &error)) << error;
    EXPECT_EQ(read.version, 1);
    EXPECT_EQ(read.identity, "GENERIC USB FLASH DISK 1.00");
    EXPECT_EQ(read.usbSerial, "");
    ASSERT_EQ(read.banks.size(), 1u);
    EXPECT_EQ(read.banks[0], (BackupBank{0x76, 32, 4096}));  // the count from the flash table
    EXPECT_EQ(read.cisPage, 0);
    EXPECT_EQ(read.vendorPage, 1);
    EXPECT_EQ(std::memcmp(read.vendor.data(), "USBC", 4), 0);
    // The lines of the second version are not part of the first.
    std::string mixed = text;
    mixed.replace(mixed.find("saved"), 0, "usb-serial X\n");
    EXPECT_FALSE(DecodeCisBackup(mixed, &read, &error));
    EXPECT_NE(error.find("a line it cannot read: usb-serial X"), std::string::npos) << error;
    // Written again, it is a file of the current version that says the same.
    CisBackup again;
    ASSERT_TRUE(DecodeCisBackup(EncodeCisBackup(read), &again, &error)) << error;
    EXPECT_EQ(again.version, kCisBackupVersion);
    EXPECT_EQ(again.identity, read.identity);
    EXPECT_EQ(again.banks, read.banks);
    EXPECT_EQ(again.vendor, read.vendor);
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
    std::string wrongBlocks = good;  // a bank of 73h parts has 1024 blocks
    wrongBlocks.replace(wrongBlocks.find("blocks=1024"), 11, "blocks=2048");
    std::string noBlocks = good;
    noBlocks.replace(noBlocks.find(" blocks=1024"), 12, "");
    std::string banksSwapped = good;
    banksSwapped.replace(banksSwapped.find("bank0"), 5, "bank1");
    std::string noBank0 = good.substr(0, good.find("bank0")) + good.substr(good.find("bank1"));
    std::string nineBanks = good;
    const std::string bank1 = "bank1 device-code=0x73 pages-per-block=32 blocks=1024\n";
    std::string more;
    for (int b = 2; b <= 8; ++b) {
        more += "bank" + std::to_string(b) + bank1.substr(5);
    }
    nineBanks.insert(nineBanks.find(bank1) + bank1.size(), more);
    const Case cases[] = {
        {flipped, "checksum"},
        {good.substr(0, good.size() - 1), "not all there"},
        {good + "x", "not all there"},
        {"BREVANT CIS BACKUP 3\n", "not a CIS backup"},
        {"", "not a CIS backup"},
        {good.substr(0, good.find("crc32")), "incomplete"},
        {badPage, "no stick"},
        {pastBank, "no stick"},
        {unknownCode, "no stick"},
        {wrongBlocks, "no stick"},
        {noBlocks, "no stick"},
        {banksSwapped, "a line it cannot read: bank1"},
        {noBank0, "a line it cannot read: bank1"},
        {nineBanks, "a line it cannot read: bank8"},
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

// The file a user names is read only when it is a plain file of a sane size: a pipe would hold
// the restore up for good.
TEST(CisBackup, OnlyAPlainFileOfASaneSizeIsRead) {
    TempDir dir;
    const std::string path = dir.Path() + "/sg2.cis";
    std::ofstream(path, std::ios::binary) << EncodeCisBackup(Sample(true));
    CisBackup read;
    std::string error;
    ASSERT_TRUE(ReadCisBackup(path, &read, &error)) << error;
    EXPECT_EQ(read.vendorPage, 65);
    const std::string big = dir.Path() + "/big.cis";
    std::ofstream(big) << std::string(100000, 'x');
    EXPECT_FALSE(ReadCisBackup(big, &read, &error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
    const std::string pipe = dir.Path() + "/pipe.cis";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_FALSE(ReadCisBackup(pipe, &read, &error));
    EXPECT_NE(error.find("not a plain file"), std::string::npos) << error;
    EXPECT_FALSE(ReadCisBackup(dir.Path() + "/none.cis", &read, &error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

TEST(CisBackup, Crc32OfTheUsualCheckValue) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc32(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()),
              0xCBF43926u);
}

}  // namespace
