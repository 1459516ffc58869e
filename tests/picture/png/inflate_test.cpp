// The inflater: chunk boundaries, slices, stored blocks, matches, the early
// stop, and corrupt or truncated streams.
#include <cstdint>
#include <vector>

#include "picture/picture.h"
#include "picture/png/png_internal.h"
#include "tests/picture/png/png_test_util.h"
#include "tests/support/test_support.h"

namespace {

std::vector<std::vector<uint8_t>> captured;

void capture_sink(const uint8_t* bytes, int32_t count)
{
    captured.emplace_back(bytes, bytes + count);
}

// The slices the inflater hands over for one zlib stream of a w x 1 grey picture.
std::vector<std::vector<uint8_t>> slices_of(const std::vector<uint8_t>& zlib, uint32_t width)
{
    captured.clear();
    inflate_sink = capture_sink;
    GuardedWindow win(1, 1);
    int r = win.decode(make_png(png_ihdr(width, 1, 8, 0, 0), {}, zlib));
    inflate_sink = png_filter_rows;
    EXPECT_EQ(0, r);
    return captured;
}

std::vector<uint8_t> ramp(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(i * 7 + i / 251);
    return v;
}

// A 40 x 30 RGB picture whose zlib stream mixes stored and fixed-code blocks.
std::vector<uint8_t> mixed_stream(std::vector<uint8_t>* raw_out)
{
    std::vector<uint8_t> s = ramp(40 * 30 * 3);
    std::vector<uint8_t> raw = encode_rows(s, 40, 30, 3, 8, false);
    size_t half = raw.size() / 2;
    DeflateBits b;
    b.put(0, 1);  // stored, not final
    b.put(0, 2);
    b.align();
    b.put(uint32_t(half), 16);
    b.put(uint32_t(~half & 0xFFFF), 16);
    for (size_t i = 0; i < half; ++i)
        b.put(raw[i], 8);
    b.put(0, 1);  // empty stored block
    b.put(0, 2);
    b.align();
    b.put(0, 16);
    b.put(0xFFFF, 16);
    b.put(1, 1);  // fixed, final
    b.put(1, 2);
    for (size_t i = half; i < raw.size(); ++i)
        b.fixed_literal(raw[i]);
    b.fixed_literal(256);
    *raw_out = raw;
    return zlib_wrap(b.bytes, raw);
}

TEST(Inflate, ChunkSplitsDecodeAlike)
{
    std::vector<uint8_t> raw;
    std::vector<uint8_t> zlib = mixed_stream(&raw);
    std::vector<uint8_t> ihdr = png_ihdr(40, 30, 8, 2, 0);
    GuardedWindow whole(40, 30);
    ASSERT_EQ(0, whole.decode(make_png(ihdr, {}, zlib)));
    EXPECT_EQ(0xFF000000u | 7u << 8 | 14u, whole.at(0, 0));
    const std::vector<std::vector<size_t>> splits = {{1}, {2}, {3}, {4}, {5}, {7}, {4, 5, 7}, {8192}, {0, 3}, {1, 0, 6}};
    for (const auto& sizes : splits) {
        for (bool empties : {false, true}) {
            GuardedWindow win(40, 30);
            ASSERT_EQ(0, win.decode(rechunk_png(make_png(ihdr, {}, zlib), sizes, empties)));
            EXPECT_TRUE(win.pixels_equal(whole)) << "first chunk size " << sizes[0] << ", empty chunks " << empties;
        }
    }
}

TEST(Inflate, CorpusStreamSplitIntoSmallChunks)
{
    REQUIRE_CORPUS();
    std::vector<uint8_t> file = read_file(corpus_dir() + "/conformance/png/generated/photo_256x256_rgb.png");
    ASSERT_FALSE(file.empty());
    GuardedWindow whole(256, 256);
    ASSERT_EQ(0, whole.decode(file));
    for (size_t size : {1, 3, 4, 5, 7, 8192}) {
        GuardedWindow win(256, 256);
        ASSERT_EQ(0, win.decode(rechunk_png(file, {size}, size == 3)));
        EXPECT_TRUE(win.pixels_equal(whole)) << size;
    }
}

TEST(Inflate, SlicesAndFinalHandOver)
{
    // Huffman data of exactly two slices: two full slices, then an empty final hand-over.
    std::vector<uint8_t> data = ramp(2 * INFLATE_SLICE);
    auto s = slices_of(zlib_wrap(deflate_fixed_literals(data), data), 2 * INFLATE_SLICE - 1);
    ASSERT_EQ(3u, s.size());
    EXPECT_EQ(size_t(INFLATE_SLICE), s[0].size());
    EXPECT_EQ(size_t(INFLATE_SLICE), s[1].size());
    EXPECT_EQ(0u, s[2].size());
    // A stored block ending on the window's end: the tail goes out in two calls.
    s = slices_of(zlib_wrap(deflate_stored(data), data), 2 * INFLATE_SLICE - 1);
    ASSERT_EQ(3u, s.size());
    EXPECT_EQ(0u, s[2].size());
    // Several slices and a short tail, in order and complete.
    data = ramp(3 * INFLATE_SLICE + 1000);
    s = slices_of(zlib_wrap(deflate_stored(data), data), uint32_t(data.size()) - 1);
    std::vector<uint8_t> joined;
    for (const auto& part : s)
        joined.insert(joined.end(), part.begin(), part.end());
    EXPECT_EQ(data, joined);
}

TEST(Inflate, LongMatchRepeatsOneByte)
{
    DeflateBits b;
    b.put(1, 1);
    b.put(1, 2);
    b.fixed_literal(0);  // filter byte
    b.fixed_literal(0x37);
    b.fixed_match(258, 1);
    b.fixed_literal(256);
    std::vector<uint8_t> raw(260, 0x37);
    raw[0] = 0;
    GuardedWindow win(259, 1);
    ASSERT_EQ(0, win.decode(make_png(png_ihdr(259, 1, 8, 0, 0), {}, zlib_wrap(b.bytes, raw))));
    for (int32_t x = 0; x < 259; ++x)
        ASSERT_EQ(0xFF373737u, win.at(x, 0)) << x;
}

TEST(Inflate, StopsOnceNoFurtherRowIsVisible)
{
    // 200 rows of 200 bytes, then a stored block whose LEN check fails.
    std::vector<uint8_t> raw;
    for (int y = 0; y < 200; ++y) {
        raw.push_back(0);
        for (int x = 0; x < 200; ++x)
            raw.push_back(uint8_t(x + y));
    }
    std::vector<uint8_t> deflate = deflate_stored(raw);
    deflate[0] = 0;  // the only block is no longer final...
    deflate.insert(deflate.end(), {1, 5, 0, 5, 0});  // ...and a broken stored block follows
    std::vector<uint8_t> file = make_png(png_ihdr(200, 200, 8, 0, 0), {}, zlib_wrap(deflate, raw));
    GuardedWindow clipped(200, 10), all(200, 200);
    EXPECT_EQ(0, clipped.decode(file));
    EXPECT_EQ(0xFF0D0D0Du, clipped.at(4, 9));
    EXPECT_EQ(-1, all.decode(file));
    EXPECT_EQ(0xFF0D0D0Du, all.at(4, 9));  // rows handed over before the failure stay
}

TEST(Inflate, BlockTypesAndStoredLengthCheck)
{
    std::vector<uint8_t> raw = {0, 0x21};
    auto fixed_then = [&](uint32_t last_type) {
        DeflateBits b;
        b.put(last_type == 4 ? 1 : 0, 1);
        b.put(1, 2);
        b.fixed_literal(0);
        b.fixed_literal(0x21);
        b.fixed_literal(256);
        if (last_type != 4) {
            b.put(1, 1);
            b.put(last_type, 2);
            b.align();
            b.put(0, 16);  // LEN and NLEN of an empty stored block
            b.put(0xFFFF, 16);
        }
        b.put(0xFFFFFFFF, 32);  // more data, so that a failure is not the end of the stream
        return make_png(png_ihdr(1, 1, 8, 0, 0), {}, zlib_wrap(b.bytes, raw));
    };
    GuardedWindow win(1, 1);
    EXPECT_EQ(0, win.decode(fixed_then(4)));  // the fixed block alone, final
    EXPECT_EQ(0xFF212121u, win.at(0, 0));
    EXPECT_EQ(0, win.decode(fixed_then(0)));  // then an empty stored block
    EXPECT_STREQ("", failure_last().reason);

    // Block type 3 is reserved (RFC 1951): an error, in one chunk and in
    // 1-byte chunks (the careful path) alike.
    for (size_t chunk : {size_t(0), size_t(1)}) {
        std::vector<uint8_t> file = fixed_then(3);
        if (chunk)
            file = rechunk_png(file, {chunk});
        GuardedWindow w3(1, 1);
        EXPECT_EQ(-1, w3.decode(file)) << chunk;
        EXPECT_STREQ("reserved deflate block type 3", failure_last().reason) << chunk;
        EXPECT_TRUE(w3.margins_intact());
    }

    std::vector<uint8_t> bad = {1, 5, 0, 5, 0, 1, 2, 3, 4, 5};
    EXPECT_EQ(-1, win.decode(make_png(png_ihdr(1, 1, 8, 0, 0), {}, zlib_wrap(bad, raw))));
    EXPECT_STREQ("stored block length check failed", failure_last().reason);
}

// Dynamic block header: HLIT - 257, HDIST - 1, then code-length code lengths in order 16, 17, 18, 0, 8, ...
DeflateBits dynamic_header(uint32_t hlit, uint32_t hdist, const std::vector<uint32_t>& order_lengths)
{
    DeflateBits b;
    b.put(0x78, 8);
    b.put(0x01, 8);
    b.put(1, 1);
    b.put(2, 2);
    b.put(hlit, 5);
    b.put(hdist, 5);
    b.put(uint32_t(order_lengths.size()) - 4, 4);
    for (uint32_t v : order_lengths)
        b.put(v, 3);
    return b;
}

TEST(Inflate, CorruptStreamsFail)
{
    std::vector<std::pair<const char*, std::vector<uint8_t>>> cases;
    auto fixed = [](auto body) {
        DeflateBits b;
        b.put(0x78, 8);
        b.put(0x01, 8);
        b.put(1, 1);
        b.put(1, 2);
        b.fixed_literal(0);
        body(b);
        b.put(0xFFFF, 16);
        return b.bytes;
    };
    cases.push_back({"symbol 286", fixed([](DeflateBits& b) { b.fixed_literal(286); })});
    cases.push_back({"symbol 287", fixed([](DeflateBits& b) { b.fixed_literal(287); })});
    cases.push_back({"distance code 30", fixed([](DeflateBits& b) { b.fixed_literal(257); b.put_code(30, 5); })});
    cases.push_back({"distance code 31", fixed([](DeflateBits& b) { b.fixed_literal(257); b.put_code(31, 5); })});
    cases.push_back({"distance before the first byte", fixed([](DeflateBits& b) { b.fixed_match(3, 2); })});

    // Code-length code {0: '0', 16: '1'}: a repeat as the very first length.
    DeflateBits r = dynamic_header(0, 0, {1, 0, 0, 1});
    r.put(1, 1);
    r.put(0, 16);
    cases.push_back({"repeat with no previous length", r.bytes});
    // Three codes of length 1: over-subscribed.
    cases.push_back({"over-subscribed lengths", dynamic_header(0, 0, {1, 1, 1, 0}).bytes});
    // {0: '0', 18: '1'}: runs of 138 zeros overshoot 257 + 1 lengths.
    DeflateBits o = dynamic_header(0, 0, {0, 0, 1, 1});
    for (int i = 0; i < 2; ++i) {
        o.put(1, 1);
        o.put(127, 7);
    }
    cases.push_back({"repeat past HLIT + HDIST", o.bytes});
    // {0: '0', 1: '1'}: only literal 0 has a code, and the data is all ones.
    DeflateBits u = dynamic_header(0, 0, {0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
    u.put(1, 1);
    for (int i = 0; i < 257; ++i)
        u.put(0, 1);
    u.put(0xFFFFFF, 24);
    cases.push_back({"bits that match no code", u.bytes});

    for (const auto& [what, zlib] : cases) {
        std::vector<uint8_t> stream = zlib;
        stream.insert(stream.end(), 8, 0xFF);  // so the failure is not a mere end of data
        GuardedWindow win(4, 4);
        EXPECT_EQ(-1, win.decode(make_png(png_ihdr(4, 4, 8, 0, 0), {}, stream))) << what;
        EXPECT_TRUE(win.margins_intact()) << what;
    }
}

TEST(Inflate, TruncatedStreamsKeepTheRowsSoFar)
{
    std::vector<uint8_t> s = ramp(20 * 20);
    std::vector<uint8_t> raw = encode_rows(s, 20, 20, 1, 8, false, 0);
    std::vector<uint8_t> zlib = zlib_wrap(deflate_fixed_literals(raw), raw);
    GuardedWindow whole(20, 20);
    ASSERT_EQ(0, whole.decode(make_png(png_ihdr(20, 20, 8, 0, 0), {}, zlib)));

    // The stream cut short inside its only IDAT, which IEND follows: complete rows stay.
    std::vector<uint8_t> half(zlib.begin(), zlib.begin() + long(zlib.size() / 2));
    GuardedWindow part(20, 20);
    EXPECT_EQ(0, part.decode(make_png(png_ihdr(20, 20, 8, 0, 0), {}, half)));
    EXPECT_EQ(whole.at(19, 5), part.at(19, 5));
    EXPECT_TRUE(part.untouched(0, 19));

    // Every prefix of the file: a result, never a write outside the window.
    std::vector<uint8_t> file = make_png(png_ihdr(20, 20, 8, 0, 0), {}, zlib, {50});
    for (size_t n = 0; n <= file.size(); ++n) {
        GuardedWindow win(20, 20);
        std::vector<uint8_t> prefix(file.begin(), file.begin() + long(n));
        int r = win.decode(prefix);
        EXPECT_TRUE(r == 0 || r == -1);
        ASSERT_TRUE(win.margins_intact()) << n;
        if (n < 41) {
            EXPECT_EQ(-1, r) << n;  // ends before the first IDAT's header
        }
    }
}

}  // namespace
