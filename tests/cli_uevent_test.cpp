// The kernel's device announcements a watch for sticks looks at, and those it lets pass.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli/commands/station.h"
#include "cli/shared/cli_options.h"
#include "cli/shared/uevent_monitor.h"

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

// A plug-in or a pull wakes the watch once its node came or went: the dozen other devices the
// kernel announces with it (the USB device, the SCSI host and device, their drivers) do not.
TEST(Uevents, StickComingsAndGoingsWakeTheWatch) {
    for (const char* subsystem : {"scsi_generic", "block"}) {
        for (const char* action : {"add", "remove"}) {
            EXPECT_TRUE(Relevant(Message(action, subsystem))) << action << " " << subsystem;
        }
        for (const char* action : {"bind", "unbind", "change"}) {
            EXPECT_FALSE(Relevant(Message(action, subsystem))) << action << " " << subsystem;
        }
    }
    for (const char* subsystem : {"usb", "scsi", "net", "input"}) {
        EXPECT_FALSE(Relevant(Message("add", subsystem))) << subsystem;
    }
    // A message cut short or without its fields is nothing to look at.
    EXPECT_FALSE(Relevant("add@/devices/x"));
    EXPECT_FALSE(Relevant(""));
    const std::string cut = Message("add", "block");
    EXPECT_FALSE(Relevant(cut.substr(0, cut.find("SUBSYSTEM="))));
}

// The watch waits for its workers and for the kernel's news at once: news ends the wait, so that
// the look at a stick just plugged in comes at once. (Were it not heard, this wait would last a
// minute.)
TEST(Uevents, NewsEndsTheWatchsWaitForItsWorkers) {
    int news[2];
    ASSERT_EQ(::pipe(news), 0);
    ASSERT_EQ(::write(news[1], "x", 1), 1);
    CliOptions options;
    Station station(options, "");
    std::vector<StationStick> none;
    station.Follow(none, 60000, news[0]);
    char byte = 0;
    EXPECT_EQ(::read(news[0], &byte, 1), 1);  // seen, not taken: the watch reads its own news
    ::close(news[0]);
    ::close(news[1]);
}

}  // namespace
