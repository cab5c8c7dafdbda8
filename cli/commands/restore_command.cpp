// brevant restore-cis FILE: the way back from a format that did not end, with the old pages a
// format kept before it erased anything.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands/commands.h"
#include "cli/commands/soft_replug.h"
#include "cli/shared/exit_codes.h"
#include "cli/shared/machine.h"
#include "cli/shared/messages.h"
#include "cli/shared/prompt.h"
#include "cli/shared/stick_choice.h"
#include "cli/shared/stop_signals.h"
#include "core/quoted_text.h"
#include "format/cis_backup.h"
#include "format/flash_geometry.h"
#include "reader/reader_unit.h"

namespace {

bool IsErased(const PageImage& page) {
    for (std::uint8_t byte : page) {
        if (byte != 0xFF) return false;
    }
    return true;
}

// What is at a saved page's place on the stick now.
enum class PageState { Unreadable, InPlace, Erased, Other };

PageState StateOf(ReaderUnit& disk, std::int32_t page, std::uint8_t pagesPerBlock,
                  const PageImage& saved) {
    PageImage now{};
    if (!disk.ReadPageWithSpare(static_cast<std::uint32_t>(page), pagesPerBlock, now.data())
             .Good()) {
        return PageState::Unreadable;
    }
    if (now == saved) return PageState::InPlace;
    return IsErased(now) ? PageState::Erased : PageState::Other;
}

// Writes a saved page and reads it back: true only when it reads back as saved.
bool WriteBack(ReaderUnit& disk, std::int32_t page, std::uint8_t pagesPerBlock,
               const PageImage& saved) {
    const std::uint32_t at = static_cast<std::uint32_t>(page);
    PageImage check{};
    return disk.WritePageWithSpare(at, pagesPerBlock, saved.data()).Good() &&
           disk.ReadPageWithSpare(at, pagesPerBlock, check.data()).Good() && check == saved;
}

// What the stick in the reader is, as a backup file records the stick its pages came from.
struct StickNow {
    std::vector<BackupBank> banks;  // a bank whose code the table does not know has no blocks
    std::int32_t cisPage = -1;      // the CIS page the reader reports; -1: none
};

// Reads the stick's banks and its CIS page number (reading commands only). False when the stick
// does not say.
bool ReadStickNow(ReaderUnit& disk, StickNow* now) {
    std::uint8_t count[2] = {};
    if (!disk.GetBankCount(count).Good() || count[0] == 0 || count[0] > kMaxBanks) {
        return false;
    }
    for (std::uint8_t bank = 0; bank < count[0]; ++bank) {
        std::uint8_t code[2] = {};
        if (!disk.SelectBank(bank).Good() || !disk.ReadDeviceCode(code).Good()) {
            return false;
        }
        BackupBank read;
        read.deviceCode = code[0];
        if (const FlashGeometry* geometry = LookupFlashGeometry(code[0])) {
            read.pagesPerBlock = geometry->pagesPerBlock;
            read.blocks = geometry->blocksPerBank;
        }
        now->banks.push_back(read);
    }
    std::uint32_t page = 0xFFFFFFFFu;  // none
    if (disk.ReadCisPageNumber(&page).Good() && page <= 0x7FFFFFFF) {
        now->cisPage = static_cast<std::int32_t>(page);
    }
    disk.SelectBank(0);
    return true;
}

std::string BanksText(const std::vector<BackupBank>& banks) {
    std::string text =
        std::to_string(banks.size()) + (banks.size() == 1 ? " bank of" : " banks of");
    char code[8];
    for (const BackupBank& bank : banks) {
        std::snprintf(code, sizeof code, " %02Xh", static_cast<unsigned>(bank.deviceCode));
        text += code;
    }
    return text;
}

// A stick as the messages name it: what is known of it, every text in quotes (those of the
// file could hold anything).
std::string IdentityText(const std::string& serial, const std::string& port,
                         const std::string& vendor, const std::string& product,
                         const std::string& revision, const std::vector<BackupBank>& banks,
                         std::int32_t cisPage) {
    std::string text = serial.empty() ? "no USB serial" : "USB serial " + QuotedForMessage(serial);
    if (!port.empty()) text += ", at " + QuotedForMessage(port);
    text += ", " + QuotedForMessage(vendor + " " + product + " " + revision, 80);
    text += ", " + BanksText(banks);
    text += cisPage >= 0 ? ", CIS page " + std::to_string(cisPage) : ", no CIS page";
    return text;
}

// What tells the stick the pages came from apart from this one: the words of the differences,
// empty when none is known. A CIS page this stick has elsewhere than the pages' place marks
// another stick (or one formatted since); none at all is what a format cut short leaves.
std::string Differences(const CisBackup& backup, const DeviceIdentity& stick, const StickNow& now) {
    std::vector<std::string> found;
    if (backup.version < 2) {
        // An older file names the stick by its name alone, in one line, and bank 0's flash.
        if (backup.identity != stick.vendor + " " + stick.product + " " + stick.revision) {
            found.push_back("name");
        }
    } else {
        if (backup.usbSerial != stick.serial) found.push_back("USB serial");
        if (!backup.usbPort.empty() && !stick.usbPort.empty() && backup.usbPort != stick.usbPort) {
            found.push_back("USB port");
        }
        if (backup.inquiryVendor != stick.vendor || backup.inquiryProduct != stick.product ||
            backup.inquiryRevision != stick.revision) {
            found.push_back("name");
        }
        if (backup.banks != now.banks) found.push_back("flash banks");
    }
    if (now.cisPage >= 0 && now.cisPage != backup.cisPage) found.push_back("CIS page");
    std::string text;
    for (std::size_t i = 0; i < found.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == found.size() ? " and " : ", ") + found[i];
    }
    return text;
}

// Whether the pages may go onto this stick: yes when it is the one they came from; for another
// stick only with --force and a person's yes on a terminal, both sticks named. False with the
// exit code when not.
bool SameStickOrForced(const CliOptions& options, const CisBackup& backup, ChosenStick& stick,
                       int* exitCode) {
    const std::string& node = stick.unit.node;
    const std::string file = QuotedForMessage(options.argument, 200);
    StickNow now;
    ReaderUnit disk(stick.GetReader(), kMediaUsbDisk);
    if (!ReadStickNow(disk, &now)) {
        Complain(node + ": its flash banks cannot be read; nothing was written");
        *exitCode = kExitFailed;
        return false;
    }
    // Pages of another kind of flash would land on other pages: never written, forced or not.
    if (now.banks[0].deviceCode != backup.DeviceCode() ||
        now.banks[0].pagesPerBlock != backup.PagesPerBlock()) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "%s: its flash (device code 0x%02X) is not the kind the pages came from "
                      "(0x%02X); nothing was written",
                      node.c_str(), static_cast<unsigned>(now.banks[0].deviceCode),
                      static_cast<unsigned>(backup.DeviceCode()));
        Complain(text);
        *exitCode = kExitNoDisk;
        return false;
    }
    const DeviceIdentity& id = stick.identity;
    if (backup.version < 2) {
        Complain("warning: " + file +
                 " was written by an older version and does not say which stick its pages came "
                 "from: only its name and its kind of flash are checked");
    }
    const std::string differ = Differences(backup, stick.identity, now);
    if (differ.empty()) return true;
    Complain(node + " is not the stick the pages in " + file + " came from (they differ in " +
             differ + "):");
    const std::string before =
        backup.version < 2
            ? QuotedForMessage(backup.identity, 80) + ", " + BanksText(backup.banks) +
                  ", CIS page " + std::to_string(backup.cisPage)
            : IdentityText(backup.usbSerial, backup.usbPort, backup.inquiryVendor,
                           backup.inquiryProduct, backup.inquiryRevision, backup.banks,
                           backup.cisPage);
    Complain("  the pages' stick: " + before);
    Complain("  the stick in " + node + ": " +
             IdentityText(id.serial, id.usbPort, id.vendor, id.product, id.revision, now.banks,
                          now.cisPage));
    if (!options.force) {
        Complain(
            "nothing was written; --force writes them all the same, after asking (a stick "
            "moved to another USB port is the same stick)");
        *exitCode = kExitNoDisk;
        return false;
    }
    if (!InputIsTerminal()) {
        Complain("--force asks on a terminal, and there is none: nothing was written");
        *exitCode = kExitUsage;
        return false;
    }
    if (!AskYesNo(stdout, "Write the pages of that stick onto " + node + " all the same?", 0) ||
        StopSignalCount() != 0) {
        std::printf("Nothing was changed.\n");
        *exitCode = kExitCancelled;
        return false;
    }
    return true;
}

int Restore(const CliOptions& options, const CisBackup& backup, Machine& machine) {
    int exitCode = kExitFailed;
    ChosenStick stick;
    if (!ChooseStick(machine, options, "restore", true, &stick, &exitCode)) return exitCode;
    const std::string& node = stick.unit.node;
    InstallStopSignals();
    if (!SameStickOrForced(options, backup, stick, &exitCode)) return exitCode;
    ReaderUnit disk(stick.GetReader(), kMediaUsbDisk);

    const std::uint8_t pagesPerBlock = backup.PagesPerBlock();
    const bool vendor = backup.vendorPage >= 0;
    const PageState cis = StateOf(disk, backup.cisPage, pagesPerBlock, backup.cis);
    const PageState behind = vendor ? StateOf(disk, backup.vendorPage, pagesPerBlock, backup.vendor)
                                    : PageState::InPlace;
    if (cis == PageState::Unreadable || behind == PageState::Unreadable) {
        Complain(node + ": the pages' place cannot be read; nothing was written");
        return kExitFailed;
    }
    if (cis == PageState::InPlace && behind == PageState::InPlace) {
        std::printf("The old CIS page%s already in place on %s: nothing to do.\n",
                    vendor ? " and vendor page are" : " is", node.c_str());
        return kExitComplete;
    }
    // A page can only be programmed over an erased one: anything else there goes first, with
    // the block.
    const bool erase = cis == PageState::Other || behind == PageState::Other;
    const std::uint32_t block = static_cast<std::uint32_t>(backup.cisPage) / pagesPerBlock;

    std::printf("Device: %s  %s %s %s\nOld CIS page: page %d%s, saved %s from %s\n", node.c_str(),
                stick.identity.vendor.c_str(), stick.identity.product.c_str(),
                stick.identity.revision.c_str(), backup.cisPage,
                vendor ? " and the vendor page behind it" : "",
                QuotedForMessage(backup.saved).c_str(), QuotedForMessage(backup.device).c_str());
    const std::string question = erase ? "Block " + std::to_string(block) +
                                             " of bank 0 holds something else: erase it "
                                             "and write the old pages back?"
                                       : "Write the old pages back?";
    if (!options.assumeYes && (!AskYesNo(stdout, question, 0) || StopSignalCount() != 0)) {
        std::printf("Nothing was changed.\n");
        return kExitCancelled;
    }

    if (erase && !disk.EraseBlock(block, pagesPerBlock).Good()) {
        Complain(node + ": block " + std::to_string(block) +
                 " could not be erased; nothing was written");
        return kExitFailed;
    }
    const bool cisBack = WriteBack(disk, backup.cisPage, pagesPerBlock, backup.cis);
    const bool vendorBack =
        !vendor || WriteBack(disk, backup.vendorPage, pagesPerBlock, backup.vendor);
    if (!cisBack || !vendorBack) {
        Complain(node + ": the old " + (!cisBack ? "CIS page" : "vendor page") +
                 " could not be written back (it does not read back as saved)");
        return kExitFailed;
    }
    std::printf("The old CIS page%s back on %s.\n", vendor ? " and vendor page are" : " is",
                node.c_str());
    // The stick takes its old pages up again when it starts afresh.
    FinishAfterRun(machine, stick, options.replug, true, stdout);
    return kExitComplete;
}

}  // namespace

int RunRestoreCisCommand(const CliOptions& options) {
    CisBackup backup;
    std::string error;
    if (!ReadCisBackup(options.argument, &backup, &error)) {
        Complain(error);
        return kExitUsage;
    }
    if (!options.assumeYes && !InputIsTerminal()) {
        Complain("no terminal to ask for confirmation on: pass --yes to write without asking");
        return kExitUsage;
    }
    int exitCode = kExitFailed;
    auto machine = Machine::Open(options, &exitCode);
    if (!machine) return exitCode;
    int code = Restore(options, backup, *machine);
    if (!machine->WriteExports(options, &error)) {
        Complain(error);
        if (code == kExitComplete) code = kExitFailed;
    }
    return code;
}
