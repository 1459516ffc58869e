#pragma once
// Small in-memory picture files for the format tests, and a window to decode
// them into that remembers which pixels were written.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include <gtest/gtest.h>

#include "picture/picture.h"

struct Bytes {
    std::vector<uint8_t> b;
    Bytes& u8(uint32_t v)
    {
        b.push_back(uint8_t(v));
        return *this;
    }
    Bytes& u16(uint32_t v) { return u8(v).u8(v >> 8); }
    Bytes& u32(uint32_t v) { return u16(v).u16(v >> 16); }
    Bytes& raw(std::initializer_list<uint8_t> list)
    {
        b.insert(b.end(), list.begin(), list.end());
        return *this;
    }
    Bytes& text(const char* s)
    {
        while (*s)
            u8(uint8_t(*s++));
        return *this;
    }
    Bytes& fill(size_t n, uint8_t v)
    {
        b.insert(b.end(), n, v);
        return *this;
    }
    void put32(size_t at, uint32_t v)
    {
        for (int k = 0; k < 4; ++k)
            b[at + k] = uint8_t(v >> (8 * k));
    }
    size_t size() const { return b.size(); }
};

constexpr uint32_t untouched = 0x12345678u;

// A width x height window filled with `untouched`, decoded into at the given
// offsets with the picture's own placement.
struct Window {
    int32_t width, height;
    std::vector<uint32_t> px;
    Window(int32_t w, int32_t h) : width(w), height(h), px(size_t(w) * size_t(h), untouched) {}
    uint32_t at(int32_t x, int32_t y) const { return px[size_t(y) * size_t(width) + size_t(x)]; }
    int decode(const std::vector<uint8_t>& file, int32_t x_offset = 0, int32_t y_offset = 0)
    {
        return picture_decode(file.data(), int32_t(file.size()), reinterpret_cast<uint8_t*>(px.data()), width * 4,
                              width, height, x_offset, y_offset);
    }
    // The same window with rows going upwards in memory (negative pitch).
    int decode_upwards(const std::vector<uint8_t>& file)
    {
        uint8_t* last = reinterpret_cast<uint8_t*>(px.data()) + size_t(height - 1) * size_t(width) * 4;
        return picture_decode(file.data(), int32_t(file.size()), last, -width * 4, width, height, 0, 0);
    }
    int count(uint32_t value) const
    {
        int n = 0;
        for (uint32_t p : px)
            n += p == value;
        return n;
    }
};
