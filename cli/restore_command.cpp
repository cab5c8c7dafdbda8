// brevant restore-cis FILE: the way back from a format that did not end, with the old pages a
// format kept before it erased anything.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/machine.h"
#include "cli/prompt.h"
#include "cli/stick_choice.h"
#include "cli/stop_signals.h"
#include "format/cis_backup.h"
#include "format/flash_geometry.h"
#include "reader/commands.h"

namespace {

bool IsErased(const PageImage& page) {
    for (std::uint8_t byte : page) {
        if (byte != 0xFF) return false;
    }
    return true;
}

// What is at a saved page's place on the stick now.
enum class PageState { Unreadable, InPlace, Erased, Other };

PageState StateOf(std::int32_t page, std::uint8_t pagesPerBlock, const PageImage& saved) {
    PageImage now{};
    if (ReadPageWithSpare(kMediaUsbDisk, static_cast<std::uint32_t>(page), pagesPerBlock,
                          now.data()) != 1) {
        return PageState::Unreadable;
    }
    if (now == saved) return PageState::InPlace;
    return IsErased(now) ? PageState::Erased : PageState::Other;
}

// Writes a saved page and reads it back: true only when it reads back as saved.
bool WriteBack(std::int32_t page, std::uint8_t pagesPerBlock, const PageImage& saved) {
    const std::uint32_t at = static_cast<std::uint32_t>(page);
    PageImage check{};
    return WritePageWithSpare(kMediaUsbDisk, at, pagesPerBlock, saved.data()) == 1 &&
           ReadPageWithSpare(kMediaUsbDisk, at, pagesPerBlock, check.data()) == 1 && check == saved;
}

int Restore(const CliOptions& options, const CisBackup& backup, Machine& machine) {
    int exitCode = kExitFailed;
    ChosenStick stick;
    if (!ChooseStick(machine, options, "restore", true, &stick, &exitCode)) return exitCode;
    const std::string& node = stick.unit.node;

    // The pages belong to one kind of flash: another stick's bank 0 is not where they go.
    SelectBank(kMediaUsbDisk, 0);
    std::uint8_t code[2] = {};
    ReadDeviceCode(kMediaUsbDisk, code);
    const FlashGeometry* geometry = LookupFlashGeometry(code[0]);
    if (geometry == nullptr || code[0] != backup.deviceCode ||
        geometry->pagesPerBlock != backup.pagesPerBlock) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "%s: its flash (device code 0x%02X) is not the kind the pages came from "
                      "(0x%02X); nothing was written",
                      node.c_str(), static_cast<unsigned>(code[0]),
                      static_cast<unsigned>(backup.deviceCode));
        Complain(text);
        return kExitNoDisk;
    }

    const bool vendor = backup.vendorPage >= 0;
    const PageState cis = StateOf(backup.cisPage, backup.pagesPerBlock, backup.cis);
    const PageState behind = vendor
                                 ? StateOf(backup.vendorPage, backup.pagesPerBlock, backup.vendor)
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
    const std::uint32_t block = static_cast<std::uint32_t>(backup.cisPage) / backup.pagesPerBlock;

    std::printf("Device: %s  %s %s %s\nOld CIS page: page %d%s, saved %s from %s\n", node.c_str(),
                stick.identity.vendor.c_str(), stick.identity.product.c_str(),
                stick.identity.revision.c_str(), backup.cisPage,
                vendor ? " and the vendor page behind it" : "", backup.saved.c_str(),
                backup.device.c_str());
    InstallStopSignals();
    const std::string question = erase ? "Block " + std::to_string(block) +
                                             " of bank 0 holds something else: erase it "
                                             "and write the old pages back?"
                                       : "Write the old pages back?";
    if (!options.assumeYes && (!AskYesNo(stdout, question, 0) || StopSignalCount() != 0)) {
        std::printf("Nothing was changed.\n");
        return kExitCancelled;
    }

    if (erase && EraseBlock(kMediaUsbDisk, block, backup.pagesPerBlock) != 1) {
        Complain(node + ": block " + std::to_string(block) +
                 " could not be erased; nothing was written");
        return kExitFailed;
    }
    const bool cisBack = WriteBack(backup.cisPage, backup.pagesPerBlock, backup.cis);
    const bool vendorBack =
        !vendor || WriteBack(backup.vendorPage, backup.pagesPerBlock, backup.vendor);
    if (!cisBack || !vendorBack) {
        Complain(node + ": the old " + (!cisBack ? "CIS page" : "vendor page") +
                 " could not be written back (it does not read back as saved)");
        return kExitFailed;
    }
    std::printf("The old CIS page%s back on %s. Unplug the stick and plug it in again.\n",
                vendor ? " and vendor page are" : " is", node.c_str());
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
