// The one reading of the settings text: the switches it sets and what it says about each line.
#include "core/settings_parser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/format_settings.h"
#include "core/quoted_text.h"
#include "tests/temp_dir.h"

namespace {

// "P3 text" / "W0 text": the kind, the line and the text of every note.
std::vector<std::string> Notes(const ParsedSettings& parsed) {
    std::vector<std::string> notes;
    for (const SettingsNote& note : parsed.notes)
        notes.push_back((note.kind == SettingsNoteKind::Problem ? "P" : "W") +
                        std::to_string(note.line) + " " + note.text);
    return notes;
}

// "55PtnTest=0@3" for every switch the text sets.
std::vector<std::string> Assignments(const ParsedSettings& parsed) {
    std::vector<std::string> set;
    for (const SettingAssignment& a : parsed.assignments)
        set.push_back(std::string(kSettingKeys[a.key].name) + "=" + std::to_string(a.value) + "@" +
                      std::to_string(a.line));
    return set;
}

using Lines = std::vector<std::string>;

TEST(SettingsLineEnds, LineFeedCarriageReturnAndBothReadAlike) {
    for (const char* end : {"\n", "\r\n", "\r"}) {
        const std::string e = end;
        const ParsedSettings parsed = ParseSettingsText("[Setting]" + e + "GenerateLog=1" + e +
                                                        "ForceTestBad=0x10" + e + "Unknown=1" + e);
        EXPECT_EQ(Assignments(parsed), (Lines{"GenerateLog=1@2", "ForceTestBad=16@3"}))
            << static_cast<int>(end[0]);
        EXPECT_EQ(Notes(parsed), (Lines{"W4 \"Unknown\": not a setting; ignored"}));
    }
    // Mixed ends count one line each; a last line without an end is still read.
    const ParsedSettings mixed = ParseSettingsText("[Setting]\r\n\n\rGenerateLog=1\n\rAAPtnTest=0");
    EXPECT_EQ(Assignments(mixed), (Lines{"GenerateLog=1@4", "AAPtnTest=0@6"}));
}

TEST(SettingsLineEnds, VerticalTabAndFormFeedAreBlanksAndNotLineEnds) {
    const ParsedSettings parsed =
        ParseSettingsText("\f[Setting]\v\n\vGenerateLog\f=\v1\f\n55PtnTest=0\v1\n");
    EXPECT_EQ(Assignments(parsed), (Lines{"GenerateLog=1@2"}));
    EXPECT_EQ(Notes(parsed), (Lines{"P3 \"55PtnTest=0\\x0B1\": 55PtnTest needs a whole number"}));
}

TEST(SettingsNotes, ProblemsAreSwitchesNotSetAsWritten) {
    const ParsedSettings parsed = ParseSettingsText(
        "[Setting]\n"
        "GenerateLog=yes\n"
        "55PtnTest=\n"
        "AAPtnTest=2147483648\n"
        "AscendPtnTest=-0x80000001\n"
        "VerifyEraseFree\n"
        "ForceTestBad=99999999999x\n"
        "[Setting\n"
        "VerifyMarkBad=1\n");
    EXPECT_TRUE(parsed.assignments.empty());
    const std::string range =
        " needs a whole number in the 32-bit range (-2147483648 to 2147483647, or 0x0 to "
        "0xFFFFFFFF)";
    EXPECT_EQ(Notes(parsed), (Lines{
                                 "P2 \"GenerateLog=yes\": GenerateLog needs a whole number",
                                 "P3 \"55PtnTest=\": 55PtnTest needs a whole number",
                                 "P4 \"AAPtnTest=2147483648\": AAPtnTest" + range,
                                 "P5 \"AscendPtnTest=-0x80000001\": AscendPtnTest" + range,
                                 "P6 \"VerifyEraseFree\": not of the form key=value",
                                 "P7 \"ForceTestBad=99999999999x\": ForceTestBad needs a whole "
                                 "number",
                                 "P8 \"[Setting\": the section name has no ]",
                                 "W9 \"VerifyMarkBad\": not in the [Setting] section; ignored",
                             }));
    EXPECT_EQ(parsed.problemCount, 7u);
    EXPECT_EQ(parsed.warningCount, 1u);
}

TEST(SettingsNotes, WarningsAreLinesThatChangeNothing) {
    const ParsedSettings parsed = ParseSettingsText(
        "GenerateLog=1\n"
        "[Other]\n"
        "ForceTestBad=1\n"
        "Colour=blue\n"
        "[Setting] GenerateLog=1\n"
        "VerifyMarkBad=2,3\n"
        "verifymarkbad=0\n"
        "VerifyMarkBad=junk\n"
        "[SETTING]\n"
        "VERIFYMARKBAD=5\n"
        "Colour=red\n"
        "=1\n");
    EXPECT_EQ(Assignments(parsed), (Lines{"VerifyMarkBad=2@6"}));
    EXPECT_EQ(Notes(parsed),
              (Lines{
                  "W1 \"GenerateLog\": not in the [Setting] section; ignored",
                  "W3 \"ForceTestBad\": not in the [Setting] section; ignored",
                  "W5 \"GenerateLog=1\": text after the section name; ignored",
                  "W6 \"VerifyMarkBad=2,3\": only the value before the first comma counts",
                  "W7 \"verifymarkbad=0\": only the first VerifyMarkBad line (line 6) counts; "
                  "ignored",
                  "W8 \"VerifyMarkBad=junk\": only the first VerifyMarkBad line (line 6) counts; "
                  "ignored",
                  "W10 \"VERIFYMARKBAD=5\": only the first VerifyMarkBad line (line 6) counts; "
                  "ignored",
                  "W11 \"Colour\": not a setting; ignored",
                  "W12 \"\": not a setting; ignored",
              }));
    EXPECT_EQ(parsed.problemCount, 0u);
}

TEST(SettingsNotes, TheFirstLineOfAKeyCountsEvenWhenItsValueIsBroken) {
    const ParsedSettings parsed = ParseSettingsText("[Setting]\nGenerateLog=x\nGenerateLog=1\n");
    EXPECT_TRUE(parsed.assignments.empty());
    EXPECT_EQ(parsed.problemCount, 1u);
    EXPECT_EQ(parsed.warningCount, 1u);
    FormatSettings settings;
    ReadSettingsText("[Setting]\nGenerateLog=x\nGenerateLog=1\n", &settings);
    EXPECT_EQ(settings.GenerateLog, 0);
}

TEST(SettingsNotes, TheFileAsAWhole) {
    EXPECT_EQ(Notes(ParseSettingsText("")),
              (Lines{"W0 no [Setting] section: every switch keeps its default"}));
    EXPECT_EQ(Notes(ParseSettingsText("; only a comment\n[Other]\nGenerateLog=1\n")),
              (Lines{"W3 \"GenerateLog\": not in the [Setting] section; ignored",
                     "W0 no [Setting] section: every switch keeps its default"}));
    // A byte-order mark is part of the first line, which then is no section header.
    const ParsedSettings marked = ParseSettingsText("\xEF\xBB\xBF[Setting]\nGenerateLog=1\n");
    EXPECT_TRUE(marked.assignments.empty());
    EXPECT_EQ(Notes(marked),
              (Lines{"W1 \"\\xEF\\xBB\\xBF[Setting]\": starts with a UTF-8 byte-order mark, "
                     "which is read as part of the line",
                     "W2 \"GenerateLog\": not in the [Setting] section; ignored",
                     "W0 no [Setting] section: every switch keeps its default"}));
}

TEST(SettingsNotes, ZeroBytesAreNotTextButTheLineStillDoesWhatTheRulesSay) {
    const std::string text("[Setting]\nGenerateLog=1,\0\nForceTestBad\0=1\n; \0\n", 45);
    const ParsedSettings parsed = ParseSettingsText(text);
    EXPECT_EQ(Assignments(parsed), (Lines{"GenerateLog=1@2"}));
    EXPECT_EQ(Notes(parsed), (Lines{"P2 not text (a zero byte)", "P3 not text (a zero byte)"}));
}

TEST(SettingsNotes, ManyNotesAreCountedButOnlyTheFirstKept) {
    std::string text = "[Setting]\n";
    for (int i = 0; i < 150; ++i) text += "Unknown=1\n";
    for (int i = 0; i < 30; ++i) text += "GenerateLog=no\n";  // one problem, then repeats
    const ParsedSettings parsed = ParseSettingsText(text);
    EXPECT_EQ(parsed.notes.size(), kMaxSettingsNotes);
    EXPECT_EQ(parsed.warningCount, 150u + 29u);
    EXPECT_EQ(parsed.problemCount, 1u);  // past the kept notes, but counted
}

TEST(QuotedText, EscapesAndShortens) {
    EXPECT_EQ(QuotedForMessage("GenerateLog"), "\"GenerateLog\"");
    EXPECT_EQ(QuotedForMessage(""), "\"\"");
    EXPECT_EQ(QuotedForMessage(std::string("a\0b\x1b\x7f\xff", 6)), "\"a\\x00b\\x1B\\x7F\\xFF\"");
    EXPECT_EQ(QuotedForMessage("say \"hi\" \\"), "\"say \\\"hi\\\" \\\\\"");
    EXPECT_EQ(QuotedForMessage(std::string(60, 'k')), "\"" + std::string(60, 'k') + "\"");
    EXPECT_EQ(QuotedForMessage(std::string(61, 'k')), "\"" + std::string(60, 'k') + "...\"");
    // An escape is never cut in two.
    EXPECT_EQ(QuotedForMessage(std::string(58, 'k') + "\x01"),
              "\"" + std::string(58, 'k') + "...\"");
    const std::string huge(5 * 1024 * 1024, '\x01');
    EXPECT_EQ(QuotedForMessage(huge).size(), 2u + 60u + 3u);
    EXPECT_EQ(QuotedForMessage("abcdef", 3), "\"abc...\"");
}

struct SettingsFileFixture : ::testing::Test {
    TempDir dir;
    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = dir.Path() + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
};

TEST_F(SettingsFileFixture, OnlyPlainFilesUpToTheLimitAreRead) {
    std::string text;
    const std::string fits = Write(
        "fits.ini", "[Setting]\nGenerateLog=1\n" + std::string(kMaxSettingsFileBytes - 24, ';'));
    ASSERT_EQ(std::filesystem::file_size(fits), kMaxSettingsFileBytes);
    EXPECT_EQ(ReadPlainFile(fits, kMaxSettingsFileBytes, &text), PlainFileStatus::Read);
    EXPECT_EQ(text.size(), kMaxSettingsFileBytes);
    FormatSettings settings;
    EXPECT_EQ(ReadSettingsFile(fits, &settings), 1);
    EXPECT_EQ(settings.GenerateLog, 1);

    const std::string large =
        Write("large.ini", "[Setting]\nGenerateLog=1\n" + std::string(kMaxSettingsFileBytes, ';'));
    EXPECT_EQ(ReadPlainFile(large, kMaxSettingsFileBytes, &text), PlainFileStatus::TooLarge);
    FormatSettings untouched;
    EXPECT_EQ(ReadSettingsFile(large, &untouched), 0);
    EXPECT_EQ(untouched.GenerateLog, 0);

    std::filesystem::create_directory(dir.Path() + "/folder.ini");
    EXPECT_EQ(ReadPlainFile(dir.Path() + "/folder.ini", kMaxSettingsFileBytes, &text),
              PlainFileStatus::NotAPlainFile);
    EXPECT_EQ(ReadPlainFile("/dev/zero", kMaxSettingsFileBytes, &text),
              PlainFileStatus::NotAPlainFile);
    // A pipe would wait for a writer if it were opened.
    const std::string pipe = dir.Path() + "/pipe.ini";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(ReadPlainFile(pipe, kMaxSettingsFileBytes, &text), PlainFileStatus::NotAPlainFile);
    EXPECT_EQ(ReadPlainFile(dir.Path() + "/none.ini", kMaxSettingsFileBytes, &text),
              PlainFileStatus::Unreadable);
    FormatSettings none;
    EXPECT_EQ(ReadSettingsFile(pipe, &none), 0);
}

}  // namespace
