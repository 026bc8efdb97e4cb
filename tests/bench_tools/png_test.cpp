// PNG files as a decoder reads them: the signature, every chunk's CRC, the
// header, and the pixels back out of the deflated scanlines.
#include "bench/png.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <zlib.h>

namespace {

using bench::Rgb;
using bench::RgbImage;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kChunkOverhead = 12; // length, type, CRC
constexpr std::uint32_t kCrcPolynomial = 0xEDB88320;
constexpr std::size_t kHeaderSize = 13;
constexpr std::uint8_t kBitDepth = 8;
constexpr std::uint8_t kTruecolour = 2;
constexpr std::size_t kTypeAt = 4; // within a chunk
constexpr std::size_t kDataAt = 8;

// Written independently of zlib: bit by bit, as the PNG standard's sample code does.
std::uint32_t referenceCrc(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ ((crc & 1) != 0 ? kCrcPolynomial : 0u);
        }
    }
    return ~crc;
}

std::uint32_t bigEndian(const Bytes& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
           std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

struct Chunk {
    std::string type;
    Bytes data;
    std::uint32_t crc = 0;
};

// Splits the file into chunks, failing the test on a bad signature or CRC.
std::vector<Chunk> readChunks(const Bytes& png) {
    std::vector<Chunk> chunks;
    EXPECT_GE(png.size(), sizeof kSignature);
    if (png.size() < sizeof kSignature) {
        return chunks;
    }
    EXPECT_EQ(std::memcmp(png.data(), kSignature, sizeof kSignature), 0) << "signature";
    std::size_t at = sizeof kSignature;
    while (at + kChunkOverhead <= png.size()) {
        const std::uint32_t length = bigEndian(png, at);
        if (at + kChunkOverhead + length > png.size()) {
            ADD_FAILURE() << "chunk at " << at << " runs past the end";
            return chunks;
        }
        Chunk chunk;
        chunk.type.assign(png.begin() + at + kTypeAt, png.begin() + at + kDataAt);
        chunk.data.assign(png.begin() + at + kDataAt, png.begin() + at + kDataAt + length);
        chunk.crc = bigEndian(png, at + kDataAt + length);
        EXPECT_EQ(chunk.crc, referenceCrc(png.data() + at + kTypeAt, kDataAt - kTypeAt + length))
            << "CRC of " << chunk.type;
        chunks.push_back(std::move(chunk));
        at += kChunkOverhead + length;
    }
    EXPECT_EQ(at, png.size()) << "nothing after the last chunk";
    return chunks;
}

struct Decoded {
    std::uint32_t width = 0, height = 0;
    std::size_t compressedSize = 0;
    RgbImage image;
};

Decoded decode(const Bytes& png) {
    Decoded d;
    const std::vector<Chunk> chunks = readChunks(png);
    EXPECT_GE(chunks.size(), 3u);
    if (chunks.size() < 3) {
        return d;
    }
    EXPECT_EQ(chunks.front().type, "IHDR");
    EXPECT_EQ(chunks.back().type, "IEND");
    EXPECT_TRUE(chunks.back().data.empty());
    const Bytes& ihdr = chunks.front().data;
    EXPECT_EQ(ihdr.size(), kHeaderSize);
    if (ihdr.size() != kHeaderSize) {
        return d;
    }
    d.width = bigEndian(ihdr, 0);
    d.height = bigEndian(ihdr, 4);
    EXPECT_EQ(ihdr[8], kBitDepth);
    EXPECT_EQ(ihdr[9], kTruecolour);
    EXPECT_EQ(ihdr[10], 0) << "compression";
    EXPECT_EQ(ihdr[11], 0) << "filter method";
    EXPECT_EQ(ihdr[12], 0) << "no interlace";
    Bytes z;
    for (const Chunk& c : chunks) {
        if (c.type == "IDAT") {
            z.insert(z.end(), c.data.begin(), c.data.end());
        }
    }
    d.compressedSize = z.size();
    const std::size_t stride = 1 + 3 * std::size_t{d.width};
    // One byte more than the scanlines need, so a stream that holds too much shows.
    Bytes raw(stride * d.height + 1);
    uLongf rawSize = static_cast<uLongf>(raw.size());
    EXPECT_EQ(uncompress(raw.data(), &rawSize, z.data(), static_cast<uLong>(z.size())), Z_OK);
    EXPECT_EQ(rawSize, stride * d.height);
    if (rawSize != stride * d.height) {
        return d;
    }
    d.image = RgbImage(static_cast<int>(d.width), static_cast<int>(d.height));
    for (std::uint32_t y = 0; y < d.height; ++y) {
        EXPECT_EQ(raw[y * stride], 0) << "row " << y << " unfiltered";
        for (std::uint32_t x = 0; x < d.width; ++x) {
            const std::uint8_t* p = &raw[y * stride + 1 + 3 * x];
            d.image.at(static_cast<int>(x), static_cast<int>(y)) = {p[0], p[1], p[2]};
        }
    }
    return d;
}

// Pixels that differ from their neighbours, so a swapped channel, row or column shows.
RgbImage pattern(int width, int height) {
    RgbImage image(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.at(x, y) = {static_cast<std::uint8_t>(x * 7 + y),
                              static_cast<std::uint8_t>(y * 13 + 1),
                              static_cast<std::uint8_t>(x ^ y * 3)};
        }
    }
    return image;
}

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

TEST(Png, ReferenceCrcMatchesKnownValues) {
    // The published check value, and the CRC every PNG's empty IEND chunk carries.
    const Bytes check = bytesOf("123456789");
    EXPECT_EQ(referenceCrc(check.data(), check.size()), 0xCBF43926u);
    const Bytes iend = bytesOf("IEND");
    EXPECT_EQ(referenceCrc(iend.data(), iend.size()), 0xAE426082u);
}

TEST(Png, ImagesDecodeToTheirPixels) {
    struct Case {
        int width, height;
    };
    // One pixel, a row, a column, and one large enough for several deflate blocks.
    const Case cases[] = {{1, 1}, {5, 3}, {17, 1}, {1, 9}, {300, 200}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const RgbImage image = pattern(c.width, c.height);
        const Decoded d = decode(bench::encodePng(image));
        EXPECT_EQ(d.width, static_cast<std::uint32_t>(c.width));
        EXPECT_EQ(d.height, static_cast<std::uint32_t>(c.height));
        EXPECT_EQ(d.image.pixels, image.pixels);
    }
}

TEST(Png, EndsWithTheKnownEmptyEndChunk) {
    const Bytes png = bench::encodePng(pattern(4, 4));
    const Bytes iend = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    ASSERT_GE(png.size(), iend.size());
    EXPECT_EQ(Bytes(png.end() - static_cast<std::ptrdiff_t>(iend.size()), png.end()), iend);
}

TEST(Png, SameImageGivesSameBytes) {
    const RgbImage image = pattern(64, 48);
    const Bytes first = bench::encodePng(image);
    RgbImage copy(64, 48);
    copy.pixels = image.pixels;
    EXPECT_EQ(bench::encodePng(copy), first);
}

TEST(Png, PlainImageIsCompressed) {
    constexpr int kWidth = 200, kHeight = 150;
    const RgbImage plain(kWidth, kHeight, Rgb{236, 238, 242});
    const Bytes png = bench::encodePng(plain);
    const Decoded d = decode(png);
    EXPECT_EQ(d.image.pixels, plain.pixels);
    const std::size_t raw = (1 + 3 * std::size_t{kWidth}) * kHeight;
    // Flat colour deflates to a small fraction of the scanlines.
    EXPECT_LT(d.compressedSize, raw / 20);
    EXPECT_LT(png.size(), raw / 20);
}

TEST(Png, ImagesWithoutPixelsAreNotEncoded) {
    RgbImage mismatched(4, 4);
    mismatched.pixels.pop_back(); // size says 16 pixels, 15 are there
    const RgbImage cases[] = {RgbImage(0, 0), RgbImage(0, 5), RgbImage(5, 0), mismatched};
    for (const RgbImage& image : cases) {
        SCOPED_TRACE(std::to_string(image.width) + "x" + std::to_string(image.height));
        EXPECT_TRUE(bench::encodePng(image).empty());
    }
}

class PngFile : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("fendrix_png_" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    static Bytes read(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    std::filesystem::path dir;
};

TEST_F(PngFile, WritesTheEncodedBytes) {
    const RgbImage image = pattern(17, 9);
    const std::filesystem::path path = dir / "pattern.png";
    ASSERT_TRUE(bench::writePng(path.string(), image));
    EXPECT_EQ(read(path), bench::encodePng(image));
}

TEST_F(PngFile, ReplacesAnOlderFile) {
    const std::filesystem::path path = dir / "again.png";
    ASSERT_TRUE(bench::writePng(path.string(), pattern(40, 40)));
    ASSERT_TRUE(bench::writePng(path.string(), pattern(2, 2)));
    EXPECT_EQ(read(path), bench::encodePng(pattern(2, 2)));
}

TEST_F(PngFile, NothingEncodableWritesNoFile) {
    const std::filesystem::path path = dir / "empty.png";
    EXPECT_FALSE(bench::writePng(path.string(), RgbImage(0, 0)));
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(PngFile, UnwritablePathReportsFailure) {
    EXPECT_FALSE(bench::writePng((dir / "missing" / "dir" / "x.png").string(), pattern(3, 3)));
}

} // namespace
