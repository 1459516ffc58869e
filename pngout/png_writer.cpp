// The PNG writer: signature, IHDR, one IDAT with a zlib stream of stored
// blocks (RFC 1950/1951), IEND. CRC-32 and Adler-32 run as bytes go out.
#include "pngout/png_writer.h"

#include <cstdio>

#include "platform/system.h"

namespace {

struct PngWriter {
    FILE* file;
    int32_t width, height;
    int32_t x, y;
    uint32_t crc;
    uint32_t s1, s2;
    bool failed;
};

PngWriter writer;
// Bytes go out in blocks: a call into stdio per byte cost more than the
// checksums of a contact sheet.
uint8_t pending[65536];
size_t pending_count;

void flush_pending()
{
    if (pending_count != 0 && std::fwrite(pending, 1, pending_count, writer.file) != pending_count)
        writer.failed = true;
    pending_count = 0;
}
uint32_t crc_table[256];

void build_crc_table()
{
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        crc_table[n] = c;
    }
}

void put(uint8_t byte)
{
    writer.crc = crc_table[(writer.crc ^ byte) & 0xFF] ^ (writer.crc >> 8);
    pending[pending_count++] = byte;
    if (pending_count == sizeof pending)
        flush_pending();
}

void put_data(uint8_t byte)
{
    put(byte);
    writer.s1 += byte;
    if (writer.s1 >= 65521)
        writer.s1 -= 65521;
    writer.s2 += writer.s1;
    if (writer.s2 >= 65521)
        writer.s2 -= 65521;
}

void put_be32(uint32_t v)
{
    put(uint8_t(v >> 24));
    put(uint8_t(v >> 16));
    put(uint8_t(v >> 8));
    put(uint8_t(v));
}

uint32_t crc_of(const uint8_t* bytes, int n)
{
    uint32_t c = 0xFFFFFFFFu;
    for (int i = 0; i < n; ++i)
        c = crc_table[(c ^ bytes[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

int finish()
{
    put_be32(writer.s2 << 16 | writer.s1);
    uint32_t crc = writer.crc ^ 0xFFFFFFFFu;
    static const uint8_t iend[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    uint8_t tail[16] = {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)};
    for (int i = 0; i < 12; ++i)
        tail[4 + i] = iend[i];
    flush_pending();
    if (std::fwrite(tail, 1, 16, writer.file) != 16)
        writer.failed = true;
    long length = std::ftell(writer.file) - 57;
    uint8_t be[4] = {uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length)};
    if (length < 0 || std::fseek(writer.file, 33, SEEK_SET) != 0 || std::fwrite(be, 1, 4, writer.file) != 4)
        writer.failed = true;
    if (std::fclose(writer.file) != 0)
        writer.failed = true;
    writer.file = nullptr;
    return writer.failed ? -1 : 0;
}

bool writable_size(int32_t width, int32_t height) { return width > 0 && height > 0 && width <= PNG_MAX_WIDTH; }

} // namespace

int png_begin(const char* path, int32_t width, int32_t height)
{
    if (!writable_size(width, height))
        return -1;
    FILE* file = sys_fopen(path, "wb");
    return file ? png_begin_file(file, width, height) : -1;
}

int png_begin_file(FILE* file, int32_t width, int32_t height)
{
    if (writer.file) {  // a file left incomplete by its caller
        std::fclose(writer.file);
        writer.file = nullptr;
    }
    if (!file)
        return -1;
    if (!writable_size(width, height)) {
        std::fclose(file);
        return -1;
    }
    build_crc_table();
    writer = PngWriter{file, width, height, 0, 0, 0xFFFFFFFFu, 1, 0, false};
    pending_count = 0;

    uint8_t head[37] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    uint32_t w = uint32_t(width), h = uint32_t(height);
    uint8_t* p = head + 16;
    *p++ = uint8_t(w >> 24), *p++ = uint8_t(w >> 16), *p++ = uint8_t(w >> 8), *p++ = uint8_t(w);
    *p++ = uint8_t(h >> 24), *p++ = uint8_t(h >> 16), *p++ = uint8_t(h >> 8), *p++ = uint8_t(h);
    *p++ = 8, *p++ = 2, *p++ = 0, *p++ = 0, *p++ = 0;
    uint32_t crc = crc_of(head + 12, 17);
    *p++ = uint8_t(crc >> 24), *p++ = uint8_t(crc >> 16), *p++ = uint8_t(crc >> 8), *p++ = uint8_t(crc);
    // Bytes 33..36: the IDAT length, filled in when the file is complete.
    if (std::fwrite(head, 1, sizeof head, file) != sizeof head)
        writer.failed = true;
    static const uint8_t idat_start[6] = {'I', 'D', 'A', 'T', 0x78, 0x01};
    for (uint8_t c : idat_start)
        put(c);
    if (writer.failed) {
        std::fclose(file);
        writer.file = nullptr;
        return -1;
    }
    return 0;
}

int png_put_pixel(uint32_t rgb)
{
    if (!writer.file)
        return -1;
    if (writer.x == 0) {
        uint32_t len = 3 * uint32_t(writer.width) + 1;
        put(writer.y == writer.height - 1 ? 1 : 0);
        put(uint8_t(len));
        put(uint8_t(len >> 8));
        put(uint8_t(~len));
        put(uint8_t(~len >> 8));
        put_data(0);
    }
    put_data(uint8_t(rgb >> 16));
    put_data(uint8_t(rgb >> 8));
    put_data(uint8_t(rgb));
    if (++writer.x == writer.width) {
        writer.x = 0;
        if (++writer.y == writer.height)
            return finish();
    }
    return writer.failed ? -1 : 0;
}
