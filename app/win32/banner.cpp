#include "app/win32/banner.h"

#include <cstring>
#include <utility>
#include <vector>

#include "app/win32/banner_fit.h"
#include "app/win32/gdi.h"
#include "res/resource.h"

namespace {

// The banner as drawn for 100, 125, 150 and 200 %, in order of size.
constexpr int kBannerIds[] = {IDB_BANNER, IDB_BANNER_125, IDB_BANNER_150, IDB_BANNER_200};

// A top-down 24-bit DIB header for a picture of that size.
BITMAPINFO DibHeader(int width, int height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

std::size_t DibStride(int width) { return (static_cast<std::size_t>(width) * 3 + 3) & ~3u; }

// The pixels of a bitmap resource; an empty picture when it cannot be read.
banner::Picture ReadBitmap(const GdiCalls& gdi, HINSTANCE instance, int id) {
    banner::Picture picture;
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (bitmap == nullptr) return picture;
    BITMAP facts = {};
    if (gdi.getObject(bitmap, sizeof facts, &facts) == sizeof facts && facts.bmWidth > 0 &&
        facts.bmHeight > 0) {
        BITMAPINFO info = DibHeader(facts.bmWidth, facts.bmHeight);
        const std::size_t stride = DibStride(facts.bmWidth);
        std::vector<std::uint8_t> rows(stride * static_cast<std::size_t>(facts.bmHeight));
        HDC screen = GetDC(nullptr);
        const int got = gdi.getDIBits(screen, bitmap, 0, static_cast<UINT>(facts.bmHeight),
                                      rows.data(), &info, DIB_RGB_COLORS);
        ReleaseDC(nullptr, screen);
        if (got == facts.bmHeight) {
            picture.width = facts.bmWidth;
            picture.height = facts.bmHeight;
            picture.pixels.resize(static_cast<std::size_t>(picture.width) * 3 *
                                  static_cast<std::size_t>(picture.height));
            for (int y = 0; y < picture.height; ++y) {
                std::memcpy(&picture.pixels[static_cast<std::size_t>(y) * picture.width * 3],
                            &rows[static_cast<std::size_t>(y) * stride],
                            static_cast<std::size_t>(picture.width) * 3);
            }
        }
    }
    gdi.deleteObject(bitmap);
    return picture;
}

// A DIB section holding the picture.
HBITMAP MakeBitmap(const GdiCalls& gdi, const banner::Picture& picture) {
    BITMAPINFO info = DibHeader(picture.width, picture.height);
    void* bits = nullptr;
    HBITMAP bitmap = gdi.createDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr || bits == nullptr) return bitmap;
    const std::size_t stride = DibStride(picture.width);
    auto* rows = static_cast<std::uint8_t*>(bits);
    for (int y = 0; y < picture.height; ++y) {
        std::memcpy(rows + static_cast<std::size_t>(y) * stride,
                    &picture.pixels[static_cast<std::size_t>(y) * picture.width * 3],
                    static_cast<std::size_t>(picture.width) * 3);
    }
    gdi.gdiFlush();
    return bitmap;
}

struct PictureSearch {
    DWORD imageStyle;
    HWND found;
};

BOOL CALLBACK FindImageStatic(HWND child, LPARAM context) {
    auto* search = reinterpret_cast<PictureSearch*>(context);
    char name[16] = {};
    GetClassNameA(child, name, sizeof name);
    const auto style = static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE));
    if (lstrcmpiA(name, "Static") == 0 && (style & SS_TYPEMASK) == search->imageStyle) {
        search->found = child;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND FindPictureControl(HWND dialog, DWORD imageStyle) {
    PictureSearch search{imageStyle, nullptr};
    EnumChildWindows(dialog, FindImageStatic, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

Banner::~Banner() {
    if (bitmap_ != nullptr) Gdi()->deleteObject(bitmap_);  // made only with the calls there
}

void Banner::Fit(HINSTANCE instance, HWND dialog) {
    const GdiCalls* gdi = Gdi();
    HWND control = FindPictureControl(dialog, SS_BITMAP);
    if (gdi == nullptr || control == nullptr) return;
    // Position and size are turned into pixels each on its own, as the dialog manager does
    // when it creates the controls of a template.
    RECT mapped = {BANNER_LEFT, BANNER_TOP, BANNER_WIDTH, BANNER_HEIGHT};
    if (!MapDialogRect(dialog, &mapped)) return;
    RECT place = {mapped.left, mapped.top, mapped.left + mapped.right, mapped.top + mapped.bottom};
    if (fitted_ && EqualRect(&mapped, &lastMapped_)) {
        // The dialog's units are what they were, yet the control may have been moved: a DPI
        // change that the dialog manager followed by scaling the controls. The control keeps
        // the rectangle it was given then.
        GetWindowRect(control, &place);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&place), 2);
    }
    const int width = place.right - place.left;
    const int height = place.bottom - place.top;
    if (width <= 0 || height <= 0) return;

    // The sizes come from the resources' headers; only the picked one is read whole.
    std::vector<std::pair<int, int>> sizes;
    std::vector<int> ids;
    for (int id : kBannerIds) {
        HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(2));  // bitmap
        HGLOBAL loaded = found != nullptr ? LoadResource(instance, found) : nullptr;
        const auto* header = loaded != nullptr
                                 ? static_cast<const BITMAPINFOHEADER*>(LockResource(loaded))
                                 : nullptr;
        if (header == nullptr || SizeofResource(instance, found) < sizeof *header) continue;
        sizes.emplace_back(header->biWidth,
                           header->biHeight < 0 ? -header->biHeight : header->biHeight);
        ids.push_back(id);
    }
    if (ids.empty()) return;
    const banner::Picture source =
        ReadBitmap(*gdi, instance, ids[banner::PickPicture(sizes, width, height)]);
    if (source.width == 0) return;
    HBITMAP fitted = MakeBitmap(*gdi, banner::Fit(source, width, height));
    if (fitted == nullptr) return;

    SetWindowPos(control, nullptr, place.left, place.top, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    HANDLE previous = reinterpret_cast<HANDLE>(
        SendMessageA(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(fitted)));
    // The bitmap shown before, the template's or an earlier fit, is nobody's any more.
    if (previous != nullptr && previous != fitted) gdi->deleteObject(previous);
    bitmap_ = fitted;
    lastMapped_ = mapped;
    fitted_ = true;
    InvalidateRect(control, nullptr, TRUE);
}
