#pragma once
// A scripted window host and a scripted reader for running the main dialog's logic in tests.
// The host records every control's text, enabled state and check mark, the progress bar, the
// message boxes and the timers; it answers message boxes from a queue and hands queued events
// (clicks, ticks, device changes) to the dialog one per pumped message, as the real message
// queue does during a run.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/window_host.h"
#include "format/device_access.h"
#include "res/resource.h"

struct FakeControl {
    std::string text;
    bool enabled = true;
    bool checked = false;

    bool operator==(const FakeControl& other) const {
        return text == other.text && enabled == other.enabled && checked == other.checked;
    }
};

struct FakeBox {
    std::string text;
    std::string caption;
    BoxButtons buttons;
};

class FakeHost : public WindowHost {
  public:
    FakeHost() {
        // The controls as the dialog template creates them.
        controls[IDC_STATUS] = {"", true, false};
        controls[IDC_EXIT] = {"Exit", true, false};
        controls[IDC_START_STOP] = {"Start", true, false};
        controls[IDC_QUICK] = {"Quick ( Scan for bad blocks and restore required tables )", true,
                               false};
        controls[IDC_FULL] = {"Full    ( Quick format + Surface tests )", true, false};
        controls[IDC_PERCENT] = {"", true, false};
    }

    // --- WindowHost ---
    void SetControlText(int control, const std::string& text) override {
        controls[control].text = text;
        windowCalls.push_back("text " + std::to_string(control));
    }
    void EnableControl(int control, bool enabled) override { controls[control].enabled = enabled; }
    void CheckControl(int control, bool checked) override { controls[control].checked = checked; }
    void SetProgressPosition(int position) override {
        progress = position;
        progressHistory.push_back(position);
    }
    BoxAnswer MessageBox(const std::string& text, const std::string& caption,
                         BoxButtons buttons) override {
        boxes.push_back({text, caption, buttons});
        events.push_back("box");
        // Whatever happens while the box is up (its own message loop) runs here.
        if (whileBoxOpen) {
            auto during = whileBoxOpen;
            whileBoxOpen = nullptr;
            during();
        }
        if (!answers.empty()) {
            const BoxAnswer answer = answers.front();
            answers.pop_front();
            return answer;
        }
        return BoxAnswer::Ok;
    }
    void ShowAboutBox() override { ++aboutBoxes; }
    void AppendSystemMenuEntry(unsigned command, const std::string& text) override {
        windowCalls.push_back("menu " + std::to_string(command) + " " + text);
    }
    void SetWindowIcons() override {
        windowCalls.push_back("icons");
        if (onIcons) onIcons();
    }
    void StartTimer(unsigned id, unsigned milliseconds) override {
        timers[id] = milliseconds;
        events.push_back("timer on " + std::to_string(id));
    }
    void StopTimer(unsigned id) override {
        timers.erase(id);
        events.push_back("timer off " + std::to_string(id));
    }
    void PumpOneMessage() override {
        ++pumps;
        if (pending.empty()) return;
        auto message = pending.front();
        pending.pop_front();
        message();
    }
    std::int64_t Now() override { return clock; }
    bool CurrentDirectory(std::string* directory) override {
        if (!hasDirectory) return false;
        *directory = currentDirectory;
        return true;
    }
    void OsVersion(std::uint32_t* platformId, std::uint32_t* major, std::uint32_t* minor) override {
        *platformId = platform;
        *major = majorVersion;
        *minor = minorVersion;
    }
    std::string ApplicationName() override { return "Brevant"; }
    bool IsMinimised() override { return minimised; }
    void DrawIconCentred() override { ++iconPaints; }
    void EndDialog(int result) override {
        endResult = result;
        events.push_back("end dialog " + std::to_string(result));
        if (onEndDialog) onEndDialog();
    }

    // --- script and record ---
    std::map<int, FakeControl> controls;
    int progress = 0;
    std::vector<int> progressHistory;
    std::vector<FakeBox> boxes;
    std::deque<BoxAnswer> answers;              // empty: every box is answered OK
    std::function<void()> whileBoxOpen;         // runs once, inside the next box
    std::map<unsigned, unsigned> timers;        // active timers and their periods
    std::deque<std::function<void()>> pending;  // one per pumped message
    int pumps = 0;
    std::int64_t clock = 1000000;
    bool hasDirectory = true;
    std::string currentDirectory;
    std::uint32_t platform = 2, majorVersion = 5, minorVersion = 1;  // XP
    bool minimised = false;
    int iconPaints = 0;
    int aboutBoxes = 0;
    int endResult = -1;
    std::function<void()> onEndDialog;
    std::vector<std::string> events;       // boxes, timers and the end, in order
    std::vector<std::string> windowCalls;  // control texts, system menu and icons, in order
    std::function<void()> onIcons;

    const FakeControl& Control(int id) { return controls[id]; }
    bool Enabled(int id) { return controls[id].enabled; }
    bool Checked(int id) { return controls[id].checked; }
    const std::string& Text(int id) { return controls[id].text; }
};

// A reader whose units, readiness, sense, capacity and write protection are set by the test,
// with a format engine given as a function. Every call is recorded in order.
class FakeDevice : public DeviceAccess {
  public:
    int OpenTransport() override {
        calls.push_back("open");
        return openResult;
    }
    void DiscoverUnits(std::uint8_t* count, MediaType keys[3]) override {
        calls.push_back("discover");
        ++discoveries;
        *count = static_cast<std::uint8_t>(units.size());
        for (std::size_t i = 0; i < units.size() && i < 3; ++i) keys[i] = units[i];
    }
    int TestUnitReady(MediaType unit) override {
        calls.push_back("tur " + std::to_string(unit));
        return ready ? 1 : 0;
    }
    SenseStatus GetSenseStatus(MediaType unit) override {
        calls.push_back("sense " + std::to_string(unit));
        if (senses.empty()) return SenseNone;
        const SenseStatus status = senses.front();
        senses.pop_front();
        return status;
    }
    int ReadCapacity(MediaType unit, std::uint8_t reply[8]) override {
        calls.push_back("capacity " + std::to_string(unit));
        // A failed transfer may still have put bytes into the buffer: a plausible size, so that
        // showing it would be seen.
        const std::uint32_t value = capacityOk ? lastBlockAddress : 125055;
        reply[0] = static_cast<std::uint8_t>(value >> 24);
        reply[1] = static_cast<std::uint8_t>(value >> 16);
        reply[2] = static_cast<std::uint8_t>(value >> 8);
        reply[3] = static_cast<std::uint8_t>(value);
        reply[4] = 0;
        reply[5] = 0;
        reply[6] = 2;
        reply[7] = 0;
        return capacityOk ? 1 : 0;
    }
    int StopUnit(MediaType unit) override {
        calls.push_back("stop " + std::to_string(unit));
        return 1;
    }
    bool IsWriteProtected(MediaType unit) override {
        calls.push_back("write protect " + std::to_string(unit));
        return writeProtected;
    }
    FormatResult RunPhysicalFormat(RunInterface& run, MediaType unit, FormatMode mode) override {
        calls.push_back("format " + std::to_string(unit) + " " +
                        std::to_string(static_cast<int>(mode)));
        ++formats;
        return format ? format(run, unit, mode) : FormatResult::Failed;
    }
    void CloseTransport() override {
        calls.push_back("close");
        if (onClose) onClose();
    }

    int Count(const std::string& call) const {
        int n = 0;
        for (const std::string& c : calls) n += c == call ? 1 : 0;
        return n;
    }

    int openResult = 1;
    std::vector<MediaType> units;
    bool ready = true;
    std::deque<SenseStatus> senses;  // answers in order; SenseNone once empty
    bool capacityOk = true;
    std::uint32_t lastBlockAddress = 125055;
    bool writeProtected = false;
    std::function<FormatResult(RunInterface&, MediaType, FormatMode)> format;
    std::function<void()> onClose;
    std::vector<std::string> calls;
    int discoveries = 0;
    int formats = 0;
};
