// GIF against giflib, and BMP and TGA against stb_image, on the same
// in-memory files (made here, 512 x 512). Every decoder produces 32-bit
// pixels: ours into a window allocated once, giflib through DGifSlurp plus a
// colour-map lookup, stb_image into its own allocation. stb_image has no PCX
// reader, so PCX is measured on its own.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gif_lib.h>
#include <stb/stb_image.h>

#include "picture/picture.h"

namespace {

constexpr int side = 512;

// A photo-like picture: smooth colour fields with some noise.
uint32_t sample_rgb(int x, int y)
{
    static uint32_t seed = 12345;
    seed = seed * 1103515245u + 12345u;
    int noise = int(seed >> 28) - 8;
    auto clamp = [](double v) { return uint32_t(v < 0 ? 0 : v > 255 ? 255 : v); };
    double r = 128 + 100 * std::sin(x * 0.02) + noise;
    double g = 128 + 100 * std::cos(y * 0.015) + noise;
    double b = 128 + 80 * std::sin((x + y) * 0.01) + noise;
    return clamp(r) << 16 | clamp(g) << 8 | clamp(b);
}

// 3-3-2 palette index of a colour.
uint8_t index332(uint32_t c) { return uint8_t((c >> 16 & 0xE0) | (c >> 11 & 0x1C) | (c >> 6 & 0x03)); }
uint32_t colour332(int i) { return uint32_t((i & 0xE0) << 16 | (i & 0x1C) << 11 | (i & 0x03) << 6); }

struct Bytes {
    std::vector<uint8_t> b;
    void u8(uint32_t v) { b.push_back(uint8_t(v)); }
    void u16(uint32_t v) { u8(v), u8(v >> 8); }
    void u32(uint32_t v) { u16(v), u16(v >> 16); }
};

std::vector<uint8_t> make_bmp24()
{
    Bytes f;
    int stride = (side * 3 + 3) & ~3;
    f.u8('B'), f.u8('M'), f.u32(54 + stride * side), f.u32(0), f.u32(54);
    f.u32(40), f.u32(side), f.u32(side), f.u16(1), f.u16(24), f.u32(0), f.u32(0), f.u32(0), f.u32(0), f.u32(0),
        f.u32(0);
    for (int y = side - 1; y >= 0; --y) {
        for (int x = 0; x < side; ++x) {
            uint32_t c = sample_rgb(x, y);
            f.u8(c), f.u8(c >> 8), f.u8(c >> 16);
        }
        for (int k = side * 3; k < stride; ++k)
            f.u8(0);
    }
    return f.b;
}

std::vector<uint8_t> make_bmp8()
{
    Bytes f;
    f.u8('B'), f.u8('M'), f.u32(54 + 1024 + side * side), f.u32(0), f.u32(54 + 1024);
    f.u32(40), f.u32(side), f.u32(side), f.u16(1), f.u16(8), f.u32(0), f.u32(0), f.u32(0), f.u32(0), f.u32(256),
        f.u32(0);
    for (int i = 0; i < 256; ++i) {
        uint32_t c = colour332(i);
        f.u8(c), f.u8(c >> 8), f.u8(c >> 16), f.u8(0);
    }
    for (int y = side - 1; y >= 0; --y)
        for (int x = 0; x < side; ++x)
            f.u8(index332(sample_rgb(x, y)));
    return f.b;
}

std::vector<uint8_t> make_tga(bool rle)
{
    Bytes f;
    f.u8(0), f.u8(0), f.u8(rle ? 10 : 2), f.u16(0), f.u16(0), f.u8(0), f.u16(0), f.u16(0), f.u16(side), f.u16(side),
        f.u8(24), f.u8(0x20);
    std::vector<uint32_t> px;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            px.push_back(sample_rgb(x, y) & 0xF0F0F0);  // some runs for the RLE case
    auto put = [&](uint32_t c) { f.u8(c), f.u8(c >> 8), f.u8(c >> 16); };
    if (!rle) {
        for (uint32_t c : px)
            put(c);
        return f.b;
    }
    // Packets never cross rows, as most writers do.
    for (int y = 0; y < side; ++y) {
        const uint32_t* row = &px[size_t(y) * side];
        int x = 0;
        while (x < side) {
            int run = 1;
            while (x + run < side && run < 128 && row[x + run] == row[x])
                ++run;
            if (run > 1) {
                f.u8(0x80 | (run - 1)), put(row[x]);
                x += run;
                continue;
            }
            int n = 1;
            while (x + n < side && n < 128 && row[x + n] != row[x + n - 1])
                ++n;
            f.u8(n - 1);
            for (int k = 0; k < n; ++k)
                put(row[x + k]);
            x += n;
        }
    }
    return f.b;
}

std::vector<uint8_t> make_pcx()
{
    Bytes f;
    f.u8(0x0A), f.u8(5), f.u8(1), f.u8(8), f.u16(0), f.u16(0), f.u16(side - 1), f.u16(side - 1);
    while (f.b.size() < 65)
        f.u8(0);
    f.u8(1), f.u16(side);
    while (f.b.size() < 128)
        f.u8(0);
    for (int y = 0; y < side; ++y) {
        int x = 0;
        while (x < side) {
            uint8_t v = uint8_t(index332(sample_rgb(x, y)) & 0xF8);
            int run = 1;
            while (x + run < side && run < 63 && uint8_t(index332(sample_rgb(x + run, y)) & 0xF8) == v)
                ++run;
            if (run > 1 || v >= 0xC0)
                f.u8(0xC0 | run);
            f.u8(v);
            x += run;
        }
    }
    f.u8(0x0C);
    for (int i = 0; i < 256; ++i) {
        uint32_t c = colour332(i);
        f.u8(c >> 16), f.u8(c >> 8), f.u8(c);
    }
    return f.b;
}

int gif_write(GifFileType* gif, const GifByteType* bytes, int n)
{
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), bytes, bytes + n);
    return n;
}

std::vector<uint8_t> make_gif()
{
    std::vector<uint8_t> out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, gif_write, &error);
    GifColorType colours[256];
    for (int i = 0; i < 256; ++i) {
        uint32_t c = colour332(i);
        colours[i] = {GifByteType(c >> 16), GifByteType(c >> 8), GifByteType(c)};
    }
    ColorMapObject* map = GifMakeMapObject(256, colours);
    EGifPutScreenDesc(gif, side, side, 8, 0, map);
    EGifPutImageDesc(gif, 0, 0, side, side, false, nullptr);
    std::vector<GifPixelType> line(side);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x)
            line[size_t(x)] = index332(sample_rgb(x, y));
        EGifPutLine(gif, line.data(), side);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

struct GifSource {
    const std::vector<uint8_t>* bytes;
    size_t at;
};

int gif_read(GifFileType* gif, GifByteType* into, int n)
{
    auto* src = static_cast<GifSource*>(gif->UserData);
    size_t left = src->bytes->size() - src->at;
    size_t k = size_t(n) < left ? size_t(n) : left;
    std::memcpy(into, src->bytes->data() + src->at, k);
    src->at += k;
    return int(k);
}

void ours(benchmark::State& state, const std::vector<uint8_t>& file)
{
    std::vector<uint32_t> window(size_t(side) * side);
    for (auto _ : state) {
        int rc = picture_decode(file.data(), int32_t(file.size()), reinterpret_cast<uint8_t*>(window.data()),
                                side * 4, side, side, 0, 0);
        if (rc != 0)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(window.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * side * side);
}

void stb(benchmark::State& state, const std::vector<uint8_t>& file)
{
    for (auto _ : state) {
        int w, h, n;
        stbi_uc* px = stbi_load_from_memory(file.data(), int(file.size()), &w, &h, &n, 4);
        if (!px)
            state.SkipWithError("stb_image failed");
        benchmark::DoNotOptimize(px);
        stbi_image_free(px);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * side * side);
}

const std::vector<uint8_t>& gif_file()
{
    static std::vector<uint8_t> f = make_gif();
    return f;
}
const std::vector<uint8_t>& bmp24_file()
{
    static std::vector<uint8_t> f = make_bmp24();
    return f;
}
const std::vector<uint8_t>& bmp8_file()
{
    static std::vector<uint8_t> f = make_bmp8();
    return f;
}
const std::vector<uint8_t>& tga_file()
{
    static std::vector<uint8_t> f = make_tga(false);
    return f;
}
const std::vector<uint8_t>& tga_rle_file()
{
    static std::vector<uint8_t> f = make_tga(true);
    return f;
}
const std::vector<uint8_t>& pcx_file()
{
    static std::vector<uint8_t> f = make_pcx();
    return f;
}

void BM_gif_ours(benchmark::State& s) { ours(s, gif_file()); }
void BM_gif_giflib(benchmark::State& state)
{
    const std::vector<uint8_t>& file = gif_file();
    std::vector<uint32_t> window(size_t(side) * side);
    for (auto _ : state) {
        GifSource src{&file, 0};
        int error = 0;
        GifFileType* gif = DGifOpen(&src, gif_read, &error);
        if (!gif || DGifSlurp(gif) != GIF_OK) {
            state.SkipWithError("giflib failed");
            break;
        }
        const SavedImage& image = gif->SavedImages[0];
        const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
        uint32_t palette[256] = {};
        for (int i = 0; i < map->ColorCount && i < 256; ++i)
            palette[i] = 0xFF000000u | uint32_t(map->Colors[i].Red) << 16 | uint32_t(map->Colors[i].Green) << 8 |
                         map->Colors[i].Blue;
        size_t n = size_t(image.ImageDesc.Width) * size_t(image.ImageDesc.Height);
        for (size_t k = 0; k < n; ++k)
            window[k] = palette[image.RasterBits[k]];
        benchmark::DoNotOptimize(window.data());
        DGifCloseFile(gif, &error);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * side * side);
}
void BM_bmp24_ours(benchmark::State& s) { ours(s, bmp24_file()); }
void BM_bmp24_stb(benchmark::State& s) { stb(s, bmp24_file()); }
void BM_bmp8_ours(benchmark::State& s) { ours(s, bmp8_file()); }
void BM_bmp8_stb(benchmark::State& s) { stb(s, bmp8_file()); }
void BM_tga24_ours(benchmark::State& s) { ours(s, tga_file()); }
void BM_tga24_stb(benchmark::State& s) { stb(s, tga_file()); }
void BM_tga24_rle_ours(benchmark::State& s) { ours(s, tga_rle_file()); }
void BM_tga24_rle_stb(benchmark::State& s) { stb(s, tga_rle_file()); }
void BM_pcx8_ours(benchmark::State& s) { ours(s, pcx_file()); }

BENCHMARK(BM_gif_ours);
BENCHMARK(BM_gif_giflib);
BENCHMARK(BM_bmp24_ours);
BENCHMARK(BM_bmp24_stb);
BENCHMARK(BM_bmp8_ours);
BENCHMARK(BM_bmp8_stb);
BENCHMARK(BM_tga24_ours);
BENCHMARK(BM_tga24_stb);
BENCHMARK(BM_tga24_rle_ours);
BENCHMARK(BM_tga24_rle_stb);
BENCHMARK(BM_pcx8_ours);

} // namespace

BENCHMARK_MAIN();
