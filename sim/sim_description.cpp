#include "sim/sim_description.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "reader/byte_order.h"
#include "sim/sim_device.h"
#include "sim/sim_flash_disk.h"

namespace sim {

namespace {

constexpr std::size_t kMaxUnitsPerReader = 8;
constexpr std::size_t kCisBanks = 8;
constexpr std::uint32_t kGroupBlocks = 256;
constexpr std::uint32_t kMaxGroupEntry = 250;
// The blocks all flash disks of a machine may hold together: 64 sticks of 1 GiB (eight banks of
// 79h). Each block costs memory even while erased, and a few lines of text must not ask for
// gigabytes.
constexpr std::uint64_t kMaxMachineBlocks = std::uint64_t{1} << 22;

// One line split into its keyword, plain words and key=value options.
struct Line {
    int number = 0;
    std::string keyword;
    std::vector<std::string> words;
    std::map<std::string, std::string> options;
};

class ParseError {
  public:
    // line: the line the error belongs to when it is not the one being read (0).
    explicit ParseError(std::string text, int line = 0) : text_(std::move(text)), line_(line) {}
    const std::string& Text() const { return text_; }
    int LineNumber() const { return line_; }

  private:
    std::string text_;
    int line_;
};

// Splits on blanks; "quoted text" is one token; '#' outside quotes starts a comment.
std::vector<std::string> Tokenize(const std::string& line) {
    std::vector<std::string> tokens;
    std::string current;
    bool quoted = false;
    bool inToken = false;
    for (char c : line) {
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else {
                current += c;
            }
            continue;
        }
        if (c == '#') break;
        if (c == '"') {
            quoted = true;
            inToken = true;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            if (inToken) tokens.push_back(current);
            current.clear();
            inToken = false;
        } else {
            current += c;
            inToken = true;
        }
    }
    if (quoted) throw ParseError("unterminated quote");
    if (inToken) tokens.push_back(current);
    return tokens;
}

std::uint32_t ParseNumber(const std::string& text, std::uint64_t max, const std::string& what,
                          int base = 0) {
    if (text.empty()) throw ParseError(what + " is empty");
    if (base == 0) {
        // Decimal or 0x hexadecimal; a leading zero does not make a number octal.
        base = text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 16 : 10;
    }
    std::size_t used = 0;
    unsigned long long value = 0;
    try {
        value = std::stoull(text, &used, base);
    } catch (...) {
        throw ParseError(what + " \"" + text + "\" is not a number");
    }
    if (used != text.size() || text[0] == '-') {
        throw ParseError(what + " \"" + text + "\" is not a number");
    }
    if (value > max) throw ParseError(what + " " + text + " is too large");
    return static_cast<std::uint32_t>(value);
}

bool ParseYesNo(const std::string& text, const std::string& what) {
    if (text == "yes" || text == "on" || text == "1" || text == "true") return true;
    if (text == "no" || text == "off" || text == "0" || text == "false") return false;
    throw ParseError(what + " must be yes or no, not \"" + text + "\"");
}

// A USB serial number: 1 to 64 printable ASCII characters (a USB string descriptor holds 126;
// real sticks give 8 to 32, some with blanks).
std::string ParseSerial(const std::string& text) {
    if (text.empty() || text.size() > 64) {
        throw ParseError("serial \"" + text.substr(0, 70) + "\" must be 1 to 64 characters");
    }
    for (char c : text) {
        if (c < 0x20 || c > 0x7E)
            throw ParseError("serial holds a character that is not printable");
    }
    return text;
}

char ParseDriveLetter(const std::string& text) {
    std::string letter = text;
    if (letter.size() == 2 && letter[1] == ':') letter.resize(1);
    if (letter.size() != 1) throw ParseError("drive \"" + text + "\" is not a letter C..Z");
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(letter[0])));
    if (c < 'C' || c > 'Z') throw ParseError("drive \"" + text + "\" is not a letter C..Z");
    return c;
}

class DescriptionReader {
  public:
    explicit DescriptionReader(SimBus& bus) : bus_(bus) {}

    void Apply(const Line& line);
    void Finish();

  private:
    SimFlashDisk& Disk(const Line& line);
    void CheckOptions(const Line& line, std::initializer_list<const char*> allowed,
                      std::size_t maxWords);
    void SetDrive(SimUnit& unit, const std::string& text);
    void SetNode(SimUnit& unit, const std::string& text);
    SimLink& Link();
    void LinkFault(const Line& line);
    void Schedule(const Line& line);
    std::pair<std::size_t, std::uint32_t> BlockRef(SimFlashDisk& disk, const std::string& text);
    void Aspi(const Line& line);
    void Reader(const Line& line);
    void Unit(const Line& line);
    void Foreign(const Line& line);
    void Banks(const Line& line);
    void BlockFaults(const Line& line);
    void Cis(const Line& line);
    void FinishDisk();

    SimBus& bus_;
    SimDevice* reader_ = nullptr;
    // The reader whose lines these are (SimBus::kNoReader before the first: the machine's).
    std::size_t lastReader_ = SimBus::kNoReader;
    std::set<std::string> nodes_;
    SimUnit* diskUnit_ = nullptr;
    int diskLine_ = 0;
    int vendorLine_ = 0;
    int cisLine_ = 0;
    std::set<char> letters_;
    std::set<std::pair<int, int>> addresses_;
    std::uint64_t flashBlocks_ = 0;  // of all disks so far

    // What the current disk asked for; applied once its lines are over.
    bool cisWanted_ = false;
    std::uint32_t cisPage_ = 0;
    bool cisSectorsGiven_ = false;
    std::uint32_t cisSectors_ = 0;
    bool vendorWanted_ = false;
    std::string vendorText_;
    bool logicalGiven_ = false;
    std::uint32_t logicalSectors_ = 0;
};

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

SimFlashDisk& DescriptionReader::Disk(const Line& line) {
    if (diskUnit_ == nullptr) {
        throw ParseError("\"" + line.keyword + "\" needs a \"unit DS\" line before it");
    }
    return *diskUnit_->FlashDisk();
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

std::pair<std::size_t, std::uint32_t> DescriptionReader::BlockRef(SimFlashDisk& disk,
                                                                  const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) {
        throw ParseError("block \"" + text + "\" must be written bank:block");
    }
    const std::uint32_t bank = ParseNumber(text.substr(0, colon), 255, "bank");
    const std::uint32_t block = ParseNumber(text.substr(colon + 1), 0xFFFF, "block");
    if (bank >= disk.BankCount()) {
        throw ParseError("block " + text + ": the disk has no bank " + std::to_string(bank));
    }
    if (block >= disk.Geometry(bank).blocksPerBank) {
        throw ParseError("block " + text + ": bank " + std::to_string(bank) + " has " +
                         std::to_string(disk.Geometry(bank).blocksPerBank) + " blocks");
    }
    return {bank, block};
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

void DescriptionReader::Banks(const Line& line) {
    CheckOptions(line, {}, 255);
    SimFlashDisk& disk = Disk(line);
    if (disk.BankCount() > 0) throw ParseError("the disk's banks are given twice");
    if (line.words.empty()) throw ParseError("\"banks\" needs device codes");
    std::vector<std::uint8_t> codes;
    for (const std::string& word : line.words) {
        // "8x79" is eight banks of code 79h.
        const std::size_t x = word.find('x');
        std::uint32_t repeat = 1;
        std::string code = word;
        if (x != std::string::npos && word.compare(0, 2, "0x") != 0) {
            repeat = ParseNumber(word.substr(0, x), 255, "bank repeat count", 10);
            code = word.substr(x + 1);
        }
        if (code.compare(0, 2, "0x") == 0) code = code.substr(2);
        const std::uint8_t value =
            static_cast<std::uint8_t>(ParseNumber(code, 0xFF, "device code", 16));
        codes.insert(codes.end(), repeat, value);
    }
    if (codes.empty() || codes.size() > 255) {
        throw ParseError("a disk has 1 to 255 banks, not " + std::to_string(codes.size()));
    }
    for (std::uint8_t code : codes) flashBlocks_ += GeometryForDeviceCode(code).blocksPerBank;
    if (flashBlocks_ > kMaxMachineBlocks) {
        throw ParseError("the machine's flash disks would hold more than " +
                         std::to_string(kMaxMachineBlocks) + " blocks");
    }
    for (std::uint8_t code : codes) disk.AddBank(code);
}

void DescriptionReader::BlockFaults(const Line& line) {
    const bool stuck = line.keyword == "stuck";
    if (stuck) {
        CheckOptions(line, {"page", "byte", "mask"}, 4096);
    } else if (line.keyword == "erase-fails" || line.keyword == "program-fails") {
        CheckOptions(line, {"after"}, 4096);
    } else if (line.keyword == "bit-flips") {
        CheckOptions(line, {"budget", "seed"}, 4096);
    } else {
        CheckOptions(line, {}, 4096);
    }
    SimFlashDisk& disk = Disk(line);
    if (line.words.empty()) throw ParseError("\"" + line.keyword + "\" needs bank:block values");
    auto option = [&](const char* key, std::uint32_t fallback) {
        const auto it = line.options.find(key);
        return it == line.options.end() ? fallback : ParseNumber(it->second, 0xFFFFFFFFu, key);
    };
    const std::uint32_t after = option("after", 0);
    const std::uint32_t budget = option("budget", 1);
    const std::uint32_t seed = option("seed", 1);
    StuckBits bits;
    if (stuck) {
        auto get = [&](const char* key, std::uint32_t max, std::uint32_t fallback) {
            const auto it = line.options.find(key);
            return it == line.options.end() ? fallback : ParseNumber(it->second, max, key);
        };
        bits.byteOffset =
            static_cast<std::uint16_t>(get("byte", kPageImageBytes - 1, bits.byteOffset));
        bits.mask = static_cast<std::uint8_t>(get("mask", 0xFF, bits.mask));
        if (bits.mask == 0) throw ParseError("mask 0 sticks no bit");
        const std::uint32_t page = get("page", 255, bits.pageInBlock);
        bits.pageInBlock = static_cast<std::uint8_t>(page);
        for (const std::string& word : line.words) {
            const auto ref = BlockRef(disk, word);
            if (page >= disk.Geometry(ref.first).pagesPerBlock) {
                throw ParseError("page " + std::to_string(page) + " is past the block's pages");
            }
        }
    }
    for (const std::string& word : line.words) {
        const auto ref = BlockRef(disk, word);
        if (line.keyword == "bad") {
            disk.SetFactoryBad(ref.first, ref.second);
        } else if (line.keyword == "data") {
            WriteDataBlock(disk, ref.first, ref.second);
        } else if (line.keyword == "erase-fails") {
            disk.SetEraseFailsAfter(ref.first, ref.second, after);
        } else if (line.keyword == "program-fails") {
            disk.SetProgramFailsAfter(ref.first, ref.second, after);
        } else if (line.keyword == "bit-flips") {
            disk.SetBitFlips(ref.first, ref.second, budget, seed);
        } else if (line.keyword == "mark-does-not-stick") {
            disk.SetMarkDoesNotStick(ref.first, ref.second);
        } else {
            disk.SetStuckBits(ref.first, ref.second, bits);
        }
    }
}

void DescriptionReader::Cis(const Line& line) {
    CheckOptions(line, {"page", "sectors"}, 0);
    SimFlashDisk& disk = Disk(line);
    if (disk.BankCount() == 0) throw ParseError("\"cis\" needs the \"banks\" line before it");
    const auto page = line.options.find("page");
    cisPage_ = page == line.options.end() ? 0 : ParseNumber(page->second, 0xFFFFFFFEu, "page");
    const BankGeometry& g = disk.Geometry(0);
    if (cisPage_ % g.pagesPerBlock != 0 || cisPage_ >= g.PagesPerBank()) {
        throw ParseError("CIS page " + std::to_string(cisPage_) +
                         " is not the first page of a block of bank 0");
    }
    const auto sectors = line.options.find("sectors");
    cisSectorsGiven_ = sectors != line.options.end();
    if (cisSectorsGiven_) cisSectors_ = ParseNumber(sectors->second, 0xFFFFFFFFu, "sectors");
    cisWanted_ = true;
    cisLine_ = line.number;
}

void DescriptionReader::FinishDisk() {
    if (diskUnit_ == nullptr) return;
    SimFlashDisk& disk = *diskUnit_->FlashDisk();
    if (disk.BankCount() == 0) {
        throw ParseError("the flash disk has no \"banks\" line", diskLine_);
    }
    if (vendorWanted_ && !cisWanted_) {
        throw ParseError("\"vendor-page\" needs a \"cis\" line", vendorLine_);
    }
    std::uint32_t total = 0;
    if (cisWanted_) {
        // Writing the page would wipe the block's bad-block mark, and C3h never reports a CIS
        // page in a marked block: the two lines contradict each other.
        const std::uint32_t block = cisPage_ / disk.Geometry(0).pagesPerBlock;
        if (disk.IsMarkedBad(0, block)) {
            throw ParseError("the CIS page's block 0:" + std::to_string(block) + " is bad",
                             cisLine_);
        }
        total = cisSectorsGiven_ ? cisSectors_ : DefaultSectorTotal(disk);
        WriteCisPage(disk, cisPage_, total);
        if (vendorWanted_) WriteVendorPage(disk, cisPage_ + 1, vendorText_);
    }
    disk.SetSectorCount(logicalGiven_ ? logicalSectors_ : total);
    diskUnit_ = nullptr;
    cisWanted_ = cisSectorsGiven_ = vendorWanted_ = logicalGiven_ = false;
    vendorText_.clear();
}

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
    } else if (k == "banks") {
        Banks(line);
    } else if (k == "bad" || k == "data" || k == "erase-fails" || k == "program-fails" ||
               k == "bit-flips" || k == "stuck" || k == "mark-does-not-stick") {
        BlockFaults(line);
    } else if (k == "write-protected" || k == "not-ready" || k == "unit-attention") {
        CheckOptions(line, {}, 0);
        SimFlashDisk& disk = Disk(line);
        if (k == "write-protected") disk.SetWriteProtected(true);
        if (k == "not-ready") disk.SetNotReady(true);
        if (k == "unit-attention") disk.RaiseUnitAttention();
    } else if (k == "reported-banks") {
        CheckOptions(line, {}, 1);
        if (line.words.size() != 1) throw ParseError("\"reported-banks\" needs a count");
        Disk(line).OverrideReportedBankCount(
            static_cast<std::uint8_t>(ParseNumber(line.words[0], 255, "bank count", 10)));
    } else if (k == "cis") {
        Cis(line);
    } else if (k == "vendor-page") {
        CheckOptions(line, {"text"}, 0);
        Disk(line);
        const auto text = line.options.find("text");
        vendorText_ = text == line.options.end() ? "BREVSIM VENDOR PAGE" : text->second;
        vendorWanted_ = true;
        vendorLine_ = line.number;
    } else if (k == "logical") {
        CheckOptions(line, {"sectors"}, 0);
        Disk(line);
        const auto sectors = line.options.find("sectors");
        if (sectors == line.options.end()) throw ParseError("\"logical\" needs sectors=<count>");
        logicalSectors_ = ParseNumber(sectors->second, 0xFFFFFFFFu, "sectors");
        logicalGiven_ = true;
    } else {
        throw ParseError("unknown keyword \"" + k + "\"");
    }
}

void DescriptionReader::Finish() { FinishDisk(); }

}  // namespace

std::uint32_t DefaultSectorTotal(const SimFlashDisk& disk) {
    std::uint32_t total = 0;
    for (std::size_t b = 0; b < std::min(disk.BankCount(), kCisBanks); ++b) {
        const BankGeometry& g = disk.Geometry(b);
        const std::uint32_t groups = (g.blocksPerBank + kGroupBlocks - 1) / kGroupBlocks;
        total += groups * kMaxGroupEntry * g.pagesPerBlock;
    }
    return total;
}

void WriteCisPage(SimFlashDisk& disk, std::uint32_t page, std::uint32_t sectors) {
    PageBytes image{};
    std::memcpy(image.data(), "USBC", 4);
    const std::size_t banks = std::min(disk.BankCount(), kCisBanks);
    std::uint32_t remaining = sectors;
    std::uint32_t cumulative = 0;
    for (std::size_t b = 0; b < banks; ++b) {
        // The banks fill in order, each group with the blocks it can offer: as a format would
        // count them, never more than the group's unmarked blocks.
        const BankGeometry& g = disk.Geometry(b);
        const std::uint32_t groups = (g.blocksPerBank + kGroupBlocks - 1) / kGroupBlocks;
        for (std::uint32_t group = 0; group < groups && group < 32; ++group) {
            std::uint32_t usable = 0;
            for (std::uint32_t i = 0; i < kGroupBlocks - 1; ++i) {
                const std::uint32_t block = group * kGroupBlocks + i;
                if (block < g.blocksPerBank && !disk.IsMarkedBad(b, block)) ++usable;
            }
            const std::uint32_t entry =
                std::min({usable, kMaxGroupEntry, remaining / g.pagesPerBlock});
            image[4 + 32 * b + group] = static_cast<std::uint8_t>(entry);
            remaining -= entry * g.pagesPerBlock;
            cumulative += entry * g.pagesPerBlock;
        }
        PutLe32(&image[260 + 4 * b], cumulative);
    }
    // The last total is the size asked for even when the groups cannot carry it: such a page is
    // one the controller refuses to load (C4h).
    if (banks > 0) PutLe32(&image[260 + 4 * (banks - 1)], sectors);
    std::fill_n(image.begin() + kPageDataBytes, 6, 0xFF);
    disk.ProgramPageRaw(0, page, image.data());
}

void WriteDataBlock(SimFlashDisk& disk, std::size_t bank, std::uint32_t block) {
    const BankGeometry& g = disk.Geometry(bank);
    PageBytes image;
    for (std::uint32_t p = 0; p < g.pagesPerBlock; ++p) {
        // Data that differs from page to page and block to block.
        for (std::size_t i = 0; i < kPageDataBytes; ++i) {
            image[i] = static_cast<std::uint8_t>(i + 13 * p + 101 * block);
        }
        std::fill(image.begin() + kPageDataBytes, image.end(), 0xFF);
        // Spare bytes 6..10: the logical block this one holds, as the firmware keeps it.
        PutBe16(&image[kPageDataBytes + 6], static_cast<std::uint16_t>(block));
        image[kPageDataBytes + 8] = static_cast<std::uint8_t>(bank);
        image[kPageDataBytes + 9] = 0x00;
        image[kPageDataBytes + 10] = 0x00;
        disk.ProgramPageRaw(bank, block * g.pagesPerBlock + p, image.data());
    }
}

void WriteVendorPage(SimFlashDisk& disk, std::uint32_t page, const std::string& text) {
    PageBytes image{};
    std::memcpy(image.data(), "USBC", 4);
    std::memcpy(image.data() + 4, text.data(), std::min<std::size_t>(text.size(), 200));
    // A recognisable tail, so that a page put back in the wrong place shows.
    for (std::size_t i = 256; i < kPageDataBytes; ++i) image[i] = static_cast<std::uint8_t>(i * 7);
    std::fill_n(image.begin() + kPageDataBytes, 6, 0xFF);
    disk.ProgramPageRaw(0, page, image.data());
}

bool ApplyDescription(const std::string& text, SimBus& bus, std::string* error) {
    DescriptionReader reader(bus);
    std::istringstream lines(text);
    std::string raw;
    int number = 0;
    try {
        while (std::getline(lines, raw)) {
            ++number;
            std::vector<std::string> tokens;
            try {
                tokens = Tokenize(raw);
            } catch (const ParseError& e) {
                throw ParseError("line " + std::to_string(number) + ": " + e.Text());
            }
            if (tokens.empty()) continue;
            Line line;
            line.number = number;
            line.keyword = tokens[0];
            for (std::size_t i = 1; i < tokens.size(); ++i) {
                const std::size_t eq = tokens[i].find('=');
                if (eq == std::string::npos) {
                    line.words.push_back(tokens[i]);
                } else if (!line.options.emplace(tokens[i].substr(0, eq), tokens[i].substr(eq + 1))
                                .second) {
                    throw ParseError("line " + std::to_string(number) + ": option \"" +
                                     tokens[i].substr(0, eq) + "\" is given twice");
                }
            }
            try {
                reader.Apply(line);
            } catch (const ParseError& e) {
                const int at = e.LineNumber() != 0 ? e.LineNumber() : number;
                throw ParseError("line " + std::to_string(at) + ": " + e.Text());
            }
        }
        try {
            reader.Finish();
        } catch (const ParseError& e) {
            const int at = e.LineNumber() != 0 ? e.LineNumber() : number;
            throw ParseError("line " + std::to_string(at) + ": " + e.Text());
        }
    } catch (const ParseError& e) {
        if (error) *error = e.Text();
        return false;
    }
    return true;
}

}  // namespace sim
