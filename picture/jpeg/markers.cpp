// JPEG decoder entry: the marker loop, the frame, table and scan headers,
// the choice between direct and coefficient mode.
#include <cstring>

#include "picture/bytes.h"
#include "picture/jpeg/jpeg_internal.h"

SYS_THREAD_LOCAL JpegState jpeg;

namespace {

// round(2^24 x sqrt(2) x cos(k pi / 16)); entry 0 is never used (factor 1 stands there).
constexpr int32_t JPEG_AAN_SCALE[8] = {23726566, 23270667, 21920489, 19727919,
                                       16777216, 13181774, 9079764,  4628823};

// 16-bit quantisation values above this do not fit q << 19 in 32 bits; no
// 8-bit picture needs them, so larger ones are read as this value.
constexpr int32_t JPEG_MAX_QUANT_VALUE = 4095;

bool tables_built;

// What a table the picture does not define decodes as. Huffman tables 0 and 1
// are the example tables of T.81 Annex K, which Motion-JPEG frames leave out
// (class byte, 16 counts, symbols); in other slots no code matches (each
// reads as an end of block). An undefined quantisation table weighs every
// coefficient 0.
constexpr uint8_t JPEG_ANNEX_K_DC_LUMINANCE[] = {0x00, 0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0,
                                                 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr uint8_t JPEG_ANNEX_K_DC_CHROMINANCE[] = {0x01, 0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0,
                                                   0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr uint8_t JPEG_ANNEX_K_AC_LUMINANCE[] = {
    0x10, 0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d,
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
    0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72,
    0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37,
    0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
    0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3,
    0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};
constexpr uint8_t JPEG_ANNEX_K_AC_CHROMINANCE[] = {
    0x11, 0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77,
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
    0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1,
    0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36,
    0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
    0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a,
    0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba,
    0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
    0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

JpegHuffmanTable annex_k[4];  // DC 0, DC 1, AC 0, AC 1; built with the constant tables
const JpegHuffmanTable JPEG_EMPTY_HUFFMAN = {};
const int32_t JPEG_ZERO_QUANT[64] = {};

const JpegHuffmanTable* default_huffman(int32_t index)
{
    switch (index) {
    case 0:
    case 1:
        return &annex_k[index];
    case 4:
    case 5:
        return &annex_k[index - 2];
    default:
        return &JPEG_EMPTY_HUFFMAN;
    }
}

// The outcome of one segment: the marker loop goes on, passes over the
// segment, stops reading (truncated input), ends the call with success
// (direct mode, or a picture outside the window), or rejects the file.
enum SegmentResult { SEGMENT_PARSED, SEGMENT_SKIPPED, SEGMENT_TRUNCATED, SEGMENT_FINISHED, SEGMENT_REJECTED };

bool source_has(int64_t pos, int64_t count)
{
    return pos >= 0 && count >= 0 && pos + count <= jpeg.source_length;
}

// log2 of a sampling factor already checked to be 1, 2 or 4.
int32_t log2_of(int32_t factor) { return factor == 4 ? 2 : factor == 2 ? 1 : 0; }

SegmentResult parse_sof(int64_t* position)
{
    int64_t pos = *position;
    if (!source_has(pos, 6))
        return SEGMENT_TRUNCATED;
    const uint8_t* p = jpeg.source + pos;
    // A later frame header is passed over, and the picture keeps its first
    // frame: the one picture_probe reports and the caller sized its window
    // and its limits by. (A second one could also change the layout of a
    // coefficient store being filled, or claim a frame thousands of times
    // larger than the probed one, all of it decoded from zero bits.)
    if (jpeg.frame_seen)
        return SEGMENT_SKIPPED;
    jpeg.frame_seen = true;
    // Samples travel as 8-bit levels; 12-bit data would overflow the tables.
    if (p[0] != 8)
        return SEGMENT_REJECTED;
    const int32_t height = read_be16(p + 1);
    const int32_t width = read_be16(p + 3);
    const int32_t Nf = p[5];
    pos += 6;
    if (Nf > JPEG_MAX_COMPONENTS)
        return SEGMENT_REJECTED;
    if (!source_has(pos, 3 * int64_t(Nf)))
        return SEGMENT_TRUNCATED;
    jpeg.height = height;
    jpeg.width = width;
    jpeg.Nf = Nf;
    jpeg.maxH = jpeg.maxV = jpeg.log2maxH = jpeg.log2maxV = 0;
    for (int32_t i = 0; i < Nf; ++i) {
        const uint8_t* c = jpeg.source + pos + 3 * i;
        JpegComponent& k = jpeg.components[i];
        k.id = c[0];
        k.H = c[1] >> 4;
        k.V = c[1] & 15;
        k.Tq = c[2];
        if ((k.H != 1 && k.H != 2 && k.H != 4) || (k.V != 1 && k.V != 2 && k.V != 4) || k.Tq > 3)
            return SEGMENT_REJECTED;
        k.log2H = log2_of(k.H);
        k.log2V = log2_of(k.V);
        if (k.H > jpeg.maxH) {
            jpeg.maxH = k.H;
            jpeg.log2maxH = k.log2H;
        }
        if (k.V > jpeg.maxV) {
            jpeg.maxV = k.V;
            jpeg.log2maxV = k.log2V;
        }
    }
    const int32_t scale = jpeg.scale_log2;
    for (int32_t i = 0; i < Nf; ++i) {
        JpegComponent& k = jpeg.components[i];
        k.cover_log2h = 3 + jpeg.log2maxH - k.log2H - scale;
        k.cover_log2v = 3 + jpeg.log2maxV - k.log2V - scale;
        k.box_log2h = k.cover_log2h < 3 ? k.cover_log2h : 3;
        k.box_log2v = k.cover_log2v < 3 ? k.cover_log2v : 3;
    }
    jpeg.out_width = int32_t((int64_t(width) + (1 << scale) - 1) >> scale);
    jpeg.out_height = int32_t((int64_t(height) + (1 << scale) - 1) >> scale);
    *position = pos + 3 * int64_t(Nf);
    return SEGMENT_PARSED;
}

void clear_huffman(JpegHuffmanTable& t)
{
    t.symbol_count = 0;
    t.fast_fill = 0;
    t.built_length = 0;
    t.fast_ac_ready = false;
    std::memset(t.counts, 0, sizeof t.counts);
    for (int L = 0; L < 16; ++L)
        t.limit[L] = t.value_offset[L] = 0;
}

// Run by run over the codes of up to 10 bits: a code of length L owns
// 2^(10 - L) entries, which its s extra bits split into runs of one value.
void build_fast_ac(JpegHuffmanTable& t)
{
    int32_t at = 0, index = 0;
    for (int32_t L = 1; L <= 10; ++L) {
        for (int32_t n = 0; n < t.counts[L - 1]; ++n, ++index) {
            const int32_t symbol = t.symbols[index], r = symbol >> 4, s = symbol & 15;
            const int32_t run = 1 << (10 - L);
            if (at + run > 1024)  // never for a table build_huffman accepted
                break;
            if (s == 0 || L + s > 10) {
                // End of block, or a run of 16 zeros; other EOB runs and
                // codes whose extra bits do not fit take the normal path.
                const int32_t step = s != 0 ? 0 : r == 0 ? 64 : r == 15 ? 15 : 0;
                const int32_t entry = step != 0 ? (step << 8 | L << 4 | L) : 0;
                for (int32_t i = 0; i < run; ++i)
                    t.fast_ac[at + i] = entry;
            } else {
                const int32_t part = 1 << (10 - L - s);
                for (int32_t bits = 0; bits < (1 << s); ++bits) {
                    const int32_t v = bits < (1 << (s - 1)) ? bits - ((1 << s) - 1) : bits;
                    const int32_t entry = int32_t(uint32_t(v) << 16) | r << 8 | L << 4 | (L + s);
                    for (int32_t i = 0; i < part; ++i)
                        t.fast_ac[at + bits * part + i] = entry;
                }
            }
            at += run;
        }
    }
    for (; at < 1024; ++at)
        t.fast_ac[at] = 0;
    t.fast_ac_ready = true;
}

// Builds table t from its class byte, counts and symbols (bytes, already
// known to be inside the source); -1 when the codes overfill the fast table.
// The AC lookup is built when a scan first needs it: progressive pictures
// define tables for each scan, and refinement scans never use it.
int build_huffman(JpegHuffmanTable& t, const uint8_t* bytes, int32_t total)
{
    clear_huffman(t);
    std::memcpy(t.counts, bytes + 1, 16);
    const uint8_t* symbols = bytes + 17;
    int32_t code = 0;
    for (int32_t L = 1; L <= 16; ++L) {
        const int32_t n = t.counts[L - 1];
        t.limit[L - 1] = code + n;
        t.value_offset[L - 1] = t.symbol_count - code;
        std::memcpy(t.symbols + t.symbol_count, symbols + t.symbol_count, size_t(n));
        if (L <= 10) {
            const int32_t run = 1 << (10 - L);
            if (t.fast_fill + int64_t(run) * n > 1024) {
                clear_huffman(t);
                return -1;
            }
            for (int32_t s = 0; s < n; ++s) {
                const uint16_t entry = uint16_t(L << 8 | symbols[t.symbol_count + s]);
                for (int32_t e = 0; e < run; ++e)
                    t.fast[t.fast_fill + e] = entry;
                t.fast_fill += run;
            }
        }
        t.symbol_count += n;
        code = (code + n) * 2;
    }
    // Entries past the codes of up to 10 bits stay 0: the normal path decodes there.
    std::memset(t.fast + t.fast_fill, 0, sizeof(uint16_t) * size_t(1024 - t.fast_fill));
    std::memcpy(t.built_from, bytes, size_t(17 + total));
    t.built_length = 17 + total;
    return 0;
}

SegmentResult parse_dht(int64_t* position, int32_t Lh)
{
    int64_t pos = *position;
    while (Lh > 0) {
        if (!source_has(pos, 17))
            return SEGMENT_TRUNCATED;
        const uint8_t* bytes = jpeg.source + pos;
        const int32_t b = bytes[0];
        // DC tables 0 to 3 are indices 0 to 3, AC tables 0x10 to 0x13 indices 4 to 7.
        if (!(b <= 3 || (b >= 0x10 && b <= 0x13)))
            return SEGMENT_REJECTED;
        const int32_t index = b < 16 ? b : b - 12;
        JpegHuffmanTable& t = jpeg.huffman[index];
        int32_t total = 0;
        for (int L = 1; L <= 16; ++L)
            total += bytes[L];
        // A rejected table must not leave a half-built one for a later picture.
        if (total > 256) {
            clear_huffman(t);
            return SEGMENT_REJECTED;
        }
        if (!source_has(pos, 17 + int64_t(total))) {
            clear_huffman(t);
            return SEGMENT_TRUNCATED;
        }
        // Most caches repeat one set of tables in every picture: the same bytes
        // give the same table, so it is kept.
        const bool same = t.built_length == 17 + total && std::memcmp(t.built_from, bytes, size_t(17 + total)) == 0;
        if (!same && build_huffman(t, bytes, total) != 0)
            return SEGMENT_REJECTED;
        jpeg.huffman_defined[index] = true;
        pos += 17 + total;
        Lh -= 17 + total;
    }
    *position = pos;
    return SEGMENT_PARSED;
}

SegmentResult parse_dqt(int64_t* position, int32_t Lq)
{
    int64_t pos = *position;
    while (Lq > 0) {
        if (!source_has(pos, 1))
            return SEGMENT_TRUNCATED;
        const int32_t Pq = jpeg.source[pos] >> 4;
        const int32_t Tq = jpeg.source[pos] & 15;
        if (Tq > 3)
            return SEGMENT_REJECTED;
        const int32_t size = Pq ? 128 : 64;
        if (!source_has(pos, 1 + int64_t(size))) {
            jpeg.quant_built_length[Tq] = 0;
            return SEGMENT_TRUNCATED;
        }
        const uint8_t* bytes = jpeg.source + pos;
        const bool same = jpeg.quant_built_length[Tq] == 1 + size &&
                          std::memcmp(jpeg.quant_built_from[Tq], bytes, size_t(1 + size)) == 0;
        for (int k = 0; k < 64 && !same; ++k) {
            int32_t q = Pq ? read_be16(bytes + 1 + 2 * k) : bytes[1 + k];
            if (q > JPEG_MAX_QUANT_VALUE)
                q = JPEG_MAX_QUANT_VALUE;
            const int32_t n = JPEG_ZIGZAG[size_t(k)];
            const int32_t row = n >> 3, column = n & 7;
            int32_t v = q << 19;
            if (column != 0)
                v = int32_t(uint32_t(uint64_t(int64_t(v) * JPEG_AAN_SCALE[column]) >> 24));
            if (row != 0)
                v = int32_t(uint32_t(uint64_t(int64_t(v) * JPEG_AAN_SCALE[row]) >> 24));
            jpeg.quant[Tq][n] = v;
            jpeg.quant_zz[Tq][k] = v;
        }
        if (!same) {
            std::memcpy(jpeg.quant_built_from[Tq], bytes, size_t(1 + size));
            jpeg.quant_built_length[Tq] = 1 + size;
        }
        jpeg.quant_defined[Tq] = true;
        pos += 1 + size;
        Lq -= 1 + size;
    }
    *position = pos;
    return SEGMENT_PARSED;
}

int32_t frame_blocks_per_mcu()
{
    int32_t blocks = 0;
    for (int32_t c = 0; c < jpeg.Nf; ++c)
        blocks += jpeg.components[c].H * jpeg.components[c].V;
    return blocks;
}

// The scan header: selectors, tables, band and approximation; each selector
// is matched to its frame component. *position moves past the header.
SegmentResult read_scan_header(int64_t* position, int32_t* component)
{
    int64_t pos = *position;
    if (jpeg.width <= 0 || jpeg.height <= 0)
        return SEGMENT_REJECTED;
    if (!source_has(pos, 1))
        return SEGMENT_TRUNCATED;
    const int32_t Ns = jpeg.source[pos];
    if (Ns == 0 || Ns > JPEG_MAX_COMPONENTS)
        return SEGMENT_REJECTED;
    if (!source_has(pos + 1, 2 * int64_t(Ns) + 3))
        return SEGMENT_TRUNCATED;
    const uint8_t* p = jpeg.source + pos + 1;
    for (int32_t j = 0; j < Ns; ++j) {
        JpegScanSlot& s = jpeg.slots[j];
        s.Cs = p[2 * j];
        s.Td = p[2 * j + 1] >> 4;
        s.Ta = p[2 * j + 1] & 15;
        if (s.Td > 3 || s.Ta > 3)
            return SEGMENT_REJECTED;
        // A selector that matches no frame component (also every selector of
        // a frame without components) would leave its MCU without geometry.
        // When several components share the id, the last one wins.
        component[j] = -1;
        for (int32_t k = 0; k < jpeg.Nf; ++k)
            if (s.Cs == jpeg.components[k].id)
                component[j] = k;
        if (component[j] < 0)
            return SEGMENT_REJECTED;
    }
    p += 2 * Ns;
    jpeg.Ns = Ns;
    jpeg.Ss = p[0];
    jpeg.Se = p[1];
    jpeg.Ah = p[2] >> 4;
    jpeg.Al = p[2] & 15;
    // Coefficient positions beyond 63 do not exist.
    if (jpeg.Ss > 63 || jpeg.Se > 63)
        return SEGMENT_REJECTED;
    *position = pos + 1 + 2 * int64_t(Ns) + 3;
    return SEGMENT_PARSED;
}

// The mode (at the first scan), the slots and the MCU geometry of the scan.
SegmentResult prepare_scan(const int32_t* component)
{
    if (jpeg.scan_count == 0 && !jpeg.coefficients) {
        const bool complete = jpeg.Ss == 0 && jpeg.Se == 63 && jpeg.Ah == 0 && jpeg.Al == 0;
        // A first scan with fewer components than the frame (one scan per
        // component) is gathered with the rest, else it would show in grey.
        if (!complete || jpeg.Ns < jpeg.Nf) {
            if (frame_blocks_per_mcu() > JPEG_MAX_MCU_BLOCKS || jpeg_allocate_store() != 0)
                return SEGMENT_REJECTED;
        }
    }
    for (int32_t j = 0; j < JPEG_MAX_COMPONENTS; ++j)
        jpeg.predictor[j] = 0;
    jpeg_setup_component_slots(component, jpeg.Ns);
    for (int32_t j = 0; j < jpeg.Ns; ++j) {
        JpegScanSlot& s = jpeg.slots[j];
        s.dc = jpeg.huffman_defined[s.Td] ? &jpeg.huffman[s.Td] : default_huffman(s.Td);
        s.ac = jpeg.huffman_defined[s.Ta + 4] ? &jpeg.huffman[s.Ta + 4] : default_huffman(s.Ta + 4);
        // Scans that decode new AC coefficients read the AC lookup.
        JpegHuffmanTable& ac = jpeg.huffman[s.Ta + 4];
        if (jpeg.huffman_defined[s.Ta + 4] && !ac.fast_ac_ready && jpeg.Ah == 0 && jpeg.Se > 0)
            build_fast_ac(ac);
    }

    int32_t blocks = 0;
    if (jpeg.Ns == 1) {
        // A one-component scan codes one block per MCU, each covering
        // maxH / H by maxV / V blocks of the picture.
        const JpegComponent& c = jpeg.components[component[0]];
        jpeg.slots[0].H = jpeg.slots[0].V = 1;
        jpeg.out_H[0] = jpeg.out_V[0] = 1;
        jpeg.out_log2H[0] = jpeg.out_log2V[0] = 0;
        jpeg.mcu_width = 8 << (jpeg.log2maxH - c.log2H);
        jpeg.mcu_height = 8 << (jpeg.log2maxV - c.log2V);
        blocks = 1;
    } else {
        // An interleaved scan: every component brings its H x V blocks and the
        // MCU covers maxH x maxV blocks of the picture.
        jpeg.mcu_width = jpeg.maxH * 8;
        jpeg.mcu_height = jpeg.maxV * 8;
        for (int32_t j = 0; j < jpeg.Ns; ++j)
            blocks += jpeg.slots[j].H * jpeg.slots[j].V;
    }
    return blocks > JPEG_MAX_MCU_BLOCKS ? SEGMENT_REJECTED : SEGMENT_PARSED;
}

// Bounds of the output window; false when the picture cannot touch it.
bool clip_to_window()
{
    const OutputWindow& w = jpeg.window;
    int64_t right = int64_t(jpeg.out_width) + w.x_offset;
    if (right > w.clip_width)
        right = w.clip_width;
    int64_t bottom = int64_t(jpeg.out_height) + w.y_offset;
    if (bottom > w.clip_height)
        bottom = w.clip_height;
    const int32_t x0 = w.x_offset > 0 ? w.x_offset : 0;
    const int32_t y0 = w.y_offset > 0 ? w.y_offset : 0;
    if (x0 >= w.clip_width || right <= 0 || y0 >= w.clip_height || bottom <= 0)
        return false;
    jpeg.right_bound = int32_t(right);
    jpeg.bottom_bound = int32_t(bottom);
    return true;
}

// A scan: its header, its set-up, then its data. In direct mode the call
// ends with it; in coefficient mode the marker loop resumes after it.
SegmentResult parse_sos(int64_t* position)
{
    int32_t component[JPEG_MAX_COMPONENTS];
    SegmentResult result = read_scan_header(position, component);
    if (result == SEGMENT_PARSED)
        result = prepare_scan(component);
    if (result != SEGMENT_PARSED)
        return result;
    if (!clip_to_window())
        return SEGMENT_FINISHED;
    const int64_t end = jpeg_decode_scan(*position);
    if (!jpeg.coefficients)
        return SEGMENT_FINISHED;
    jpeg.scan_count += 1;
    *position = end;
    return jpeg.scan_count >= JPEG_MAX_SCANS ? SEGMENT_TRUNCATED : SEGMENT_PARSED;
}

}  // namespace

void jpeg_setup_component_slots(const int32_t* component, int32_t n)
{
    jpeg.out_components = n;
    for (int32_t j = 0; j < n; ++j) {
        const int32_t k = component[j];
        const JpegComponent& c = jpeg.components[k];
        JpegScanSlot& s = jpeg.slots[j];
        s.component = k;
        s.plane = jpeg.coefficients ? jpeg.plane_start[k] : nullptr;
        s.plane_width = jpeg.coefficients ? jpeg.plane_width[k] : 0;
        s.plane_height = jpeg.coefficients ? jpeg.plane_height[k] : 0;
        s.H = c.H;
        s.V = c.V;
        s.Tq = c.Tq;
        s.quant = jpeg.quant_defined[c.Tq] ? jpeg.quant[c.Tq] : JPEG_ZERO_QUANT;
        s.quant_zz = jpeg.quant_defined[c.Tq] ? jpeg.quant_zz[c.Tq] : JPEG_ZERO_QUANT;
        s.xshift = jpeg.log2maxH - c.log2H + 3;
        s.yshift = jpeg.log2maxV - c.log2V + 3;
        s.box = jpeg.scale_log2 > 0 && (c.box_log2h < 3 || c.box_log2v < 3);
        s.box_log2h = c.box_log2h;
        s.box_log2v = c.box_log2v;
        jpeg.out_cover_log2h[j] = c.cover_log2h;
        jpeg.out_cover_log2v[j] = c.cover_log2v;
        jpeg.out_box_log2h[j] = c.box_log2h;
        jpeg.out_box_log2v[j] = c.box_log2v;
        jpeg.out_H[j] = c.H;
        jpeg.out_V[j] = c.V;
        jpeg.out_log2H[j] = c.log2H;
        jpeg.out_log2V[j] = c.log2V;
    }
}

void jpeg_init_tables()
{
    const uint8_t* annex_k_bytes[4] = {JPEG_ANNEX_K_DC_LUMINANCE, JPEG_ANNEX_K_DC_CHROMINANCE,
                                       JPEG_ANNEX_K_AC_LUMINANCE, JPEG_ANNEX_K_AC_CHROMINANCE};
    const int32_t sizes[4] = {sizeof JPEG_ANNEX_K_DC_LUMINANCE, sizeof JPEG_ANNEX_K_DC_CHROMINANCE,
                              sizeof JPEG_ANNEX_K_AC_LUMINANCE, sizeof JPEG_ANNEX_K_AC_CHROMINANCE};
    for (int i = 0; i < 4; ++i)
        build_huffman(annex_k[i], annex_k_bytes[i], sizes[i] - 17);
    build_fast_ac(annex_k[2]);
    build_fast_ac(annex_k[3]);
    jpeg_choose_simd();
    jpeg_init_colour_tables();
    jpeg_init_box_matrices();
}

namespace {

// Fresh state for a call; tables stay built for the next picture, but only
// those its own segments define are used: a picture decodes the same after
// any other.
void begin_call(const uint8_t* source, int32_t length, const JpegOptions& options)
{
    for (int32_t j = 0; j < JPEG_MAX_COMPONENTS; ++j)
        jpeg.predictor[j] = 0;
    jpeg.Ri = 0;
    for (bool& d : jpeg.huffman_defined)
        d = false;
    for (bool& d : jpeg.quant_defined)
        d = false;
    jpeg.width = jpeg.height = 0;
    jpeg.scan_count = 0;
    jpeg.frame_seen = false;
    jpeg.coefficients = nullptr;
    jpeg.source = source;
    jpeg.source_length = length;
    jpeg.scale_log2 = options.scale_log2;
    jpeg.block_output = options.scale_log2 > 0 ? box_block_output : options.block_output;
}

// One marker segment whose length field has been read: Ls bytes follow at *pos.
SegmentResult parse_segment(int32_t code, int64_t* pos, int32_t Ls, const OutputWindow& call_window)
{
    switch (code) {
    case 0xC0:
    case 0xC1:
    case 0xC2:
        jpeg.window = call_window;
        return parse_sof(pos);
    case 0xC4:
        return parse_dht(pos, Ls);
    case 0xDB:
        return parse_dqt(pos, Ls);
    case 0xDD:
        if (!source_has(*pos, 2))
            return SEGMENT_TRUNCATED;
        jpeg.Ri = read_be16(jpeg.source + *pos);
        return SEGMENT_SKIPPED;  // Ri taken, the rest passed over
    case 0xDA:
        return parse_sos(pos);
    default:
        return SEGMENT_SKIPPED;
    }
}

}  // namespace

void jpeg_prepare_tables()
{
    if (!tables_built) {
        tables_built = true;
        jpeg_init_tables();
    }
}

int jpeg_decode(const uint8_t* source, int32_t length, uint8_t* destination, int32_t pitch, int32_t clip_width,
                int32_t clip_height, int32_t x_offset, int32_t y_offset, const JpegOptions& options)
{
    jpeg_prepare_tables();
    if (length < 2 || source[0] != 0xFF || source[1] != 0xD8)
        return -1;
    // Only picture colours can be averaged: the reduction is ycbcr_block_output's alone.
    if (options.scale_log2 < 0 || options.scale_log2 > 3 ||
        (options.scale_log2 > 0 && options.block_output != ycbcr_block_output))
        return -1;
    begin_call(source, length, options);
    const OutputWindow call_window = {destination, pitch, clip_width, clip_height, x_offset, y_offset};

    int64_t pos = 2;
    while (pos < jpeg.source_length) {
        if (source[pos++] != 0xFF)
            continue;
        while (pos < jpeg.source_length && source[pos] == 0xFF)
            ++pos;
        if (pos >= jpeg.source_length)
            break;
        const int32_t code = source[pos++];
        if (code == 0xD9)
            continue;
        if (!source_has(pos, 2))
            break;
        // The segment's bytes after its length field.
        const int32_t Ls = read_be16(source + pos) - 2;
        pos += 2;
        // A length field below 2 would step backwards; such a segment is taken as empty.
        const int64_t skip_to = pos + (Ls > 0 ? Ls : 0);
        const SegmentResult result = parse_segment(code, &pos, Ls, call_window);
        if (result == SEGMENT_SKIPPED)
            pos = skip_to;
        if (result == SEGMENT_REJECTED || result == SEGMENT_FINISHED) {
            jpeg_free_store();
            return result == SEGMENT_REJECTED ? -1 : 0;
        }
        if (result == SEGMENT_TRUNCATED)
            break;
    }
    if (jpeg.coefficients) {
        jpeg_final_pass();
        jpeg_free_store();
    }
    return 0;
}
