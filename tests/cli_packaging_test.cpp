// What comes with the command line besides the program: its manual page, its bash completion
// and the install rules, each held to the options the program itself knows.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "tests/brevant_process.h"
#include "tests/report_schema.h"
#include "tests/temp_dir.h"

namespace {

using brevant_test::kBrevant;

const std::string kSource = BREVANT_SOURCE_DIR;
const char* const kCommands[] = {"list", "format", "check", "watch", "restore-cis", "history"};

struct Shell {
    std::string output;
    int status = -1;
};

// Runs a line in bash, standard error joined to standard output unless the line says otherwise.
Shell RunShell(const std::string& line) {
    Shell shell;
    const std::string command = "bash -c '" + line + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return shell;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) shell.output.append(buffer, got);
    const int status = pclose(pipe);
    shell.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return shell;
}

std::set<std::string> Words(const std::string& text) {
    std::set<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;) words.insert(word);
    return words;
}

// The long options `brevant help COMMAND` lists.
std::set<std::string> OptionsInHelp(const std::string& command) {
    const Shell help = RunShell(kBrevant + " help " + command);
    EXPECT_EQ(help.status, 0) << help.output;
    std::set<std::string> options;
    const std::regex line(R"(^  (?:-., |    )(--[a-z-]+))");
    std::istringstream in(help.output);
    for (std::string text; std::getline(in, text);) {
        std::smatch match;
        if (std::regex_search(text, match, line)) options.insert(match[1]);
    }
    return options;
}

std::string Joined(const std::set<std::string>& words) {
    std::string text;
    for (const auto& word : words) text += word + " ";
    return text;
}

// A line completed by the completion script as bash would at the end of the line.
std::set<std::string> Completions(const std::string& typed) {
    const std::string script =
        "source /usr/share/bash-completion/bash_completion && source " + kSource +
        "/completions/brevant.bash && COMP_LINE=\"" + typed +
        "\" && read -ra COMP_WORDS <<<\"$COMP_LINE\" && "
        "{ [[ $COMP_LINE != *\" \" ]] || COMP_WORDS+=(\"\"); } && "
        "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) && COMP_POINT=${#COMP_LINE} && "
        "_brevant brevant \"${COMP_WORDS[COMP_CWORD]}\" \"${COMP_WORDS[COMP_CWORD-1]}\" && "
        "printf \"%s\\n\" \"${COMPREPLY[@]}\"";
    const Shell shell = RunShell(script);
    EXPECT_EQ(shell.status, 0) << typed << ": " << shell.output;
    return Words(shell.output);
}

TEST(CliPackaging, TheManualPageRendersCleanAndNamesEveryCommandAndOption) {
    const Shell man =
        RunShell("MANWIDTH=80 man --warnings -l " + kSource + "/doc/brevant.1 2>&1 >/dev/null");
    EXPECT_EQ(man.status, 0);
    EXPECT_EQ(man.output, "") << "groff's warnings";

    const Shell page = RunShell("MANWIDTH=80 man -l " + kSource + "/doc/brevant.1 | col -b");
    ASSERT_EQ(page.status, 0) << page.output;
    for (const char* command : kCommands) {
        EXPECT_NE(page.output.find(std::string("brevant ") + command), std::string::npos)
            << command;
        for (const auto& option : OptionsInHelp(command)) {
            EXPECT_NE(page.output.find(option), std::string::npos) << option << " of " << command;
        }
    }
}

TEST(CliPackaging, TheCompletionOffersEachCommandsOwnOptions) {
    EXPECT_EQ(Completions("brevant "), (std::set<std::string>{"list", "format", "check", "watch",
                                                              "restore-cis", "history", "help"}));
    EXPECT_EQ(Completions("brevant fo"), std::set<std::string>{"format"});
    EXPECT_EQ(Completions("brevant -y format --on-damaged "),
              (std::set<std::string>{"abort", "continue"}));
    EXPECT_EQ(Completions("brevant check --progress "), (std::set<std::string>{"json", "text"}));
    for (const char* command : kCommands) {
        const std::set<std::string> inHelp = OptionsInHelp(command);
        ASSERT_FALSE(inHelp.empty()) << command;
        EXPECT_EQ(Joined(Completions(std::string("brevant ") + command + " --")), Joined(inHelp))
            << command;
    }
}

TEST(CliPackaging, InstallPutsTheProgramItsManualAndItsCompletionInPlace) {
    TempDir prefix;
    ASSERT_FALSE(prefix.Path().empty());
    const Shell install = RunShell("cmake --install " + std::string(BREVANT_BINARY_DIR) +
                                   " --prefix " + prefix.Path());
    ASSERT_EQ(install.status, 0) << install.output;
    namespace fs = std::filesystem;
    const fs::path root = prefix.Path();
    EXPECT_TRUE(fs::exists(root / "share/man/man1/brevant.1"));
    EXPECT_TRUE(fs::exists(root / "share/bash-completion/completions/brevant"));
    const Shell version = RunShell((root / "bin/brevant").string() + " --version");
    EXPECT_EQ(version.status, 0) << version.output;
    EXPECT_NE(version.output.find("brevant 1.01"), std::string::npos) << version.output;
}

// The report and the map README shows are the program's own, and the report still fits the
// schema scripts are told to rely on.
TEST(CliPackaging, TheExamplesInTheDocumentationAreCurrent) {
    std::ifstream report(kSource + "/doc/example-report.json");
    std::stringstream text;
    text << report.rdbuf();
    ASSERT_FALSE(text.str().empty());
    EXPECT_EQ(SchemaErrors(text.str()), "");
    const Shell picture = RunShell("rsvg-convert " + kSource + "/doc/example-map.svg >/dev/null");
    EXPECT_EQ(picture.status, 0) << picture.output;
}

}  // namespace
