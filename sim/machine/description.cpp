#include "sim/machine/description.h"

#include <sstream>

#include "sim/machine/description_reader.h"

namespace sim {

bool ApplyDescription(const std::string& text, SimBus& bus, std::string* error) {
    using description::ParseError;
    description::DescriptionReader reader(bus);
    std::istringstream lines(text);
    std::string raw;
    int number = 0;
    try {
        while (std::getline(lines, raw)) {
            ++number;
            description::Line line;
            if (!description::SplitLine(raw, number, &line)) continue;
            reader.Apply(line);
        }
        reader.Finish();
    } catch (const ParseError& e) {
        // An error found at the end of a disk's lines names the line it belongs to.
        const int at = e.LineNumber() != 0 ? e.LineNumber() : number;
        if (error) *error = "line " + std::to_string(at) + ": " + e.Text();
        return false;
    }
    return true;
}

}  // namespace sim
