// Format recognition, size probe and dispatch: one table of formats that the
// probe, the decoder entry and the format name all walk in the same order.
#include "picture/picture.h"

#include "picture/bytes.h"
#include "picture/formats.h"

SYS_THREAD_LOCAL uint32_t decoder_palette[256];
SYS_THREAD_LOCAL int32_t palette_count;

namespace {

struct PictureFormat {
    const char* name;
    bool (*sniff)(ByteView v);
    void (*probe)(ByteView v, int32_t* width, int32_t* height);
    int (*decode)(ByteView src, const OutputWindow& w);
};

// Recognition order: the first format whose sniff accepts the bytes decides.
// PNG, JPEG, GIF, BMP and PCX go by their leading bytes alone; CEL, DDS and
// TGA need more header fields to agree, so that other data falls through.
constexpr PictureFormat PICTURE_FORMATS[] = {
    {"png", png_sniff, png_probe, png_decode},
    {"jpeg", jpeg_sniff, jpeg_probe, jpeg_decode},
    {"gif", gif_sniff, gif_probe, gif_decode},
    {"cel", cel_sniff, cel_probe, cel_decode},
    {"bmp", bmp_sniff, bmp_probe, bmp_decode},
    {"pcx", pcx_sniff, pcx_probe, pcx_decode},
    {"dds", dds_sniff, dds_probe, dds_decode},
    {"tga", tga_sniff, tga_probe, tga_decode},
};

// The probe reads no size from anything shorter, whatever it holds.
constexpr int32_t PICTURE_PROBE_MIN_BYTES = 16;

const PictureFormat* find_format(const uint8_t* source, int32_t length)
{
    if (!source || length <= 0)
        return nullptr;
    ByteView v{source, size_t(length)};
    for (const PictureFormat& format : PICTURE_FORMATS)
        if (format.sniff(v))
            return &format;
    return nullptr;
}

} // namespace

const char* picture_format_name(const uint8_t* source, int32_t length)
{
    const PictureFormat* format = find_format(source, length);
    return format ? format->name : "unknown";
}

void picture_probe(const uint8_t* data, int32_t length, int32_t* width, int32_t* height)
{
    *width = 0;
    *height = 0;
    failure_clear();
    if (length < PICTURE_PROBE_MIN_BYTES) {
        fail("too short to hold a picture header");
        return;
    }
    const PictureFormat* format = find_format(data, length);
    if (!format) {
        fail("unknown format");
        return;
    }
    format->probe(ByteView{data, size_t(length)}, width, height);
    if (*width == 0 || *height == 0)
        fail("no picture size in the %s header", format->name);
}

void picture_prepare_threads()
{
    jpeg_prepare_tables();
    png_prepare_tables();
}

int picture_decode(const uint8_t* source, int32_t length, uint8_t* destination, int32_t pitch,
                   int32_t clip_width, int32_t clip_height, int32_t x_offset, int32_t y_offset)
{
    palette_count = 0;
    failure_clear();
    const PictureFormat* format = find_format(source, length);
    if (!format)
        return fail("unknown format");
    OutputWindow w{destination, pitch, clip_width, clip_height, x_offset, y_offset};
    return format->decode(ByteView{source, size_t(length)}, w);
}
