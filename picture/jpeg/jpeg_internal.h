#pragma once
// State shared by the JPEG decoder's sources: marker parser (markers.cpp),
// entropy decoder and final pass (entropy.cpp), inverse transform (idct.cpp)
// and colour output (colour_output.cpp). One decode runs at a time, so all of
// it lives in process-wide variables.
#include <cstdint>

#include "picture/picture.h"

struct JpegComponent {
    int32_t id;
    int32_t H, V;
    int32_t Tq;
    int32_t log2H, log2V;
};

struct JpegHuffmanTable {
    uint8_t counts[16];
    int32_t limit[16];         // [L - 1]: first code of length L + count of length L
    int32_t value_offset[16];  // [L - 1]: index of its first symbol - first code of length L
    uint8_t symbols[256];
    int32_t symbol_count;
    int32_t fast_length[1024];
    int32_t fast_symbol[1024];
    int32_t fast_fill;
    // AC tables: for a fast entry whose code and extra bits together fit the
    // 10 looked-at bits, the decoded coefficient at once: value << 16 | r << 8
    // | s << 4 | code length; 0 where the normal path must decode.
    int32_t fast_ac[1024];
};

struct JpegScanSlot {
    int32_t Cs, Td, Ta;
    int32_t H, V, Tq;
    int16_t* plane;        // start of the component's plane in the coefficient store
    int32_t plane_width;   // in blocks
    int32_t plane_height;
    int32_t xshift, yshift;
};

// Limits of the data model.
constexpr int32_t kJpegMaxComponents = 4;
constexpr int32_t kJpegMaxMcuBlocks = 10;  // blocks of the MCU sample buffer
// Largest coefficient store we allocate: enough for an 8192 x 8192 progressive
// 4:4:4 picture (384 MiB); beyond it a hostile header could ask for gigabytes.
constexpr int64_t kJpegMaxCoefficientBytes = int64_t(512) << 20;
// Each scan walks the whole picture even on a few bytes of data (EOB runs), so
// a file of many tiny scans would take minutes. Real progressive files carry
// about 10; after this many the picture is shown as gathered so far.
constexpr int32_t kJpegMaxScans = 256;

// Frame.
extern int32_t jpeg_width, jpeg_height;
extern int32_t jpeg_Nf;
extern JpegComponent jpeg_components[kJpegMaxComponents];
extern int32_t jpeg_maxH, jpeg_maxV, jpeg_log2maxH, jpeg_log2maxV;

// Tables.
extern JpegHuffmanTable jpeg_huffman[8];
extern int32_t jpeg_quant[4][64];

// Scan.
extern JpegScanSlot jpeg_slots[kJpegMaxComponents];
extern int32_t jpeg_predictor[kJpegMaxComponents];
extern int32_t jpeg_Ns, jpeg_Ss, jpeg_Se, jpeg_Ah, jpeg_Al;
extern int32_t jpeg_mcu_width, jpeg_mcu_height;
extern int32_t jpeg_Ri;
extern int16_t* jpeg_coefficients;  // null in direct mode

// Source of the running call.
extern const uint8_t* jpeg_source;
extern int64_t jpeg_source_length;

// Output window and geometry read by the block-output routine.
extern OutputWindow jpeg_window;
extern int32_t jpeg_right_bound, jpeg_bottom_bound;
extern int32_t jpeg_out_components;
extern int32_t jpeg_out_H[kJpegMaxComponents], jpeg_out_V[kJpegMaxComponents];
extern int32_t jpeg_out_log2H[kJpegMaxComponents], jpeg_out_log2V[kJpegMaxComponents];

// MCU sample buffer: 10 blocks, then two all-zero blocks (the chroma of grey output).
extern int32_t jpeg_mcu_samples[(kJpegMaxMcuBlocks + 2) * 64];

// Constant tables.
extern int32_t jpeg_zigzag[64];             // zigzag index -> natural index
extern int32_t jpeg_natural_to_zigzag[64];
extern uint8_t jpeg_row_bit[64];
extern const int32_t jpeg_power_of_two[32];
extern const int32_t jpeg_mask[32];

// Plane geometry of frame component c in the coefficient store.
extern int16_t* jpeg_plane_start[kJpegMaxComponents];
extern int32_t jpeg_plane_width[kJpegMaxComponents], jpeg_plane_height[kJpegMaxComponents];

void jpeg_init_tables();
void jpeg_init_colour_tables();  // colour_output.cpp, called by jpeg_init_tables

// Decodes one scan from position (just after its header). Returns the
// position at which the marker loop resumes (coefficient mode).
int64_t jpeg_decode_scan(int64_t position);
void jpeg_final_pass();

void jpeg_huff_decode_slow(int32_t table, int32_t n, uint32_t buffer, int32_t* symbol, int32_t* length);
void idct_8x8(int32_t* block, uint32_t row_mask);
