// How Brevant.exe looks under Wine at 100 % (96 DPI) and 150 % (144 DPI): screenshots of the
// main dialog and the About box, with every control where the template puts it at that DPI and
// the banner filling its control exactly, its texts inside, nothing of it outside.
//
// Wine takes the DPI from the registry (HKCU\Control Panel\Desktop, LogPixels) when a program
// starts; a test sets it before it starts the program and puts 96 back afterwards.

#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/wine/wine_session.h"

namespace winetest {
namespace {

const char kTitle[] = "Brevant Utility";
const char kAboutTitle[] = "About Brevant";

const char kSmallDisk[] =
    "reader adapter=0 target=0\n"
    "unit DS drive=E\n"
    "banks 73\n"
    "cis page=0\n";

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const Rect& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

std::ostream& operator<<(std::ostream& out, const Rect& r) {
    return out << "(" << r.left << "," << r.top << ")-(" << r.right << "," << r.bottom << ")";
}

// Rounded a * b / c, as the window system computes dialog units into pixels.
int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    return static_cast<int>((product >= 0 ? product + c / 2 : product - c / 2) / c);
}

// A rectangle of the dialog template, in dialog units, in pixels at those base units and
// from that client origin: position and size each turned into pixels, as the dialog manager
// creates the controls.
Rect FromDialogUnits(int x, int y, int w, int h, int baseX, int baseY, int originX, int originY) {
    const int left = originX + MulDiv(x, baseX, 4), top = originY + MulDiv(y, baseY, 8);
    return {left, top, left + MulDiv(w, baseX, 4), top + MulDiv(h, baseY, 8)};
}

// The controls of the main dialog with their template rectangles; the banner (no identifier)
// is looked up as the dialog's bitmap control.
struct TemplateControl {
    const char* what;
    int x, y, w, h;
};
const TemplateControl kControls[] = {
    {"1000", 2, 90, 200, 31}, {"2", 138, 25, 64, 16},      {"1012", 2, 137, 200, 14},
    {"1013", 138, 3, 64, 16}, {"1017", 5, 54, 191, 10},    {"1018", 5, 69, 185, 10},
    {"1019", 2, 126, 82, 8},  {"bitmap", 12, 10, 113, 23},
};

// A screenshot as pixels.
struct Screen {
    int width = 0, height = 0;
    std::string rgb;
    std::array<int, 3> At(int x, int y) const {
        const auto* p = reinterpret_cast<const unsigned char*>(rgb.data()) +
                        (static_cast<std::size_t>(y) * width + x) * 3;
        return {p[0], p[1], p[2]};
    }
    bool Has(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
};

// Reads a binary PPM (P6, 8 bits); an empty screen when it cannot.
Screen ReadPpm(const std::string& path) {
    Screen screen;
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxValue = 0;
    in >> magic >> screen.width >> screen.height >> maxValue;
    in.get();
    if (magic != "P6" || maxValue != 255 || screen.width <= 0 || screen.height <= 0) return {};
    screen.rgb.resize(static_cast<std::size_t>(screen.width) * screen.height * 3);
    in.read(&screen.rgb[0], static_cast<std::streamsize>(screen.rgb.size()));
    if (!in) return {};
    return screen;
}

// The banner's background: blue well above red. The dialog's face is grey.
bool IsBannerBlue(const std::array<int, 3>& p) { return p[2] > p[0] + 60 && p[2] > 90; }
bool IsDrawn(const std::array<int, 3>& p) { return p[0] + p[1] + p[2] < 600; }
bool IsGrey(const std::array<int, 3>& p) {
    return std::abs(p[0] - p[1]) < 24 && std::abs(p[1] - p[2]) < 24;
}

class WineLooksTest : public WineTest {
  protected:
    void SetUp() override {
        WineTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(HaveBuildFile("Brevant.exe")) << "Brevant.exe is not in " << Win32Dir();
        ASSERT_TRUE(CopyFromBuild("Brevant.exe"));
        ASSERT_TRUE(CopyFromBuild("WNASPI32.DLL"));
        WriteFile("brevant-sim.txt", kSmallDisk);
    }
    void TearDown() override {
        WineTest::TearDown();  // the programs first, then the DPI of every later test
        if (dpiSet_) SetDpi(96);
    }

    void SetDpi(int dpi) {
        dpiSet_ = dpi != 96;
        ChildProcess* reg = Run("reg", {"add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels",
                                        "/t", "REG_DWORD", "/d", std::to_string(dpi), "/f"});
        ASSERT_NE(reg, nullptr);
        int status = 0;
        ASSERT_TRUE(reg->Wait(60000, &status)) << "reg add did not end";
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << OutputOf("reg");
    }

    ChildProcess* StartBrevant() {
        ChildProcess* program = Run("Brevant.exe");
        if (program == nullptr) return nullptr;
        std::string seen = Drive({"wait", kTitle, "30000"});
        EXPECT_EQ(seen, "ok") << "the dialog did not come up; " << ReadFile("out/error.txt");
        return seen == "ok" ? program : nullptr;
    }

    void ExitBrevant(ChildProcess* program) {
        ASSERT_EQ(Drive({"click", kTitle, "2"}), "ok");
        EXPECT_EQ(Drive({"gone", kTitle, "20000"}), "ok");
        ASSERT_TRUE(program->Wait(30000)) << "Brevant.exe did not end after Exit";
    }

    Rect RectOf(const std::string& title, const std::string& what) {
        const std::string reply = Drive({"rect", title, what});
        Rect r;
        std::istringstream in(reply.size() > 3 ? reply.substr(3) : "");
        EXPECT_EQ(reply.rfind("ok ", 0), 0u) << what << ": " << reply;
        in >> r.left >> r.top >> r.right >> r.bottom;
        return r;
    }

    // A screenshot, saved as <build>/wine-shots/<name>.png, as pixels, once `ready` says the
    // window is painted (or after some seconds of waiting for it).
    template <typename Ready>
    Screen ShotWhen(const std::string& name, Ready ready) {
        Screen screen;
        for (int attempt = 0; attempt < 20; ++attempt) {
            screen = Shot(name);
            if (screen.width > 0 && ready(screen)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        return screen;
    }

    // A screenshot, saved as <build>/wine-shots/<name>.png, as pixels.
    Screen Shot(const std::string& name) {
        SaveScreenshot(name);
        const std::string png =
            (std::filesystem::path(BREVANT_BINARY_DIR) / "wine-shots" / (name + ".png")).string();
        const std::string ppm = Folder() + "/" + name + ".ppm";
        const std::string command = "convert '" + png + "' '" + ppm + "' 2>/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        Screen screen = ReadPpm(ppm);
        EXPECT_GT(screen.width, 0) << "cannot read " << ppm;
        return screen;
    }

    // The main dialog at the DPI Wine was given: the window follows its monitor's DPI, every
    // control sits where the template puts it at the dialog's base units, and the banner fills
    // its control. Returns the banner's rectangle.
    Rect CheckMainDialog(int dpi, const std::string& shotName) {
        // Per monitor. (Which DPI the window has, Wine tells other processes through their
        // own; the program's own sizes below show the one it sees.)
        const std::string dpiReply = Drive({"dpi", kTitle});
        EXPECT_EQ(dpiReply.substr(dpiReply.rfind(' ') + 1), "2")
            << dpiReply << ": not aware of each monitor's DPI";
        const Rect window = RectOf(kTitle, "window");
        const Rect client = RectOf(kTitle, "client");
        std::vector<Rect> controls;
        for (const TemplateControl& c : kControls) controls.push_back(RectOf(kTitle, c.what));

        // The base units: those that give the client area and the Start button.
        int baseX = 0, baseY = 0;
        for (int x = 1; x < 64 && baseX == 0; ++x) {
            for (int y = 1; y < 64 && baseX == 0; ++y) {
                if (MulDiv(207, x, 4) == client.Width() && MulDiv(159, y, 8) == client.Height() &&
                    FromDialogUnits(138, 3, 64, 16, x, y, client.left, client.top) == controls[3]) {
                    baseX = x;
                    baseY = y;
                }
            }
        }
        EXPECT_NE(baseX, 0) << "no base units give client " << client << " and Start "
                            << controls[3];
        // The dialog grows with the DPI (its font does): at least 5 px per 4 units at 96 DPI.
        EXPECT_GE(client.Width(), 207 * 5 / 4 * dpi / 96) << client;
        EXPECT_GE(window.left, 0);
        EXPECT_GE(window.top, 0);
        EXPECT_LE(window.right, 800);
        EXPECT_LE(window.bottom, 600);
        for (std::size_t i = 0; i < controls.size(); ++i) {
            const TemplateControl& c = kControls[i];
            SCOPED_TRACE(c.what);
            EXPECT_EQ(controls[i],
                      FromDialogUnits(c.x, c.y, c.w, c.h, baseX, baseY, client.left, client.top));
            EXPECT_GE(controls[i].left, client.left);
            EXPECT_GE(controls[i].top, client.top);
            EXPECT_LE(controls[i].right, client.right);
            EXPECT_LE(controls[i].bottom, client.bottom);
        }
        const Rect banner = controls.back();
        EXPECT_LE(banner.right, controls[3].left) << "the banner runs into Start";
        EXPECT_LE(banner.right, controls[1].left) << "the banner runs into Exit";

        // Painted: the banner, and the Full button's circle (the last control to be drawn).
        const Rect full = controls[5];
        const Screen screen = ShotWhen(shotName, [&](const Screen& shot) {
            if (!BannerPainted(shot, banner) || !shot.Has(full.right, full.bottom)) return false;
            for (int y = full.top; y < full.bottom; ++y)
                for (int x = full.left; x < full.left + full.Height(); ++x)
                    if (IsDrawn(shot.At(x, y))) return true;
            return false;
        });
        if (screen.width > 0) CheckBannerPixels(screen, banner);
        return banner;
    }

    // The banner's corners show its background (the window is painted).
    static bool BannerPainted(const Screen& screen, const Rect& banner) {
        return screen.Has(banner.right, banner.bottom) && banner.Width() > 0 &&
               IsBannerBlue(screen.At(banner.left, banner.top)) &&
               IsBannerBlue(screen.At(banner.right - 1, banner.bottom - 1));
    }

    // On the screen: the banner's background reaches each edge of its control, nothing of it
    // lies outside, and its texts (the white name, the yellow subtitle below it) stay inside
    // with room to spare.
    void CheckBannerPixels(const Screen& screen, const Rect& banner) {
        ASSERT_TRUE(screen.Has(banner.left - 2, banner.top - 2) &&
                    screen.Has(banner.right + 1, banner.bottom + 1))
            << banner;
        int edgeMisses = 0, outsideBlue = 0;
        for (int x = banner.left; x < banner.right; ++x) {
            edgeMisses += !IsBannerBlue(screen.At(x, banner.top));
            edgeMisses += !IsBannerBlue(screen.At(x, banner.bottom - 1));
        }
        for (int y = banner.top; y < banner.bottom; ++y) {
            edgeMisses += !IsBannerBlue(screen.At(banner.left, y));
            edgeMisses += !IsBannerBlue(screen.At(banner.right - 1, y));
        }
        EXPECT_EQ(edgeMisses, 0) << "the banner does not fill its control " << banner;
        for (int ring = 1; ring <= 2; ++ring) {
            for (int x = banner.left - ring; x < banner.right + ring; ++x) {
                outsideBlue += !IsGrey(screen.At(x, banner.top - ring));
                outsideBlue += !IsGrey(screen.At(x, banner.bottom - 1 + ring));
            }
            for (int y = banner.top - ring; y < banner.bottom + ring; ++y) {
                outsideBlue += !IsGrey(screen.At(banner.left - ring, y));
                outsideBlue += !IsGrey(screen.At(banner.right - 1 + ring, y));
            }
        }
        EXPECT_EQ(outsideBlue, 0) << "something of the banner lies outside " << banner;

        // Ink: what differs from its row's background (the row's first pixel: the banner's
        // background runs from top to bottom only).
        Rect ink{banner.right, banner.bottom, banner.left - 1, banner.top - 1};
        int white = 0, yellow = 0, lastWhiteRow = -1, firstYellowRow = banner.bottom;
        for (int y = banner.top; y < banner.bottom; ++y) {
            const auto background = screen.At(banner.left, y);
            for (int x = banner.left; x < banner.right; ++x) {
                const auto p = screen.At(x, y);
                if (std::abs(p[0] - background[0]) + std::abs(p[1] - background[1]) +
                        std::abs(p[2] - background[2]) <=
                    24)
                    continue;
                ink = {std::min(ink.left, x), std::min(ink.top, y), std::max(ink.right, x),
                       std::max(ink.bottom, y)};
                if (p[0] > 150 && p[0] > p[2] + 60) {
                    ++yellow;
                    firstYellowRow = std::min(firstYellowRow, y);
                }
                if (p[0] > 230 && p[1] > 230 && p[2] > 230) {
                    ++white;
                    lastWhiteRow = std::max(lastWhiteRow, y);
                }
            }
        }
        const int area = banner.Width() * banner.Height();
        EXPECT_GT(white, area / 60) << "no name on the banner";
        EXPECT_GT(yellow, area / 100) << "no subtitle on the banner";
        EXPECT_LT(lastWhiteRow, firstYellowRow) << "the subtitle runs into the name";
        const int margin = std::max(2, banner.Height() / 10);
        EXPECT_GE(ink.left - banner.left, margin) << "ink " << ink << " in " << banner;
        EXPECT_GE(ink.top - banner.top, margin) << "ink " << ink << " in " << banner;
        EXPECT_GE(banner.right - 1 - ink.right, margin) << "ink " << ink << " in " << banner;
        EXPECT_GE(banner.bottom - 1 - ink.bottom, margin) << "ink " << ink << " in " << banner;
    }

    // The About box's icon is the large icon of the DPI, drawn with its transparency: blue of
    // the flash disk's body inside, the dialog's face at the corners.
    void CheckAboutBox(int iconSize, const std::string& shotName) {
        ASSERT_EQ(Drive({"post", kTitle, "0x112", "0x10", "0"}), "ok");
        ASSERT_EQ(Drive({"box", kAboutTitle, "10000"}).rfind("ok ", 0), 0u);
        const Rect icon = RectOf(kAboutTitle, "icon");
        EXPECT_EQ(icon.Width(), iconSize) << icon;
        EXPECT_EQ(icon.Height(), iconSize) << icon;
        const Screen screen = ShotWhen(shotName, [&](const Screen& shot) {
            return shot.Has(icon.right, icon.bottom) &&
                   IsBannerBlue(shot.At(icon.left + iconSize * 5 / 16, icon.bottom - iconSize / 5));
        });
        if (screen.width > 0 && screen.Has(icon.right, icon.bottom) && icon.Width() > 4) {
            int blue = 0;
            for (int y = icon.top; y < icon.bottom; ++y)
                for (int x = icon.left; x < icon.right; ++x) blue += IsBannerBlue(screen.At(x, y));
            EXPECT_GT(blue, iconSize * iconSize / 4) << "no icon drawn in " << icon;
            EXPECT_TRUE(IsGrey(screen.At(icon.left, icon.top)));
            EXPECT_TRUE(IsGrey(screen.At(icon.right - 1, icon.top)));
        }
        EXPECT_EQ(Drive({"answer", kAboutTitle, "1"}), "ok");
    }

  private:
    bool dpiSet_ = false;
};

TEST_F(WineLooksTest, At96DpiEveryControlAndTheBannerSitWhereTheTemplateSays) {
    SetDpi(96);
    ChildProcess* program = StartBrevant();
    ASSERT_NE(program, nullptr);
    const Rect banner = CheckMainDialog(96, "brevant-96dpi");
    EXPECT_GE(banner.Width(), 170) << banner;
    CheckAboutBox(32, "brevant-about-96dpi");
    ExitBrevant(program);
}

TEST_F(WineLooksTest, At144DpiTheDialogAndTheBannerAreScaled) {
    SetDpi(144);
    ChildProcess* program = StartBrevant();
    ASSERT_NE(program, nullptr);
    const Rect banner = CheckMainDialog(144, "brevant-144dpi");
    EXPECT_GE(banner.Width(), 170 * 3 / 2) << banner;
    CheckAboutBox(48, "brevant-about-144dpi");
    ExitBrevant(program);
}

// The window moved to a screen of another DPI: it takes the rectangle suggested with the
// notice, and the banner still fills its control (Wine's dialog manager leaves the controls
// as they are, so the control keeps its rectangle).
TEST_F(WineLooksTest, DpiChangeMovesTheWindowToTheSuggestedRectangle) {
    SetDpi(96);
    ChildProcess* program = StartBrevant();
    ASSERT_NE(program, nullptr);
    const Rect before = RectOf(kTitle, "window");
    const Rect suggested{40, 30, 40 + before.Width() * 3 / 2, 30 + before.Height() * 3 / 2};
    ASSERT_EQ(Drive({"dpichanged", kTitle, "144", std::to_string(suggested.left),
                     std::to_string(suggested.top), std::to_string(suggested.right),
                     std::to_string(suggested.bottom), "10000"}),
              "ok");
    EXPECT_EQ(RectOf(kTitle, "window"), suggested);
    // The banner is fitted again by a message the notice posts. A window takes the messages sent
    // to it before its next posted one: once it has answered two sent after the notice, it has
    // handled the posted one between them.
    for (int i = 0; i < 2; ++i) ASSERT_EQ(Drive({"send", kTitle, "0", "0", "0", "10000"}), "ok 0");
    const Rect client = RectOf(kTitle, "client");
    const Rect banner = RectOf(kTitle, "bitmap");
    EXPECT_GE(banner.left, client.left);
    EXPECT_GE(banner.top, client.top);
    const Screen screen = ShotWhen("brevant-dpi-changed",
                                   [&](const Screen& shot) { return BannerPainted(shot, banner); });
    if (screen.width > 0) CheckBannerPixels(screen, banner);
    ExitBrevant(program);
}

}  // namespace
}  // namespace winetest
