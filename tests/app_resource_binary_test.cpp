// The resources as the Windows program carries them: the script is compiled with the mingw
// resource compiler and the binary templates, strings and manifest are read back. The compiler
// adds default styles of its own to some statements, so only the compiled form shows what the
// window system will create.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/string_table.h"
#include "res/resource.h"
#include "tests/temp_dir.h"

namespace {

constexpr std::uint32_t kPopup = 0x80000000, kChild = 0x40000000, kVisible = 0x10000000;
constexpr std::uint32_t kCaption = 0x00C00000, kBorder = 0x00800000, kSysMenu = 0x00080000;
constexpr std::uint32_t kGroup = 0x00020000, kTabStop = 0x00010000;
constexpr std::uint32_t kModalFrame = 0x80, kSetFont = 0x40;
constexpr std::uint32_t kSunken = 0x1000, kBitmap = 0x0E, kIcon = 0x03, kNoPrefix = 0x80;
constexpr std::uint32_t kGroupBox = 0x07, kAutoRadio = 0x09, kDefPush = 0x01;
constexpr std::uint32_t kControl = kChild | kVisible;

constexpr int kTypeBitmap = 2, kTypeIcon = 3, kTypeDialog = 5, kTypeString = 6;
constexpr int kTypeGroupIcon = 14;
constexpr int kTypeVersion = 16, kTypeManifest = 24;

// A resource name or class: an ordinal (text empty) or a text.
struct Name {
    int ordinal = -1;
    std::string text;
    bool operator==(const Name& other) const {
        return ordinal == other.ordinal && text == other.text;
    }
};

Name Ordinal(int value) { return {value, ""}; }
Name Text(const std::string& text) { return {-1, text}; }

std::ostream& operator<<(std::ostream& out, const Name& name) {
    return name.ordinal >= 0 ? out << "#" << name.ordinal : out << '"' << name.text << '"';
}

class Reader {
  public:
    Reader(const std::string& bytes, std::size_t at) : bytes_(bytes), at_(at) {}
    bool Ok() const { return ok_; }
    std::size_t At() const { return at_; }
    void AlignTo4() { at_ = (at_ + 3) & ~std::size_t{3}; }
    std::uint8_t Byte() {
        if (at_ + 1 > bytes_.size()) {
            ok_ = false;
            return 0;
        }
        return static_cast<std::uint8_t>(bytes_[at_++]);
    }
    std::uint16_t Word() {
        if (at_ + 2 > bytes_.size()) {
            ok_ = false;
            return 0;
        }
        const auto b = reinterpret_cast<const unsigned char*>(bytes_.data()) + at_;
        at_ += 2;
        return static_cast<std::uint16_t>(b[0] | b[1] << 8);
    }
    std::uint32_t Dword() {
        const std::uint32_t low = Word();
        return low | static_cast<std::uint32_t>(Word()) << 16;
    }
    // A zero-terminated UTF-16 text of plain ASCII characters.
    std::string Utf16() {
        std::string text;
        while (ok_) {
            const std::uint16_t c = Word();
            if (c == 0) break;
            text += c < 0x80 ? static_cast<char>(c) : '?';
        }
        return text;
    }
    Name NameOrOrdinal() {
        if (at_ + 2 <= bytes_.size() && static_cast<unsigned char>(bytes_[at_]) == 0xFF &&
            static_cast<unsigned char>(bytes_[at_ + 1]) == 0xFF) {
            Word();
            return Ordinal(Word());
        }
        return Text(Utf16());
    }

  private:
    const std::string& bytes_;
    std::size_t at_;
    bool ok_ = true;
};

struct ControlItem {
    int id;
    Name cls;
    Name text;
    int x, y, w, h;
    std::uint32_t style;
};

struct DialogTemplate {
    std::uint32_t style = 0;
    int x = 0, y = 0, w = 0, h = 0;
    std::string caption;
    int fontSize = 0;
    std::string font;
    std::vector<ControlItem> controls;
};

class CompiledResources : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.Path().empty());
        const std::string out = dir_.Path() + "/brevant.res";
        const std::string res = std::string(BREVANT_SOURCE_DIR) + "/res";
        const std::string command = "i686-w64-mingw32-windres -I '" + res + "' '" + res +
                                    "/brevant.rc' -O res -o '" + out + "' 2>/dev/null";
        if (std::system("command -v i686-w64-mingw32-windres >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "no mingw resource compiler";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        std::ifstream in(out, std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        ParseEntries();
    }

    // The data of resource (type, name); empty when there is none.
    std::string Data(int type, int name) const {
        const auto found = entries_.find({type, name});
        return found == entries_.end() ? std::string() : found->second;
    }
    bool Has(int type, int name) const { return entries_.count({type, name}) != 0; }

    DialogTemplate Dialog(int name) const {
        const std::string data = Data(kTypeDialog, name);
        DialogTemplate dialog;
        Reader r(data, 0);
        dialog.style = r.Dword();
        r.Dword();  // extended style
        const int count = r.Word();
        dialog.x = static_cast<std::int16_t>(r.Word());
        dialog.y = static_cast<std::int16_t>(r.Word());
        dialog.w = static_cast<std::int16_t>(r.Word());
        dialog.h = static_cast<std::int16_t>(r.Word());
        r.NameOrOrdinal();  // menu
        r.NameOrOrdinal();  // class
        dialog.caption = r.Utf16();
        if (dialog.style & kSetFont) {
            dialog.fontSize = r.Word();
            dialog.font = r.Utf16();
        }
        for (int i = 0; i < count && r.Ok(); ++i) {
            r.AlignTo4();
            ControlItem item{};
            item.style = r.Dword();
            r.Dword();
            item.x = static_cast<std::int16_t>(r.Word());
            item.y = static_cast<std::int16_t>(r.Word());
            item.w = static_cast<std::int16_t>(r.Word());
            item.h = static_cast<std::int16_t>(r.Word());
            item.id = static_cast<std::int16_t>(r.Word());
            item.cls = r.NameOrOrdinal();
            item.text = r.NameOrOrdinal();
            const std::uint16_t extra = r.Word();
            for (std::uint16_t k = 0; k < extra; k += 2) r.Word();
            dialog.controls.push_back(item);
        }
        EXPECT_TRUE(r.Ok());
        return dialog;
    }

    // Every string of the table by number; empty strings are not stored.
    std::map<int, std::string> Strings() const {
        std::map<int, std::string> strings;
        for (const auto& [key, data] : entries_) {
            if (key.first != kTypeString) continue;
            Reader r(data, 0);
            for (int i = 0; i < 16 && r.Ok(); ++i) {
                const std::uint16_t length = r.Word();
                std::string text;
                for (std::uint16_t k = 0; k < length; ++k) text += static_cast<char>(r.Word());
                if (length != 0) strings[(key.second - 1) * 16 + i] = text;
            }
        }
        return strings;
    }

  private:
    void ParseEntries() {
        std::size_t at = 0;
        while (at + 8 <= bytes_.size()) {
            Reader r(bytes_, at);
            const std::uint32_t dataSize = r.Dword();
            const std::uint32_t headerSize = r.Dword();
            const Name type = r.NameOrOrdinal();
            const Name name = r.NameOrOrdinal();
            ASSERT_TRUE(r.Ok());
            ASSERT_LE(at + headerSize + dataSize, bytes_.size());
            if (type.ordinal >= 0 && name.ordinal >= 0 && dataSize != 0)
                entries_[{type.ordinal, name.ordinal}] = bytes_.substr(at + headerSize, dataSize);
            at = (at + headerSize + dataSize + 3) & ~std::size_t{3};
        }
    }

    TempDir dir_;
    std::string bytes_;
    std::map<std::pair<int, int>, std::string> entries_;
};

void ExpectControl(const ControlItem& c, int id, const Name& cls, const Name& text, int x, int y,
                   int w, int h, std::uint32_t style) {
    SCOPED_TRACE("control " + std::to_string(id));
    EXPECT_EQ(c.id, id);
    EXPECT_EQ(c.cls, cls);
    EXPECT_EQ(c.text, text);
    EXPECT_EQ(c.x, x);
    EXPECT_EQ(c.y, y);
    EXPECT_EQ(c.w, w);
    EXPECT_EQ(c.h, h);
    EXPECT_EQ(c.style, style) << std::hex << c.style;
}

const Name kButton = Ordinal(0x80), kStatic = Ordinal(0x82);

TEST_F(CompiledResources, MainDialogTemplateControlByControl) {
    const DialogTemplate d = Dialog(IDD_FORMAT_DIALOG);
    EXPECT_EQ(d.style, kPopup | kCaption | kSysMenu | kModalFrame | kSetFont)
        << std::hex << d.style;
    EXPECT_EQ(d.w, 207);
    EXPECT_EQ(d.h, 159);
    EXPECT_EQ(d.caption, "Brevant Utility");
    EXPECT_EQ(d.caption, AppString(IDS_TITLE));  // what a second copy looks for
    EXPECT_EQ(d.fontSize, 8);
    EXPECT_EQ(d.font, "MS Sans Serif");
    ASSERT_EQ(d.controls.size(), 9u);
    // Class names may come as texts or as the predefined ordinals; compare what the script gives.
    const auto& c = d.controls;
    ExpectControl(c[0], 1000, c[0].cls.ordinal >= 0 ? kStatic : Text("STATIC"), Text(""), 2, 90,
                  200, 31, kControl | kSunken | kGroup);
    ExpectControl(c[1], 2, kButton, Text("Exit"), 138, 25, 64, 16, kControl | kTabStop);
    ExpectControl(c[2], 1012, Text("MSCTLS_PROGRESS32"), Text(""), 2, 137, 200, 14,
                  kControl | kBorder);
    ExpectControl(c[3], 1013, kButton, Text("Start"), 138, 3, 64, 16, kControl | kTabStop);
    ExpectControl(c[4], -1, kButton, Text("Select Format Type"), 2, 42, 200, 42,
                  kControl | kGroupBox);
    const Name radioClass = c[5].cls.ordinal >= 0 ? kButton : Text("BUTTON");
    ExpectControl(c[5], 1017, radioClass,
                  Text("Quick ( Scan for bad blocks and restore required tables )"), 5, 54, 191, 10,
                  kControl | kAutoRadio);
    ExpectControl(c[6], 1018, radioClass, Text("Full    ( Quick format + Surface tests )"), 5, 69,
                  185, 10, kControl | kAutoRadio);
    const Name staticClass = c[7].cls.ordinal >= 0 ? kStatic : Text("STATIC");
    ExpectControl(c[7], 1019, staticClass, Text(""), 2, 126, 82, 8, kControl | kGroup);
    ExpectControl(c[8], -1, staticClass, Ordinal(IDB_BANNER), 12, 10, 113, 23, kControl | kBitmap);
    // Enter must not become a command of its own: no default button, nothing with the OK id.
    for (const ControlItem& item : c) {
        EXPECT_NE(item.id, 1);
        if (item.cls == kButton && (item.style & 0x0F) == kDefPush) ADD_FAILURE() << item.id;
    }
}

TEST_F(CompiledResources, AboutDialogTemplate) {
    const DialogTemplate d = Dialog(IDD_ABOUTBOX);
    EXPECT_EQ(d.style, kPopup | kCaption | kSysMenu | kModalFrame | kSetFont)
        << std::hex << d.style;
    EXPECT_EQ(d.w, 209);
    EXPECT_EQ(d.h, 58);
    EXPECT_EQ(d.caption, "About Brevant");
    EXPECT_EQ(d.font, "MS Sans Serif");
    ASSERT_EQ(d.controls.size(), 4u);
    const auto& c = d.controls;
    EXPECT_EQ(c[0].text, Ordinal(IDR_ABOUT_ICON));
    EXPECT_EQ(c[0].style & 0x1F, kIcon);
    EXPECT_EQ(std::make_pair(c[0].x, c[0].y), std::make_pair(11, 16));
    EXPECT_EQ(c[1].text, Text("Brevant Version 1.01a"));
    EXPECT_EQ(c[1].style & ~kNoPrefix, kControl);
    EXPECT_EQ(std::make_tuple(c[1].x, c[1].y, c[1].w, c[1].h), std::make_tuple(41, 17, 119, 8));
    EXPECT_FALSE(c[2].text.text.empty());
    EXPECT_EQ(std::make_tuple(c[2].x, c[2].y, c[2].w, c[2].h), std::make_tuple(41, 31, 142, 8));
    ExpectControl(c[3], 1, kButton, Text("OK"), 152, 7, 50, 14,
                  kControl | kTabStop | kGroup | kDefPush);
}

TEST_F(CompiledResources, StringTableHoldsTheProgramsTextsByteForByte) {
    const std::map<int, std::string> strings = Strings();
    std::size_t nonEmpty = 0;
    for (std::size_t i = 0; i < kAppStringCount; ++i) {
        const std::string expected = kAppStrings[i].text;
        const auto found = strings.find(kAppStrings[i].id);
        if (expected.empty()) {
            EXPECT_EQ(found, strings.end()) << kAppStrings[i].id;
            continue;
        }
        ++nonEmpty;
        ASSERT_NE(found, strings.end()) << kAppStrings[i].id;
        EXPECT_EQ(found->second, expected) << kAppStrings[i].id;
    }
    EXPECT_EQ(strings.size(), nonEmpty);  // nothing beyond the program's own texts
    EXPECT_EQ(strings.at(IDS_CLICK_START), "Click \"Start\" to start formatting");
    EXPECT_EQ(strings.at(IDS_CONFIRM_ERASE).find('\r'), std::string::npos);
}

TEST_F(CompiledResources, IconsBitmapVersionAndManifest) {
    EXPECT_TRUE(Has(kTypeGroupIcon, IDR_ABOUT_ICON));
    EXPECT_TRUE(Has(kTypeGroupIcon, IDR_MAINFRAME));
    EXPECT_TRUE(Has(kTypeBitmap, IDB_BANNER));
    EXPECT_TRUE(Has(kTypeVersion, 1));
    const std::string manifest = Data(kTypeManifest, 1);
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
    // Per-monitor V2 where the system knows it, per monitor before that; and for the systems
    // that read only the older element, per monitor too.
    EXPECT_NE(manifest.find("<dpiAwareness "
                            "xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
                            "PerMonitorV2, PerMonitor</dpiAwareness>"),
              std::string::npos);
    EXPECT_NE(manifest.find("<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/"
                            "WindowsSettings\">true/pm</dpiAware>"),
              std::string::npos);
    EXPECT_NE(manifest.find("<windowsSettings>"), std::string::npos);
    EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);  // 10/11
    EXPECT_NE(manifest.find("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"), std::string::npos);  // 7
}

// One image of an icon group as the group lists it and as its icon resource holds it.
struct IconImage {
    int listedSize = 0;  // the group's width (0 stands for 256)
    int listedHeight = 0;
    int listedBits = 0;  // colour bits the group states
    int listedBytes = 0;
    std::string data;  // the icon resource
};

std::vector<IconImage> IconGroup(const std::string& group,
                                 const std::map<int, std::string>& icons) {
    std::vector<IconImage> images;
    Reader r(group, 0);
    EXPECT_EQ(r.Word(), 0);  // reserved
    EXPECT_EQ(r.Word(), 1);  // icons, not cursors
    const int count = r.Word();
    for (int i = 0; i < count && r.Ok(); ++i) {
        IconImage image;
        image.listedSize = r.Byte();
        image.listedHeight = r.Byte();
        r.Byte();  // colour count: none below 8 bits
        r.Byte();
        r.Word();  // planes
        image.listedBits = r.Word();
        image.listedBytes = static_cast<int>(r.Dword());
        const int id = r.Word();
        const auto found = icons.find(id);
        if (found != icons.end()) image.data = found->second;
        images.push_back(image);
    }
    EXPECT_TRUE(r.Ok());
    return images;
}

std::uint32_t BigEndian32(const std::string& bytes, std::size_t at) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
    return std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3];
}

// The icon the window, the task bar and the About box pick their images from: every size that
// a screen of 100 to 200 % asks for, each in 32-bit colour with an alpha channel that is used
// (transparent around the shape, opaque inside, soft at the edges).
TEST_F(CompiledResources, IconGroupsHoldEverySizeIn32BitColourWithAlpha) {
    std::map<int, std::string> icons;
    for (int id = 1; id < 200; ++id)
        if (Has(kTypeIcon, id)) icons[id] = Data(kTypeIcon, id);
    for (int groupId : {IDR_MAINFRAME, IDR_ABOUT_ICON}) {
        SCOPED_TRACE("icon group " + std::to_string(groupId));
        ASSERT_TRUE(Has(kTypeGroupIcon, groupId));
        std::vector<int> sizes;
        for (const IconImage& image : IconGroup(Data(kTypeGroupIcon, groupId), icons)) {
            const int size = image.listedSize == 0 ? 256 : image.listedSize;
            SCOPED_TRACE("size " + std::to_string(size));
            sizes.push_back(size);
            EXPECT_EQ(image.listedHeight, image.listedSize);
            EXPECT_EQ(image.listedBits, 32);
            ASSERT_FALSE(image.data.empty()) << "the group names an icon that is not there";
            EXPECT_EQ(static_cast<int>(image.data.size()), image.listedBytes);
            if (image.data.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0) {
                // PNG-compressed: the header chunk gives the size, 8 bits per sample, RGBA.
                ASSERT_GE(image.data.size(), 33u);
                EXPECT_EQ(image.data.substr(12, 4), "IHDR");
                EXPECT_EQ(BigEndian32(image.data, 16), static_cast<std::uint32_t>(size));
                EXPECT_EQ(BigEndian32(image.data, 20), static_cast<std::uint32_t>(size));
                EXPECT_EQ(static_cast<unsigned char>(image.data[24]), 8);
                EXPECT_EQ(static_cast<unsigned char>(image.data[25]), 6);
                EXPECT_GE(size, 256) << "smaller images stay plain bitmaps for older systems";
                continue;
            }
            Reader r(image.data, 0);
            EXPECT_EQ(r.Dword(), 40u);  // BITMAPINFOHEADER
            EXPECT_EQ(static_cast<int>(r.Dword()), size);
            EXPECT_EQ(static_cast<int>(r.Dword()), 2 * size);  // colour and mask
            EXPECT_EQ(r.Word(), 1);
            EXPECT_EQ(r.Word(), 32);
            EXPECT_EQ(r.Dword(), 0u);  // BI_RGB
            const std::size_t pixels = static_cast<std::size_t>(size) * size;
            const std::size_t maskRow = ((static_cast<std::size_t>(size) + 31) / 32) * 4;
            ASSERT_EQ(image.data.size(), 40 + pixels * 4 + maskRow * size);
            int transparent = 0, opaque = 0, soft = 0;
            for (std::size_t i = 0; i < pixels; ++i) {
                const auto alpha = static_cast<unsigned char>(image.data[40 + i * 4 + 3]);
                transparent += alpha == 0;
                opaque += alpha == 255;
                soft += alpha != 0 && alpha != 255;
            }
            EXPECT_GT(transparent, 0);
            EXPECT_GT(opaque, static_cast<int>(pixels / 3));
            EXPECT_GT(soft, 0) << "edges without alpha blending";
        }
        std::sort(sizes.begin(), sizes.end());
        EXPECT_EQ(sizes, (std::vector<int>{16, 20, 24, 32, 40, 48, 64, 256}));
    }
}

// A banner bitmap: 24-bit, rows from the bottom.
struct BannerBitmap {
    int width = 0, height = 0;
    std::string data;
    std::size_t stride = 0;
    // Blue, green and red of a pixel, counting rows from the top.
    const unsigned char* At(int x, int y) const {
        return reinterpret_cast<const unsigned char*>(data.data()) + 40 +
               static_cast<std::size_t>(height - 1 - y) * stride + static_cast<std::size_t>(x) * 3;
    }
};

// The banner in its four sizes: each a 24-bit bitmap of the picture control's shape, larger by
// the screen's scale, whose texts stay well inside every edge. The background runs from top to
// bottom only, so each row's first pixel is its background and anything else on the row is ink.
TEST_F(CompiledResources, BannerBitmapsKeepTheirTextsInsideTheirEdges) {
    const int ids[] = {IDB_BANNER, IDB_BANNER_125, IDB_BANNER_150, IDB_BANNER_200};
    const int percent[] = {100, 125, 150, 200};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE("bitmap " + std::to_string(ids[i]));
        BannerBitmap b;
        b.data = Data(kTypeBitmap, ids[i]);
        Reader r(b.data, 0);
        ASSERT_EQ(r.Dword(), 40u);
        b.width = static_cast<int>(r.Dword());
        b.height = static_cast<int>(r.Dword());
        EXPECT_EQ(r.Word(), 1);
        ASSERT_EQ(r.Word(), 24);
        ASSERT_EQ(r.Dword(), 0u);
        b.stride = (static_cast<std::size_t>(b.width) * 3 + 3) & ~std::size_t{3};
        ASSERT_GE(b.data.size(), 40 + b.stride * static_cast<std::size_t>(b.height));
        // 113 x 23 dialog units are 170 x 37 px at 100 %.
        EXPECT_EQ(b.width, (170 * percent[i] + 50) / 100);
        EXPECT_EQ(b.height, (37 * percent[i] + 50) / 100);

        int left = b.width, top = b.height, right = -1, bottom = -1, yellow = 0, white = 0;
        int lastWhiteRow = -1, firstYellowRow = b.height;
        for (int y = 0; y < b.height; ++y) {
            const unsigned char* background = b.At(0, y);
            EXPECT_GT(background[0], background[2] + 60) << "row " << y << " is not blue";
            for (int x = 0; x < b.width; ++x) {
                const unsigned char* p = b.At(x, y);
                const int difference = std::abs(p[0] - background[0]) +
                                       std::abs(p[1] - background[1]) +
                                       std::abs(p[2] - background[2]);
                if (difference <= 24) continue;
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
                if (p[2] > 150 && p[2] > p[0] + 60) {  // red over blue: the yellow text
                    ++yellow;
                    firstYellowRow = std::min(firstYellowRow, y);
                }
                if (p[0] > 230 && p[1] > 230 && p[2] > 230) {
                    ++white;
                    lastWhiteRow = std::max(lastWhiteRow, y);
                }
            }
        }
        EXPECT_GT(white, b.width * b.height / 40) << "no name";
        EXPECT_GT(yellow, b.width * b.height / 100) << "no subtitle";
        EXPECT_LT(lastWhiteRow, firstYellowRow) << "the subtitle runs into the name";
        const int margin = b.height / 8;
        EXPECT_GE(left, margin);
        EXPECT_GE(top, margin);
        EXPECT_LE(right, b.width - 1 - margin);
        EXPECT_LE(bottom, b.height - 1 - margin);
    }
}

// The program puts the banner's control back where the template has it, by these numbers.
TEST_F(CompiledResources, BannerPlaceInTheProgramIsTheTemplates) {
    const DialogTemplate d = Dialog(IDD_FORMAT_DIALOG);
    ASSERT_EQ(d.controls.size(), 9u);
    const ControlItem& picture = d.controls[8];
    EXPECT_EQ(picture.style & 0x1F, kBitmap);
    EXPECT_EQ(std::make_tuple(picture.x, picture.y, picture.w, picture.h),
              std::make_tuple(BANNER_LEFT, BANNER_TOP, BANNER_WIDTH, BANNER_HEIGHT));
    int pictures = 0;
    for (const ControlItem& item : d.controls) pictures += (item.style & 0x1F) == kBitmap;
    EXPECT_EQ(pictures, 1) << "the program finds the banner as the one bitmap control";
}

// The built program: one executable that needs only the system libraries it always needed, and
// carries the icon with every size.
TEST(BuiltProgram, ImportsOnlyTheSystemLibrariesAndCarriesTheIcon) {
    const char* dir = std::getenv("BREVANT_WIN32_DIR");
    if (dir == nullptr || *dir == '\0') GTEST_SKIP() << "BREVANT_WIN32_DIR is not set";
    if (std::system("command -v i686-w64-mingw32-objdump >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no mingw objdump";
    TempDir temp;
    const std::string exe = std::string(dir) + "/Brevant.exe";
    const std::string out = temp.Path() + "/imports.txt";
    const std::string command =
        "i686-w64-mingw32-objdump -p '" + exe + "' > '" + out + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(out);
    std::vector<std::string> libraries;
    for (std::string line; std::getline(in, line);) {
        const std::size_t at = line.find("DLL Name: ");
        if (at == std::string::npos) continue;
        std::string name = line.substr(at + 10);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        libraries.push_back(name);
    }
    std::sort(libraries.begin(), libraries.end());
    EXPECT_EQ(libraries, (std::vector<std::string>{"comctl32.dll", "kernel32.dll", "msvcrt.dll",
                                                   "user32.dll"}));

    // The icon's 256 px PNG image is inside the executable's resources.
    std::ifstream program(exe, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(program)),
                            std::istreambuf_iterator<char>());
    std::size_t pngs = 0;
    for (std::size_t at = bytes.find("\x89PNG\r\n\x1a\n"); at != std::string::npos;
         at = bytes.find("\x89PNG\r\n\x1a\n", at + 1)) {
        if (at + 24 <= bytes.size() && bytes.compare(at + 12, 4, "IHDR") == 0 &&
            BigEndian32(bytes, at + 16) == 256)
            ++pngs;
    }
    EXPECT_EQ(pngs, 2u) << "one for each of the two icon resources";
}

}  // namespace
