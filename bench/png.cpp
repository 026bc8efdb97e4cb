#include "bench/png.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <limits>

#include <zlib.h>

namespace bench {

namespace {

constexpr std::array<std::uint8_t, 8> kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

constexpr std::uint8_t kBitDepth = 8;
constexpr std::uint8_t kColourTypeRgb = 2;
constexpr std::uint8_t kFilterNone = 0;
constexpr std::size_t kBytesPerPixel = 3;
// Width and height are 31-bit in a PNG header.
constexpr std::uint64_t kMaxDimension = 0x7FFFFFFF;

void putBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

// Length, type, data, and the CRC over type and data.
void putChunk(std::vector<std::uint8_t>& out, const char (&type)[5],
              const std::vector<std::uint8_t>& data) {
    putBigEndian(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = ::crc32(::crc32(0L, Z_NULL, 0), out.data() + typeAt,
                              static_cast<uInt>(out.size() - typeAt));
    putBigEndian(out, static_cast<std::uint32_t>(crc));
}

// Each row behind its filter byte, as the decoder reads them. Rows stay
// unfiltered: pictures are mostly flat areas, which deflate packs well anyway.
std::vector<std::uint8_t> scanlines(const RgbImage& image) {
    std::vector<std::uint8_t> raw;
    raw.reserve(static_cast<std::size_t>(image.height) *
                (1 + kBytesPerPixel * static_cast<std::size_t>(image.width)));
    for (int y = 0; y < image.height; ++y) {
        raw.push_back(kFilterNone);
        for (int x = 0; x < image.width; ++x) {
            const Rgb& p = image.at(x, y);
            raw.insert(raw.end(), {p.r, p.g, p.b});
        }
    }
    return raw;
}

// A zlib stream of the bytes at the best compression; empty when zlib fails.
std::vector<std::uint8_t> deflated(const std::vector<std::uint8_t>& raw) {
    if (raw.size() > std::numeric_limits<uLong>::max()) {
        return {};
    }
    const auto rawSize = static_cast<uLong>(raw.size());
    uLongf size = compressBound(rawSize);
    std::vector<std::uint8_t> out(size);
    if (compress2(out.data(), &size, raw.data(), rawSize, Z_BEST_COMPRESSION) != Z_OK) {
        return {};
    }
    out.resize(size);
    return out;
}

bool encodable(const RgbImage& image) {
    return image.width > 0 && image.height > 0 &&
           static_cast<std::uint64_t>(image.width) <= kMaxDimension &&
           static_cast<std::uint64_t>(image.height) <= kMaxDimension &&
           image.pixels.size() ==
               static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
}

} // namespace

std::vector<std::uint8_t> encodePng(const RgbImage& image) {
    if (!encodable(image)) {
        return {};
    }
    const std::vector<std::uint8_t> idat = deflated(scanlines(image));
    if (idat.empty()) {
        return {};
    }
    std::vector<std::uint8_t> png(kSignature.begin(), kSignature.end());
    std::vector<std::uint8_t> header;
    putBigEndian(header, static_cast<std::uint32_t>(image.width));
    putBigEndian(header, static_cast<std::uint32_t>(image.height));
    // Bit depth, colour type, then compression, filter and interlace methods (all 0).
    header.insert(header.end(), {kBitDepth, kColourTypeRgb, 0, 0, 0});
    putChunk(png, "IHDR", header);
    putChunk(png, "IDAT", idat);
    putChunk(png, "IEND", {});
    return png;
}

bool writePng(const std::string& path, const RgbImage& image) {
    const std::vector<std::uint8_t> png = encodePng(image);
    if (png.empty()) {
        return false;
    }
    bool written = false;
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out) {
            return false;
        }
        out.write(reinterpret_cast<const char*>(png.data()),
                  static_cast<std::streamsize>(png.size()));
        out.close();
        written = static_cast<bool>(out);
    }
    if (!written) {
        std::remove(path.c_str()); // a short file would only mislead
    }
    return written;
}

} // namespace bench
