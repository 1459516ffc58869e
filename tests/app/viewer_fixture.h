#pragma once
// Shared by the viewer's tests: a FileList made in memory, the headless host
// set up for a window size, and an expected frame drawn pixel by pixel.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/system.h"
#include "host/window.h"

struct TestEntry {
    std::string name;
    int32_t width = 96;   // picture size; 0 with placeholder
    int32_t height = 72;
    bool placeholder = false;
    FileTime time = 0;
};

// Replaces file_list with these entries. Picture i's pixel (x, y) is
// test_pixel(i, x, y); the placeholder is 20 x 20 of PLACEHOLDER_PIXEL.
void install_entries(const std::vector<TestEntry>& entries);
std::vector<TestEntry> numbered_entries(int count, int32_t width = 96, int32_t height = 72);
uint32_t test_pixel(int entry, int32_t x, int32_t y);
constexpr uint32_t PLACEHOLDER_PIXEL = 0x00AA0000;

// Fresh host, input, browser state and desktop for a window of w x h.
void start_viewer(int32_t w, int32_t h);

// An expected frame, drawn with plain loops from what the layout rules say.
struct ExpectedFrame {
    int32_t w, h;
    std::vector<uint32_t> px;
    ExpectedFrame(int32_t w_, int32_t h_, uint32_t background) : w(w_), h(h_), px(size_t(w_) * size_t(h_), background) {}
    void set(int64_t x, int64_t y, uint32_t v)
    {
        if (x >= 0 && y >= 0 && x < w && y < h)
            px[size_t(y) * size_t(w) + size_t(x)] = v;
    }
    void rect(int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint32_t v)
    {
        for (int64_t y = y0; y < y1; ++y)
            for (int64_t x = x0; x < x1; ++x)
                set(x, y, v);
    }
    // Glyphs of text at (x, y); back < 0 is transparent.
    void text(int64_t x, int64_t y, const std::string& s, uint32_t ink, int64_t back);
    // The grid as the layout rules place it, without the highlight.
    void grid(const std::vector<TestEntry>& entries, int32_t columns, int32_t offset);
    void scrollbar(int32_t columns, int32_t offset, int32_t total_height);
};

// Compares the frame last presented by the headless host; reports the first
// differing pixel.
::testing::AssertionResult frame_matches(const ExpectedFrame& expected);

// Writes folder/Thumbs.db (under file_name) with one thumbnail per name:
// version 7+ stores JPEGs of make_test_image(96, 72, seed i), older
// versions old-format streams. Entry i's catalog time is base_time + i hours.
constexpr FileTime CACHE_BASE_TIME = 128980119090000000ull;
std::vector<uint8_t> write_cache(const std::string& folder, const std::vector<std::string>& names, int16_t version = 7,
                                 const std::string& file_name = "Thumbs.db");
// The stored JPEG of entry i written by write_cache for version 7.
std::vector<uint8_t> cache_jpeg(int i);
