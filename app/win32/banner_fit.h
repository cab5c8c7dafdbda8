#pragma once
// How the banner is fitted into its picture control, without the window system: picking one of
// the banner's pictures for the control's size and scaling it in. Plain C++, so that the tests
// can run it on the banner pictures themselves.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace banner {

// A picture of 3 bytes per pixel (blue, green, red), rows from the top, packed without padding.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    const std::uint8_t* At(int x, int y) const {
        return &pixels[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                        static_cast<std::size_t>(x)) *
                       3];
    }
};

// Of pictures of the sizes given (in order of size), the one to scale into width x height:
// the smallest that covers it in both directions, or else the largest. Scaling down from a
// slightly larger picture keeps the text sharp; none is picked from an empty list (the result
// is then 0 and must not be used).
inline std::size_t PickPicture(const std::vector<std::pair<int, int>>& sizes, int width,
                               int height) {
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        if (sizes[i].first >= width && sizes[i].second >= height) return i;
    }
    return sizes.empty() ? 0 : sizes.size() - 1;
}

namespace detail {

// One source pixel's share of one target pixel, in 1/65536.
struct Share {
    int source;
    std::uint32_t weight;
};

// For each of `to` target pixels, the source pixels it covers out of `from` and how much of
// each: the target pixel is the mean of the source area under it (exact at the same size).
inline std::vector<std::vector<Share>> Shares(int from, int to) {
    std::vector<std::vector<Share>> shares(static_cast<std::size_t>(to));
    for (int t = 0; t < to; ++t) {
        // The target pixel spans [t * from, (t + 1) * from) in units of 1 / to of a source pixel.
        const std::int64_t begin = static_cast<std::int64_t>(t) * from;
        const std::int64_t end = begin + from;
        std::uint32_t given = 0;
        for (std::int64_t s = begin / to; s * to < end && s < from; ++s) {
            const std::int64_t low = s * to > begin ? s * to : begin;
            const std::int64_t high = (s + 1) * to < end ? (s + 1) * to : end;
            const auto weight = static_cast<std::uint32_t>(((high - low) << 16) / from);
            shares[static_cast<std::size_t>(t)].push_back({static_cast<int>(s), weight});
            given += weight;
        }
        // What rounding left over goes to the last share, so that a flat area stays flat.
        if (!shares[static_cast<std::size_t>(t)].empty())
            shares[static_cast<std::size_t>(t)].back().weight += 65536 - given;
    }
    return shares;
}

}  // namespace detail

// The picture scaled to width x height by area averaging (each target pixel is the mean of
// the source pixels under it).
inline Picture Scale(const Picture& source, int width, int height) {
    Picture scaled;
    if (source.width <= 0 || source.height <= 0 || width <= 0 || height <= 0) return scaled;
    scaled.width = width;
    scaled.height = height;
    scaled.pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3, 0);
    const auto columns = detail::Shares(source.width, width);
    const auto rows = detail::Shares(source.height, height);
    // Across first, into rows of the target's width at 16 fractional bits.
    std::vector<std::uint64_t> across(static_cast<std::size_t>(width) *
                                      static_cast<std::size_t>(source.height) * 3);
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint64_t sum[3] = {0, 0, 0};
            for (const detail::Share& share : columns[static_cast<std::size_t>(x)]) {
                const std::uint8_t* p = source.At(share.source, y);
                for (int c = 0; c < 3; ++c) sum[c] += std::uint64_t{p[c]} * share.weight;
            }
            std::uint64_t* out =
                &across[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                         static_cast<std::size_t>(x)) *
                        3];
            for (int c = 0; c < 3; ++c) out[c] = sum[c];
        }
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint64_t sum[3] = {0, 0, 0};
            for (const detail::Share& share : rows[static_cast<std::size_t>(y)]) {
                const std::uint64_t* p = &across[(static_cast<std::size_t>(share.source) *
                                                      static_cast<std::size_t>(width) +
                                                  static_cast<std::size_t>(x)) *
                                                 3];
                for (int c = 0; c < 3; ++c) sum[c] += p[c] * share.weight;
            }
            std::uint8_t* out =
                &scaled.pixels[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                static_cast<std::size_t>(x)) *
                               3];
            for (int c = 0; c < 3; ++c) {
                const std::uint64_t value = (sum[c] + (std::uint64_t{1} << 31)) >> 32;
                out[c] = static_cast<std::uint8_t>(value > 255 ? 255 : value);
            }
        }
    }
    return scaled;
}

// The picture fitted into width x height: scaled by one factor in both directions, as large as
// fits, centred, and the rest filled by repeating its outermost rows and columns. The banner's
// background runs from top to bottom only, so the repeated columns continue it seamlessly, and
// its texts keep their shape and stay where the picture has them, inside its edges.
inline Picture Fit(const Picture& source, int width, int height) {
    Picture fitted;
    if (source.width <= 0 || source.height <= 0 || width <= 0 || height <= 0) return fitted;
    // The larger of the two sides that fit, computed in integers: the scaled width is
    // source.width * f and the scaled height source.height * f, with f the smaller ratio.
    int scaledWidth = width;
    int scaledHeight =
        static_cast<int>((static_cast<std::int64_t>(source.height) * width * 2 + source.width) /
                         (2 * static_cast<std::int64_t>(source.width)));
    if (scaledHeight > height) {
        scaledHeight = height;
        scaledWidth = static_cast<int>(
            (static_cast<std::int64_t>(source.width) * height * 2 + source.height) /
            (2 * static_cast<std::int64_t>(source.height)));
        if (scaledWidth > width) scaledWidth = width;
    }
    if (scaledWidth < 1) scaledWidth = 1;
    if (scaledHeight < 1) scaledHeight = 1;
    const Picture scaled = Scale(source, scaledWidth, scaledHeight);
    const int left = (width - scaledWidth) / 2;
    const int top = (height - scaledHeight) / 2;
    fitted.width = width;
    fitted.height = height;
    fitted.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    for (int y = 0; y < height; ++y) {
        int sy = y - top;
        sy = sy < 0 ? 0 : sy >= scaledHeight ? scaledHeight - 1 : sy;
        for (int x = 0; x < width; ++x) {
            int sx = x - left;
            sx = sx < 0 ? 0 : sx >= scaledWidth ? scaledWidth - 1 : sx;
            const std::uint8_t* p = scaled.At(sx, sy);
            std::uint8_t* out =
                &fitted.pixels[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                static_cast<std::size_t>(x)) *
                               3];
            out[0] = p[0];
            out[1] = p[1];
            out[2] = p[2];
        }
    }
    return fitted;
}

}  // namespace banner
