// JPEG decoder entry: the marker loop, the frame, table and scan headers,
// the choice between direct and coefficient mode, and the constant tables.
#include <cstdlib>
#include <cstring>

#include "picture/bytes.h"
#include "picture/jpeg/jpeg_internal.h"

int32_t jpeg_width, jpeg_height;
int32_t jpeg_Nf;
JpegComponent jpeg_components[kJpegMaxComponents];
int32_t jpeg_maxH, jpeg_maxV, jpeg_log2maxH, jpeg_log2maxV;

JpegHuffmanTable jpeg_huffman[8];
int32_t jpeg_quant[4][64];

JpegScanSlot jpeg_slots[kJpegMaxComponents];
int32_t jpeg_predictor[kJpegMaxComponents];
int32_t jpeg_Ns, jpeg_Ss, jpeg_Se, jpeg_Ah, jpeg_Al;
int32_t jpeg_mcu_width, jpeg_mcu_height;
int32_t jpeg_Ri;
int16_t* jpeg_coefficients;
int16_t* jpeg_plane_start[kJpegMaxComponents];
int32_t jpeg_plane_width[kJpegMaxComponents], jpeg_plane_height[kJpegMaxComponents];

const uint8_t* jpeg_source;
int64_t jpeg_source_length;

OutputWindow jpeg_window;
int32_t jpeg_right_bound, jpeg_bottom_bound;
int32_t jpeg_out_components;
int32_t jpeg_out_H[kJpegMaxComponents], jpeg_out_V[kJpegMaxComponents];
int32_t jpeg_out_log2H[kJpegMaxComponents], jpeg_out_log2V[kJpegMaxComponents];

alignas(64) int32_t jpeg_mcu_samples[(kJpegMaxMcuBlocks + 2) * 64];

int32_t jpeg_zigzag[64];
int32_t jpeg_natural_to_zigzag[64];
uint8_t jpeg_row_bit[64];

constexpr int32_t make_power(int n) { return int32_t(uint32_t(1) << n); }
constexpr int32_t make_mask(int n) { return int32_t((uint32_t(1) << n) - 1); }
const int32_t jpeg_power_of_two[32] = {
    make_power(0),  make_power(1),  make_power(2),  make_power(3),  make_power(4),  make_power(5),
    make_power(6),  make_power(7),  make_power(8),  make_power(9),  make_power(10), make_power(11),
    make_power(12), make_power(13), make_power(14), make_power(15), make_power(16), make_power(17),
    make_power(18), make_power(19), make_power(20), make_power(21), make_power(22), make_power(23),
    make_power(24), make_power(25), make_power(26), make_power(27), make_power(28), make_power(29),
    make_power(30), make_power(31)};
const int32_t jpeg_mask[32] = {
    make_mask(0),  make_mask(1),  make_mask(2),  make_mask(3),  make_mask(4),  make_mask(5),
    make_mask(6),  make_mask(7),  make_mask(8),  make_mask(9),  make_mask(10), make_mask(11),
    make_mask(12), make_mask(13), make_mask(14), make_mask(15), make_mask(16), make_mask(17),
    make_mask(18), make_mask(19), make_mask(20), make_mask(21), make_mask(22), make_mask(23),
    make_mask(24), make_mask(25), make_mask(26), make_mask(27), make_mask(28), make_mask(29),
    make_mask(30), make_mask(31)};

namespace {

// round(2^24 x sqrt(2) x cos(k pi / 16)); entry 0 is never used (factor 1 stands there).
constexpr int32_t aan_scale[8] = {23726566, 23270667, 21920489, 19727919,
                                  16777216, 13181774, 9079764,  4628823};

// 16-bit quantisation values above this do not fit q << 19 in 32 bits; no
// 8-bit picture needs them, so larger ones are read as this value.
constexpr int32_t kMaxQuantValue = 4095;

bool tables_built;

int32_t scan_count;
bool frame_seen;  // a frame header was taken in this call

enum ParseResult { kParsed, kRejected, kTruncated, kSkipped };

bool source_has(int64_t pos, int64_t count) { return pos >= 0 && count >= 0 && pos + count <= jpeg_source_length; }

int32_t log2_of(int32_t factor, int32_t previous)
{
    for (int n = 0; n < 8; ++n)
        if (jpeg_power_of_two[n] == factor)
            return n;
    return previous;
}

void free_store()
{
    std::free(jpeg_coefficients);
    jpeg_coefficients = nullptr;
}

ParseResult parse_sof(int64_t* position)
{
    int64_t pos = *position;
    if (!source_has(pos, 6))
        return kTruncated;
    const uint8_t* p = jpeg_source + pos;
    // A later frame header is passed over, and the picture keeps its first
    // frame: the one picture_probe reports and the caller sized its window
    // and its limits by. (A second one could also change the layout of a
    // coefficient store being filled, or claim a frame thousands of times
    // larger than the probed one, all of it decoded from zero bits.)
    if (frame_seen)
        return kSkipped;
    frame_seen = true;
    // Samples travel as 8-bit levels; 12-bit data would overflow the tables.
    if (p[0] != 8)
        return kRejected;
    int32_t height = read_be16(p + 1);
    int32_t width = read_be16(p + 3);
    int32_t Nf = p[5];
    pos += 6;
    if (Nf > kJpegMaxComponents)
        return kRejected;
    if (!source_has(pos, 3 * int64_t(Nf)))
        return kTruncated;
    jpeg_height = height;
    jpeg_width = width;
    jpeg_Nf = Nf;
    jpeg_maxH = jpeg_maxV = jpeg_log2maxH = jpeg_log2maxV = 0;
    for (int32_t i = 0; i < Nf; ++i) {
        const uint8_t* c = jpeg_source + pos + 3 * i;
        JpegComponent& k = jpeg_components[i];
        k.id = c[0];
        k.H = c[1] >> 4;
        k.V = c[1] & 15;
        k.Tq = c[2];
        if ((k.H != 1 && k.H != 2 && k.H != 4) || (k.V != 1 && k.V != 2 && k.V != 4) || k.Tq > 3)
            return kRejected;
        k.log2H = log2_of(k.H, k.log2H);
        k.log2V = log2_of(k.V, k.log2V);
        if (k.H > jpeg_maxH) {
            jpeg_maxH = k.H;
            jpeg_log2maxH = k.log2H;
        }
        if (k.V > jpeg_maxV) {
            jpeg_maxV = k.V;
            jpeg_log2maxV = k.log2V;
        }
    }
    *position = pos + 3 * int64_t(Nf);
    return kParsed;
}

void clear_huffman(JpegHuffmanTable& t)
{
    t.symbol_count = 0;
    t.fast_fill = 0;
    for (int L = 0; L < 16; ++L)
        t.limit[L] = t.value_offset[L] = 0;
    std::memset(t.fast_ac, 0, sizeof t.fast_ac);
}

void build_fast_ac(JpegHuffmanTable& t)
{
    for (int32_t peek = 0; peek < 1024; ++peek) {
        t.fast_ac[peek] = 0;
        if (peek >= t.fast_fill)
            continue;
        const int32_t L = t.fast_length[peek], r = t.fast_symbol[peek] >> 4, s = t.fast_symbol[peek] & 15;
        if (s == 0 || L + s > 10)
            continue;
        int32_t v = (peek >> (10 - L - s)) & ((1 << s) - 1);
        if (v < (1 << (s - 1)))
            v -= (1 << s) - 1;
        t.fast_ac[peek] = int32_t(uint32_t(v) << 16) | r << 8 | s << 4 | L;
    }
}

ParseResult parse_dht(int64_t* position, int32_t R)
{
    int64_t pos = *position;
    while (R > 0) {
        if (!source_has(pos, 17))
            return kTruncated;
        int32_t b = jpeg_source[pos];
        // DC tables 0 to 3 are indices 0 to 3, AC tables 0x10 to 0x13 indices 4 to 7.
        if (!(b <= 3 || (b >= 0x10 && b <= 0x13)))
            return kRejected;
        int32_t index = b < 16 ? b : b - 12;
        JpegHuffmanTable& t = jpeg_huffman[index];
        std::memcpy(t.counts, jpeg_source + pos + 1, 16);
        pos += 17;
        R -= 17;
        int32_t total = 0;
        for (int L = 0; L < 16; ++L)
            total += t.counts[L];
        // A rejected table must not leave a half-built one for a later picture.
        clear_huffman(t);
        if (total > 256)
            return kRejected;
        if (!source_has(pos, total))
            return kTruncated;
        int32_t code = 0;
        for (int32_t L = 1; L <= 16; ++L) {
            int32_t n = t.counts[L - 1];
            t.limit[L - 1] = code + n;
            t.value_offset[L - 1] = t.symbol_count - code;
            std::memcpy(t.symbols + t.symbol_count, jpeg_source + pos, size_t(n));
            if (L <= 10) {
                int32_t run = 1 << (10 - L);
                if (t.fast_fill + int64_t(run) * n > 1024) {
                    clear_huffman(t);
                    return kRejected;
                }
                for (int32_t s = 0; s < n; ++s) {
                    for (int32_t e = 0; e < run; ++e) {
                        t.fast_length[t.fast_fill + e] = L;
                        t.fast_symbol[t.fast_fill + e] = jpeg_source[pos + s];
                    }
                    t.fast_fill += run;
                }
            }
            t.symbol_count += n;
            pos += n;
            R -= n;
            code = (code + n) * 2;
        }
        if (index >= 4)
            build_fast_ac(t);
    }
    *position = pos;
    return kParsed;
}

ParseResult parse_dqt(int64_t* position, int32_t R)
{
    int64_t pos = *position;
    while (R > 0) {
        if (!source_has(pos, 1))
            return kTruncated;
        int32_t Pq = jpeg_source[pos] >> 4;
        int32_t Tq = jpeg_source[pos] & 15;
        pos += 1;
        R -= 1;
        if (Tq > 3)
            return kRejected;
        int32_t size = Pq ? 128 : 64;
        if (!source_has(pos, size))
            return kTruncated;
        for (int k = 0; k < 64; ++k) {
            int32_t q = Pq ? read_be16(jpeg_source + pos + 2 * k) : jpeg_source[pos + k];
            if (q > kMaxQuantValue)
                q = kMaxQuantValue;
            int32_t n = jpeg_zigzag[k];
            int32_t row = n >> 3, column = n & 7;
            int32_t v = q << 19;
            if (column != 0)
                v = int32_t(uint32_t(uint64_t(int64_t(v) * aan_scale[column]) >> 24));
            if (row != 0)
                v = int32_t(uint32_t(uint64_t(int64_t(v) * aan_scale[row]) >> 24));
            jpeg_quant[Tq][n] = v;
        }
        pos += size;
        R -= size;
    }
    *position = pos;
    return kParsed;
}

// Allocates the zero-filled coefficient store, one plane per frame component.
ParseResult allocate_store()
{
    int64_t mcux = (int64_t(jpeg_width) + 8 * jpeg_maxH - 1) / (8 * jpeg_maxH);
    int64_t mcuy = (int64_t(jpeg_height) + 8 * jpeg_maxV - 1) / (8 * jpeg_maxV);
    int64_t blocks = 0;
    int64_t start[kJpegMaxComponents];
    for (int32_t c = 0; c < jpeg_Nf; ++c) {
        start[c] = blocks;
        jpeg_plane_width[c] = int32_t(mcux << jpeg_components[c].log2H);
        jpeg_plane_height[c] = int32_t(mcuy << jpeg_components[c].log2V);
        blocks += (mcux << jpeg_components[c].log2H) * (mcuy << jpeg_components[c].log2V);
    }
    if (blocks * 128 > kJpegMaxCoefficientBytes)
        return kRejected;
    jpeg_coefficients = static_cast<int16_t*>(std::calloc(size_t(blocks), 128));
    if (!jpeg_coefficients)
        return kRejected;
    for (int32_t c = 0; c < jpeg_Nf; ++c)
        jpeg_plane_start[c] = jpeg_coefficients + start[c] * 64;
    return kParsed;
}

int32_t frame_blocks_per_mcu()
{
    int32_t blocks = 0;
    for (int32_t c = 0; c < jpeg_Nf; ++c)
        blocks += jpeg_components[c].H * jpeg_components[c].V;
    return blocks;
}

// Returns 1 when the scan was decoded and the marker loop goes on, 0 when the
// call ends with success, -1 on rejection; kTruncated ends the loop.
int parse_sos(int64_t* position, bool* truncated)
{
    int64_t pos = *position;
    if (jpeg_width <= 0 || jpeg_height <= 0)
        return -1;
    if (!source_has(pos, 1)) {
        *truncated = true;
        return 1;
    }
    int32_t Ns = jpeg_source[pos];
    if (Ns == 0 || Ns > kJpegMaxComponents)
        return -1;
    if (!source_has(pos + 1, 2 * int64_t(Ns) + 3)) {
        *truncated = true;
        return 1;
    }
    const uint8_t* p = jpeg_source + pos + 1;
    for (int32_t j = 0; j < Ns; ++j) {
        jpeg_slots[j].Cs = p[2 * j];
        jpeg_slots[j].Td = p[2 * j + 1] >> 4;
        jpeg_slots[j].Ta = p[2 * j + 1] & 15;
        if (jpeg_slots[j].Td > 3 || jpeg_slots[j].Ta > 3)
            return -1;
    }
    p += 2 * Ns;
    jpeg_Ns = Ns;
    jpeg_Ss = p[0];
    jpeg_Se = p[1];
    jpeg_Ah = p[2] >> 4;
    jpeg_Al = p[2] & 15;
    pos += 1 + 2 * int64_t(Ns) + 3;
    // Coefficient positions beyond 63 do not exist.
    if (jpeg_Ss > 63 || jpeg_Se > 63)
        return -1;

    // A selector that matches no frame component (also every selector of a
    // frame without components) would leave its MCU without geometry.
    for (int32_t j = 0; j < Ns; ++j) {
        bool found = false;
        for (int32_t k = 0; k < jpeg_Nf; ++k)
            found = found || jpeg_slots[j].Cs == jpeg_components[k].id;
        if (!found)
            return -1;
    }

    if (scan_count == 0 && !jpeg_coefficients) {
        bool complete = jpeg_Ss == 0 && jpeg_Se == 63 && jpeg_Ah == 0 && jpeg_Al == 0;
        // A first scan with fewer components than the frame (one scan per
        // component) is gathered with the rest, else it would show in grey.
        if (!complete || Ns < jpeg_Nf) {
            if (frame_blocks_per_mcu() > kJpegMaxMcuBlocks)
                return -1;
            if (allocate_store() != kParsed)
                return -1;
        }
    }

    for (int32_t j = 0; j < kJpegMaxComponents; ++j)
        jpeg_predictor[j] = 0;

    int32_t log2H0 = 0, log2V0 = 0;
    for (int32_t j = 0; j < Ns; ++j) {
        JpegScanSlot& s = jpeg_slots[j];
        int32_t matched = -1;
        for (int32_t k = 0; k < jpeg_Nf; ++k)
            if (s.Cs == jpeg_components[k].id)
                matched = k;
        if (matched < 0)
            return -1;
        const JpegComponent& c = jpeg_components[matched];
        s.plane = jpeg_coefficients ? jpeg_plane_start[matched] : nullptr;
        s.plane_width = jpeg_coefficients ? jpeg_plane_width[matched] : 0;
        s.plane_height = jpeg_coefficients ? jpeg_plane_height[matched] : 0;
        s.H = c.H;
        s.V = c.V;
        s.Tq = c.Tq;
        s.xshift = jpeg_log2maxH - c.log2H + 3;
        s.yshift = jpeg_log2maxV - c.log2V + 3;
        if (j == 0) {
            log2H0 = c.log2H;
            log2V0 = c.log2V;
        }
        jpeg_out_H[j] = c.H;
        jpeg_out_V[j] = c.V;
        jpeg_out_log2H[j] = c.log2H;
        jpeg_out_log2V[j] = c.log2V;
    }

    int32_t blocks = 0;
    if (Ns == 1) {
        // A one-component scan codes one block per MCU, each covering
        // maxH / H by maxV / V blocks of the picture.
        jpeg_slots[0].H = jpeg_slots[0].V = 1;
        jpeg_mcu_width = 8 << (jpeg_log2maxH - log2H0);
        jpeg_mcu_height = 8 << (jpeg_log2maxV - log2V0);
        blocks = 1;
    } else {
        // An interleaved scan: every component brings its H x V blocks and the
        // MCU covers maxH x maxV blocks of the picture.
        jpeg_mcu_width = jpeg_maxH * 8;
        jpeg_mcu_height = jpeg_maxV * 8;
        for (int32_t j = 0; j < Ns; ++j)
            blocks += jpeg_slots[j].H * jpeg_slots[j].V;
    }
    if (blocks > kJpegMaxMcuBlocks)
        return -1;
    jpeg_out_components = Ns;
    jpeg_out_H[0] = jpeg_slots[0].H;
    jpeg_out_V[0] = jpeg_slots[0].V;
    jpeg_out_log2H[0] = log2_of(jpeg_slots[0].H, 0);
    jpeg_out_log2V[0] = log2_of(jpeg_slots[0].V, 0);

    int64_t right = int64_t(jpeg_width) + jpeg_window.x_offset;
    if (right > jpeg_window.clip_width)
        right = jpeg_window.clip_width;
    int64_t bottom = int64_t(jpeg_height) + jpeg_window.y_offset;
    if (bottom > jpeg_window.clip_height)
        bottom = jpeg_window.clip_height;
    int32_t x0 = jpeg_window.x_offset > 0 ? jpeg_window.x_offset : 0;
    int32_t y0 = jpeg_window.y_offset > 0 ? jpeg_window.y_offset : 0;
    if (x0 >= jpeg_window.clip_width || right <= 0 || y0 >= jpeg_window.clip_height || bottom <= 0)
        return 0;
    jpeg_right_bound = int32_t(right);
    jpeg_bottom_bound = int32_t(bottom);

    pos = jpeg_decode_scan(pos);
    if (!jpeg_coefficients)
        return 0;
    scan_count += 1;
    *position = pos;
    return 1;
}

}  // namespace

void jpeg_init_tables()
{
    int k = 0;
    for (int s = 0; s < 15; ++s) {
        // Odd anti-diagonals run down to the left, even ones up to the right.
        for (int i = 0; i < 8; ++i) {
            int row = (s & 1) ? i : s - i;
            int column = s - row;
            if (row < 0 || row > 7 || column < 0 || column > 7)
                continue;
            jpeg_zigzag[k++] = row * 8 + column;
        }
    }
    for (k = 0; k < 64; ++k) {
        jpeg_natural_to_zigzag[jpeg_zigzag[k]] = k;
        jpeg_row_bit[k] = uint8_t(1 << (jpeg_zigzag[k] / 8));
    }
    jpeg_init_colour_tables();
}

int jpeg_decode(const uint8_t* source, int32_t length, uint8_t* destination, int32_t pitch, int32_t clip_width,
                int32_t clip_height, int32_t x_offset, int32_t y_offset)
{
    if (!tables_built) {
        tables_built = true;
        jpeg_init_tables();
    }
    if (length < 2 || source[0] != 0xFF || source[1] != 0xD8)
        return -1;
    for (int32_t j = 0; j < kJpegMaxComponents; ++j)
        jpeg_predictor[j] = 0;
    jpeg_Ri = 0;
    for (JpegHuffmanTable& t : jpeg_huffman)
        t.symbol_count = 0;
    jpeg_width = jpeg_height = 0;
    scan_count = 0;
    frame_seen = false;
    jpeg_coefficients = nullptr;
    jpeg_source = source;
    jpeg_source_length = length;
    const OutputWindow call_window = {destination, pitch, clip_width, clip_height, x_offset, y_offset};

    int64_t pos = 2;
    while (pos < jpeg_source_length) {
        if (source[pos++] != 0xFF)
            continue;
        while (pos < jpeg_source_length && source[pos] == 0xFF)
            ++pos;
        if (pos >= jpeg_source_length)
            break;
        int32_t code = source[pos++];
        if (code == 0xD9)
            continue;
        if (!source_has(pos, 2))
            break;
        int32_t R = read_be16(source + pos) - 2;
        pos += 2;
        int64_t segment = pos;
        // A length field below 2 would step backwards; such a segment is taken as empty.
        int64_t skip_to = segment + (R > 0 ? R : 0);
        ParseResult result = kParsed;
        switch (code) {
        case 0xC0:
        case 0xC1:
        case 0xC2:
            jpeg_window = call_window;
            result = parse_sof(&pos);
            break;
        case 0xC4:
            result = parse_dht(&pos, R);
            break;
        case 0xDB:
            result = parse_dqt(&pos, R);
            break;
        case 0xDD:
            if (!source_has(pos, 2)) {
                result = kTruncated;
                break;
            }
            jpeg_Ri = read_be16(source + pos);
            pos = skip_to;
            break;
        case 0xDA: {
            bool truncated = false;
            int scan = parse_sos(&pos, &truncated);
            if (scan < 0) {
                free_store();
                return -1;
            }
            if (scan == 0) {
                free_store();
                return 0;
            }
            if (truncated || scan_count >= kJpegMaxScans)
                result = kTruncated;
            break;
        }
        default:
            pos = skip_to;
            break;
        }
        if (result == kSkipped)
            pos = skip_to;
        if (result == kRejected) {
            free_store();
            return -1;
        }
        if (result == kTruncated)
            break;
    }
    if (jpeg_coefficients) {
        jpeg_final_pass();
        free_store();
    }
    return 0;
}
