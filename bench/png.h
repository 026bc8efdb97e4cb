#pragma once
// RGB pictures and their PNG files (8-bit truecolour, deflated by zlib).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Rows from the top, pixels from the left.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;

    RgbImage() = default;
    RgbImage(int w, int h, Rgb fill = {})
        : width(w), height(h),
          pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), fill) {}

    Rgb& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
    const Rgb& at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// The whole PNG file of an image, or nothing when it has no pixels, its pixel
// count does not match its size, or zlib fails. The same image always gives
// the same bytes.
std::vector<std::uint8_t> encodePng(const RgbImage& image);

// Writes the file; false (and no file left behind) when the image cannot be
// encoded or the file cannot be written.
bool writePng(const std::string& path, const RgbImage& image);

} // namespace bench
