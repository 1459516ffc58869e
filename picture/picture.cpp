// Format recognition, size probe and dispatch to the format decoders.
#include "picture/picture.h"

#include "picture/bytes.h"

uint32_t decoder_palette[256];
int32_t palette_count;
JpegBlockOutput jpeg_block_output = ycbcr_block_output;

namespace {

bool starts_with(ByteView v, const char* bytes, size_t n)
{
    if (!view_has(v, 0, n))
        return false;
    for (size_t i = 0; i < n; ++i)
        if (v.data[i] != uint8_t(bytes[i]))
            return false;
    return true;
}

bool is_cel(ByteView v)
{
    return view_has(v, 0, 12) && v.data[0] == 0x19 && v.data[1] == 0x91 && v.data[10] == 8 && v.data[11] == 0;
}

bool is_dds(ByteView v)
{
    return starts_with(v, "DDS ", 4) && view_has(v, 4, 4) && read_le32(v.data + 4) == 124;
}

bool is_tga(ByteView v)
{
    if (v.length < 19)
        return false;
    const uint8_t* p = v.data;
    uint8_t type = p[2];
    bool type_ok = type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11;
    uint8_t bpp = p[16];
    return p[1] <= 1 && type_ok && bpp != 0 && bpp % 8 == 0 && bpp <= 32 && (p[17] & 0xC0) == 0;
}

void probe_png(ByteView v, int32_t* width, int32_t* height)
{
    static const char signature[8] = {char(0x89), 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (!starts_with(v, signature, 8))
        return;
    // The chunk walk stops 16 bytes before the end, so every IHDR read is inside.
    uint64_t chunk = 8;
    while (chunk < v.length - 16) {
        const uint8_t* c = v.data + chunk;
        if (c[4] == 'I' && c[5] == 'H' && c[6] == 'D' && c[7] == 'R') {
            *width = int32_t(read_be32(c + 8));
            *height = int32_t(read_be32(c + 12));
            return;
        }
        chunk += 12 + uint64_t(read_be32(c));
    }
}

void probe_jpeg(ByteView v, int32_t* width, int32_t* height)
{
    // Position stays below length - 8, so the 9 bytes a frame header read needs are inside.
    uint64_t pos = 2;
    while (pos < v.length - 8) {
        const uint8_t* p = v.data + pos;
        if (p[0] == 0xFF && p[1] != 0xFF) {
            if (p[1] == 0xC0 || p[1] == 0xC1 || p[1] == 0xC2) {
                *height = read_be16(p + 5);
                *width = read_be16(p + 7);
                return;
            }
            pos += 2 + uint64_t(read_be16(p + 2));
        } else {
            pos += 1;
        }
    }
}

void probe_bmp(ByteView v, int32_t* width, int32_t* height)
{
    if (!view_has(v, 14, 4))
        return;
    if (read_le32(v.data + 14) == 12) {
        if (view_has(v, 18, 6) && read_le16(v.data + 22) == 1) {
            *width = read_le16(v.data + 18);
            *height = read_le16(v.data + 20);
        }
    } else if (view_has(v, 18, 10) && read_le16(v.data + 26) == 1) {
        *width = int32_t(read_le32(v.data + 18));
        *height = int32_t(read_le32(v.data + 22));
    }
}

} // namespace

void picture_probe(const uint8_t* data, int32_t length, int32_t* width, int32_t* height)
{
    *width = 0;
    *height = 0;
    if (length < 16)
        return;
    ByteView v{data, size_t(length)};
    const uint8_t* p = data;
    if (p[0] == 0x89 && p[1] == 0x50) {
        probe_png(v, width, height);
    } else if (p[0] == 0xFF && p[1] == 0xD8) {
        probe_jpeg(v, width, height);
    } else if (p[0] == 'G' && p[1] == 'I' && p[2] == 'F') {
        *width = read_le16(p + 6);
        *height = read_le16(p + 8);
    } else if (is_cel(v)) {
        *width = read_le16(p + 2);
        *height = read_le16(p + 4);
    } else if (p[0] == 'B' && p[1] == 'M') {
        probe_bmp(v, width, height);
    } else if (p[0] == 0x0A && p[1] == 0x05 && p[2] == 0x01 && p[3] == 0x08) {
        *width = int16_t(read_le16(p + 8)) - int16_t(read_le16(p + 4)) + 1;
        *height = int16_t(read_le16(p + 10)) - int16_t(read_le16(p + 6)) + 1;
    } else if (is_dds(v)) {
        if (view_has(v, 12, 8)) {
            *width = int32_t(read_le32(p + 16));
            *height = int32_t(read_le32(p + 12));
        }
    } else if (is_tga(v)) {
        *width = read_le16(p + 12);
        *height = read_le16(p + 14);
    }
}

namespace {

using Decoder = int (*)(const uint8_t*, int32_t, uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t);

struct Format {
    const char* name;
    Decoder decoder;
};

// The recognition order of the decoder entry.
Format choose_format(const uint8_t* source, int32_t length)
{
    if (!source || length <= 0)
        return {"unknown", nullptr};
    ByteView v{source, size_t(length)};
    static const char png_start[2] = {char(0x89), 0x50};
    static const char jpeg_start[2] = {char(0xFF), char(0xD8)};
    static const char pcx_start[4] = {0x0A, 0x05, 0x01, 0x08};
    if (starts_with(v, png_start, 2))
        return {"png", png_decode};
    if (starts_with(v, jpeg_start, 2))
        return {"jpeg", jpeg_decode};
    if (starts_with(v, "GIF", 3))
        return {"gif", gif_decode};
    if (is_cel(v))
        return {"cel", cel_decode};
    if (starts_with(v, "BM", 2))
        return {"bmp", bmp_decode};
    if (starts_with(v, pcx_start, 4))
        return {"pcx", pcx_decode};
    if (is_dds(v))
        return {"dds", dds_decode};
    if (is_tga(v))
        return {"tga", tga_decode};
    return {"unknown", nullptr};
}

} // namespace

const char* picture_format_name(const uint8_t* source, int32_t length) { return choose_format(source, length).name; }

int picture_decode(const uint8_t* source, int32_t length, uint8_t* destination, int32_t pitch,
                   int32_t clip_width, int32_t clip_height, int32_t x_offset, int32_t y_offset)
{
    palette_count = 0;
    Decoder decoder = choose_format(source, length).decoder;
    if (!decoder)
        return -1;
    return decoder(source, length, destination, pitch, clip_width, clip_height, x_offset, y_offset);
}
