#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/format_dlg.h"
#include "core/string_table.h"
#include "tests/fake_host.h"
#include "tests/temp_dir.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// The program started in a folder of its own, with or without a settings file.
struct StartFixture : ::testing::Test {
    TempDir dir;
    FakeHost host;
    FakeDevice device;
    CFormatDlg dlg{host, device};

    std::string LogPath() const { return dir.Path() + "/brevant.log"; }
    void Start(const std::string* settings) {
        ASSERT_FALSE(dir.Path().empty());
        if (settings != nullptr) WriteFile(dir.Path() + "/Brevant.ini", *settings);
        host.currentDirectory = dir.Path();
        device.units = {8};
        EXPECT_TRUE(dlg.OnInitDialog());
    }
    void Start(const std::string& settings) { Start(&settings); }
    // An engine that logs a few lines of its own through the front end.
    void LoggingEngine(FormatResult result) {
        device.format = [result](RunInterface& run, MediaType, FormatMode) {
            run.Log().Append("Bank No = %d\n", 0, 0, 0);
            run.Log().Append("Bad blk: %d\n", 17, 0, 0);
            run.Log().Append("Total bad blocks = %d\nTotal unable_to_mark_bad blocks = %d\n", 1, 0,
                             0);
            return result;
        };
    }
};

TEST_F(StartFixture, InitialisationSetsTitleMediaAndDiscovers) {
    Start(nullptr);
    EXPECT_EQ(dlg.Title(), "Brevant Utility");
    EXPECT_EQ(device.discoveries, 1);
    EXPECT_EQ(dlg.SelectedMedia(), kMediaUsbDisk);
    EXPECT_EQ(dlg.ApplicationName(), "Brevant");
    EXPECT_EQ(dlg.OnInstanceQuery(0, 0), 0x42726576u);
    EXPECT_EQ(dlg.OnInstanceQuery(5, 9), 0x42726576u);
}

// The window is dressed before the settings, the log and the reader are looked at: the status
// control first, then the icons; the empty About text adds nothing to the system menu.
TEST_F(StartFixture, WindowIsSetUpBeforeSettingsLogAndDiscovery) {
    std::size_t callsAtIcons = 99;
    bool logExistedAtIcons = true;
    host.onIcons = [&] {
        callsAtIcons = device.calls.size();
        logExistedAtIcons = Exists(LogPath());
    };
    Start("[Setting]\nGenerateLog=1\n");
    ASSERT_GE(host.windowCalls.size(), 2u);
    EXPECT_EQ(host.windowCalls[0], "text 1000");
    EXPECT_EQ(host.windowCalls[1], "icons");
    EXPECT_EQ(std::count(host.windowCalls.begin(), host.windowCalls.end(), "icons"), 1);
    for (const std::string& call : host.windowCalls) EXPECT_NE(call.rfind("menu", 0), 0u) << call;
    EXPECT_EQ(callsAtIcons, 0u);
    EXPECT_FALSE(logExistedAtIcons);
    EXPECT_TRUE(Exists(LogPath()));
    ASSERT_FALSE(device.calls.empty());
    EXPECT_EQ(device.calls.front(), "discover");
}

TEST_F(StartFixture, WithoutSettingsFileTheDefaultsApplyAndNoLogIsWritten) {
    Start(nullptr);
    const FormatSettings& s = dlg.Settings();
    EXPECT_EQ(s.GenerateLog, 0);
    EXPECT_EQ(s.RestoreVendorPage, 1);
    EXPECT_EQ(s.PtnTest55, 1);
    EXPECT_EQ(s.PtnTestAA, 1);
    EXPECT_EQ(s.AscendPtnTest, 0);
    EXPECT_EQ(s.DescendPtnTest, 0);
    EXPECT_EQ(s.VerifyEraseFree, 1);
    EXPECT_EQ(s.VerifyMarkBad, 0);
    EXPECT_EQ(s.ForceTestBad, 0);
    LoggingEngine(FormatResult::Failed);
    dlg.OnStartStop();
    dlg.OnCancel();
    EXPECT_FALSE(Exists(LogPath()));
}

TEST_F(StartFixture, SettingsFileIsReadFromTheCurrentFolder) {
    Start("[Setting]\nGenerateLog=1\n55PtnTest=0\nForceTestBad=1\nDescendPtnTest=1\n");
    EXPECT_EQ(dlg.Settings().GenerateLog, 1);
    EXPECT_EQ(dlg.Settings().PtnTest55, 0);
    EXPECT_EQ(dlg.Settings().ForceTestBad, 1);
    EXPECT_EQ(dlg.Settings().DescendPtnTest, 1);
    EXPECT_EQ(dlg.Settings().PtnTestAA, 1);
}

TEST_F(StartFixture, LogSwitchedOnAloneLeavesAnEmptyLogTruncatedAtStart) {
    WriteFile(LogPath(), "the previous start's log\n");
    Start("[Setting]\nGenerateLog=1\n");
    ASSERT_TRUE(Exists(LogPath()));
    EXPECT_EQ(std::filesystem::file_size(LogPath()), 0u);  // emptied at start-up
    dlg.OnCancel();
    EXPECT_EQ(std::filesystem::file_size(LogPath()), 0u);
}

TEST_F(StartFixture, TwoRunsGoIntoOneLogInOrderWithLineFeedsOnly) {
    Start("[Setting]\nGenerateLog=1\n");
    LoggingEngine(FormatResult::Failed);
    dlg.OnStartStop();
    LoggingEngine(FormatResult::Cancelled);
    dlg.OnStartStop();
    dlg.OnCancel();
    const std::string run =
        "Start formatting DISK\nBank No = 0\nBad blk: 17\nTotal bad blocks = 1\n"
        "Total unable_to_mark_bad blocks = 0\nEnd formatting DISK\n";
    const std::string text = ReadFile(LogPath());
    EXPECT_EQ(text, run + run);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.find('\0'), std::string::npos);
}

TEST_F(StartFixture, LogTakesOneMoreLineBelowTheLimitAndNoneAtIt) {
    Start("[Setting]\nGenerateLog=1\n");
    dlg.Log().SetUsedForTest(FormatLog::kAppendLimit - 1);
    dlg.AppendLog("Start formatting DISK\n", 0, 0, 0);
    EXPECT_EQ(dlg.Log().Used(), FormatLog::kAppendLimit - 1 + 22);
    const std::uint32_t used = dlg.Log().Used();
    dlg.AppendLog("End formatting DISK\n", 0, 0, 0);
    EXPECT_EQ(dlg.Log().Used(), used);
    dlg.OnCancel();
    const std::string text = ReadFile(LogPath());
    ASSERT_EQ(text.size(), used);
    EXPECT_EQ(text.substr(text.size() - 22), "Start formatting DISK\n");
    EXPECT_EQ(text.find('\0'), std::string::npos);
}

TEST_F(StartFixture, ExitWritesTheLogThenClosesTheReaderThenEndsTheDialog) {
    Start("[Setting]\nGenerateLog=1\n");
    LoggingEngine(FormatResult::Failed);
    dlg.OnStartStop();
    std::string logAtClose;
    bool closedBeforeEnd = false;
    device.onClose = [&] { logAtClose = ReadFile(LogPath()); };
    host.onEndDialog = [&] { closedBeforeEnd = device.Count("close") == 1; };
    dlg.OnCancel();
    EXPECT_NE(logAtClose.find("End formatting DISK\n"), std::string::npos);
    EXPECT_TRUE(closedBeforeEnd);
    EXPECT_EQ(host.endResult, 2);
}

TEST_F(StartFixture, OkCommandDoesNotEndTheDialog) {
    Start("[Setting]\nGenerateLog=1\n");
    dlg.AppendLog("Start formatting DISK\n", 0, 0, 0);
    dlg.OnOK();
    EXPECT_EQ(host.endResult, -1);
    EXPECT_EQ(device.Count("close"), 0);
    EXPECT_EQ(std::filesystem::file_size(LogPath()), 0u);  // nothing flushed behind Exit's back
}

TEST_F(StartFixture, AboutOpensForSystemCommands16To31Only) {
    Start(nullptr);
    EXPECT_TRUE(dlg.OnSysCommand(16));
    EXPECT_TRUE(dlg.OnSysCommand(31));
    EXPECT_FALSE(dlg.OnSysCommand(32));
    EXPECT_FALSE(dlg.OnSysCommand(15));
    EXPECT_FALSE(dlg.OnSysCommand(0xF060));  // close
    EXPECT_EQ(host.aboutBoxes, 2);
}

TEST_F(StartFixture, MinimisedWindowPaintsItsIcon) {
    Start(nullptr);
    EXPECT_FALSE(dlg.OnPaint());
    host.minimised = true;
    EXPECT_TRUE(dlg.OnPaint());
    EXPECT_EQ(host.iconPaints, 1);
}

TEST_F(StartFixture, UnknownCurrentFolderMeansNoSettings) {
    WriteFile(dir.Path() + "/Brevant.ini", "[Setting]\nGenerateLog=1\n");
    host.currentDirectory = dir.Path();
    host.hasDirectory = false;
    dlg.OnInitDialog();
    EXPECT_EQ(dlg.Settings().GenerateLog, 0);
}

// The folder name plus the settings file's name must fit in 256 bytes with the terminating zero.
TEST(SettingsPath, FolderNameThatDoesNotFitCountsAsNoSettingsFile) {
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::size_t room = kSettingsPathRoom - 1 - (sizeof kSettingsFileName - 1);  // 243
    ASSERT_LT(dir.Path().size() + 1, room);
    for (std::size_t length : {room, room + 1}) {
        // A folder whose full name has exactly `length` characters.
        const std::string folder =
            dir.Path() + "/" + std::string(length - dir.Path().size() - 1, 'f');
        ASSERT_EQ(folder.size(), length);
        std::filesystem::create_directory(folder);
        WriteFile(folder + "/Brevant.ini", "[Setting]\nGenerateLog=1\n");
        FormatSettings settings;
        const int opened = LoadSettings(folder, &settings);
        EXPECT_EQ(opened, length == room ? 1 : 0) << length;
        EXPECT_EQ(settings.GenerateLog, length == room ? 1 : 0) << length;
    }
}

}  // namespace
