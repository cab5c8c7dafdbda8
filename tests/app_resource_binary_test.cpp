// The resources as the Windows program carries them: the script is compiled with the mingw
// resource compiler and the binary templates, strings and manifest are read back. The compiler
// adds default styles of its own to some statements, so only the compiled form shows what the
// window system will create.
#include <gtest/gtest.h>

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

constexpr int kTypeBitmap = 2, kTypeDialog = 5, kTypeString = 6, kTypeGroupIcon = 14;
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
    EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos);
    EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);  // 10/11
    EXPECT_NE(manifest.find("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"), std::string::npos);  // 7
}

}  // namespace
