// The banner as the Windows program fits it into its picture control: the bitmap picked for the
// control's size and scaled into it (app/win32/banner_fit.h), run here on the banner bitmaps of
// res/ for the control's sizes on screens of 100 to 300 %.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "app/win32/banner_fit.h"

namespace {

using banner::Picture;

std::uint32_t Little32(const std::string& bytes, std::size_t at) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
    return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 |
           std::uint32_t{b[3]} << 24;
}

// A 24-bit bitmap file of res/ as a picture; empty when it is not one.
Picture ReadBanner(const std::string& name) {
    std::ifstream in(std::string(BREVANT_SOURCE_DIR) + "/res/" + name, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Picture picture;
    if (bytes.size() < 54 || bytes.compare(0, 2, "BM") != 0) return picture;
    const std::uint32_t offset = Little32(bytes, 10);
    const int width = static_cast<int>(Little32(bytes, 18));
    const int height = static_cast<int>(Little32(bytes, 22));
    if (Little32(bytes, 14) != 40 || (Little32(bytes, 28) & 0xFFFF) != 24 || width <= 0 ||
        height <= 0)
        return picture;
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    if (bytes.size() < offset + stride * static_cast<std::size_t>(height)) return picture;
    picture.width = width;
    picture.height = height;
    for (int y = 0; y < height; ++y) {  // the file's rows run from the bottom
        const std::size_t row = offset + static_cast<std::size_t>(height - 1 - y) * stride;
        picture.pixels.insert(picture.pixels.end(), bytes.begin() + static_cast<long>(row),
                              bytes.begin() + static_cast<long>(row) + width * 3);
    }
    return picture;
}

Picture Flat(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    Picture picture;
    picture.width = width;
    picture.height = height;
    for (int i = 0; i < width * height; ++i) picture.pixels.insert(picture.pixels.end(), {b, g, r});
    return picture;
}

// What of a banner is ink: pixels that differ from their row's first pixel (the background
// runs from top to bottom only).
struct Ink {
    int left, top, right, bottom;  // inclusive
    int white = 0, yellow = 0;
    int lastWhiteRow = -1, firstYellowRow;
};

Ink InkOf(const Picture& p) {
    Ink ink{p.width, p.height, -1, -1};
    ink.firstYellowRow = p.height;
    for (int y = 0; y < p.height; ++y) {
        const std::uint8_t* background = p.At(0, y);
        for (int x = 0; x < p.width; ++x) {
            const std::uint8_t* c = p.At(x, y);
            if (std::abs(c[0] - background[0]) + std::abs(c[1] - background[1]) +
                    std::abs(c[2] - background[2]) <=
                24)
                continue;
            ink.left = std::min(ink.left, x);
            ink.right = std::max(ink.right, x);
            ink.top = std::min(ink.top, y);
            ink.bottom = std::max(ink.bottom, y);
            if (c[2] > 150 && c[2] > c[0] + 60) {
                ++ink.yellow;
                ink.firstYellowRow = std::min(ink.firstYellowRow, y);
            }
            if (c[0] > 230 && c[1] > 230 && c[2] > 230) {
                ++ink.white;
                ink.lastWhiteRow = std::max(ink.lastWhiteRow, y);
            }
        }
    }
    return ink;
}

TEST(BannerFit, ScalingToTheSameSizeChangesNothing) {
    const Picture source = ReadBanner("banner.bmp");
    ASSERT_EQ(source.width, 170);
    const Picture same = banner::Scale(source, source.width, source.height);
    EXPECT_EQ(same.pixels, source.pixels);
    EXPECT_EQ(banner::Fit(source, source.width, source.height).pixels, source.pixels);
}

TEST(BannerFit, AFlatPictureStaysFlatAtAnySize) {
    const Picture flat = Flat(7, 5, 10, 120, 250);
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{{3, 2}, {7, 5}, {11, 9}, {50, 1}}) {
        const Picture scaled = banner::Scale(flat, w, h);
        ASSERT_EQ(scaled.pixels.size(), static_cast<std::size_t>(w * h * 3));
        for (int i = 0; i < w * h; ++i) {
            EXPECT_EQ(scaled.pixels[i * 3 + 0], 10);
            EXPECT_EQ(scaled.pixels[i * 3 + 1], 120);
            EXPECT_EQ(scaled.pixels[i * 3 + 2], 250);
        }
    }
}

// Each target pixel is the mean of the source pixels under it, parts of pixels included.
TEST(BannerFit, ScalingAveragesTheAreaUnderEachPixel) {
    Picture stripes = Flat(4, 2, 0, 0, 0);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; x += 2) stripes.pixels[(y * 4 + x) * 3] = 200;  // blue, black, ..
    const Picture half = banner::Scale(stripes, 2, 1);
    EXPECT_EQ(half.pixels, (std::vector<std::uint8_t>{100, 0, 0, 100, 0, 0}));
    // Three pixels from four: the middle one takes half of two source pixels.
    const Picture three = banner::Scale(stripes, 3, 2);
    EXPECT_EQ(three.At(0, 0)[0], 150);  // 1 of 200, 1/3 of 0, over 4/3
    EXPECT_EQ(three.At(1, 0)[0], 100);
    EXPECT_EQ(three.At(2, 0)[0], 50);
}

TEST(BannerFit, PicksTheSmallestPictureThatCoversTheControl) {
    const std::vector<std::pair<int, int>> sizes = {{170, 37}, {213, 46}, {255, 56}, {340, 74}};
    EXPECT_EQ(banner::PickPicture(sizes, 170, 37), 0u);
    EXPECT_EQ(banner::PickPicture(sizes, 198, 37), 1u);
    EXPECT_EQ(banner::PickPicture(sizes, 170, 47), 2u);  // taller than the 125 % one
    EXPECT_EQ(banner::PickPicture(sizes, 283, 54), 3u);
    EXPECT_EQ(banner::PickPicture(sizes, 510, 111), 3u);  // none covers: the largest
    EXPECT_EQ(banner::PickPicture(sizes, 100, 20), 0u);
}

// The control at the base units of common dialog fonts from 100 to 300 %: the banner fills it
// exactly, keeps its texts' shape, and keeps them inside its edges and apart.
TEST(BannerFit, FilledIntoTheControlOnEveryScreenTheTextsStayInside) {
    const char* files[] = {"banner.bmp", "banner-125.bmp", "banner-150.bmp", "banner-200.bmp"};
    std::vector<Picture> pictures;
    std::vector<std::pair<int, int>> sizes;
    for (const char* file : files) {
        pictures.push_back(ReadBanner(file));
        ASSERT_GT(pictures.back().width, 0) << file;
        sizes.emplace_back(pictures.back().width, pictures.back().height);
    }
    const Ink sourceInk = InkOf(pictures[0]);
    const double sourceAspect = static_cast<double>(sourceInk.right - sourceInk.left + 1) /
                                (sourceInk.bottom - sourceInk.top + 1);
    // (base unit x, base unit y): 96 DPI with MS Sans Serif and with Wine's font, 120, 144 (two
    // fonts), 192 and 288 DPI.
    const std::pair<int, int> baseUnits[] = {{6, 13}, {7, 13},  {8, 16}, {10, 19},
                                             {9, 20}, {12, 26}, {18, 39}};
    for (const auto& [bx, by] : baseUnits) {
        const int width = (113 * bx + 2) / 4, height = (23 * by + 4) / 8;
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        const Picture fitted =
            banner::Fit(pictures[banner::PickPicture(sizes, width, height)], width, height);
        ASSERT_EQ(fitted.width, width);
        ASSERT_EQ(fitted.height, height);
        ASSERT_EQ(fitted.pixels.size(), static_cast<std::size_t>(width * height * 3));
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* left = fitted.At(0, y);
            const std::uint8_t* right = fitted.At(width - 1, y);
            EXPECT_GT(left[0], left[2] + 60) << "row " << y << " does not start blue";
            EXPECT_EQ(std::vector<std::uint8_t>(left, left + 3),
                      std::vector<std::uint8_t>(right, right + 3))
                << "row " << y << ": the background must run on to both edges";
        }
        const Ink ink = InkOf(fitted);
        EXPECT_GT(ink.white, width * height / 60);
        EXPECT_GT(ink.yellow, width * height / 100);
        EXPECT_LT(ink.lastWhiteRow, ink.firstYellowRow) << "the subtitle runs into the name";
        const int margin = std::max(2, height / 10);
        EXPECT_GE(ink.left, margin);
        EXPECT_GE(ink.top, margin);
        EXPECT_LE(ink.right, width - 1 - margin);
        EXPECT_LE(ink.bottom, height - 1 - margin);
        const double aspect =
            static_cast<double>(ink.right - ink.left + 1) / (ink.bottom - ink.top + 1);
        EXPECT_NEAR(aspect / sourceAspect, 1.0, 0.12) << "the texts are stretched";
    }
}

}  // namespace
