// The station's screen: what a frame holds for a given terminal, and a run of 32 sticks drawn on
// a 20-row pseudo-terminal, read back through a small model of the terminal's screen.
#include "cli/output/station_frame.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli/output/station_view.h"
#include "tests/screen_model.h"

namespace {

ScreenStick Stick(int n, StickStanding standing, std::uint64_t changed, long left = -1) {
    ScreenStick s;
    s.line = "sim:s" + std::to_string(n) + "  the line of stick " + std::to_string(n);
    s.standing = standing;
    s.changed = changed;
    s.secondsLeft = left;
    return s;
}

bool Has(const std::vector<std::string>& frame, const std::string& text) {
    for (const std::string& line : frame) {
        if (line.find(text) != std::string::npos) return true;
    }
    return false;
}

TEST(StationFrame, ThirtyTwoSticksOnTwentyRowsKeepTheFailedAndTheLatestInView) {
    std::vector<ScreenStick> sticks;
    for (int n = 1; n <= 32; ++n) {
        StickStanding standing = n <= 20 ? StickStanding::Running : StickStanding::Complete;
        if (n == 3 || n == 27) standing = StickStanding::Failed;
        if (n == 31) standing = StickStanding::Retired;
        sticks.push_back(Stick(n, standing, static_cast<std::uint64_t>(n), n <= 20 ? 10 * n : -1));
    }
    sticks[4].changed = 100;  // s5 changed last of all
    const std::vector<std::string> frame = StationFrame(sticks, 20, 80);
    ASSERT_EQ(frame.size(), 19u);
    EXPECT_EQ(frame[0], "32 sticks: 19 running, 10 complete, 2 failed, 1 retired; 3:20 left");
    // Room for 17 sticks: the two failed first, then by the latest change: s5, then s32 down
    // to s18.
    EXPECT_TRUE(Has(frame, "sim:s3 "));
    EXPECT_TRUE(Has(frame, "sim:s27 "));
    EXPECT_TRUE(Has(frame, "sim:s5 "));
    for (int n = 18; n <= 32; ++n) EXPECT_TRUE(Has(frame, "sim:s" + std::to_string(n) + " ")) << n;
    EXPECT_FALSE(Has(frame, "sim:s17 "));
    EXPECT_FALSE(Has(frame, "sim:s1 "));
    EXPECT_EQ(frame[18], "... 15 more: 15 running");
    // In the sticks' own order.
    EXPECT_EQ(frame[1].substr(0, 7), "sim:s3 ");
    EXPECT_EQ(frame[2].substr(0, 7), "sim:s5 ");
    EXPECT_EQ(frame[17].substr(0, 8), "sim:s32 ");
    for (const std::string& line : frame) EXPECT_LT(line.size(), 80u);
}

TEST(StationFrame, EveryStickFitsWhenThereIsRoomAndTinyTerminalsGetTheTotals) {
    std::vector<ScreenStick> sticks;
    for (int n = 1; n <= 10; ++n) sticks.push_back(Stick(n, StickStanding::Complete, n));
    const std::vector<std::string> all = StationFrame(sticks, 20, 80);
    ASSERT_EQ(all.size(), 11u);
    EXPECT_EQ(all[0], "10 sticks: 0 running, 10 complete, 0 failed, 0 retired");
    EXPECT_EQ(all[10].substr(0, 9), "sim:s10  ");
    EXPECT_EQ(StationFrame(sticks, 11, 80).size(), 10u);  // one short: 8 sticks and a summary
    EXPECT_EQ(StationFrame(sticks, 11, 80).back(), "... 2 more: 2 complete");
    EXPECT_EQ(StationFrame(sticks, 3, 80),
              (std::vector<std::string>{all[0], "... 10 more: 10 complete"}));
    EXPECT_EQ(StationFrame(sticks, 2, 80), std::vector<std::string>{all[0]});
    EXPECT_EQ(StationFrame(sticks, 1, 80), std::vector<std::string>{all[0]});
    for (const std::string& line : StationFrame(sticks, 20, 12)) EXPECT_EQ(line.size(), 11u);
}

TEST(StationFrame, MoreFailedSticksThanRowsShowTheLatestFailures) {
    std::vector<ScreenStick> sticks;
    for (int n = 1; n <= 30; ++n) sticks.push_back(Stick(n, StickStanding::Failed, n));
    const std::vector<std::string> frame = StationFrame(sticks, 8, 80);
    ASSERT_EQ(frame.size(), 7u);
    for (int n = 26; n <= 30; ++n) EXPECT_TRUE(Has(frame, "sim:s" + std::to_string(n) + " "));
    EXPECT_EQ(frame.back(), "... 25 more: 25 failed");
}

TEST(StationFrame, TheTotalsTellTheLongestTimeLeft) {
    EXPECT_EQ(StationTotals({Stick(1, StickStanding::Running, 1, 65),
                             Stick(2, StickStanding::Running, 1, 3725),
                             Stick(3, StickStanding::Complete, 1, 99999)}),
              "3 sticks: 2 running, 1 complete, 0 failed, 0 retired; 1:02:05 left");
    EXPECT_EQ(StationTotals({Stick(1, StickStanding::Running, 1)}),
              "1 stick: 1 running, 0 complete, 0 failed, 0 retired; time left unknown");
    EXPECT_EQ(StationTotals({}), "0 sticks: 0 running, 0 complete, 0 failed, 0 retired");
}

// A pseudo-terminal of a given size: the view writes to its slave, the test reads the master.
class Pty {
  public:
    Pty(int rows, int columns) {
        winsize size = {};
        size.ws_row = static_cast<unsigned short>(rows);
        size.ws_col = static_cast<unsigned short>(columns);
        if (openpty(&master_, &slave_, nullptr, nullptr, &size) != 0) return;
        termios raw = {};
        tcgetattr(slave_, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave_, TCSANOW, &raw);
        fcntl(master_, F_SETFL, O_NONBLOCK);
        out = fdopen(slave_, "w");
    }
    ~Pty() {
        if (out != nullptr) std::fclose(out);
        if (master_ >= 0) close(master_);
    }
    void Resize(int rows, int columns) {
        winsize size = {};
        size.ws_row = static_cast<unsigned short>(rows);
        size.ws_col = static_cast<unsigned short>(columns);
        ioctl(slave_, TIOCSWINSZ, &size);
    }
    // What the view wrote since the last call.
    std::string Drain() {
        std::string bytes;
        char buffer[4096];
        for (;;) {
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n <= 0) break;
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
        return bytes;
    }

    std::FILE* out = nullptr;

  private:
    int master_ = -1;
    int slave_ = -1;
};

using brevant_test::ScreenModel;

TEST(StationView, ThirtyTwoSticksOnATwentyRowTerminalNeverScroll) {
    constexpr int kRows = 20;
    constexpr int kColumns = 100;
    Pty pty(kRows, kColumns);
    ASSERT_NE(pty.out, nullptr);
    ScreenModel screen(kRows, kColumns);
    screen.Feed(std::string(kRows - 1, '\n'));  // the prompt left the cursor at the bottom

    std::vector<StationStick> sticks(32);
    for (std::size_t i = 0; i < sticks.size(); ++i) {
        sticks[i].identity.node = "sim:s" + std::to_string(i + 1);
        sticks[i].status.totalBlocks = 1024;
        sticks[i].status.phase = "scan";
    }
    StationView view(pty.out, true);
    view.Show(sticks);
    screen.Feed(pty.Drain());
    const int scrollsOfTheFirstFrame = screen.scrolls;
    EXPECT_LE(scrollsOfTheFirstFrame, kRows - 1);

    // Every stick goes through the scan at its own pace; a few fail, the others complete.
    for (std::uint32_t step = 1; step <= 64; ++step) {
        for (std::size_t i = 0; i < sticks.size(); ++i) {
            WorkerStatus& s = sticks[i].status;
            if (s.ended) continue;
            s.blocksDone = std::min<std::uint32_t>(1024, step * static_cast<std::uint32_t>(16 + i));
            if (i % 10 == 3 && s.blocksDone > 300) {
                s.ended = true;
                s.result = "removed";
            } else if (s.blocksDone == 1024) {
                s.ended = true;
                s.result = "complete";
            }
        }
        if (step == 40) {
            pty.Resize(12, kColumns);
            screen.Resize(12);
        }
        view.Show(sticks, step == 64);
        screen.Feed(pty.Drain());
        EXPECT_EQ(screen.scrolls, scrollsOfTheFirstFrame) << "step " << step;
    }
    EXPECT_EQ(screen.wraps, 0);
    const std::vector<std::string> lines = screen.Lines();
    ASSERT_EQ(lines.size(), 12u);
    // The last frame, once: the totals, the failed sticks, a summary; the cursor below it.
    EXPECT_EQ(lines[0], "32 sticks: 0 running, 29 complete, 3 failed, 0 retired");
    for (const std::string failed : {"sim:s4 ", "sim:s14 ", "sim:s24 "}) {
        int seen = 0;
        for (const std::string& line : lines) seen += line.rfind(failed, 0) == 0 ? 1 : 0;
        EXPECT_EQ(seen, 1) << failed;
    }
    EXPECT_EQ(lines[10], "... 23 more: 23 complete");
    EXPECT_EQ(screen.Row(), 11);
}

// Off a terminal every line stays: a stick that has ended is told once, however long a watch
// goes on after it; while sticks run, the totals and their figures come again.
TEST(StationView, OffATerminalAStickThatEndedIsToldOnce) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    std::vector<StationStick> sticks(3);
    for (std::size_t i = 0; i < sticks.size(); ++i) {
        sticks[i].identity.node = "sim:s" + std::to_string(i + 1);
        sticks[i].status.totalBlocks = 1024;
        sticks[i].status.phase = "scan";
    }
    sticks[0].status.ended = true;
    sticks[0].status.result = "complete";
    // No pause between the plain lines: every look is one at which they would be due.
    StationView view(out, false, 0);
    for (int look = 0; look < 10; ++look) view.Show(sticks);
    sticks[1].status.ended = true;
    sticks[1].status.result = "removed";
    sticks[2].status.ended = true;
    sticks[2].status.result = "complete";
    for (int look = 0; look < 10; ++look) view.Show(sticks);
    std::rewind(out);
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;)
        text.append(buffer, n);
    std::fclose(out);
    auto count = [&text](const std::string& what) {
        int n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos;
             at = text.find(what, at + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(count("sim:s1  complete"), 1) << text;
    EXPECT_EQ(count("sim:s2  removed"), 1) << text;
    EXPECT_EQ(count("sim:s3  complete"), 1) << text;
    // While two ran, each look told them and the totals again; none once all had ended.
    EXPECT_EQ(count("3 sticks: 2 running"), 10) << text;
    EXPECT_EQ(count("sim:s2    0%"), 10) << text;
    EXPECT_EQ(count("3 sticks: 0 running"), 0) << text;
}

}  // namespace
