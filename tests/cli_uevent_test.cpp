// The kernel's device announcements a watch for sticks looks at, and those it lets pass.
#include <gtest/gtest.h>

#include <string>

#include "cli/uevent_monitor.h"

namespace {

bool Relevant(const std::string& message) { return IsStickUevent(message.data(), message.size()); }

// A message as the kernel sends it: the header, then NAME=value fields, each ended by a zero.
std::string Message(const std::string& action, const std::string& subsystem) {
    std::string text = action + "@/devices/platform/dummy_hcd.0/usb1/1-1";
    text += '\0';
    for (const std::string& field :
         {"ACTION=" + action, std::string("DEVPATH=/devices/platform/dummy_hcd.0/usb1/1-1"),
          "SUBSYSTEM=" + subsystem, std::string("SEQNUM=1234")}) {
        text += field;
        text += '\0';
    }
    return text;
}

TEST(Uevents, StickComingsAndGoingsWakeTheWatch) {
    for (const char* subsystem : {"usb", "scsi", "scsi_generic", "block"}) {
        for (const char* action : {"add", "remove", "bind", "unbind"}) {
            EXPECT_TRUE(Relevant(Message(action, subsystem))) << action << " " << subsystem;
        }
        EXPECT_FALSE(Relevant(Message("change", subsystem))) << subsystem;
    }
    EXPECT_FALSE(Relevant(Message("add", "net")));
    EXPECT_FALSE(Relevant(Message("add", "input")));
    // A message cut short or without its fields is nothing to look at.
    EXPECT_FALSE(Relevant("add@/devices/x"));
    EXPECT_FALSE(Relevant(""));
    const std::string cut = Message("add", "block");
    EXPECT_FALSE(Relevant(cut.substr(0, cut.find("SUBSYSTEM="))));
}

}  // namespace
