#pragma once
// A small model of a terminal's screen, fed what a program wrote to it: printable characters, a
// carriage return, a line feed (which scrolls at the bottom row), and the cursor-up and erase
// sequences the station's screen uses. What scrolls off the top is kept, as a terminal's
// scroll-back does.
#include <algorithm>
#include <string>
#include <vector>

namespace brevant_test {

class ScreenModel {
  public:
    ScreenModel(int rows, int columns)
        : rows_(rows), columns_(columns), cells_(rows, std::string(columns, ' ')) {}

    void Feed(const std::string& bytes) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const char c = bytes[i];
            if (c == '\033' && i + 1 < bytes.size() && bytes[i + 1] == '[') {
                std::size_t j = i + 2;
                int n = 0;
                while (j < bytes.size() && bytes[j] >= '0' && bytes[j] <= '9') {
                    n = n * 10 + (bytes[j++] - '0');
                }
                if (j == bytes.size()) break;
                Escape(bytes[j], n);
                i = j;
            } else if (c == '\r') {
                column_ = 0;
            } else if (c == '\n') {
                if (row_ == rows_ - 1) {
                    scrolledOff.push_back(Trimmed(cells_.front()));
                    cells_.erase(cells_.begin());
                    cells_.push_back(std::string(columns_, ' '));
                    ++scrolls;
                } else {
                    ++row_;
                }
            } else if (column_ < columns_) {
                cells_[row_][column_++] = c;
            } else {
                ++wraps;
            }
        }
    }
    // The terminal got smaller: rows above the cursor go off the top as they would.
    void Resize(int rows) {
        const int drop = std::max(0, row_ - (rows - 1));
        for (int r = 0; r < drop; ++r) scrolledOff.push_back(Trimmed(cells_[r]));
        cells_.erase(cells_.begin(), cells_.begin() + drop);
        cells_.resize(rows, std::string(columns_, ' '));
        row_ -= drop;
        rows_ = rows;
    }
    // The screen's lines, blanks at their ends dropped.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const std::string& row : cells_) lines.push_back(Trimmed(row));
        return lines;
    }
    // Every line that went off the top, then the screen's: what a user can scroll back over.
    std::vector<std::string> Seen() const {
        std::vector<std::string> seen = scrolledOff;
        for (const std::string& line : Lines()) seen.push_back(line);
        return seen;
    }
    int Row() const { return row_; }

    int scrolls = 0;
    int wraps = 0;
    std::vector<std::string> scrolledOff;

  private:
    static std::string Trimmed(const std::string& row) {
        return row.substr(0, row.find_last_not_of(' ') + 1);
    }
    void Escape(char command, int n) {
        if (command == 'A') row_ = std::max(0, row_ - std::max(n, 1));
        if (command == 'K') std::fill(cells_[row_].begin() + column_, cells_[row_].end(), ' ');
        if (command == 'J') {
            std::fill(cells_[row_].begin() + column_, cells_[row_].end(), ' ');
            for (int r = row_ + 1; r < rows_; ++r) cells_[r].assign(columns_, ' ');
        }
    }
    int rows_;
    int columns_;
    std::vector<std::string> cells_;
    int row_ = 0;
    int column_ = 0;
};

}  // namespace brevant_test
