// The command line's files, one call at a time: what an output path may be, how a file is put in
// place, how the log is added to, and the folder the old pages are kept in.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "cli/shared/backup_folder.h"
#include "cli/shared/output_file.h"
#include "tests/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

class OutputFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.Path().empty());
        Write(Path("target"), "the file a link leads to\n");
    }
    std::string Path(const std::string& name) const { return dir_.Path() + "/" + name; }
    std::string Checked(const std::string& path, OutputUse use) const {
        std::string reason;
        return CheckOutputPath(path, use, &reason) ? "ok" : reason;
    }

    TempDir dir_;
};

TEST_F(OutputFiles, WhatAnOutputPathMayBe) {
    Write(Path("plain"), "old\n");
    fs::create_symlink(Path("target"), Path("link"));
    fs::create_symlink(Path("nowhere"), Path("dangling"));
    fs::create_directories(Path("folder"));
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    ASSERT_EQ(link(Path("target").c_str(), Path("second-name").c_str()), 0);
    fs::create_directory_symlink(Path("folder"), Path("folder-link"));
    for (OutputUse use : {OutputUse::Whole, OutputUse::Appended}) {
        EXPECT_EQ(Checked(Path("new"), use), "ok");
        EXPECT_EQ(Checked(Path("plain"), use), "ok");
        EXPECT_EQ(Checked("/dev/null", use), "ok");
        EXPECT_EQ(Checked(Path("link"), use),
                  Path("link") + ": a symbolic link; nothing is written through one");
        EXPECT_EQ(Checked(Path("dangling"), use),
                  Path("dangling") + ": a symbolic link; nothing is written through one");
        EXPECT_EQ(Checked(Path("folder"), use), Path("folder") + ": not a plain file but a folder");
        EXPECT_EQ(Checked(Path("fifo"), use),
                  Path("fifo") +
                      ": not a plain file (a device, pipe or socket); nothing is written to one");
        EXPECT_EQ(Checked("/dev/zero", use),
                  "/dev/zero: not a plain file (a device, pipe or socket); nothing is written to "
                  "one");
        EXPECT_EQ(Checked(Path("none/new"), use), Path("none/new") + ": its folder " +
                                                      Path("none") + ": No such file or directory");
        EXPECT_EQ(Checked(Path("folder-link/new"), use),
                  Path("folder-link/new") + ": its folder " + Path("folder-link") +
                      ": a symbolic link (or a loop of them); name the folder itself");
        EXPECT_EQ(Checked(Path("folder/"), use), Path("folder/") + ": names a folder, not a file");
    }
    // Only the log is added to: a file with another name would be added to under both.
    EXPECT_EQ(Checked(Path("second-name"), OutputUse::Whole), "ok");
    EXPECT_EQ(Checked(Path("second-name"), OutputUse::Appended),
              Path("second-name") +
                  ": has other names (hard links); the log is not added to through them");
}

TEST_F(OutputFiles, AWholeFileIsMadeOrReplacedNeverWrittenThrough) {
    std::string reason;
    ASSERT_TRUE(WriteWholeFile(Path("new.json"), "one\n", &reason)) << reason;
    EXPECT_EQ(Read(Path("new.json")), "one\n");
    // A plain file is replaced by a new one: another name of the old file keeps the old text.
    ASSERT_EQ(link(Path("new.json").c_str(), Path("old-name").c_str()), 0);
    ASSERT_TRUE(WriteWholeFile(Path("new.json"), "two\n", &reason)) << reason;
    EXPECT_EQ(Read(Path("new.json")), "two\n");
    EXPECT_EQ(Read(Path("old-name")), "one\n");
    // A link found when the file is written takes the file's place; what it led to stays.
    fs::create_symlink(Path("target"), Path("planted"));
    ASSERT_TRUE(WriteWholeFile(Path("planted"), "three\n", &reason)) << reason;
    EXPECT_FALSE(fs::is_symlink(Path("planted")));
    EXPECT_EQ(Read(Path("planted")), "three\n");
    EXPECT_EQ(Read(Path("target")), "the file a link leads to\n");
    // A pipe or a folder is neither opened nor replaced.
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(WriteWholeFile(Path("fifo"), "x", &reason));
    EXPECT_TRUE(fs::is_fifo(Path("fifo")));
    fs::create_directories(Path("folder"));
    EXPECT_FALSE(WriteWholeFile(Path("folder"), "x", &reason));
    EXPECT_TRUE(fs::is_directory(Path("folder")));
    // The null device takes it.
    EXPECT_TRUE(WriteWholeFile("/dev/null", "x", &reason)) << reason;
    // Nothing of the work is left in the folder.
    for (const auto& entry : fs::directory_iterator(dir_.Path())) {
        EXPECT_EQ(entry.path().filename().string().find(".part"), std::string::npos)
            << entry.path();
    }
}

TEST_F(OutputFiles, AFileDroppedUnfinishedLeavesNothingAndTheOldFileWhole) {
    Write(Path("old"), "old text\n");
    std::string reason;
    {
        OutputFile replacing;
        ASSERT_TRUE(replacing.Open(Path("old"), &reason)) << reason;
        ASSERT_EQ(write(replacing.Fd(), "half", 4), 4);
        OutputFile fresh;
        ASSERT_TRUE(fresh.Open(Path("fresh"), &reason)) << reason;
        EXPECT_TRUE(fs::exists(Path("fresh")));  // made under its name, exclusively
    }
    EXPECT_EQ(Read(Path("old")), "old text\n");
    EXPECT_FALSE(fs::exists(Path("fresh")));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator()), 2);
}

TEST_F(OutputFiles, TheLogIsAddedToAndNeverThroughALink) {
    std::string reason;
    ASSERT_TRUE(AppendToFile(Path("run.log"), "first\n", &reason)) << reason;
    ASSERT_TRUE(AppendToFile(Path("run.log"), "second\n", &reason)) << reason;
    EXPECT_EQ(Read(Path("run.log")), "first\nsecond\n");
    fs::create_symlink(Path("target"), Path("linked.log"));
    EXPECT_FALSE(AppendToFile(Path("linked.log"), "x\n", &reason));
    EXPECT_EQ(reason, Path("linked.log") + ": a symbolic link; nothing is written through one");
    EXPECT_EQ(Read(Path("target")), "the file a link leads to\n");
    ASSERT_EQ(link(Path("target").c_str(), Path("hard.log").c_str()), 0);
    EXPECT_FALSE(AppendToFile(Path("hard.log"), "x\n", &reason));
    EXPECT_EQ(Read(Path("target")), "the file a link leads to\n");
    EXPECT_TRUE(AppendToFile("/dev/null", "x\n", &reason)) << reason;
}

TEST_F(OutputFiles, FoldersOfItsOwnAreItsOwnersAloneAndOthersKeepTheirRights) {
    ASSERT_EQ(mkdir(Path("shared").c_str(), 0700), 0);
    ASSERT_EQ(chmod(Path("shared").c_str(), 01777), 0);
    std::string reason;
    ASSERT_TRUE(MakeFolders(Path("shared/a/b"), &reason)) << reason;
    struct stat info = {};
    ASSERT_EQ(stat(Path("shared").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 01777u);
    for (const char* made : {"shared/a", "shared/a/b"}) {
        ASSERT_EQ(stat(Path(made).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0700u) << made;
    }
    EXPECT_TRUE(MakeFolders(Path("shared/a/b/"), &reason)) << reason;
    EXPECT_FALSE(MakeFolders(Path("target/inside"), &reason));
    EXPECT_NE(reason.find("target/inside: cannot make the folder: Not a directory"),
              std::string::npos)
        << reason;
}

TEST_F(OutputFiles, KeptPagesGetANameOfTheirOwnEvenForOneSerial) {
    BackupFolder folder;
    std::string reason;
    ASSERT_TRUE(folder.Open(Path("cis"), &reason)) << reason;
    CisBackup pages;
    pages.banks = {BackupBank{0x73, 32, 1024}};
    pages.cisPage = 0;
    std::string first, second;
    ASSERT_TRUE(folder.Keep(pages, "BATCH/7", 1'700'000'000, &first, &reason)) << reason;
    ASSERT_TRUE(folder.Keep(pages, "BATCH/7", 1'700'000'000, &second, &reason)) << reason;
    EXPECT_NE(first, second);
    EXPECT_EQ(fs::path(first).parent_path(), fs::path(Path("cis")));
    EXPECT_EQ(fs::path(first).filename().string().compare(0, 8, "BATCH_7-"), 0) << first;
    EXPECT_EQ(second.substr(second.size() - 6), "-2.cis") << second;
    struct stat info = {};
    ASSERT_EQ(stat(first.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    CisBackup read;
    EXPECT_TRUE(ReadCisBackup(second, &read, &reason)) << reason;
}

}  // namespace
