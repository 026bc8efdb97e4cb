#pragma once
// RGB pictures written as PNG files without an image library: the pixels go
// into zlib "stored" blocks, so nothing is compressed and nothing can be lost.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testbed {

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

// The checksums PNG and zlib ask for.
std::uint32_t crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);
std::uint32_t adler32(const std::uint8_t* data, std::size_t size, std::uint32_t adler = 1);

// The whole PNG file of an image (8-bit RGB, no interlace).
std::vector<std::uint8_t> encodePng(const RgbImage& image);

// Writes the file; false when it could not be written.
bool writePng(const std::string& path, const RgbImage& image);

} // namespace testbed
