#pragma once
// A decode target with a margin of canary words on every side, so that any
// write outside the clip rectangle shows; and a decode into one sized by the
// picture's own probe.
#include <cstdint>
#include <string>
#include <vector>

#include "picture/picture.h"

constexpr uint32_t TEST_CANARY = 0xA5C3E1F7;

class GuardedWindow {
public:
    GuardedWindow(int32_t width, int32_t height, int32_t margin = 16);
    // picture_decode into the window at the given offsets (clip = window size).
    int decode(const std::vector<uint8_t>& file, int32_t x_offset = 0, int32_t y_offset = 0);
    // The same with rows going upwards in memory (negative pitch).
    int decode_upwards(const std::vector<uint8_t>& file);
    // The window as a decoder's output, for calling a format decoder directly.
    OutputWindow output() { return OutputWindow{origin(), stride_ * 4, width_, height_, 0, 0}; }
    uint32_t at(int32_t x, int32_t y) const;
    bool untouched(int32_t x, int32_t y) const { return at(x, y) == TEST_CANARY; }
    bool margins_intact() const;
    // Pixels of the window (margins excluded) equal to value.
    int32_t count(uint32_t value) const;
    // The window's pixels, top-down, without the margins.
    std::vector<uint32_t> pixels() const;
    // Pixels that differ from a .ref.rgba image (u32 w, u32 h, RGBA rows).
    int32_t count_differences(const std::vector<uint8_t>& ref) const;
    std::string first_difference(const std::vector<uint8_t>& ref) const;
    bool pixels_equal(const GuardedWindow& other) const;
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }

private:
    uint8_t* origin() { return reinterpret_cast<uint8_t*>(words_.data() + size_t(margin_) * stride_ + margin_); }
    int32_t width_, height_, margin_, stride_;
    std::vector<uint32_t> words_;
};

// A picture decoded at the size its probe gives, with the guard checked.
struct Decoded {
    int rc = -1;
    int32_t width = 0, height = 0;
    std::vector<uint32_t> pixels;  // width x height, top-down
    bool guard_intact = true;
};

// Pictures the probe cannot size, or larger than 64 Mpixels, are decoded
// into no window at all (the decoder must still fail or cope safely).
Decoded decode_guarded(const std::vector<uint8_t>& bytes);
