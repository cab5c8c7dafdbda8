#include "cli/output/block_map.h"

#include <array>
#include <cstdio>

namespace {

constexpr int kColumns = 128;  // blocks per row
constexpr int kCell = 4;       // a block's cell, in pixels
constexpr int kMargin = 8;
constexpr int kLineHeight = 16;
constexpr int kLegendPerLine = 2;
constexpr int kLegendWidth = (kColumns * kCell) / kLegendPerLine;

struct StateStyle {
    const char* colour;
    const char* name;
};

const std::array<StateStyle, kBlockStateCount> kStyles = {{
    {"#a8d5a2", "good"},
    {"#7fb3e6", "holds data"},
    {"#555555", "marked bad"},
    {"#d62728", "failed erase"},
    {"#9467bd", "failed ascending test"},
    {"#ff7f0e", "failed 0x55 test"},
    {"#e6c200", "failed 0xAA test"},
    {"#e377c2", "erased but not free"},
    {"#111111", "bad, mark did not hold"},
    {"#1f3fbf", "CIS page"},
    {"#00a0a0", "CIS and vendor page"},
    {"#e8e8e8", "not scanned"},
}};

// Text for an SVG text node: the markup characters escaped, control bytes dropped.
std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            default:
                if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
        }
    }
    return out;
}

std::size_t LegendLines() { return (kBlockStateCount + kLegendPerLine - 1) / kLegendPerLine; }

// Bad blocks and the CIS block are drawn one run at a time, each with a title a viewer shows
// when the pointer rests on it; the many other blocks go into one path per state.
bool Titled(BlockState state) {
    return state != BlockState::Good && state != BlockState::Data &&
           state != BlockState::NotScanned;
}

// "bank 0, block 37: marked bad" or "bank 1, blocks 40-47: failed erase".
std::string RunTitle(std::size_t bank, std::size_t first, std::size_t last, BlockState state) {
    std::string title = "bank " + std::to_string(bank) + ", ";
    title += first == last ? "block " + std::to_string(first)
                           : "blocks " + std::to_string(first) + "-" + std::to_string(last);
    return title + ": " + BlockStateName(state);
}

std::array<std::size_t, kBlockStateCount> StateCounts(const BlockMap& map) {
    std::array<std::size_t, kBlockStateCount> counts{};
    for (const MapBank& bank : map.banks) {
        for (BlockState state : bank.blocks) ++counts[static_cast<std::size_t>(state)];
    }
    return counts;
}

// The y of the first row of cells of each bank, and where the picture ends.
std::vector<int> BankTops(const BlockMap& map, int* height) {
    int y = kMargin + kLineHeight * static_cast<int>(1 + map.totals.size() + LegendLines()) +
            kLineHeight / 2;
    std::vector<int> tops;
    for (const MapBank& bank : map.banks) {
        y += kLineHeight;  // the bank's label
        tops.push_back(y);
        const int rows = (static_cast<int>(bank.blocks.size()) + kColumns - 1) / kColumns;
        y += rows * kCell + kLineHeight / 2;
    }
    *height = y + kMargin;
    return tops;
}

}  // namespace

const char* BlockStateColour(BlockState state) {
    return kStyles[static_cast<std::size_t>(state)].colour;
}

const char* BlockStateName(BlockState state) {
    return kStyles[static_cast<std::size_t>(state)].name;
}

void BlockCellCentre(const BlockMap& map, std::size_t bank, std::uint32_t block, double* x,
                     double* y) {
    int height = 0;
    const std::vector<int> tops = BankTops(map, &height);
    *x = kMargin + (block % kColumns) * kCell + kCell / 2.0;
    *y = tops[bank] + static_cast<int>(block / kColumns) * kCell + kCell / 2.0;
}

std::string RenderBlockMapSvg(const BlockMap& map) {
    int height = 0;
    const std::vector<int> tops = BankTops(map, &height);
    const int width = 2 * kMargin + kColumns * kCell;
    std::string svg;
    char line[256];
    std::snprintf(line, sizeof line,
                  "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
                  "viewBox=\"0 0 %d %d\" font-family=\"DejaVu Sans, sans-serif\" "
                  "font-size=\"12\">\n",
                  width, height, width, height);
    svg += line;
    std::snprintf(line, sizeof line, "<rect width=\"%d\" height=\"%d\" fill=\"#ffffff\"/>\n", width,
                  height);
    svg += line;

    int y = kMargin + kLineHeight - 4;
    svg += "<text x=\"" + std::to_string(kMargin) + "\" y=\"" + std::to_string(y) +
           "\" font-size=\"14\" font-weight=\"bold\">" + Escaped(map.title) + "</text>\n";
    for (const std::string& total : map.totals) {
        y += kLineHeight;
        svg += "<text x=\"" + std::to_string(kMargin) + "\" y=\"" + std::to_string(y) + "\">" +
               Escaped(total) + "</text>\n";
    }
    // The legend: every state's colour, name and how many blocks are in it.
    const auto counts = StateCounts(map);
    for (int i = 0; i < kBlockStateCount; ++i) {
        const int column = i % kLegendPerLine;
        if (column == 0) y += kLineHeight;
        const int x = kMargin + column * kLegendWidth;
        std::snprintf(
            line, sizeof line,
            "<rect x=\"%d\" y=\"%d\" width=\"10\" height=\"10\" fill=\"%s\" "
            "stroke=\"#999999\" stroke-width=\"0.5\"/><text x=\"%d\" y=\"%d\">%s: %zu</text>\n",
            x, y - 9, kStyles[static_cast<std::size_t>(i)].colour, x + 14, y,
            kStyles[static_cast<std::size_t>(i)].name, counts[static_cast<std::size_t>(i)]);
        svg += line;
    }

    for (std::size_t b = 0; b < map.banks.size(); ++b) {
        const MapBank& bank = map.banks[b];
        std::snprintf(line, sizeof line,
                      "<text x=\"%d\" y=\"%d\">Bank %zu (device code 0x%02X): %zu blocks</text>\n",
                      kMargin, tops[b] - 4, b, static_cast<unsigned>(bank.deviceCode),
                      bank.blocks.size());
        svg += line;
        // One path per state holds every run of blocks in that state; titled runs are shapes of
        // their own.
        std::array<std::string, kBlockStateCount> paths;
        std::array<std::string, kBlockStateCount> titled;
        const std::size_t count = bank.blocks.size();
        for (std::size_t start = 0; start < count;) {
            const std::size_t row = start / kColumns;
            const std::size_t rowEnd = std::min(count, (row + 1) * kColumns);
            std::size_t end = start + 1;
            while (end < rowEnd && bank.blocks[end] == bank.blocks[start]) ++end;
            std::snprintf(line, sizeof line, "M%zu %zuh%zuv%dh-%zuz",
                          kMargin + (start % kColumns) * kCell, tops[b] + row * kCell,
                          (end - start) * kCell, kCell, (end - start) * kCell);
            const BlockState state = bank.blocks[start];
            const std::size_t s = static_cast<std::size_t>(state);
            if (Titled(state)) {
                titled[s] += std::string("<path d=\"") + line + "\"><title>" +
                             RunTitle(b, start, end - 1, state) + "</title></path>\n";
            } else {
                paths[s] += line;
            }
            start = end;
        }
        for (std::size_t s = 0; s < kBlockStateCount; ++s) {
            if (!paths[s].empty()) {
                svg += std::string("<path fill=\"") + kStyles[s].colour + "\" d=\"" + paths[s] +
                       "\"/>\n";
            }
            if (!titled[s].empty()) {
                svg +=
                    std::string("<g fill=\"") + kStyles[s].colour + "\">\n" + titled[s] + "</g>\n";
            }
        }
    }
    svg += "</svg>\n";
    return svg;
}
