#include <cstdio>
#include <string>

#include "cli/commands/soft_replug.h"
#include "cli/output/size_text.h"
#include "cli/shared/machine.h"
#include "cli/shared/messages.h"
#include "cli/shared/stick_choice.h"

bool FinishAfterRun(Machine& machine, ChosenStick& stick, bool replug, bool wrote, std::FILE* out) {
    if (!wrote) return true;
    if (!replug) {
        if (out != nullptr) {
            std::fprintf(out,
                         "The system sees the stick as it was until it is plugged out and in "
                         "again (or use --replug).\n");
            std::fflush(out);
        }
        return true;
    }
    StickAgain again;
    std::string reason;
    bool back = false;
    if (machine.Simulated()) {
        stick.session->End(false);
        back = machine.SimulatedReplug(stick.unit.place, &again.sectors);
        again.genericNode = stick.unit.node;
        if (!back) reason = "the simulated machine has no reader there";
    } else {
        back = ReplugRealStick(stick, &again, &reason);
    }
    if (!back) {
        Complain("the stick was not plugged in again: " + reason +
                 "; plug it out and in again by hand");
        return false;
    }
    if (out != nullptr) {
        std::fprintf(out, "Plugged in again: %s%s, %s as the system sees it.\n",
                     again.genericNode.c_str(),
                     again.diskNode.empty() ? "" : (" (" + again.diskNode + ")").c_str(),
                     SizeText(static_cast<std::uint32_t>(again.sectors)).c_str());
        std::fflush(out);
    }
    return true;
}
