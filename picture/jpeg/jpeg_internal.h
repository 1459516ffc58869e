#pragma once
// State shared by the JPEG decoder's sources: marker parser (markers.cpp),
// entropy decoder (entropy.cpp), coefficient store and final pass
// (coefficients.cpp), inverse transform (idct.cpp) and colour output
// (colour_output.cpp). One decode runs at a time on a thread, so all of it
// lives in one record per thread, `jpeg`; the constant tables are shared.
#include <array>
#include <cstddef>
#include <cstdint>

#include "picture/picture.h"

// Limits of the data model.
constexpr int32_t JPEG_MAX_COMPONENTS = 4;
constexpr int32_t JPEG_MAX_MCU_BLOCKS = 10;  // blocks of the MCU sample buffer
// Largest coefficient store we allocate: enough for an 8192 x 8192 progressive
// 4:4:4 picture (384 MiB); beyond it a hostile header could ask for gigabytes.
constexpr int64_t JPEG_MAX_COEFFICIENT_BYTES = int64_t(512) << 20;
// Each scan walks the whole picture even on a few bytes of data (EOB runs), so
// a file of many tiny scans would take minutes. Real progressive files carry
// about 10; after this many the picture is shown as gathered so far.
constexpr int32_t JPEG_MAX_SCANS = 256;

struct JpegComponent {
    int32_t id;
    int32_t H, V;
    int32_t Tq;
    int32_t log2H, log2V;
    // Reduced output (scale_log2 > 0): log2 of the output pixels a block of
    // this component covers across and down, and of the samples its
    // transform gives (at most 8; each then covers 2^(cover - box) pixels).
    int32_t cover_log2h, cover_log2v;
    int32_t box_log2h, box_log2v;
};

struct JpegHuffmanTable {
    uint8_t counts[16];
    int32_t limit[16];         // [L - 1]: first code of length L + count of length L
    int32_t value_offset[16];  // [L - 1]: index of its first symbol - first code of length L
    uint8_t symbols[256];
    int32_t symbol_count;
    int32_t fast_fill;  // entries below it are valid; codes of up to 10 bits tile them
    // Indexed by the next 10 bits: code length << 8 | symbol for a code of
    // at most 10 bits, 0 past fast_fill.
    uint16_t fast[1024];
    // AC tables: where code and extra bits together fit the 10 looked-at bits,
    // the decoded step at once: value << 16 | run << 8 | code length << 4 |
    // code and extra bits length, with run 64 for an end of block (the run
    // leaves the block); 0 where the normal path must decode.
    int32_t fast_ac[1024];
    bool fast_ac_ready;
    // The segment bytes the table was built from (class byte, counts,
    // symbols), so that an identical table in the next picture is kept.
    uint8_t built_from[17 + 256];
    int32_t built_length;  // 0: nothing valid
};

struct JpegScanSlot {
    int32_t component;  // index of the frame component
    int32_t Cs, Td, Ta;
    int32_t H, V, Tq;      // blocks per MCU of this slot
    // The tables of this slot; an empty table where the picture defines none
    // (what a first picture in a fresh process would get).
    const JpegHuffmanTable* dc;
    const JpegHuffmanTable* ac;
    const int32_t* quant;     // natural order
    const int32_t* quant_zz;  // the same in zigzag order
    int16_t* plane;        // start of the component's plane in the coefficient store
    int32_t plane_width;   // in blocks
    int32_t plane_height;
    int32_t xshift, yshift;
    bool box;  // reduced output with fewer than 8 x 8 samples: idct_box
    int32_t box_log2h, box_log2v;
};

struct JpegState {
    // Source of the running call.
    const uint8_t* source;
    int64_t source_length;

    // Frame.
    int32_t width, height;
    // The call's reduction: the picture is output at width and height
    // divided by 2^scale_log2, rounded up (out_width x out_height).
    int32_t scale_log2;
    int32_t out_width, out_height;
    int32_t Nf;
    JpegComponent components[JPEG_MAX_COMPONENTS];
    int32_t maxH, maxV, log2maxH, log2maxV;
    bool frame_seen;  // a frame header was taken in this call

    // Tables; a DQT whose bytes equal the ones a table was built from keeps it.
    JpegHuffmanTable huffman[8];
    int32_t quant[4][64];
    int32_t quant_zz[4][64];
    uint8_t quant_built_from[4][129];
    int32_t quant_built_length[4];
    bool huffman_defined[8];  // by a segment of this call
    bool quant_defined[4];

    // Scan.
    JpegScanSlot slots[JPEG_MAX_COMPONENTS];
    int32_t predictor[JPEG_MAX_COMPONENTS];
    int32_t Ns, Ss, Se, Ah, Al;
    int32_t mcu_width, mcu_height;
    int32_t Ri;
    int32_t scan_count;  // scans decoded in coefficient mode

    // Coefficient store: null in direct mode.
    int16_t* coefficients;
    int16_t* plane_start[JPEG_MAX_COMPONENTS];
    int32_t plane_width[JPEG_MAX_COMPONENTS], plane_height[JPEG_MAX_COMPONENTS];

    // Output: the call's routine, its window and the geometry the routine reads.
    JpegBlockOutput block_output;
    OutputWindow window;
    int32_t right_bound, bottom_bound;
    int32_t out_components;
    int32_t out_H[JPEG_MAX_COMPONENTS], out_V[JPEG_MAX_COMPONENTS];
    int32_t out_log2H[JPEG_MAX_COMPONENTS], out_log2V[JPEG_MAX_COMPONENTS];
    int32_t out_cover_log2h[JPEG_MAX_COMPONENTS], out_cover_log2v[JPEG_MAX_COMPONENTS];
    int32_t out_box_log2h[JPEG_MAX_COMPONENTS], out_box_log2v[JPEG_MAX_COMPONENTS];

    // MCU sample buffer: 10 blocks, then two all-zero blocks (the chroma of grey output).
    alignas(64) int32_t mcu_samples[(JPEG_MAX_MCU_BLOCKS + 2) * 64];
};

extern SYS_THREAD_LOCAL JpegState jpeg;

// Zigzag index -> natural index, the order of T.81 figure A.6, generated by
// walking the anti-diagonals: odd ones run down to the left, even ones up to
// the right.
constexpr std::array<int32_t, 64> jpeg_make_zigzag()
{
    std::array<int32_t, 64> z{};
    int k = 0;
    for (int s = 0; s < 15; ++s)
        for (int i = 0; i < 8; ++i) {
            const int row = (s & 1) ? i : s - i;
            const int column = s - row;
            if (row >= 0 && row <= 7 && column >= 0 && column <= 7)
                z[std::size_t(k++)] = row * 8 + column;
        }
    return z;
}
constexpr std::array<int32_t, 64> JPEG_ZIGZAG = jpeg_make_zigzag();

// Zigzag index -> index in a transposed block (row and column swapped).
constexpr std::array<int32_t, 64> jpeg_make_zigzag_transposed()
{
    std::array<int32_t, 64> t{};
    for (int k = 0; k < 64; ++k)
        t[std::size_t(k)] = (JPEG_ZIGZAG[std::size_t(k)] & 7) * 8 + (JPEG_ZIGZAG[std::size_t(k)] >> 3);
    return t;
}
constexpr std::array<int32_t, 64> JPEG_ZIGZAG_TRANSPOSED = jpeg_make_zigzag_transposed();

constexpr std::array<int32_t, 64> jpeg_make_natural_to_zigzag()
{
    std::array<int32_t, 64> n{};
    for (int k = 0; k < 64; ++k)
        n[std::size_t(JPEG_ZIGZAG[std::size_t(k)])] = k;
    return n;
}
constexpr std::array<int32_t, 64> JPEG_NATURAL_TO_ZIGZAG = jpeg_make_natural_to_zigzag();

// Entry k: the bit of the block row that holds zigzag coefficient k.
constexpr std::array<uint8_t, 64> jpeg_make_row_bit()
{
    std::array<uint8_t, 64> r{};
    for (int k = 0; k < 64; ++k)
        r[std::size_t(k)] = uint8_t(1 << (JPEG_ZIGZAG[std::size_t(k)] / 8));
    return r;
}
constexpr std::array<uint8_t, 64> JPEG_ROW_BIT = jpeg_make_row_bit();

// Which vector instructions the transform and the colour output use: chosen
// once by jpeg_choose_simd (AVX2 where the processor has it, else SSE2 on
// x86-64, else none); tests set it to compare the paths, which give the
// same pixels.
#if defined(__x86_64__) || defined(_M_X64)
#define JPEG_X86_64 1
#else
#define JPEG_X86_64 0
#endif
constexpr int32_t JPEG_SIMD_SCALAR = 0;
constexpr int32_t JPEG_SIMD_SSE2 = 1;
constexpr int32_t JPEG_SIMD_AVX2 = 2;
extern int32_t jpeg_simd;
void jpeg_choose_simd();

void jpeg_init_tables();
void jpeg_init_colour_tables();  // colour_output.cpp, called by jpeg_init_tables

// Fills the scan slots of the frame components listed in component[0..n) (a
// scan's, or all of them for the final pass), their output geometry, and
// the plane of each in the coefficient store when there is one.
void jpeg_setup_component_slots(const int32_t* component, int32_t n);

// Decodes one scan from position (just after its header). Returns the
// position at which the marker loop resumes (coefficient mode).
int64_t jpeg_decode_scan(int64_t position);

// Coefficient store (coefficients.cpp): 0 or -1 when the store would be too
// large or cannot be had.
int jpeg_allocate_store();
void jpeg_free_store();
void jpeg_final_pass();

// The store block at (row, column) of a slot's plane, kept inside the plane:
// exact layouts never need that, odd sampling layouts would otherwise
// address past it.
inline int16_t* jpeg_store_block(const JpegScanSlot& s, int32_t row, int32_t column)
{
    if (row >= s.plane_height)
        row = s.plane_height - 1;
    if (column >= s.plane_width)
        column = s.plane_width - 1;
    return s.plane + 64 * (int64_t(row) * s.plane_width + column);
}

// A code longer than the fast table covers, from the next 16 bits (top16,
// first bit highest): returns its symbol and sets *length. A code that
// matches no length reads as symbol 0 of length 16.
int32_t jpeg_huff_decode_slow(const JpegHuffmanTable& t, uint32_t top16, int32_t* length);
void idct_8x8(int32_t* block, uint32_t row_mask);

// Reduced output: the transform's 8 x 8 samples averaged over groups, in
// the DCT domain. Matrix log2n (n = 1, 2, 4, 8 outputs) maps the 8 inputs of
// a row to the means of its outputs taken 8 / n at a time, in units of
// 2^-JPEG_BOX_FRACTION_BITS; the largest entry (about 5.1) fits 32 bits.
constexpr int32_t JPEG_BOX_FRACTION_BITS = 28;
extern int32_t jpeg_box_matrix[4][8][8];
void jpeg_init_box_matrices();
// Leaves in rows 0 to 2^log2n_v - 1, columns 0 to 2^log2n_h - 1 of the block
// the means of the 8 / n_h x 8 / n_v groups of what idct_8x8 would give
// (up to the rounding of the matrix).
void idct_box(int32_t* block, uint32_t row_mask, int32_t log2n_h, int32_t log2n_v);
// The block output of reduced decodes: YCbCr samples of every component at
// their reduced size, each repeated over the output pixels it covers.
void box_block_output(int32_t x, int32_t y, int32_t* samples);
// The same transform of a block stored transposed (as the AVX2 path reads
// it, which saves it a transpose); row_mask still names rows of the
// untransposed block. Meant for jpeg_simd == JPEG_SIMD_AVX2; any other path
// transposes the block back first.
void idct_8x8_from_transposed(int32_t* block, uint32_t row_mask);

#if JPEG_X86_64
#include <emmintrin.h>
#else
#include <cstring>
#endif

// A string instruction or a memset call costs more than the block's worth of
// stores.
inline void jpeg_clear_block(int32_t* block)
{
#if JPEG_X86_64
    const __m128i zero = _mm_setzero_si128();
    for (int n = 0; n < 64; n += 4)
        _mm_store_si128(reinterpret_cast<__m128i*>(block + n), zero);
#else
    std::memset(block, 0, 64 * sizeof(int32_t));
#endif
}

// Bit k set where zigzag coefficient k of the store block is nonzero.
inline uint64_t jpeg_nonzero_mask(const int16_t* c)
{
#if JPEG_X86_64
    const __m128i zero = _mm_setzero_si128();
    uint64_t zeros = 0;
    for (int i = 0; i < 4; ++i) {
        const __m128i a = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 16 * i)), zero);
        const __m128i b = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 16 * i + 8)), zero);
        zeros |= uint64_t(uint32_t(_mm_movemask_epi8(_mm_packs_epi16(a, b)))) << (16 * i);
    }
    return ~zeros;
#else
    uint64_t mask = 0;
    for (int k = 0; k < 64; ++k)
        mask |= uint64_t(c[k] != 0) << k;
    return mask;
#endif
}

