#include "tests/support/guarded_window.h"

#include <sstream>

GuardedWindow::GuardedWindow(int32_t width, int32_t height, int32_t margin)
    : width_(width), height_(height), margin_(margin), stride_(width + 2 * margin),
      words_(size_t(width + 2 * margin) * size_t(height + 2 * margin), TEST_CANARY)
{
}

int GuardedWindow::decode(const std::vector<uint8_t>& file, int32_t x_offset, int32_t y_offset)
{
    return picture_decode(file.data(), int32_t(file.size()), origin(), stride_ * 4, width_, height_, x_offset,
                          y_offset);
}

int GuardedWindow::decode_upwards(const std::vector<uint8_t>& file)
{
    uint8_t* last = origin() + int64_t(height_ - 1) * stride_ * 4;
    return picture_decode(file.data(), int32_t(file.size()), last, -stride_ * 4, width_, height_, 0, 0);
}

uint32_t GuardedWindow::at(int32_t x, int32_t y) const
{
    return words_[size_t(y + margin_) * stride_ + size_t(x + margin_)];
}

bool GuardedWindow::margins_intact() const
{
    for (int32_t y = -margin_; y < height_ + margin_; ++y)
        for (int32_t x = -margin_; x < width_ + margin_; ++x)
            if ((x < 0 || y < 0 || x >= width_ || y >= height_) && at(x, y) != TEST_CANARY)
                return false;
    return true;
}

int32_t GuardedWindow::count(uint32_t value) const
{
    int32_t n = 0;
    for (int32_t y = 0; y < height_; ++y)
        for (int32_t x = 0; x < width_; ++x)
            n += at(x, y) == value;
    return n;
}

std::vector<uint32_t> GuardedWindow::pixels() const
{
    std::vector<uint32_t> out;
    out.reserve(size_t(width_) * size_t(height_));
    for (int32_t y = 0; y < height_; ++y)
        for (int32_t x = 0; x < width_; ++x)
            out.push_back(at(x, y));
    return out;
}

static uint32_t ref_pixel(const std::vector<uint8_t>& ref, size_t i)
{
    const uint8_t* p = ref.data() + 8 + 4 * i;
    return uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

int32_t GuardedWindow::count_differences(const std::vector<uint8_t>& ref) const
{
    int32_t bad = 0;
    for (int32_t y = 0; y < height_; ++y)
        for (int32_t x = 0; x < width_; ++x)
            bad += at(x, y) != ref_pixel(ref, size_t(y) * width_ + x);
    return bad;
}

std::string GuardedWindow::first_difference(const std::vector<uint8_t>& ref) const
{
    for (int32_t y = 0; y < height_; ++y)
        for (int32_t x = 0; x < width_; ++x)
            if (at(x, y) != ref_pixel(ref, size_t(y) * width_ + x)) {
                std::ostringstream s;
                s << "(" << x << ", " << y << "): got " << std::hex << at(x, y) << ", want "
                  << ref_pixel(ref, size_t(y) * width_ + x);
                return s.str();
            }
    return "none";
}

bool GuardedWindow::pixels_equal(const GuardedWindow& other) const
{
    return width_ == other.width_ && height_ == other.height_ && margin_ == other.margin_ &&
           words_ == other.words_;
}

Decoded decode_guarded(const std::vector<uint8_t>& bytes)
{
    Decoded d;
    picture_probe(bytes.data(), int32_t(bytes.size()), &d.width, &d.height);
    if (d.width <= 0 || d.height <= 0 || int64_t(d.width) * d.height > (int64_t(1) << 26)) {
        d.rc = picture_decode(bytes.data(), int32_t(bytes.size()), nullptr, 0, 0, 0, 0, 0);
        return d;
    }
    GuardedWindow window(d.width, d.height);
    d.rc = window.decode(bytes);
    d.pixels = window.pixels();
    d.guard_intact = window.margins_intact();
    return d;
}
