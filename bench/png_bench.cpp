// PNG decode against libpng's simplified API, and the inflater against
// zlib's inflate on the same streams. Pictures are made at start-up with
// libpng (default filters and compression) from a synthetic photo.
#include <benchmark/benchmark.h>
#include <png.h>
#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "picture/formats.h"
#include "picture/picture.h"
#include "picture/png/png_internal.h"

namespace {

struct BenchPicture {
    std::vector<uint8_t> file;
    std::vector<uint8_t> zlib;  // the IDAT data joined
    size_t raw_size = 0;        // bytes the stream inflates to
    int32_t width = 0, height = 0;
};

void write_to_vector(png_structp p, png_bytep data, png_size_t n)
{
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
    out->insert(out->end(), data, data + n);
}

// Smooth shapes with a little noise: compresses roughly like a photograph.
BenchPicture make_picture(int32_t w, int32_t h, int channels, bool interlaced)
{
    std::vector<uint8_t> pixels(size_t(w) * h * channels);
    uint32_t seed = 12345;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c) {
                seed = seed * 1103515245u + 12345u;
                double v = 128 + 70 * std::sin(x * 0.011 * (c + 1) + y * 0.007) + 40 * std::cos(y * 0.019 - x * 0.005 * c);
                v += int((seed >> 16) % 9) - 4;
                if (c == 3)
                    v = 255 - ((x / 64 + y / 64) % 3) * 60;
                pixels[(size_t(y) * w + x) * channels + c] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
            }
    BenchPicture pic;
    pic.width = w;
    pic.height = h;
    png_structp p = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(p);
    png_set_write_fn(p, &pic.file, write_to_vector, nullptr);
    png_set_IHDR(p, info, uint32_t(w), uint32_t(h), 8, channels == 4 ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_bytep> rows(static_cast<size_t>(h), nullptr);
    for (int32_t y = 0; y < h; ++y)
        rows[size_t(y)] = pixels.data() + size_t(y) * w * channels;
    png_set_rows(p, info, rows.data());
    png_write_png(p, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&p, &info);

    for (size_t at = 8; at + 12 <= pic.file.size();) {
        uint32_t n = uint32_t(pic.file[at]) << 24 | uint32_t(pic.file[at + 1]) << 16 | uint32_t(pic.file[at + 2]) << 8 |
                     pic.file[at + 3];
        if (std::memcmp(&pic.file[at + 4], "IDAT", 4) == 0)
            pic.zlib.insert(pic.zlib.end(), pic.file.begin() + long(at + 8), pic.file.begin() + long(at + 8 + n));
        at += 12 + n;
    }
    std::vector<uint8_t> out(size_t(w) * h * channels * 2 + size_t(h) * 8);
    uLongf out_len = uLongf(out.size());
    uncompress(out.data(), &out_len, pic.zlib.data(), uLong(pic.zlib.size()));
    pic.raw_size = out_len;
    return pic;
}

const BenchPicture& picture(int index)
{
    static std::map<int, BenchPicture> made;
    static const struct {
        int32_t w, h;
        int channels;
        bool interlaced;
    } kinds[] = {{96, 96, 3, false}, {256, 256, 4, false}, {256, 256, 4, true}, {2000, 1500, 3, false},
                 {2000, 1500, 3, true}, {2000, 1500, 4, false}, {2000, 1500, 4, true}};
    auto it = made.find(index);
    if (it == made.end())
        it = made.emplace(index, make_picture(kinds[index].w, kinds[index].h, kinds[index].channels,
                                              kinds[index].interlaced))
                 .first;
    return it->second;
}

const char* kNames[] = {"96x96_rgb", "256x256_rgba", "256x256_rgba_adam7", "2000x1500_rgb", "2000x1500_rgb_adam7",
                        "2000x1500_rgba", "2000x1500_rgba_adam7"};

uint64_t sink_sum;
void counting_sink(const uint8_t* bytes, int32_t count)
{
    if (count > 0)
        sink_sum += bytes[0] + bytes[count - 1];
}

void BM_Inflate_Glimmerdex(benchmark::State& state)
{
    const BenchPicture& pic = picture(int(state.range(0)));
    std::vector<uint32_t> dest(size_t(pic.width) * pic.height);
    inflate_sink = counting_sink;
    for (auto _ : state) {
        OutputWindow window{reinterpret_cast<uint8_t*>(dest.data()), pic.width * 4, pic.width, pic.height, 0, 0};
        int r = png_decode(ByteView{pic.file.data(), pic.file.size()}, window);
        benchmark::DoNotOptimize(r);
    }
    inflate_sink = png_filter_rows;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pic.raw_size));
    state.SetLabel(kNames[state.range(0)]);
}

void BM_Inflate_Zlib(benchmark::State& state)
{
    const BenchPicture& pic = picture(int(state.range(0)));
    std::vector<uint8_t> out(pic.raw_size);
    for (auto _ : state) {
        z_stream z{};
        inflateInit(&z);
        z.next_in = const_cast<Bytef*>(pic.zlib.data());
        z.avail_in = uInt(pic.zlib.size());
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        int r = inflate(&z, Z_FINISH);
        inflateEnd(&z);
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pic.raw_size));
    state.SetLabel(kNames[state.range(0)]);
}

// libpng's pixels for the picture, as 0xAARRGGBB words.
std::vector<uint32_t> libpng_pixels(const BenchPicture& pic)
{
    std::vector<uint32_t> dest(size_t(pic.width) * pic.height);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    png_image_begin_read_from_memory(&image, pic.file.data(), pic.file.size());
    image.format = PNG_FORMAT_BGRA;
    png_image_finish_read(&image, nullptr, dest.data(), 0, nullptr);
    png_image_free(&image);
    return dest;
}

void BM_Decode_Glimmerdex(benchmark::State& state)
{
    const BenchPicture& pic = picture(int(state.range(0)));
    std::vector<uint32_t> dest(size_t(pic.width) * pic.height);
    if (picture_decode(pic.file.data(), int32_t(pic.file.size()), reinterpret_cast<uint8_t*>(dest.data()),
                       pic.width * 4, pic.width, pic.height, 0, 0) != 0 ||
        dest != libpng_pixels(pic)) {
        state.SkipWithError("pixels differ from libpng's");
        return;
    }
    for (auto _ : state) {
        int r = picture_decode(pic.file.data(), int32_t(pic.file.size()), reinterpret_cast<uint8_t*>(dest.data()),
                               pic.width * 4, pic.width, pic.height, 0, 0);
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(dest.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * pic.width * pic.height);
    state.SetLabel(kNames[state.range(0)]);
}

void BM_Decode_Libpng(benchmark::State& state)
{
    const BenchPicture& pic = picture(int(state.range(0)));
    std::vector<uint32_t> dest(size_t(pic.width) * pic.height);
    for (auto _ : state) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        png_image_begin_read_from_memory(&image, pic.file.data(), pic.file.size());
        image.format = PNG_FORMAT_BGRA;  // the byte order of our 0xAARRGGBB words
        int ok = png_image_finish_read(&image, nullptr, dest.data(), 0, nullptr);
        png_image_free(&image);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(dest.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * pic.width * pic.height);
    state.SetLabel(kNames[state.range(0)]);
}

BENCHMARK(BM_Inflate_Glimmerdex)->DenseRange(0, 6)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Inflate_Zlib)->DenseRange(0, 6)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Decode_Glimmerdex)->DenseRange(0, 6)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Decode_Libpng)->DenseRange(0, 6)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
