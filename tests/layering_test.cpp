// The layers of the source tree and the includes they may make. The build already refuses an
// include that runs up the layers (each library sees only the folders below it); this also
// catches the ways around that, such as "../app/x.h", and keeps the map itself under test.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Folder -> the folders its files may include from (itself included). The reader's protocol
// (reader/) knows none of its back-ends; only the program of each platform picks its own.
const std::map<std::string, std::set<std::string>>& AllowedIncludes() {
    static const std::map<std::string, std::set<std::string>> allowed = {
        {"reader", {"reader"}},
        {"reader/win32", {"reader/win32", "reader"}},
        {"reader/linux", {"reader/linux", "reader"}},
        {"core", {"core", "reader", "res"}},
        {"format", {"format", "core", "reader", "res"}},
        {"app", {"app", "format", "core", "reader", "res"}},
        {"app/win32", {"app/win32", "app", "format", "core", "reader", "reader/win32", "res"}},
        // The command line's program (main) runs the commands; the commands use the output and
        // what they share; the output uses only what is shared; what is shared uses neither.
        {"cli", {"cli", "cli/commands", "cli/shared", "res"}},
        {"cli/commands",
         {"cli/commands", "cli/output", "cli/shared", "sim", "format", "core", "reader",
          "reader/linux", "res"}},
        {"cli/output", {"cli/output", "cli/shared", "format", "core", "reader", "res"}},
        {"cli/shared",
         {"cli/shared", "sim", "format", "core", "reader", "reader/linux", "reader/win32", "res"}},
        // The simulated machine stands in for Windows under the Windows back-ends too: it is their
        // OS layer and reads their request blocks.
        {"sim", {"sim", "core", "reader", "reader/win32"}},
        // The simulator's parts by job belong to its layer.
        {"sim/flash", {"sim", "core", "reader"}},
        {"sim/firmware", {"sim", "core", "reader"}},
        {"sim/disk", {"sim", "core", "reader"}},
        {"sim/machine", {"sim", "core", "reader"}},
        {"sim/usb", {"sim", "core", "reader"}},
        {"sim/dll", {"sim/dll", "sim", "core", "reader", "reader/win32"}},
        {"res", {"res"}},
    };
    return allowed;
}

// The layer a path inside the tree belongs to: the deepest folder of it that is a layer of its
// own (its files may include from it: app/win32, reader/linux), while a folder that keeps its
// parent's rules (sim/flash) is part of its parent's layer. Empty for a path outside every layer.
std::string LayerOf(const std::string& relative) {
    for (std::size_t slash = relative.rfind('/'); slash != std::string::npos && slash > 0;
         slash = relative.rfind('/', slash - 1)) {
        const std::string folder = relative.substr(0, slash);
        const auto layer = AllowedIncludes().find(folder);
        if (layer != AllowedIncludes().end() && layer->second.count(folder) != 0) return folder;
    }
    return std::string();
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

// A circle of modules below `folder` (a module is a .h with its .cpp; one includes another's
// header to call it), as "a -> b -> a"; empty when there is none. A module that calls into one
// that calls back cannot be understood, tested or moved on its own.
std::string ModuleCircle(const fs::path& root, const std::string& folder) {
    static const std::regex include("^\\s*#\\s*include\\s*\"([^\"]+)\\.h\"");
    std::map<std::string, std::set<std::string>> uses;
    for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
        fs::path module = entry.path();
        module.replace_extension();
        const std::string name = module.lexically_relative(root).generic_string();
        std::set<std::string>& used = uses[name];
        std::ifstream in(entry.path());
        std::string line;
        while (std::getline(in, line)) {
            std::smatch match;
            if (std::regex_search(line, match, include) && match[1].str() != name) {
                used.insert(match[1].str());
            }
        }
    }
    // Depth first; a module met again while it is on the path closes a circle.
    std::vector<std::string> path;
    std::set<std::string> done;
    std::function<std::string(const std::string&)> visit = [&](const std::string& module) {
        const auto on = std::find(path.begin(), path.end(), module);
        if (on != path.end()) {
            std::string circle;
            for (auto it = on; it != path.end(); ++it) circle += *it + " -> ";
            return circle + module;
        }
        if (done.count(module) != 0 || uses.count(module) == 0) return std::string();
        path.push_back(module);
        for (const std::string& used : uses[module]) {
            const std::string circle = visit(used);
            if (!circle.empty()) return circle;
        }
        path.pop_back();
        done.insert(module);
        return std::string();
    };
    for (const auto& [module, used] : uses) {
        const std::string circle = visit(module);
        if (!circle.empty()) return circle;
    }
    return std::string();
}

void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

}  // namespace

TEST(Layering, TheCommandLinesModulesCallNoneThatCallsThemBack) {
    EXPECT_EQ(ModuleCircle(BREVANT_SOURCE_DIR, "cli"), "");

    TempDir dir;
    const fs::path root = dir.Path();
    WriteFile(root / "cli/output/summary.h", "#pragma once\n");
    WriteFile(root / "cli/output/summary.cpp", "#include \"cli/output/size.h\"\n");
    WriteFile(root / "cli/output/size.h", "#pragma once\n");
    WriteFile(root / "cli/output/size.cpp", "#include \"cli/output/size.h\"\n");
    EXPECT_EQ(ModuleCircle(root, "cli"), "");
    WriteFile(root / "cli/output/size.cpp",
              "#include \"cli/output/size.h\"\n#include \"cli/output/summary.h\"\n");
    EXPECT_EQ(ModuleCircle(root, "cli"),
              "cli/output/size -> cli/output/summary -> cli/output/size");
}

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
    WriteFile(root / "cli/commands/format.h", "#pragma once\n");
    WriteFile(root / "cli/output/summary.cpp", "#include \"cli/commands/format.h\"\n");
    WriteFile(root / "cli/shared/machine.cpp", "#include \"cli/output/summary.h\"\n");
    WriteFile(root / "core/log.h", "#pragma once\n");
    WriteFile(root / "reader/port.h", "#pragma once\n");
    WriteFile(
        root / "format/engine.cpp",
        "#include \"reader/port.h\"\n#include \"core/log.h\"\n#include \"app/format_dlg.h\"\n");
    WriteFile(root / "reader/units.cpp", "#include <vector>\n#include \"../core/log.h\"\n");
    WriteFile(root / "sim/bus.cpp", "#include \"cli/options.h\"\n#include \"reader/port.h\"\n");
    WriteFile(root / "app/dialog.cpp", "#include \"app/win32/host.h\"\n");
    WriteFile(root / "reader/linux/sgio.h", "#pragma once\n");
    WriteFile(root / "reader/discovery.cpp", "#include \"reader/linux/sgio.h\"\n");
    WriteFile(root / "reader/win32/aspi.cpp", "#include \"reader/port.h\"\n");
    // The simulator's parts are checked as the simulator: never the engine it is the oracle of.
    WriteFile(root / "sim/flash/cells.cpp",
              "#include \"sim/disk/sectors.h\"\n#include \"format/engine.h\"\n");

    std::vector<std::string> violations = LayeringViolations(root);
    std::sort(violations.begin(), violations.end());
    EXPECT_EQ(violations, (std::vector<std::string>{
                              "app/dialog.cpp:1 includes app/win32/host.h",
                              "cli/output/summary.cpp:1 includes cli/commands/format.h",
                              "cli/shared/machine.cpp:1 includes cli/output/summary.h",
                              "format/engine.cpp:3 includes app/format_dlg.h",
                              "reader/discovery.cpp:1 includes reader/linux/sgio.h",
                              "reader/units.cpp:2 includes core/log.h",
                              "sim/bus.cpp:1 includes cli/options.h",
                              "sim/flash/cells.cpp:2 includes format/engine.h",
                          }));
}
