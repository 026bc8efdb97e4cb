#include "testbed/png_writer.h"

#include <algorithm>
#include <array>
#include <fstream>

namespace testbed {

namespace {

constexpr std::array<std::uint8_t, 8> kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

constexpr std::uint32_t kCrcPolynomial = 0xEDB88320; // reflected IEEE 802.3
constexpr std::uint32_t kAdlerModulus = 65521;
// Sums stay below 2^32 for this many bytes before they must be reduced.
constexpr std::size_t kAdlerRun = 5552;

constexpr std::uint8_t kBitDepth = 8;
constexpr std::uint8_t kColourTypeRgb = 2;
constexpr std::uint8_t kFilterNone = 0;

// zlib header: deflate with a 32 KiB window, no dictionary; the pair is a multiple of 31.
constexpr std::uint8_t kZlibMethod = 0x78;
constexpr std::uint8_t kZlibFlags = 0x01;
constexpr std::size_t kStoredBlockMax = 0xFFFF;
constexpr std::uint8_t kFinalStoredBlock = 0x01; // BFINAL set, BTYPE 00

constexpr std::array<std::uint32_t, 256> crcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < table.size(); ++n) {
        std::uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit) {
            c = (c & 1) != 0 ? kCrcPolynomial ^ (c >> 1) : c >> 1;
        }
        table[n] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = crcTable();

void putBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void putLittleEndian16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

// Length, type, data, and the CRC over type and data.
void putChunk(std::vector<std::uint8_t>& out, const char (&type)[5],
              const std::vector<std::uint8_t>& data) {
    putBigEndian(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    putBigEndian(out, crc32(out.data() + typeAt, out.size() - typeAt));
}

// Each row behind its filter byte, as the decoder reads them.
std::vector<std::uint8_t> scanlines(const RgbImage& image) {
    std::vector<std::uint8_t> raw;
    raw.reserve(static_cast<std::size_t>(image.height) *
                (1 + 3 * static_cast<std::size_t>(image.width)));
    for (int y = 0; y < image.height; ++y) {
        raw.push_back(kFilterNone);
        for (int x = 0; x < image.width; ++x) {
            const Rgb& p = image.at(x, y);
            raw.insert(raw.end(), {p.r, p.g, p.b});
        }
    }
    return raw;
}

std::vector<std::uint8_t> zlibStored(const std::vector<std::uint8_t>& raw) {
    std::vector<std::uint8_t> out = {kZlibMethod, kZlibFlags};
    std::size_t at = 0;
    do {
        const std::size_t size = std::min(kStoredBlockMax, raw.size() - at);
        const bool last = at + size == raw.size();
        out.push_back(last ? kFinalStoredBlock : 0);
        putLittleEndian16(out, static_cast<std::uint16_t>(size));
        putLittleEndian16(out, static_cast<std::uint16_t>(~size));
        out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                   raw.begin() + static_cast<std::ptrdiff_t>(at + size));
        at += size;
    } while (at < raw.size());
    putBigEndian(out, adler32(raw.data(), raw.size()));
    return out;
}

} // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc = kCrcTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

std::uint32_t adler32(const std::uint8_t* data, std::size_t size, std::uint32_t adler) {
    std::uint32_t a = adler & 0xFFFF;
    std::uint32_t b = adler >> 16;
    while (size > 0) {
        const std::size_t run = std::min(size, kAdlerRun);
        for (std::size_t i = 0; i < run; ++i) {
            a += data[i];
            b += a;
        }
        a %= kAdlerModulus;
        b %= kAdlerModulus;
        data += run;
        size -= run;
    }
    return (b << 16) | a;
}

std::vector<std::uint8_t> encodePng(const RgbImage& image) {
    std::vector<std::uint8_t> png(kSignature.begin(), kSignature.end());

    std::vector<std::uint8_t> header;
    putBigEndian(header, static_cast<std::uint32_t>(image.width));
    putBigEndian(header, static_cast<std::uint32_t>(image.height));
    // Bit depth, colour type, then compression, filter and interlace methods (all 0).
    header.insert(header.end(), {kBitDepth, kColourTypeRgb, 0, 0, 0});
    putChunk(png, "IHDR", header);
    putChunk(png, "IDAT", zlibStored(scanlines(image)));
    putChunk(png, "IEND", {});
    return png;
}

bool writePng(const std::string& path, const RgbImage& image) {
    const std::vector<std::uint8_t> png = encodePng(image);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    return static_cast<bool>(out);
}

} // namespace testbed
