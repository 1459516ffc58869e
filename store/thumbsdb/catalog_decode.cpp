// Thumbnails of catalog records: the stored picture decoded, and old-format
// thumbnails rebuilt into whole JPEGs first.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "picture/bytes.h"
#include "store/thumbsdb/catalog.h"
#include "store/thumbsdb/compound_file.h"

namespace {

// Below catalog version 7 a thumbnail stream holds its stream header, a second
// 16-byte header (1, length - 28, width, height) and a stripped JPEG: SOI,
// the frame header, then the scan header, the scan and EOI. The rebuild puts
// the templates below around the two pieces after SOI.

// Stream offset of the frame header, after the two headers and SOI.
constexpr int32_t OLD_FRAME_HEADER_AT = 30;
// The frame header: the SOF0 marker and Lf = 8 + 3 x 4 bytes (four components).
constexpr int32_t OLD_FRAME_HEADER_BYTES = 22;
// Stream offset of the scan header; the scan and EOI follow to the end.
constexpr int32_t OLD_SCAN_AT = OLD_FRAME_HEADER_AT + OLD_FRAME_HEADER_BYTES;
// The scan piece is taken up to stream byte L + 16, L the stored length: 4
// bytes past the JPEG's end at L + 12, which the rebuild leaves zero (after EOI).
constexpr int32_t OLD_SCAN_END_PAST_L = 16;

// JFIF head: SOI, APP0 (JFIF 1.01, 96 dpi), DQT table 0 with the T.81 K.1
// luminance table scaled by 50 %, in zigzag order.
constexpr uint8_t jfif_head[] = {
    0xFF, 0xD8,
    0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x01, 0x01, 0x00, 0x60, 0x00, 0x60, 0x00, 0x00,
    0xFF, 0xDB, 0x00, 0x43, 0x00,
    8, 6, 6, 7, 6, 5, 8, 7, 7, 7, 9, 9, 8, 10, 12, 20, 13, 12, 11, 11, 12, 25, 18, 19, 15, 20, 29, 26, 31, 30,
    29, 26, 28, 28, 32, 36, 46, 39, 32, 34, 44, 35, 28, 28, 40, 55, 41, 44, 48, 49, 52, 52, 52, 31, 39, 57,
    61, 56, 50, 60, 46, 51, 52, 50,
};

// DHT: the T.81 K.3 luminance DC table and the K.5 luminance AC table, both table 0.
constexpr uint8_t huffman_tables[] = {
    0xFF, 0xC4, 0x00, 0x1F, 0x00,
    0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0,
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
    0xFF, 0xC4, 0x00, 0xB5, 0x10,
    0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 125,
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07,
    0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xA1, 0x08, 0x23, 0x42, 0xB1, 0xC1, 0x15, 0x52, 0xD1, 0xF0,
    0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0A, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x25, 0x26, 0x27, 0x28,
    0x29, 0x2A, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49,
    0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69,
    0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89,
    0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7,
    0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xC2, 0xC3, 0xC4, 0xC5,
    0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xE1, 0xE2,
    0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8,
    0xF9, 0xFA,
};

// Each segment: its marker, then its length field's value (which counts the field).
static_assert(sizeof jfif_head == 2 + (2 + 0x10) + (2 + 0x43));
static_assert(sizeof huffman_tables == (2 + 0x1F) + (2 + 0xB5));

// The rebuilt JPEG: the head, the stream's frame header, the Huffman tables,
// then the stream's scan piece.
constexpr int32_t REBUILT_FRAME_HEADER_AT = sizeof jfif_head;
constexpr int32_t REBUILT_HUFFMAN_AT = REBUILT_FRAME_HEADER_AT + OLD_FRAME_HEADER_BYTES;
constexpr int32_t REBUILT_SCAN_AT = REBUILT_HUFFMAN_AT + sizeof huffman_tables;

constexpr int32_t rebuild_floor = 8192;

uint8_t* rebuild_buffer;
int32_t rebuild_capacity;

void ensure_rebuild_capacity(int32_t needed)
{
    if (needed <= rebuild_capacity)
        return;
    int32_t capacity = needed > rebuild_floor ? needed : rebuild_floor;
    std::free(rebuild_buffer);
    rebuild_buffer = static_cast<uint8_t*>(std::malloc(size_t(capacity)));
    rebuild_capacity = rebuild_buffer ? capacity : 0;
}

// Probes, allocates and decodes; -1 when the picture is beyond the ceilings.
int decode_thumbnail(const uint8_t* data, int32_t length, bool old_format, Picture* picture,
                     const CatalogDecodeOptions& options)
{
    int32_t width, height;
    picture_probe(data, length, &width, &height);
    if (height < 0 && height != INT32_MIN)
        height = -height;  // a top-down BMP
    if (width <= 0 || height <= 0) {
        *picture = Picture{nullptr, 0, 0, 0};
        return 0;
    }
    int64_t pixels = int64_t(width) * height;
    if (pixels > CATALOG_MAX_PICTURE_PIXELS || (options.pixel_budget && pixels > *options.pixel_budget))
        return -1;
    if (options.size_only) {
        if (options.pixel_budget)
            *options.pixel_budget -= pixels;
        *picture = Picture{nullptr, 0, width, height};
        return 0;
    }
    // Cleared, so that a decoder stopping part-way leaves black, not garbage.
    uint32_t* buffer = static_cast<uint32_t*>(std::calloc(size_t(pixels), 4));
    if (!buffer)
        return -1;
    if (options.pixel_budget)
        *options.pixel_budget -= pixels;
    int32_t pitch = width * 4;
    *picture = Picture{buffer, pitch, width, height};
    uint8_t* bytes = reinterpret_cast<uint8_t*>(buffer);
    if (!old_format) {
        picture_decode(data, length, bytes, pitch, width, height, 0, 0);
        return 0;
    }
    // The stripped JPEG's first row is the picture's last.
    uint8_t* last_row = bytes + int64_t(height - 1) * pitch;
    jpeg_decode(data, length, last_row, -pitch, width, height, 0, 0, JpegOptions{bgr_block_output});
    return 0;
}

} // namespace

int catalog_decode_bytes(const uint8_t* data, int32_t length, Picture* picture, const CatalogDecodeOptions& options)
{
    return decode_thumbnail(data, length, false, picture, options);
}

int catalog_decode_entry(const CatalogEntry& entry, int16_t version, Picture* picture,
                         const CatalogDecodeOptions& options)
{
    int32_t slot = catalog_stream_slot(entry.stream_number);
    ByteView stored;
    if (store_slot_bytes(slot, &stored) != 0)
        return -1;
    const uint8_t* t = stored.data - STORE_STREAM_HEADER_BYTES;
    int64_t available = store_slot_length(slot);
    int64_t length = int64_t(stored.length);
    if (version >= STORE_FILE_CATALOG_VERSION)
        return decode_thumbnail(stored.data, int32_t(length), false, picture, options);

    // Old format: the templates around the stream's frame header and scan.
    // The scan piece is taken only as far as the stream goes.
    const int64_t scan_bytes = length + OLD_SCAN_END_PAST_L - OLD_SCAN_AT;
    if (scan_bytes < 0 || available < OLD_SCAN_AT)
        return -1;
    const int32_t needed = REBUILT_SCAN_AT + int32_t(scan_bytes);
    ensure_rebuild_capacity(needed);
    if (!rebuild_buffer)
        return -1;
    const int64_t piece = std::min(scan_bytes, available - OLD_SCAN_AT);
    std::memcpy(rebuild_buffer, jfif_head, sizeof jfif_head);
    std::memcpy(rebuild_buffer + REBUILT_FRAME_HEADER_AT, t + OLD_FRAME_HEADER_AT, OLD_FRAME_HEADER_BYTES);
    std::memcpy(rebuild_buffer + REBUILT_HUFFMAN_AT, huffman_tables, sizeof huffman_tables);
    std::memcpy(rebuild_buffer + REBUILT_SCAN_AT, t + OLD_SCAN_AT, size_t(piece));
    std::memset(rebuild_buffer + REBUILT_SCAN_AT + piece, 0, size_t(needed - REBUILT_SCAN_AT - piece));
    return decode_thumbnail(rebuild_buffer, needed, true, picture, options);
}

void catalog_decode_release()
{
    std::free(rebuild_buffer);
    rebuild_buffer = nullptr;
    rebuild_capacity = 0;
}
