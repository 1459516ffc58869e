#include "tests/picture/png/png_test_util.h"

#include "tests/support/bytes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "picture/picture.h"

void DeflateBits::put(uint32_t value, int count)
{
    for (int i = 0; i < count; ++i, ++bit) {
        if (bit % 8 == 0)
            bytes.push_back(0);
        bytes.back() |= uint8_t(((value >> i) & 1) << (bit % 8));
    }
}

void DeflateBits::put_code(uint32_t code, int length)
{
    for (int i = length - 1; i >= 0; --i)
        put((code >> i) & 1, 1);
}

void DeflateBits::align()
{
    bit = (bit + 7) / 8 * 8;
}

void DeflateBits::fixed_literal(uint32_t s)
{
    if (s < 144)
        put_code(0x30 + s, 8);
    else if (s < 256)
        put_code(0x190 + s - 144, 9);
    else if (s < 280)
        put_code(s - 256, 7);
    else
        put_code(0xC0 + s - 280, 8);
}

void DeflateBits::fixed_match(uint32_t length, uint32_t distance)
{
    static const uint16_t len_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                          31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const uint8_t len_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                          2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static const uint16_t dist_base[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                                           33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                                           1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    int l = 28;
    if (length != 258) {
        l = 27;
        while (len_base[l] > length)
            --l;
    }
    fixed_literal(257 + l);
    put(length - len_base[l], len_extra[l]);
    int d = 29;
    while (dist_base[d] > distance)
        --d;
    put_code(d, 5);
    put(distance - dist_base[d], d < 4 ? 0 : d / 2 - 1);
}

std::vector<uint8_t> deflate_stored(const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> out;
    size_t at = 0;
    do {
        size_t n = std::min<size_t>(65535, data.size() - at);
        bool last = at + n == data.size();
        out.push_back(last ? 1 : 0);
        out.push_back(uint8_t(n));
        out.push_back(uint8_t(n >> 8));
        out.push_back(uint8_t(~n));
        out.push_back(uint8_t(~n >> 8));
        out.insert(out.end(), data.begin() + long(at), data.begin() + long(at + n));
        at += n;
    } while (at < data.size());
    return out;
}

std::vector<uint8_t> deflate_fixed_literals(const std::vector<uint8_t>& data)
{
    DeflateBits b;
    b.put(1, 1);
    b.put(1, 2);
    for (uint8_t v : data)
        b.fixed_literal(v);
    b.fixed_literal(256);
    return b.bytes;
}

std::vector<uint8_t> zlib_wrap(const std::vector<uint8_t>& deflate, const std::vector<uint8_t>& raw)
{
    std::vector<uint8_t> out = {0x78, 0x01};
    out.insert(out.end(), deflate.begin(), deflate.end());
    uint32_t a = 1, b = 0;
    for (uint8_t v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    uint32_t adler = b << 16 | a;
    for (int i = 3; i >= 0; --i)
        out.push_back(uint8_t(adler >> (8 * i)));
    return out;
}

static void put_be32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 3; i >= 0; --i)
        out.push_back(uint8_t(v >> (8 * i)));
}

std::vector<uint8_t> png_chunk(const std::string& type, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> out;
    put_be32(out, uint32_t(data.size()));
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    uint32_t crc = crc32_of(out.data() + 4, out.size() - 4);
    put_be32(out, crc);
    return out;
}

std::vector<uint8_t> png_ihdr(uint32_t width, uint32_t height, int depth, int colour_type, int interlace)
{
    std::vector<uint8_t> d;
    put_be32(d, width);
    put_be32(d, height);
    d.push_back(uint8_t(depth));
    d.push_back(uint8_t(colour_type));
    d.push_back(0);
    d.push_back(0);
    d.push_back(uint8_t(interlace));
    return d;
}

static const uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

static void append(std::vector<uint8_t>& out, const std::vector<uint8_t>& more)
{
    out.insert(out.end(), more.begin(), more.end());
}

static void append_idat(std::vector<uint8_t>& out, const std::vector<uint8_t>& zlib,
                        const std::vector<size_t>& sizes, bool empty_between)
{
    size_t at = 0, k = 0;
    do {
        size_t n = sizes.empty() ? zlib.size() : sizes[std::min(k, sizes.size() - 1)];
        n = std::min(n, zlib.size() - at);
        append(out, png_chunk("IDAT", std::vector<uint8_t>(zlib.begin() + long(at), zlib.begin() + long(at + n))));
        if (empty_between)
            append(out, png_chunk("IDAT", {}));
        at += n;
        ++k;
    } while (at < zlib.size());
}

std::vector<uint8_t> make_png(const std::vector<uint8_t>& ihdr, const std::vector<PngChunk>& before,
                              const std::vector<uint8_t>& zlib, const std::vector<size_t>& idat_sizes)
{
    std::vector<uint8_t> out(kSignature, kSignature + 8);
    append(out, png_chunk("IHDR", ihdr));
    for (const PngChunk& c : before)
        append(out, png_chunk(c.type, c.data));
    append_idat(out, zlib, idat_sizes, false);
    append(out, png_chunk("IEND", {}));
    return out;
}

std::vector<uint8_t> make_test_png_gray(uint32_t width, uint32_t height, const std::vector<uint8_t>& pixels)
{
    std::vector<uint8_t> raw;
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), pixels.begin() + long(y * width), pixels.begin() + long((y + 1) * width));
    }
    return make_png(png_ihdr(width, height, 8, 0, 0), {}, zlib_wrap(deflate_stored(raw), raw));
}

std::vector<uint8_t> rechunk_png(const std::vector<uint8_t>& png, const std::vector<size_t>& idat_sizes,
                                 bool empty_between)
{
    std::vector<uint8_t> head(png.begin(), png.begin() + 8), zlib, tail;
    size_t at = 8;
    bool seen_idat = false;
    while (at + 12 <= png.size()) {
        uint32_t n = uint32_t(png[at]) << 24 | uint32_t(png[at + 1]) << 16 | uint32_t(png[at + 2]) << 8 | png[at + 3];
        std::string type(png.begin() + long(at + 4), png.begin() + long(at + 8));
        std::vector<uint8_t> whole(png.begin() + long(at), png.begin() + long(at + 12 + n));
        if (type == "IDAT") {
            zlib.insert(zlib.end(), png.begin() + long(at + 8), png.begin() + long(at + 8 + n));
            seen_idat = true;
        } else if (!seen_idat) {
            append(head, whole);
        } else {
            append(tail, whole);
        }
        at += 12 + n;
    }
    append_idat(head, zlib, idat_sizes, empty_between);
    append(head, tail);
    return head;
}

static int paeth_predict(int a, int b, int c)
{
    int p = a + b - c;
    int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc)
        return a;
    return pb <= pc ? b : c;
}

std::vector<uint8_t> encode_rows(const std::vector<uint8_t>& samples, uint32_t width, uint32_t height, int channels,
                                 int depth, bool interlaced, int first_filter)
{
    static const int xs[7] = {0, 4, 0, 2, 0, 1, 0}, ys[7] = {0, 0, 4, 0, 2, 0, 1};
    static const int dx[7] = {8, 8, 4, 4, 2, 2, 1}, dy[7] = {8, 8, 8, 4, 4, 2, 2};
    const int bpp = std::max(1, channels * depth / 8);
    std::vector<uint8_t> out;
    for (int p = 0; p < (interlaced ? 7 : 1); ++p) {
        uint32_t x0 = interlaced ? xs[p] : 0, y0 = interlaced ? ys[p] : 0;
        uint32_t sx = interlaced ? dx[p] : 1, sy = interlaced ? dy[p] : 1;
        if (x0 >= width || y0 >= height)
            continue;
        std::vector<uint8_t> prior;
        int r = 0;
        for (uint32_t y = y0; y < height; y += sy, ++r) {
            std::vector<uint8_t> raw;
            uint32_t bits = 0;
            for (uint32_t x = x0; x < width; x += sx)
                for (int c = 0; c < channels; ++c, bits += depth) {
                    if (bits % 8 == 0)
                        raw.push_back(0);
                    raw.back() |= uint8_t(samples[(size_t(y) * width + x) * channels + c] << (8 - depth - bits % 8));
                }
            if (prior.empty())
                prior.assign(raw.size(), 0);
            int f = (r + first_filter) % 5;
            out.push_back(uint8_t(f));
            for (size_t i = 0; i < raw.size(); ++i) {
                int a = i >= size_t(bpp) ? raw[i - bpp] : 0, b = prior[i], c = i >= size_t(bpp) ? prior[i - bpp] : 0;
                int pred = f == 0 ? 0 : f == 1 ? a : f == 2 ? b : f == 3 ? (a + b) / 2 : paeth_predict(a, b, c);
                out.push_back(uint8_t(raw[i] - pred));
            }
            prior = raw;
        }
    }
    return out;
}
