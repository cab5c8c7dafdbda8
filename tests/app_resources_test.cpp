// The Windows program's resource script: its string table, read here on its own, is the table the
// dialog logic reads (the build makes one from the other), and it carries the controls the logic
// drives.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "core/string_table.h"

namespace {

std::string ReadSource(const std::string& relative) {
    std::ifstream in(std::string(BREVANT_SOURCE_DIR) + "/" + relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The #define NAME NUMBER lines of res/resource.h.
std::map<std::string, int> ResourceIds() {
    std::map<std::string, int> ids;
    std::istringstream in(ReadSource("res/resource.h"));
    const std::regex define(R"(^#define\s+(\w+)\s+\(?(-?(?:0x[0-9A-Fa-f]+|\d+))\)?\s*$)");
    std::string line;
    std::smatch m;
    while (std::getline(in, line))
        if (std::regex_match(line, m, define)) ids[m[1]] = std::stoi(m[2], nullptr, 0);
    return ids;
}

// A resource-script string literal: "" is a quote, \n a line feed.
std::string Unquote(const std::string& literal) {
    std::string text;
    for (std::size_t i = 1; i + 1 < literal.size(); ++i) {
        if (literal[i] == '"' && literal[i + 1] == '"') {
            text += '"';
            ++i;
        } else if (literal[i] == '\\' && literal[i + 1] == 'n') {
            text += '\n';
            ++i;
        } else {
            text += literal[i];
        }
    }
    return text;
}

std::map<int, std::string> StringTable() {
    const std::map<std::string, int> ids = ResourceIds();
    const std::string rc = ReadSource("res/brevant.rc");
    const std::size_t start = rc.find("STRINGTABLE");
    const std::size_t end = rc.find("\nEND", start);
    std::istringstream in(rc.substr(start, end - start));
    const std::regex entry(R"(^\s+(\w+)\s+("(?:[^"]|"")*")\s*$)");
    std::map<int, std::string> table;
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (!std::regex_match(line, m, entry)) continue;
        const auto id = ids.find(m[1]);
        EXPECT_NE(id, ids.end()) << m[1];
        if (id != ids.end()) table[id->second] = Unquote(m[2]);
    }
    return table;
}

TEST(AppResources, StringTableMatchesTheProgramsTexts) {
    const std::map<int, std::string> table = StringTable();
    ASSERT_EQ(table.size(), kAppStringCount);
    for (std::size_t i = 0; i < kAppStringCount; ++i) {
        const auto found = table.find(kAppStrings[i].id);
        ASSERT_NE(found, table.end()) << kAppStrings[i].id;
        EXPECT_EQ(found->second, kAppStrings[i].text) << kAppStrings[i].id;
        EXPECT_GE(kAppStrings[i].id, 101);
        EXPECT_LE(kAppStrings[i].id, 127);
    }
    EXPECT_STREQ(AppString(101), "");
    EXPECT_STREQ(AppString(122), "Brevant Utility");
    EXPECT_STREQ(AppString(106), "Click \"Start\" to start formatting");
    EXPECT_STREQ(AppString(999), "");
}

// The caption is what a second copy searches for.
TEST(AppResources, MainDialogCarriesTheTitleAndEveryControl) {
    const std::string rc = ReadSource("res/brevant.rc");
    const std::size_t start = rc.find("IDD_FORMAT_DIALOG DIALOG");
    ASSERT_NE(start, std::string::npos);
    const std::string dialog = rc.substr(start, rc.find("\nEND", start) - start);
    EXPECT_NE(dialog.find("0, 0, 207, 159"), std::string::npos);
    EXPECT_NE(dialog.find("CAPTION \"Brevant Utility\""), std::string::npos);
    const char* rows[] = {
        "\"\", IDC_STATUS, \"Static\", SS_LEFT | SS_SUNKEN | WS_GROUP, 2, 90, 200, 31",
        "\"Exit\", IDC_EXIT, 138, 25, 64, 16",
        "\"\", IDC_PROGRESS, \"msctls_progress32\", WS_BORDER, 2, 137, 200, 14",
        "\"Start\", IDC_START_STOP, 138, 3, 64, 16",
        "\"Select Format Type\", IDC_STATIC, 2, 42, 200, 42",
        "BS_AUTORADIOBUTTON, 5, 54, 191, 10",
        "BS_AUTORADIOBUTTON, 5, 69, 185, 10",
        "\"\", IDC_PERCENT, \"Static\", SS_LEFT | WS_GROUP, 2, 126, 82, 8",
        "IDB_BANNER, IDC_STATIC, \"Static\", SS_BITMAP, 12, 10, 113, 23",
    };
    std::size_t at = 0;
    for (const char* row : rows) {  // in creation order
        const std::size_t found = dialog.find(row, at);
        EXPECT_NE(found, std::string::npos) << row;
        if (found != std::string::npos) at = found;
    }
    EXPECT_EQ(dialog.find("IDOK"), std::string::npos);
    EXPECT_EQ(dialog.find("DEFPUSHBUTTON"), std::string::npos);
    const std::map<std::string, int> ids = ResourceIds();
    EXPECT_EQ(ids.at("IDD_FORMAT_DIALOG"), 156);
    EXPECT_EQ(ids.at("IDC_EXIT"), 2);
    EXPECT_EQ(ids.at("IDC_STATUS"), 1000);
    EXPECT_EQ(ids.at("IDC_PROGRESS"), 1012);
    EXPECT_EQ(ids.at("IDC_START_STOP"), 1013);
    EXPECT_EQ(ids.at("IDC_QUICK"), 1017);
    EXPECT_EQ(ids.at("IDC_FULL"), 1018);
    EXPECT_EQ(ids.at("IDC_PERCENT"), 1019);
    EXPECT_EQ(ids.at("IDB_BANNER"), 164);
}

}  // namespace
