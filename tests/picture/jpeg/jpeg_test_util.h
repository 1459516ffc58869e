#pragma once
// Helpers of the JPEG tests: decoding into guarded buffers, reading the
// reference decodes of djpeg, comparing pixels.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "picture/picture.h"
#include "tests/support/guarded_window.h"

// A P5 or P6 file as RGB triples (grey replicated).
struct Rgb {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

inline Rgb read_pnm(const std::vector<uint8_t>& f)
{
    Rgb r;
    if (f.size() < 2 || f[0] != 'P' || (f[1] != '5' && f[1] != '6'))
        return r;
    const bool grey = f[1] == '5';
    size_t pos = 2;
    long values[3];
    for (int i = 0; i < 3; ++i) {
        while (pos < f.size() && (f[pos] == ' ' || f[pos] == '\n' || f[pos] == '\r' || f[pos] == '\t' || f[pos] == '#')) {
            if (f[pos] == '#')
                while (pos < f.size() && f[pos] != '\n')
                    ++pos;
            else
                ++pos;
        }
        long v = 0;
        while (pos < f.size() && f[pos] >= '0' && f[pos] <= '9')
            v = v * 10 + (f[pos++] - '0');
        values[i] = v;
    }
    ++pos;
    size_t count = size_t(values[0]) * size_t(values[1]);
    if (f.size() < pos + count * (grey ? 1 : 3))
        return r;
    r.width = int32_t(values[0]);
    r.height = int32_t(values[1]);
    r.rgb.resize(count * 3);
    for (size_t i = 0; i < count; ++i)
        for (int c = 0; c < 3; ++c)
            r.rgb[3 * i + c] = f[pos + (grey ? i : 3 * i + c)];
    return r;
}

struct Fidelity {
    double psnr = 0;
    int max_diff = 0;
};

// PSNR over the RGB channels and the largest per-channel difference.
inline Fidelity compare_rgb(const Decoded& d, const Rgb& ref)
{
    Fidelity f;
    double sum = 0;
    size_t count = size_t(ref.width) * ref.height;
    for (size_t i = 0; i < count; ++i) {
        uint32_t p = d.pixels[i];
        const int ours[3] = {int(p >> 16 & 255), int(p >> 8 & 255), int(p & 255)};
        for (int c = 0; c < 3; ++c) {
            int diff = std::abs(ours[c] - int(ref.rgb[3 * i + c]));
            sum += double(diff) * diff;
            if (diff > f.max_diff)
                f.max_diff = diff;
        }
    }
    double mse = count ? sum / (3.0 * count) : 0;
    f.psnr = mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
    return f;
}

// A synthetic picture for cjpeg: smooth gradients, a few hard edges and a
// patch of noise, so that both low and high frequencies are exercised.
inline std::vector<uint8_t> make_pnm(int32_t w, int32_t h, bool grey, uint32_t seed)
{
    std::string head = std::string(grey ? "P5" : "P6") + "\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    std::vector<uint8_t> out(head.begin(), head.end());
    uint32_t state = seed * 2654435761u + 1;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            state = state * 1664525u + 1013904223u;
            const uint8_t noise = uint8_t(state >> 24);
            const bool in_noise = x > w / 2 && y > h / 2;
            const bool in_box = x > w / 8 && x < w / 3 && y > h / 6 && y < h / 2;
            uint8_t r = uint8_t(w > 1 ? x * 255 / (w - 1) : 128);
            uint8_t g = uint8_t(h > 1 ? y * 255 / (h - 1) : 64);
            uint8_t b = uint8_t((x + 2 * y) * 3);
            if (in_box)
                r = 230, g = 40, b = 60;
            if (in_noise)
                r = uint8_t((r + noise) / 2), g = uint8_t((g + (noise ^ 0x5A)) / 2), b = noise;
            if (grey)
                out.push_back(uint8_t((r * 3 + g * 5 + b * 2) / 10));
            else
                out.insert(out.end(), {r, g, b});
        }
    return out;
}

// A JPEG decoded at 1/2^scale against the means of its full decode's blocks.
// Left out: blocks cut by the picture's edges (they hold the encoder's
// padding), and channels of blocks that reach black or white, where the full
// decode clamps what rings past them and a mean taken before the transform
// does not (on light text over black that alone costs 15 dB).
struct ReducedComparison {
    int rc = -1;
    double psnr = 0;
    int64_t samples = 0;
    bool guard_intact = false;
    bool opaque = true;  // every reduced pixel has alpha 0xFF
};

inline ReducedComparison compare_reduced(const std::vector<uint8_t>& bytes, int32_t scale)
{
    ReducedComparison r;
    int32_t w = 0, h = 0;
    picture_probe(bytes.data(), int32_t(bytes.size()), &w, &h);
    if (w <= 0 || h <= 0)
        return r;
    std::vector<uint32_t> full(size_t(w) * size_t(h), 0);
    picture_decode(bytes.data(), int32_t(bytes.size()), reinterpret_cast<uint8_t*>(full.data()), w * 4, w, h, 0, 0);
    const int32_t step = 1 << scale, rw = (w + step - 1) >> scale, rh = (h + step - 1) >> scale;
    GuardedWindow window(rw, rh);
    const OutputWindow o = window.output();
    r.rc = jpeg_decode(bytes.data(), int32_t(bytes.size()), o.destination, o.pitch, rw, rh, 0, 0,
                       JpegOptions{ycbcr_block_output, scale});
    r.guard_intact = window.margins_intact();
    double sum = 0;
    for (int32_t y = 0; y < rh; ++y)
        for (int32_t x = 0; x < rw; ++x) {
            r.opaque = r.opaque && window.at(x, y) >> 24 == 0xFF;
            if ((x + 1) * step > w || (y + 1) * step > h)
                continue;
            for (int shift = 0; shift < 24; shift += 8) {
                int64_t total = 0;
                bool clamped = false;
                for (int32_t j = y * step; j < (y + 1) * step; ++j)
                    for (int32_t i = x * step; i < (x + 1) * step; ++i) {
                        const uint32_t v = full[size_t(j) * size_t(w) + size_t(i)] >> shift & 255;
                        clamped = clamped || v == 0 || v == 255;
                        total += v;
                    }
                if (clamped)
                    continue;
                const double d = double(window.at(x, y) >> shift & 255) - double(total) / double(step * step);
                sum += d * d;
                ++r.samples;
            }
        }
    r.psnr = sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * double(r.samples) / sum);
    return r;
}
