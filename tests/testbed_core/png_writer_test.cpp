// PNG files as a decoder reads them: the signature, every chunk's CRC, the
// header, and the pixels back out of the zlib stream's stored blocks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <windows.h>

#include "testbed/png_writer.h"

namespace {

using testbed::Rgb;
using testbed::RgbImage;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kChunkOverhead = 12; // length, type, CRC
constexpr std::uint32_t kCrcPolynomial = 0xEDB88320;
constexpr std::uint64_t kAdlerModulus = 65521;
constexpr std::size_t kHeaderSize = 13;
constexpr std::uint8_t kBitDepth = 8;
constexpr std::uint8_t kTruecolour = 2;
constexpr std::size_t kBlockHeader = 5; // final bit and type, length, its complement
constexpr std::size_t kZlibHeader = 2;
constexpr std::size_t kAdlerSize = 4;
constexpr int kDeflate = 8;             // compression method in the low nibble
constexpr int kHeaderCheckDivisor = 31; // the two header bytes are a multiple of it
constexpr int kPresetDictionary = 0x20;
constexpr std::size_t kTypeAt = 4; // within a chunk
constexpr std::size_t kDataAt = 8;

// Written independently of the writer's table: bit by bit, as the PNG standard's sample code does.
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

std::uint32_t referenceAdler(const Bytes& data) {
    std::uint64_t a = 1, b = 0;
    for (std::uint8_t byte : data) {
        a = (a + byte) % kAdlerModulus;
        b = (b + a) % kAdlerModulus;
    }
    return static_cast<std::uint32_t>(b << 16 | a);
}

std::uint32_t bigEndian(const Bytes& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
           std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

struct Chunk {
    std::string type;
    Bytes data;
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
        EXPECT_EQ(bigEndian(png, at + kDataAt + length),
                  referenceCrc(png.data() + at + kTypeAt, kDataAt - kTypeAt + length))
            << "CRC of " << chunk.type;
        chunks.push_back(std::move(chunk));
        at += kChunkOverhead + length;
    }
    EXPECT_EQ(at, png.size()) << "nothing after the last chunk";
    return chunks;
}

// Reads a zlib stream made of stored blocks only; counts the blocks.
Bytes inflateStored(const Bytes& z, int* blocks) {
    Bytes out;
    *blocks = 0;
    EXPECT_GE(z.size(), kZlibHeader + kAdlerSize);
    if (z.size() < kZlibHeader + kAdlerSize) {
        return out;
    }
    EXPECT_EQ(z[0] & 0x0F, kDeflate);
    EXPECT_EQ((z[0] << 8 | z[1]) % kHeaderCheckDivisor, 0) << "header check bits";
    EXPECT_EQ(z[1] & kPresetDictionary, 0);
    std::size_t at = kZlibHeader;
    bool final = false;
    while (!final) {
        if (at + kBlockHeader > z.size()) {
            ADD_FAILURE() << "stream ends inside a block header";
            return out;
        }
        final = (z[at] & 1) != 0;
        EXPECT_EQ(z[at] >> 1, 0) << "a stored block, on a byte boundary";
        const unsigned len = z[at + 1] | z[at + 2] << 8;
        const unsigned nlen = z[at + 3] | z[at + 4] << 8;
        EXPECT_EQ(len ^ 0xFFFFu, nlen) << "length and its complement";
        at += kBlockHeader;
        if (at + len > z.size()) {
            ADD_FAILURE() << "block runs past the stream";
            return out;
        }
        out.insert(out.end(), z.begin() + at, z.begin() + at + len);
        at += len;
        ++*blocks;
    }
    EXPECT_EQ(at + kAdlerSize, z.size()) << "the checksum ends the stream";
    if (at + kAdlerSize <= z.size()) {
        EXPECT_EQ(bigEndian(z, at), referenceAdler(out)) << "Adler-32";
    }
    return out;
}

struct Decoded {
    std::uint32_t width = 0, height = 0;
    RgbImage image;
    int blocks = 0;
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
    const Bytes raw = inflateStored(z, &d.blocks);
    const std::size_t stride = 1 + 3 * std::size_t{d.width};
    EXPECT_EQ(raw.size(), stride * d.height);
    if (raw.size() != stride * d.height) {
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

TEST(PngWriter, ChecksumsMatchTheirPublishedCheckValues) {
    const std::string text = "123456789";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    EXPECT_EQ(testbed::crc32(bytes, text.size()), 0xCBF43926u);
    const std::string wiki = "Wikipedia";
    EXPECT_EQ(testbed::adler32(reinterpret_cast<const std::uint8_t*>(wiki.data()), wiki.size()),
              0x11E60398u);
}

TEST(PngWriter, ChecksumsContinueAcrossCalls) {
    const Bytes data = [] {
        Bytes b(20000);
        for (std::size_t i = 0; i < b.size(); ++i) {
            b[i] = static_cast<std::uint8_t>(0xFF - i * 31);
        }
        return b;
    }();
    const std::size_t half = 7777;
    EXPECT_EQ(
        testbed::crc32(data.data() + half, data.size() - half, testbed::crc32(data.data(), half)),
        referenceCrc(data.data(), data.size()));
    // All bytes high: the sums must be reduced often enough not to overflow.
    const Bytes high(100000, 0xFF);
    EXPECT_EQ(testbed::adler32(high.data(), high.size()), referenceAdler(high));
    EXPECT_EQ(testbed::adler32(data.data() + half, data.size() - half,
                               testbed::adler32(data.data(), half)),
              referenceAdler(data));
}

TEST(PngWriter, SmallImageDecodesToItsPixels) {
    const RgbImage image = pattern(5, 3);
    const Decoded d = decode(testbed::encodePng(image));
    EXPECT_EQ(d.width, 5u);
    EXPECT_EQ(d.height, 3u);
    EXPECT_EQ(d.blocks, 1);
    EXPECT_EQ(d.image.pixels, image.pixels);
}

TEST(PngWriter, LargeImageSpreadsOverSeveralStoredBlocks) {
    // 200 x 120: 72120 bytes of scanlines, more than one stored block holds.
    const RgbImage image = pattern(200, 120);
    const Decoded d = decode(testbed::encodePng(image));
    EXPECT_EQ(d.blocks, 2);
    EXPECT_EQ(d.image.pixels, image.pixels);
}

TEST(PngWriter, BlocksSplitExactlyAtTheirLimit) {
    // 15 rows of 1 + 3 * 1456 bytes: 65535, one full block and no empty one after it.
    const RgbImage full = pattern(1456, 15);
    const Decoded one = decode(testbed::encodePng(full));
    EXPECT_EQ(one.blocks, 1);
    EXPECT_EQ(one.image.pixels, full.pixels);
    // 256 rows of 1 + 3 * 85 bytes: 65536, a full block and one of a single byte.
    const RgbImage overByOne = pattern(85, 256);
    const Decoded two = decode(testbed::encodePng(overByOne));
    EXPECT_EQ(two.blocks, 2);
    EXPECT_EQ(two.image.pixels, overByOne.pixels);
}

TEST(PngWriter, ImageWithoutPixelsStillEndsWithAFinalBlock) {
    const Decoded d = decode(testbed::encodePng(RgbImage(0, 0)));
    EXPECT_EQ(d.width, 0u);
    EXPECT_EQ(d.blocks, 1);
}

TEST(PngWriter, WritesTheEncodedBytesToAFile) {
    char dir[MAX_PATH] = {};
    GetTempPathA(sizeof dir, dir);
    const std::string path =
        std::string(dir) + "fendrix_png_" + std::to_string(GetCurrentProcessId()) + ".png";
    const RgbImage image = pattern(17, 9);
    ASSERT_TRUE(testbed::writePng(path, image));
    std::ifstream in(path, std::ios::binary);
    const Bytes written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    DeleteFileA(path.c_str());
    EXPECT_EQ(written, testbed::encodePng(image));
}

} // namespace
