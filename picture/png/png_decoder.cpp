// PNG decoding: chunk walk, IHDR / PLTE / tRNS, Adam7 pass set-up, the row
// stage that undoes the filters, and row output into the window.
#include <algorithm>
#include <bit>
#include <cstring>

#include "picture/bytes.h"
#include "picture/formats.h"
#include "picture/picture.h"
#include "picture/png/png_internal.h"

SYS_THREAD_LOCAL PngState png;
int32_t png_paeth_variant;
bool png_paeth_table_filled;

namespace {

bool tables_built;
int32_t paeth_distance[1023];  // |x| for x = -511..511
SYS_THREAD_LOCAL uint8_t row_buffer[PNG_MAX_ROW_BYTES + 1];

// Adam7 (PNG standard, section 8.2) by pass 1 to 7; entry 0 serves a picture
// that is not interlaced.
constexpr int32_t PNG_ADAM7_X_START[8] = {0, 0, 4, 0, 2, 0, 1, 0};
constexpr int32_t PNG_ADAM7_Y_START[8] = {0, 0, 0, 4, 0, 2, 0, 1};
constexpr int32_t PNG_ADAM7_X_STEP[8] = {1, 8, 8, 4, 4, 2, 2, 1};
constexpr int32_t PNG_ADAM7_Y_STEP[8] = {1, 8, 8, 8, 4, 4, 2, 2};
// Samples per pixel by colour type (0 for the undefined types).
constexpr int32_t PNG_CHANNELS[8] = {1, 0, 3, 1, 2, 0, 4, 0};

// png.pass counts down (7 = first pass, 0 = not interlaced); the tables count passes up.
inline int32_t adam7_pass(int32_t n) { return n == 0 ? 0 : 8 - n; }

inline bool is_type(const uint8_t* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

inline void put_pixel(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

int32_t channels() { return PNG_CHANNELS[png.colour_type & 7]; }

int64_t row_length(int64_t pixels)
{
    int64_t samples = channels() * pixels;
    switch (png.bit_depth) {
    case 1: return (samples + 7) / 8;
    case 2: return (samples + 3) / 4;
    case 4: return (samples + 1) / 2;
    default: return samples;
    }
}

inline uint8_t paeth_plain(int32_t a, int32_t b, int32_t c)
{
    int32_t pa = b > c ? b - c : c - b;
    int32_t pb = a > c ? a - c : c - a;
    int32_t pc = a + b - 2 * c;
    if (pc < 0)
        pc = -pc;
    if (pa <= pb && pa <= pc)
        return uint8_t(a);
    if (pb <= pc)
        return uint8_t(b);
    return uint8_t(c);
}

inline uint8_t paeth_table(int32_t a, int32_t b, int32_t c)
{
    const int32_t* t = paeth_distance + 511;
    int32_t pa = t[b - c];
    int32_t pb = t[a - c];
    int32_t pc = t[a + b - 2 * c];
    int32_t r = pb <= pc ? b : c;
    r = (pa <= pb && pa <= pc) ? a : r;
    return uint8_t(r);
}

// Defilters bytes [at, at + n) of the current row in place; row holds the
// prior row of the pass there, raw bytes of this row before `at`.
template <bool USE_TABLE>
void paeth_span(uint8_t* row, int32_t at, const uint8_t* x, int32_t n, int32_t bpp)
{
    int32_t k = png.unit;
    for (int32_t j = 0; j < n; ++j) {
        int32_t i = at + j;
        int32_t a = i >= bpp ? row[i - bpp] : 0;
        int32_t b = row[i];
        int32_t c = png.upper_left[k];
        row[i] = uint8_t(x[j] + (USE_TABLE ? paeth_table(a, b, c) : paeth_plain(a, b, c)));
        png.upper_left[k] = uint8_t(b);
        k = png.unit_next[k];
    }
    png.unit = k;
}

void defilter_span(int32_t at, const uint8_t* x, int32_t n)
{
    uint8_t* row = row_buffer;
    const int32_t bpp = channels();
    switch (png.filter) {
    case 0:
        std::memcpy(row + at, x, size_t(n));
        break;
    case 1:
        for (int32_t j = 0; j < n; ++j) {
            int32_t i = at + j;
            row[i] = uint8_t(x[j] + (i >= bpp ? row[i - bpp] : 0));
        }
        break;
    case 2:
        for (int32_t j = 0; j < n; ++j)
            row[at + j] = uint8_t(row[at + j] + x[j]);
        break;
    case 3:
        for (int32_t j = 0; j < n; ++j) {
            int32_t i = at + j;
            int32_t a = i >= bpp ? row[i - bpp] : 0;
            row[i] = uint8_t(x[j] + ((a + row[i]) >> 1));
        }
        break;
    default:
        if (png_paeth_variant == 1 && png_paeth_table_filled)
            paeth_span<true>(row, at, x, n, bpp);
        else
            paeth_span<false>(row, at, x, n, bpp);
        break;
    }
}

void output_row()
{
    if (png.skip_left >= png.visible)
        return;
    const uint8_t* row = row_buffer;
    const int64_t step = int64_t(png.x_step) * 4;
    uint8_t* p = png.window.destination + png.y * int64_t(png.window.pitch) +
                 (png.x_first + int64_t(png.skip_left) * png.x_step) * 4;
    const uint32_t* pal = decoder_palette;
    const int32_t first = png.skip_left;
    const int32_t last = png.visible;
    switch (png.colour_type) {
    case 0:
    case 3:
        if (png.bit_depth == 8) {
            for (int32_t i = first; i < last; ++i, p += step)
                put_pixel(p, pal[row[i]]);
        } else {
            // The replicated palette takes the shifted byte whole, higher samples and all.
            const int32_t depth = png.bit_depth;
            for (int32_t i = first; i < last; ++i, p += step) {
                int32_t bit = i * depth;
                put_pixel(p, pal[row[bit >> 3] >> (8 - depth - (bit & 7))]);
            }
        }
        break;
    case 2:
        for (int32_t i = first; i < last; ++i, p += step) {
            const uint8_t* s = row + 3 * i;
            uint32_t v = 0xFF000000u | uint32_t(s[0]) << 16 | uint32_t(s[1]) << 8 | s[2];
            if (v == png.transparent_key)
                v &= 0x00FFFFFF;
            put_pixel(p, v);
        }
        break;
    case 4:
        for (int32_t i = first; i < last; ++i, p += step) {
            const uint8_t* s = row + 2 * i;
            put_pixel(p, uint32_t(s[1]) << 24 | (pal[s[0]] & 0x00FFFFFF));
        }
        break;
    default:
        for (int32_t i = first; i < last; ++i, p += step) {
            const uint8_t* s = row + 4 * i;
            put_pixel(p, uint32_t(s[3]) << 24 | uint32_t(s[0]) << 16 | uint32_t(s[1]) << 8 | s[2]);
        }
        break;
    }
}

void start_row()
{
    png.filter = -1;
    png.missing = png.row_bytes;
    png.unit = 0;
    std::memset(png.upper_left, 0, sizeof png.upper_left);
}

void finish_row()
{
    if (png.y >= 0 && png.y < png.window.clip_height)
        output_row();
    ++png.rows_completed;
    png.y += png.y_step;
    start_row();
    if (png.y >= png.y_end) {
        if (png.pass >= 2) {
            --png.pass;
            png_setup_pass();
        } else {
            // Adam7 pass 7 or the only pass is complete: what follows is not picture data.
            png.filter = PNG_ROWS_DONE;
        }
    }
}

int start_image(PngChunkRef first)
{
    const int32_t unit = channels();
    for (int32_t k = 0; k < 4; ++k)
        png.unit_next[k] = uint8_t(k + 1 < unit ? k + 1 : 0);

    // Indices beyond the PLTE get opaque black rather than what an earlier picture left.
    if (png.colour_type == 3)
        for (int32_t i = palette_count; i < 256; ++i)
            decoder_palette[i] = 0xFF000000u;
    if (png.bit_depth < 8) {
        const int32_t period = 1 << png.bit_depth;
        for (int32_t i = period; i < 256; ++i)
            decoder_palette[i] = decoder_palette[i & (period - 1)];
    }
    if (row_length(png.width) > PNG_MAX_ROW_BYTES)
        return fail("rows longer than %d bytes", int(PNG_MAX_ROW_BYTES));
    png.rows_completed = 0;
    png_setup_pass();
    return inflate_run(first);
}

int read_header(const uint8_t* d, size_t n)
{
    if (n < 13)
        return fail("truncated IHDR");
    int32_t width = int32_t(read_be32(d));
    int32_t height = int32_t(read_be32(d + 4));
    int32_t depth = d[8];
    int32_t type = d[9];
    if (width < 1 || height < 1)
        return fail("empty or oversized picture");
    if (depth != 1 && depth != 2 && depth != 4 && depth != 8)
        return fail("unsupported bit depth %d", int(depth));
    if (type != 0 && type != 2 && type != 3 && type != 4 && type != 6)
        return fail("unknown colour type %d", int(type));
    // Packed samples exist only for grey and palette pictures.
    if (depth < 8 && type != 0 && type != 3)
        return fail("bit depth %d with colour type %d", int(depth), int(type));
    if (d[10] != 0 || d[11] != 0 || d[12] > 1)
        return fail("unknown compression, filter or interlace method");
    png.width = width;
    png.height = height;
    png.bit_depth = depth;
    png.colour_type = type;
    png.pass = d[12] == 1 ? 7 : 0;
    if (type == 0 || type == 4) {
        const int32_t entries = 1 << depth;
        const uint32_t step = 255u / uint32_t(entries - 1);
        for (int32_t i = 0; i < entries; ++i)
            decoder_palette[i] = 0xFF000000u + uint32_t(i) * step * 0x010101u;
        palette_count = entries;
    }
    return 0;
}

void read_palette(const uint8_t* d, size_t n)
{
    // A PLTE longer than 256 entries keeps its first 256.
    int32_t count = int32_t(std::min<size_t>(n / 3, 256));
    for (int32_t i = 0; i < count; ++i)
        decoder_palette[i] = 0xFF000000u | uint32_t(d[3 * i]) << 16 | uint32_t(d[3 * i + 1]) << 8 | d[3 * i + 2];
    palette_count = count;
}

void read_transparency(const uint8_t* d, size_t n)
{
    if (png.colour_type == 3) {
        size_t count = std::min<size_t>(size_t(palette_count), n);
        for (size_t i = 0; i < count; ++i)
            decoder_palette[i] = (decoder_palette[i] & 0x00FFFFFF) | uint32_t(d[i]) << 24;
    } else if (png.colour_type == 2 && png.bit_depth == 8 && n >= 6) {
        png.transparent_key = 0xFF000000u | uint32_t(d[1]) << 16 | uint32_t(d[3]) << 8 | d[5];
    } else if (png.colour_type == 0 && n >= 2) {
        decoder_palette[d[1]] &= 0x00FFFFFF;
    }
}

}  // namespace

void png_init_tables()
{
    inflate_init_tables();
    png_paeth_table_filled = false;
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("cmov")) {
        for (int32_t x = -511; x <= 511; ++x)
            paeth_distance[x + 511] = x < 0 ? -x : x;
        png_paeth_table_filled = true;
    }
#endif
    png_paeth_variant = png_paeth_table_filled ? 1 : 0;
}

void png_prepare_tables()
{
    if (!tables_built) {
        tables_built = true;
        png_init_tables();
    }
}

void png_setup_pass()
{
    int32_t n = png.pass;
    // Passes that hold no pixel of a small picture are skipped (pass 1 never is).
    while (n >= 2 && (PNG_ADAM7_X_START[adam7_pass(n)] >= png.width || PNG_ADAM7_Y_START[adam7_pass(n)] >= png.height))
        --n;
    const int32_t pass = adam7_pass(n);
    png.pass = n;
    png.x_start = PNG_ADAM7_X_START[pass];
    png.y_start = PNG_ADAM7_Y_START[pass];
    png.x_step = PNG_ADAM7_X_STEP[pass];
    png.x_shift = std::countr_zero(uint32_t(png.x_step));
    png.y_step = PNG_ADAM7_Y_STEP[pass];
    start_row();
    if (png.x_start >= png.width || png.y_start >= png.height) {
        png.filter = PNG_ROWS_DONE;  // pass 7 of a one-row picture is empty
        return;
    }
    int64_t pw = (int64_t(png.x_step) - png.x_start + png.width - 1) >> png.x_shift;
    png.pass_width = int32_t(pw);
    png.row_bytes = int32_t(row_length(pw));
    png.missing = png.row_bytes;
    std::memset(row_buffer, 0, size_t(png.row_bytes) + 1);

    png.y = int64_t(png.window.y_offset) + png.y_start;
    png.y_end = int64_t(png.window.y_offset) + png.height;
    int64_t x = int64_t(png.window.x_offset) + png.x_start;
    png.x_first = x;
    int64_t skip = std::max<int64_t>(0, (png.x_step - 1 - x) >> png.x_shift);
    int64_t visible = std::min<int64_t>(pw, (png.x_step - 1 - x + png.window.clip_width) >> png.x_shift);
    png.skip_left = int32_t(std::min<int64_t>(skip, pw));
    png.visible = int32_t(std::max<int64_t>(visible, 0));
}

void png_filter_rows(const uint8_t* bytes, int32_t count)
{
    while (count > 0) {
        if (png.filter < 0) {
            if (png.filter == PNG_ROWS_DONE)
                return;
            int32_t type = *bytes++;
            --count;
            if (type >= 5) {
                png.filter = PNG_ROWS_DONE;  // unknown filter: this row and all later ones stay unwritten
                return;
            }
            png.filter = type;
            continue;
        }
        int32_t n = std::min(count, png.missing);
        defilter_span(png.row_bytes - png.missing, bytes, n);
        bytes += n;
        count -= n;
        png.missing -= n;
        if (png.missing == 0)
            finish_row();
    }
}

// The first two bytes decide; png_decode checks the rest of the signature.
bool png_sniff(ByteView v)
{
    static constexpr uint8_t start[2] = {0x89, 0x50};
    return view_starts_with(v, start, 2);
}

// The IHDR need not be the first chunk. The walk goes on while more than 16
// bytes remain from the chunk's start; the 16 it reads are inside.
void png_probe(ByteView v, int32_t* width, int32_t* height)
{
    static constexpr uint8_t signature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    if (!view_starts_with(v, signature, 8))
        return;
    uint64_t chunk = 8;
    while (view_has(v, chunk, 17)) {
        const uint8_t* c = v.data + chunk;
        if (is_type(c + 4, "IHDR")) {
            *width = int32_t(read_be32(c + 8));
            *height = int32_t(read_be32(c + 12));
            return;
        }
        chunk += 12 + uint64_t(read_be32(c));
    }
}

int png_decode(ByteView src, const OutputWindow& w)
{
    static const uint8_t signature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    const uint8_t* source = src.data;
    if (!view_has(src, 0, 8) || std::memcmp(source, signature, 8) != 0)
        return fail("not a PNG signature");
    png_prepare_tables();
    png.transparent_key = 0;
    png.source = source;
    png.source_length = src.length;
    png.window = w;
    png.colour_type = -1;  // a tRNS before IHDR has no colour type to apply to
    png.bit_depth = 0;
    palette_count = 0;

    const ByteView v = src;
    bool have_header = false;
    size_t at = 8;
    while (view_has(v, at, 8)) {
        const size_t declared = read_be32(source + at);
        const uint8_t* type = source + at + 4;
        const size_t data = at + 8;
        // A chunk cut off by the end of the source keeps the bytes that are there.
        const size_t n = std::min(declared, v.length - data);
        const uint8_t* d = source + data;
        if (is_type(type, "IDAT")) {
            if (!have_header)
                return fail("image data before IHDR");
            return start_image({data, n});
        }
        if (is_type(type, "IHDR")) {
            if (read_header(d, n) != 0)
                return -1;  // read_header said why
            have_header = true;
        } else if (is_type(type, "PLTE")) {
            read_palette(d, n);
        } else if (is_type(type, "tRNS")) {
            read_transparency(d, n);
        }
        at = data + declared + 4;
    }
    return fail("no image data");
}

bool png_next_idat(PngChunkRef chunk, PngChunkRef* next)
{
    const ByteView v{png.source, png.source_length};
    const size_t at = chunk.data + chunk.length + 4;  // past the CRC
    if (!view_has(v, at, 8) || !is_type(png.source + at + 4, "IDAT"))
        return false;
    const size_t data = at + 8;
    next->data = data;
    next->length = std::min<size_t>(read_be32(png.source + at), v.length - data);
    return true;
}
