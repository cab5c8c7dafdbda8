// The layers of the source tree and the includes they may make. The build already refuses an
// include that runs up the layers (each library sees only the folders below it); this also
// catches the ways around that, such as "../app/x.h", and keeps the map itself under test.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Folder -> the folders its files may include from (itself included).
const std::map<std::string, std::set<std::string>>& AllowedIncludes() {
    static const std::map<std::string, std::set<std::string>> allowed = {
        {"reader", {"reader"}},
        {"core", {"core", "reader", "res"}},
        {"format", {"format", "core", "reader", "res"}},
        {"app", {"app", "format", "core", "reader", "res"}},
        {"app/win32", {"app/win32", "app", "format", "core", "reader", "res"}},
        {"cli", {"cli", "sim", "format", "core", "reader", "res"}},
        {"sim", {"sim", "core", "reader"}},
        // The simulator's parts by job belong to its layer.
        {"sim/flash", {"sim", "core", "reader"}},
        {"sim/firmware", {"sim", "core", "reader"}},
        {"sim/disk", {"sim", "core", "reader"}},
        {"sim/machine", {"sim", "core", "reader"}},
        {"sim/usb", {"sim", "core", "reader"}},
        {"sim/dll", {"sim/dll", "sim", "core", "reader"}},
        {"res", {"res"}},
    };
    return allowed;
}

// The layer a path inside the tree belongs to: its folder, with app/win32 and sim/dll counted
// as layers of their own. Empty for a path outside every layer.
std::string LayerOf(const std::string& relative) {
    for (const char* nested : {"app/win32/", "sim/dll/"}) {
        const std::string prefix = nested;
        if (relative.compare(0, prefix.size(), prefix) == 0)
            return prefix.substr(0, prefix.size() - 1);
    }
    const std::size_t slash = relative.find('/');
    if (slash == std::string::npos) return std::string();
    const std::string folder = relative.substr(0, slash);
    return AllowedIncludes().count(folder) != 0 ? folder : std::string();
}

// "format/cis_pages.cpp:4 includes app/format_dlg.h" for every include of a product file that
// its layer may not make. Includes are resolved against the including file's folder first
// (as the compiler does for quoted includes), then against the root.
std::vector<std::string> LayeringViolations(const fs::path& root) {
    static const std::regex include("^\\s*#\\s*include\\s*\"([^\"]+)\"");
    std::vector<std::string> found;
    for (const auto& [layer, allowed] : AllowedIncludes()) {
        const fs::path folder = root / layer;
        if (!fs::is_directory(folder)) continue;
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string ext = entry.path().extension().string();
            if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
            std::ifstream in(entry.path());
            std::string line;
            for (int number = 1; std::getline(in, line); ++number) {
                std::smatch match;
                if (!std::regex_search(line, match, include)) continue;
                fs::path target = (folder / match[1].str()).lexically_normal();
                if (!fs::exists(target)) target = (root / match[1].str()).lexically_normal();
                const std::string relative = target.lexically_relative(root).generic_string();
                const std::string to = LayerOf(relative);
                if (!to.empty() && allowed.count(to) != 0) continue;
                found.push_back(fs::relative(entry.path(), root).generic_string() + ":" +
                                std::to_string(number) + " includes " + relative);
            }
        }
    }
    return found;
}

void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

}  // namespace

TEST(Layering, TheTreeKeepsToItsLayers) {
    const std::vector<std::string> violations = LayeringViolations(BREVANT_SOURCE_DIR);
    std::string list;
    for (const auto& v : violations) list += v + "\n";
    EXPECT_TRUE(violations.empty()) << list;
}

TEST(Layering, UpwardAndSidewaysIncludesAreFound) {
    TempDir dir;
    const fs::path root = dir.Path();
    WriteFile(root / "app/format_dlg.h", "#pragma once\n");
    WriteFile(root / "app/win32/host.h", "#pragma once\n");
    WriteFile(root / "cli/options.h", "#pragma once\n");
    WriteFile(root / "core/log.h", "#pragma once\n");
    WriteFile(root / "reader/port.h", "#pragma once\n");
    WriteFile(
        root / "format/engine.cpp",
        "#include \"reader/port.h\"\n#include \"core/log.h\"\n#include \"app/format_dlg.h\"\n");
    WriteFile(root / "reader/units.cpp", "#include <vector>\n#include \"../core/log.h\"\n");
    WriteFile(root / "sim/bus.cpp", "#include \"cli/options.h\"\n#include \"reader/port.h\"\n");
    WriteFile(root / "app/dialog.cpp", "#include \"app/win32/host.h\"\n");
    // The simulator's parts are checked as the simulator: never the engine it is the oracle of.
    WriteFile(root / "sim/flash/cells.cpp",
              "#include \"sim/disk/sectors.h\"\n#include \"format/engine.h\"\n");

    std::vector<std::string> violations = LayeringViolations(root);
    std::sort(violations.begin(), violations.end());
    EXPECT_EQ(violations, (std::vector<std::string>{
                              "app/dialog.cpp:1 includes app/win32/host.h",
                              "format/engine.cpp:3 includes app/format_dlg.h",
                              "reader/units.cpp:2 includes core/log.h",
                              "sim/bus.cpp:1 includes cli/options.h",
                              "sim/flash/cells.cpp:2 includes format/engine.h",
                          }));
}
