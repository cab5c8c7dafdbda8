#include "sim/machine/description_reader.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <vector>

#include "sim/sim_device.h"

namespace sim {
namespace description {

namespace {

constexpr std::size_t kMaxUnitsPerReader = 8;  // LUNs 0..7

}  // namespace

void DescriptionReader::Apply(const Line& line) {
    const std::string& k = line.keyword;
    if (k == "aspi") {
        Aspi(line);
    } else if (k == "passthrough") {
        CheckOptions(line, {"direct"}, 0);
        const auto direct = line.options.find("direct");
        if (direct == line.options.end()) throw ParseError("\"passthrough\" needs direct=yes|no");
        bus_.SetDirectPassThroughSupported(ParseYesNo(direct->second, "direct"));
    } else if (k == "latency" || k == "unplug-after" || k == "hang-on" || k == "hang-from" ||
               k == "fail-on") {
        LinkFault(line);
    } else if (k == "pull-at" || k == "plug-at") {
        Schedule(line);
    } else if (k == "reader") {
        Reader(line);
    } else if (k == "unit") {
        Unit(line);
    } else if (k == "foreign") {
        Foreign(line);
    } else if (!DiskLine(line)) {
        throw ParseError("unknown keyword \"" + k + "\"");
    }
}

void DescriptionReader::CheckOptions(const Line& line, std::initializer_list<const char*> allowed,
                                     std::size_t maxWords) {
    for (const auto& option : line.options) {
        const bool known = std::any_of(allowed.begin(), allowed.end(),
                                       [&](const char* name) { return option.first == name; });
        if (!known) {
            throw ParseError("\"" + line.keyword + "\" has no option \"" + option.first + "\"");
        }
    }
    if (line.words.size() > maxWords) {
        throw ParseError("too many values for \"" + line.keyword + "\": \"" + line.words[maxWords] +
                         "\"");
    }
}

void DescriptionReader::SetDrive(SimUnit& unit, const std::string& text) {
    const char letter = ParseDriveLetter(text);
    if (!letters_.insert(letter).second) {
        throw ParseError(std::string("drive ") + letter + ": is given twice");
    }
    unit.SetDriveLetter(letter);
}

// A node name: 2 to 32 letters, digits, '-', '_' or '.' (a lone letter names a drive letter's
// node), not all digits (a reader's number), once in the machine.
void DescriptionReader::SetNode(SimUnit& unit, const std::string& text) {
    const bool allowed =
        text.size() >= 2 && text.size() <= 32 && std::all_of(text.begin(), text.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
        });
    const bool number = std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
    });
    if (!allowed || number) {
        throw ParseError("node \"" + text +
                         "\" must be 2 to 32 letters, digits, '-', '_' or '.', not all digits");
    }
    if (!nodes_.insert(text).second) throw ParseError("node " + text + " is given twice");
    unit.SetNodeName(text);
}

SimLink& DescriptionReader::Link() {
    return lastReader_ == SimBus::kNoReader ? bus_.MachineLink() : bus_.ReaderLink(lastReader_);
}

// latency, hang-on, hang-from, fail-on and unplug-after: the machine's before the first reader
// line, the last reader's after one.
void DescriptionReader::LinkFault(const Line& line) {
    const std::string& k = line.keyword;
    if (k == "latency") {
        CheckOptions(line, {"us"}, 0);
        const auto us = line.options.find("us");
        if (us == line.options.end()) throw ParseError("\"latency\" needs us=<microseconds>");
        Link().SetLatencyMicroseconds(ParseNumber(us->second, 10000000, "latency"));
        return;
    }
    CheckOptions(line, {"sense", "length"}, 1);
    if (line.words.size() != 1) throw ParseError("\"" + k + "\" needs a command count");
    const std::uint32_t n = ParseNumber(line.words[0], 0xFFFFFFFFu, "command count", 10);
    const auto sense = line.options.find("sense");
    const auto length = line.options.find("length");
    for (const auto& option : {sense, length}) {
        if (option != line.options.end() && k != "fail-on") {
            throw ParseError("\"" + k + "\" has no option \"" + option->first + "\"");
        }
    }
    if (k == "fail-on") {
        // sense=K/ASC or K/ASC/ASCQ, hexadecimal; MEDIUM ERROR 3/11 by default.
        std::uint32_t parts[3] = {0x03, 0x11, 0x00};
        if (sense != line.options.end()) {
            std::vector<std::string> fields;
            std::istringstream in(sense->second);
            for (std::string field; std::getline(in, field, '/');) fields.push_back(field);
            if (fields.size() < 2 || fields.size() > 3 || sense->second.back() == '/') {
                throw ParseError("sense \"" + sense->second + "\" is not K/ASC or K/ASC/ASCQ");
            }
            parts[2] = 0;
            for (std::size_t i = 0; i < fields.size(); ++i) {
                parts[i] = ParseNumber(fields[i], i == 0 ? 0x0F : 0xFF, "sense", 16);
            }
        }
        // length=L: the additional length the sense data states, 0 to 10.
        const std::uint32_t additional =
            length != line.options.end() ? ParseNumber(length->second, 10, "sense length") : 10;
        Link().FailOnCommand(
            n, static_cast<std::uint8_t>(parts[0]), static_cast<std::uint8_t>(parts[1]),
            static_cast<std::uint8_t>(parts[2]), static_cast<std::uint8_t>(additional));
    } else if (k == "unplug-after") {
        Link().UnplugAfterCommands(n);
    } else if (k == "hang-on") {
        Link().HangOnCommand(n);
    } else {
        if (n == 0) throw ParseError("\"hang-from\" counts from command 1");
        Link().HangFromCommand(n);
    }
}

// pull-at and plug-at: the machine's before the first reader line, the last reader's after one.
void DescriptionReader::Schedule(const Line& line) {
    CheckOptions(line, {"ms", "commands"}, 0);
    const auto ms = line.options.find("ms");
    const auto commands = line.options.find("commands");
    if ((ms == line.options.end()) == (commands == line.options.end())) {
        throw ParseError("\"" + line.keyword + "\" needs ms=<milliseconds> or commands=<count>");
    }
    SimBus::PlugMoment when;
    if (ms != line.options.end()) {
        when.value = ParseNumber(ms->second, 0xFFFFFFFFu, "ms");
    } else {
        when.kind = SimBus::PlugMoment::Kind::Commands;
        when.value = ParseNumber(commands->second, 0xFFFFFFFFu, "commands");
    }
    const std::size_t reader =
        lastReader_ == SimBus::kNoReader ? SimBus::kWholeMachine : lastReader_;
    bus_.SchedulePlug(reader, line.keyword == "plug-at", when);
}

void DescriptionReader::Aspi(const Line& line) {
    CheckOptions(line, {"adapters", "library", "missing-entry", "support-info"}, 0);
    if (line.options.empty()) throw ParseError("\"aspi\" needs an option");
    AspiLibraryConfig& config = bus_.MutableAspiLibrary();
    for (const auto& option : line.options) {
        if (option.first == "adapters") {
            bus_.SetHostAdapterCount(
                static_cast<std::uint8_t>(ParseNumber(option.second, 255, "adapters")));
        } else if (option.first == "library") {
            if (option.second != "present" && option.second != "absent") {
                throw ParseError("library must be present or absent, not \"" + option.second +
                                 "\"");
            }
            config.present = option.second == "present";
        } else if (option.first == "missing-entry") {
            config.missingEntry = option.second;
        } else {
            config.supportInfoOverridden = true;
            config.supportInfo = ParseNumber(option.second, 0xFFFFFFFFu, "support-info");
        }
    }
}

void DescriptionReader::Reader(const Line& line) {
    CheckOptions(line, {"adapter", "target", "plugged", "serial"}, 0);
    FinishDisk();
    const auto adapter = line.options.find("adapter");
    const auto target = line.options.find("target");
    std::uint8_t a = adapter == line.options.end()
                         ? 0
                         : static_cast<std::uint8_t>(ParseNumber(adapter->second, 254, "adapter"));
    std::uint8_t t = target == line.options.end()
                         ? 0
                         : static_cast<std::uint8_t>(ParseNumber(target->second, 7, "target"));
    if (adapter == line.options.end() && target == line.options.end()) {
        // No address given: the first free one, targets 0 to 7 of adapter 0, then of 1, ...
        unsigned next = 0;
        while (next < 255u * 8u && addresses_.count({next / 8, next % 8}) != 0) ++next;
        if (next == 255u * 8u) throw ParseError("every ASPI address is taken");
        a = static_cast<std::uint8_t>(next / 8);
        t = static_cast<std::uint8_t>(next % 8);
    }
    if (!addresses_.insert({a, t}).second) {
        throw ParseError("adapter " + std::to_string(a) + " target " + std::to_string(t) +
                         " is taken");
    }
    const auto plugged = line.options.find("plugged");
    const bool in = plugged == line.options.end() || ParseYesNo(plugged->second, "plugged");
    reader_ = &bus_.AddReader(a, t);
    lastReader_ = bus_.ReaderCount() - 1;
    const auto serial = line.options.find("serial");
    if (serial != line.options.end()) reader_->SetSerial(ParseSerial(serial->second));
    if (!in) bus_.UnplugReader(lastReader_);
    diskUnit_ = nullptr;
}

void DescriptionReader::Unit(const Line& line) {
    CheckOptions(line, {"drive", "card", "name", "node"}, 1);
    if (reader_ == nullptr) throw ParseError("\"unit\" needs a \"reader\" line before it");
    if (line.words.size() != 1 || line.words[0].size() != 2) {
        throw ParseError("\"unit\" needs a two-letter medium code (DS, CF, SM, MM, ...)");
    }
    if (reader_->UnitCount() == kMaxUnitsPerReader) {
        throw ParseError("a reader has at most " + std::to_string(kMaxUnitsPerReader) + " units");
    }
    FinishDisk();
    const auto name = line.options.find("name");
    SimUnit& unit = reader_->AddUnit(line.words[0], name == line.options.end() ? "" : name->second);
    const auto drive = line.options.find("drive");
    if (drive != line.options.end()) SetDrive(unit, drive->second);
    const auto node = line.options.find("node");
    if (node != line.options.end()) SetNode(unit, node->second);
    const auto card = line.options.find("card");
    if (card != line.options.end()) {
        if (unit.GetKind() != SimUnit::Kind::CardSlot) {
            throw ParseError("\"card\" is for card slots, not the flash disk");
        }
        unit.SetCardPresent(ParseYesNo(card->second, "card"));
    }
    diskUnit_ = unit.FlashDisk() != nullptr ? &unit : nullptr;
    diskLine_ = line.number;
}

void DescriptionReader::Foreign(const Line& line) {
    CheckOptions(line, {"drive", "adapter", "target", "name", "node"}, 0);
    const auto drive = line.options.find("drive");
    const auto adapter = line.options.find("adapter");
    const auto target = line.options.find("target");
    const auto name = line.options.find("name");
    if (drive == line.options.end() && adapter == line.options.end()) {
        throw ParseError("\"foreign\" needs a drive or an adapter");
    }
    FinishDisk();
    reader_ = nullptr;
    std::uint8_t a = kNoAspiAddress;
    std::uint8_t t = 0;
    if (adapter != line.options.end()) {
        a = static_cast<std::uint8_t>(ParseNumber(adapter->second, 254, "adapter"));
        if (target != line.options.end()) {
            t = static_cast<std::uint8_t>(ParseNumber(target->second, 7, "target"));
        }
        if (!addresses_.insert({a, t}).second) {
            throw ParseError("adapter " + std::to_string(a) + " target " + std::to_string(t) +
                             " is taken");
        }
    } else if (target != line.options.end()) {
        throw ParseError("\"target\" needs an \"adapter\"");
    }
    char letter = 0;
    if (drive != line.options.end()) {
        letter = ParseDriveLetter(drive->second);
        if (!letters_.insert(letter).second) {
            throw ParseError(std::string("drive ") + letter + ": is given twice");
        }
    }
    SimDevice& device = bus_.AddForeignDrive(
        letter, a, t, name == line.options.end() ? "Fixed Disk" : name->second);
    const auto node = line.options.find("node");
    if (node != line.options.end()) SetNode(*device.Unit(0), node->second);
}

}  // namespace description
}  // namespace sim
