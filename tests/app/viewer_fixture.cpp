#include <gtest/gtest.h>

#include "tests/app/viewer_fixture.h"

#include <cstdlib>
#include <cstring>

#include "app/browser.h"
#include "app/command_line.h"
#include "host/headless/desktop_headless.h"
#include "host/headless/host_headless.h"
#include "host/text.h"
#include "store/file_list.h"

uint32_t test_pixel(int entry, int32_t x, int32_t y)
{
    return 0xFF000000u | uint32_t(entry * 37 % 256) << 16 | uint32_t(x * 5 % 256) << 8 | uint32_t(y * 3 % 256);
}

std::vector<TestEntry> numbered_entries(int count, int32_t width, int32_t height)
{
    std::vector<TestEntry> v;
    for (int i = 0; i < count; ++i) {
        TestEntry e;
        e.name = "picture" + std::to_string(i) + ".jpg";
        e.width = width;
        e.height = height;
        v.push_back(e);
    }
    return v;
}

void install_entries(const std::vector<TestEntry>& entries)
{
    file_list_release();
    size_t pool = 1;
    for (const TestEntry& e : entries)
        pool += e.name.size() + 1;
    size_t n = entries.size() ? entries.size() : 1;
    file_list.name_pool = static_cast<char*>(std::malloc(pool));
    file_list.pool_capacity = int32_t(pool);
    file_list.name_offset = static_cast<int32_t*>(std::malloc(n * sizeof(int32_t)));
    file_list.offsets_capacity = int32_t(n);
    file_list.pictures = static_cast<Picture*>(std::malloc(n * sizeof(Picture)));
    file_list.times = static_cast<FileTime*>(std::malloc(n * sizeof(FileTime)));
    uint32_t* ph = static_cast<uint32_t*>(std::malloc(20 * 20 * 4));
    for (int i = 0; i < 400; ++i)
        ph[i] = PLACEHOLDER_PIXEL;
    file_list.placeholder = Picture{ph, 80, 20, 20};
    int32_t used = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const TestEntry& e = entries[i];
        file_list.name_offset[i] = used;
        std::memcpy(file_list.name_pool + used, e.name.c_str(), e.name.size() + 1);
        used += int32_t(e.name.size() + 1);
        file_list.times[i] = e.time;
        if (e.placeholder) {
            file_list.pictures[i] = file_list.placeholder;
            continue;
        }
        uint32_t* p = static_cast<uint32_t*>(std::malloc(size_t(e.width) * size_t(e.height) * 4 + 4));
        for (int32_t y = 0; y < e.height; ++y)
            for (int32_t x = 0; x < e.width; ++x)
                p[size_t(y) * size_t(e.width) + size_t(x)] = test_pixel(int(i), x, y);
        file_list.pictures[i] = Picture{p, e.width * 4, e.width, e.height};
    }
    file_list.pool_used = used;
    file_list.count = int32_t(entries.size());
}

void start_viewer(int32_t w, int32_t h)
{
    headless_reset(w, h);
    headless_desktop_reset();
    reset_start_settings();
    host_create();
    browser_reset();
}

void ExpectedFrame::text(int64_t x, int64_t y, const std::string& s, uint32_t ink, int64_t back)
{
    for (size_t k = 0; k < s.size(); ++k) {
        uint8_t c = uint8_t(s[k]);
        for (int col = 0; col < 6; ++col)
            for (int row = 0; row < 8; ++row) {
                if (font6x8[c * 6 + col] >> row & 1)
                    set(x + int64_t(k) * 6 + col, y + row, ink);
                else if (back >= 0)
                    set(x + int64_t(k) * 6 + col, y + row, uint32_t(back));
            }
    }
}

void ExpectedFrame::grid(const std::vector<TestEntry>& entries, int32_t columns, int32_t offset)
{
    for (size_t i = 0; i < entries.size(); ++i) {
        int64_t x = int64_t(i % size_t(columns)) * 104;
        int64_t y = int64_t(i / size_t(columns)) * 104 - offset;
        text(x, y, entries[i].name.substr(0, 17), 0xC0A080, -1);
        int32_t pw = entries[i].placeholder ? 20 : entries[i].width;
        int32_t ph = entries[i].placeholder ? 20 : entries[i].height;
        for (int32_t py = 0; py < ph; ++py)
            for (int32_t px_ = 0; px_ < pw; ++px_)
                set(x + px_, y + 8 + py, entries[i].placeholder ? PLACEHOLDER_PIXEL : test_pixel(int(i), px_, py));
    }
}

void ExpectedFrame::scrollbar(int32_t columns, int32_t offset, int32_t total_height)
{
    int64_t top = int64_t(h) * offset / total_height;
    int64_t bottom = int64_t(h) * (int64_t(offset) + h) / total_height;
    top = top < 0 ? 0 : top > h ? h : top;
    bottom = bottom < 0 ? 0 : bottom > h ? h : bottom;
    for (int64_t y = 0; y < h; ++y)
        rect(int64_t(columns) * 104, y, w, y + 1, (y >= top && y < bottom) ? 0xC0C0C0C0 : 0x40404040);
}

::testing::AssertionResult frame_matches(const ExpectedFrame& expected)
{
    if (headless_host.presented_width != expected.w || headless_host.presented_height != expected.h)
        return ::testing::AssertionFailure() << "frame is " << headless_host.presented_width << "x"
                                             << headless_host.presented_height << ", expected " << expected.w << "x"
                                             << expected.h;
    for (int32_t y = 0; y < expected.h; ++y)
        for (int32_t x = 0; x < expected.w; ++x)
            if (headless_pixel(x, y) != expected.px[size_t(y) * size_t(expected.w) + size_t(x)])
                return ::testing::AssertionFailure()
                       << "pixel (" << x << ", " << y << ") is 0x" << std::hex << headless_pixel(x, y) << ", expected 0x"
                       << expected.px[size_t(y) * size_t(expected.w) + size_t(x)];
    return ::testing::AssertionSuccess();
}

#include "tests/support/test_support.h"
#include "tools/fixture/thumbsdb_writer.h"

std::vector<uint8_t> cache_jpeg(int i) { return fixture::encode_jpeg(fixture::make_test_image(96, 72, uint32_t(i + 1))); }

std::vector<uint8_t> write_cache(const std::string& folder, const std::vector<std::string>& names, int16_t version,
                                 const std::string& file_name)
{
    fixture::CacheSpec spec;
    spec.version = version;
    for (size_t i = 0; i < names.size(); ++i) {
        fixture::CacheEntry e;
        e.name = names[i];
        e.time = CACHE_BASE_TIME + uint64_t(i) * 36000000000ull;
        if (version >= 7)
            e.picture = cache_jpeg(int(i));
        else
            e.image = fixture::make_test_image(96, 72, uint32_t(i + 1));
        spec.entries.push_back(e);
    }
    std::vector<uint8_t> db = fixture::write_thumbs_db(spec);
    write_file(folder + "/" + file_name, db);
    return db;
}
