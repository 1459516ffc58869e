// Format recognition and the size probe.
#include <cstring>
#include <vector>

#include "picture/picture.h"
#include "tests/support/bytes.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbsdb_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::pair<int32_t, int32_t> probe(const Bytes& b)
{
    int32_t w = -7, h = -7;
    picture_probe(b.data(), int32_t(b.size()), &w, &h);
    return {w, h};
}

void le16(Bytes& b, size_t at, uint16_t v) { b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8); }

Bytes jpeg_with_frame(uint8_t sof)
{
    // SOI, an APP0 to skip, then a frame header 30 x 20.
    Bytes b = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0xAA, 0xBB, 0xFF, 0xFF, sof, 0x00, 0x11, 0x08, 0x00, 20, 0x00, 30, 3};
    b.resize(40, 0);
    return b;
}

} // namespace

TEST(Probe, ShortBuffersGiveNoSize)
{
    Bytes b = jpeg_with_frame(0xC0);
    b.resize(15);
    EXPECT_EQ(probe(b), std::make_pair(0, 0));
}

TEST(Probe, JpegFrames)
{
    EXPECT_EQ(probe(jpeg_with_frame(0xC0)), std::make_pair(30, 20));
    EXPECT_EQ(probe(jpeg_with_frame(0xC2)), std::make_pair(30, 20)) << "progressive";
    EXPECT_EQ(probe(jpeg_with_frame(0xC3)), std::make_pair(0, 0)) << "lossless";
    Bytes real = fixture::encode_jpeg(fixture::make_test_image(33, 17, 3));
    EXPECT_EQ(probe(real), std::make_pair(33, 17));
}

TEST(Probe, PngGifCelBmpPcxDdsTga)
{
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 1, 't', 'E', 'X', 't', 'x', 0, 0, 0, 0,
                 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 1, 0, 0, 0, 0, 77};
    png.resize(60, 0);
    EXPECT_EQ(probe(png), std::make_pair(256, 77)) << "IHDR after another chunk";
    png[2] = 'X';
    EXPECT_EQ(probe(png), std::make_pair(0, 0)) << "incomplete signature";

    Bytes gif(32, 0);
    std::memcpy(gif.data(), "GIF89a", 6);
    le16(gif, 6, 120), le16(gif, 8, 90);
    EXPECT_EQ(probe(gif), std::make_pair(120, 90)) << "the logical screen";

    Bytes cel(32, 0);
    cel[0] = 0x19, cel[1] = 0x91, cel[10] = 8;
    le16(cel, 2, 64), le16(cel, 4, 48);
    EXPECT_EQ(probe(cel), std::make_pair(64, 48));
    cel[10] = 4;
    EXPECT_EQ(probe(cel), std::make_pair(0, 0)) << "not a CEL, and nothing else either";

    Bytes os2(32, 0);
    os2[0] = 'B', os2[1] = 'M';
    set_le32(os2, 14, 12), le16(os2, 18, 640), le16(os2, 20, 480), le16(os2, 22, 1);
    EXPECT_EQ(probe(os2), std::make_pair(640, 480));
    Bytes win(40, 0);
    win[0] = 'B', win[1] = 'M';
    set_le32(win, 14, 40), set_le32(win, 18, 300), set_le32(win, 22, uint32_t(-480)), le16(win, 26, 1);
    EXPECT_EQ(probe(win), std::make_pair(300, -480));
    le16(win, 26, 2);
    EXPECT_EQ(probe(win), std::make_pair(0, 0)) << "planes must be 1";

    Bytes pcx(128, 0);
    pcx[0] = 0x0A, pcx[1] = 5, pcx[2] = 1, pcx[3] = 8;
    le16(pcx, 8, 99), le16(pcx, 10, 9);
    EXPECT_EQ(probe(pcx), std::make_pair(100, 10));

    Bytes dds(128, 0);
    std::memcpy(dds.data(), "DDS ", 4);
    set_le32(dds, 4, 124), set_le32(dds, 12, 16), set_le32(dds, 16, 32);
    EXPECT_EQ(probe(dds), std::make_pair(32, 16));

    Bytes tga(40, 0);
    tga[2] = 2, tga[16] = 24;
    le16(tga, 12, 11), le16(tga, 14, 5);
    EXPECT_EQ(probe(tga), std::make_pair(11, 5));
    tga[16] = 16;
    EXPECT_EQ(probe(tga), std::make_pair(11, 5));
    tga[16] = 15;
    EXPECT_EQ(probe(tga), std::make_pair(0, 0));
}

TEST(Decode, UnknownBytesLeaveTheDestinationAlone)
{
    Bytes junk(64, 0x5A);
    uint32_t pixels[4] = {1, 2, 3, 4};
    EXPECT_EQ(picture_decode(junk.data(), int32_t(junk.size()), reinterpret_cast<uint8_t*>(pixels), 8, 2, 2, 0, 0), -1);
    EXPECT_EQ(pixels[0], 1u);
    EXPECT_EQ(pixels[3], 4u);
    EXPECT_EQ(picture_decode(junk.data(), 0, reinterpret_cast<uint8_t*>(pixels), 8, 2, 2, 0, 0), -1);
    Bytes tga(18, 0);  // one byte short of the TGA test
    tga[2] = 2, tga[16] = 24;
    EXPECT_EQ(picture_decode(tga.data(), int32_t(tga.size()), reinterpret_cast<uint8_t*>(pixels), 8, 2, 2, 0, 0), -1);
}

// Every prefix of real headers, probed in a buffer of exactly that size (the
// sanitizer build catches a read past it).
TEST(Probe, EveryPrefixStaysInsideTheBuffer)
{
    std::vector<Bytes> samples = {jpeg_with_frame(0xC0), fixture::encode_jpeg(fixture::make_test_image(9, 9, 1))};
    Bytes chunky = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0xFF, 0xFF, 0xFF, 0xF0, 'a', 'b', 'c', 'd'};
    chunky.resize(64, 0);
    samples.push_back(chunky);
    Bytes jpeg_lengths = {0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xFF};
    jpeg_lengths.resize(40, 0xFF);
    samples.push_back(jpeg_lengths);
    for (const Bytes& s : samples)
        for (size_t n = 0; n <= s.size(); ++n) {
            Bytes prefix(s.begin(), s.begin() + std::ptrdiff_t(n));
            std::vector<uint8_t> exact(prefix);
            int32_t w, h;
            picture_probe(exact.data(), int32_t(exact.size()), &w, &h);
        }
}
