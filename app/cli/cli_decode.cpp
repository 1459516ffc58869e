// glimmerdex-cli decode: one picture file through the decoders.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/cli/cli.h"
#include "platform/system.h"
#include "picture/picture.h"
#include "pngout/png_writer.h"

namespace {

// Largest picture file read, and largest picture decoded (256 MiB of pixels).
constexpr long CLI_DECODE_MAX_FILE_BYTES = 256L << 20;
constexpr int64_t CLI_DECODE_MAX_PIXELS = int64_t(64) << 20;

const char help[] =
    "Usage: glimmerdex-cli decode FILE OUT\n"
    "\n"
    "Decodes a picture file (JPEG, PNG, GIF, BMP, TGA, PCX, CEL, DDS) and\n"
    "writes OUT: a PNG when it ends in .png, or when it ends in .raw the\n"
    "width and height (32-bit little-endian) followed by the pixel words as\n"
    "decoded (32-bit little-endian 0xAARRGGBB).\n"
    "\n"
    "Exit codes: 0 decoded, 1 the picture could not be decoded or read,\n"
    "2 usage error.\n";

bool ends_with(const char* s, const char* suffix)
{
    size_t n = std::strlen(s), m = std::strlen(suffix);
    return n >= m && std::strcmp(s + n - m, suffix) == 0;
}

void put_le32(FILE* f, uint32_t v)
{
    uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    std::fwrite(b, 1, 4, f);
}

} // namespace

int cli_decode(int argc, char** argv)
{
    std::vector<std::string> args;
    switch (cli_parse_options("decode", argc, argv, nullptr, 0, &args)) {
    case CLI_HELP_ASKED: std::fputs(help, stdout); return CLI_OK;
    case CLI_BAD_OPTION: return CLI_USAGE;
    case CLI_PARSED: break;
    }
    if (args.size() > 2) {
        cli_error("decode: too many arguments");
        return CLI_USAGE;
    }
    if (args.size() != 2) {
        std::fputs(help, stderr);
        return CLI_USAGE;
    }
    const char* in_path = args[0].c_str();
    const char* out_path = args[1].c_str();
    bool as_png = ends_with(out_path, ".png");
    if (!as_png && !ends_with(out_path, ".raw")) {
        cli_error("decode: OUT must end in .png or .raw");
        return CLI_USAGE;
    }

    FILE* in = sys_fopen(in_path, "rb");
    if (!in) {
        cli_error("decode: cannot open %s", in_path);
        return CLI_FAILED;
    }
    const int64_t size = sys_stream_size(in);
    if (size < 0 || size > CLI_DECODE_MAX_FILE_BYTES) {
        std::fclose(in);
        cli_error("decode: %s cannot be read (or is larger than %ld bytes)", in_path, CLI_DECODE_MAX_FILE_BYTES);
        return CLI_FAILED;
    }
    std::vector<uint8_t> data(size_t(size) + 1);
    size_t got = std::fread(data.data(), 1, size_t(size), in);
    std::fclose(in);
    if (got != size_t(size)) {
        cli_error("decode: cannot read %s", in_path);
        return CLI_FAILED;
    }

    int32_t width, height;
    picture_probe(data.data(), int32_t(size), &width, &height);
    if (height < 0 && height != INT32_MIN)
        height = -height;  // a top-down BMP
    if (width <= 0 || height <= 0) {
        cli_error("decode: %s: no picture size found", in_path);
        return CLI_FAILED;
    }
    if (int64_t(width) * height > CLI_DECODE_MAX_PIXELS) {
        cli_error("decode: %s: %dx%d is larger than we decode", in_path, width, height);
        return CLI_FAILED;
    }
    std::vector<uint32_t> pixels(size_t(width) * size_t(height), 0);
    int result = picture_decode(data.data(), int32_t(size), reinterpret_cast<uint8_t*>(pixels.data()), width * 4,
                                width, height, 0, 0);

    if (as_png) {
        if (png_begin(out_path, width, height) != 0) {
            cli_error("decode: cannot write %s", out_path);
            return CLI_FAILED;
        }
        int written = 0;
        for (uint32_t p : pixels)
            written |= png_put_pixel(p & 0x00FFFFFF);
        if (written != 0) {
            cli_error("decode: writing %s failed", out_path);
            return CLI_FAILED;
        }
    } else {
        FILE* out = sys_fopen(out_path, "wb");
        if (!out) {
            cli_error("decode: cannot write %s", out_path);
            return CLI_FAILED;
        }
        put_le32(out, uint32_t(width));
        put_le32(out, uint32_t(height));
        for (uint32_t p : pixels)
            put_le32(out, p);
        if (std::fclose(out) != 0) {
            cli_error("decode: writing %s failed", out_path);
            return CLI_FAILED;
        }
    }
    if (result != 0) {
        cli_error("decode: %s could not be decoded: %s", in_path, picture_error);
        return CLI_FAILED;
    }
    return CLI_OK;
}
