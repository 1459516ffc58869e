// glimmerdex-cli decode: one picture file through the decoders.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "platform/system.h"
#include "picture/picture.h"

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

// What the command line asks of `decode`.
struct DecodeOptions {
    std::string in, out;
    bool as_png = false;  // else raw words
};

// Fills *o from the arguments: 0 to run, -1 with *exit_code to stop (help
// printed, or a usage error reported).
int decode_parse(int argc, char** argv, DecodeOptions* o, int* exit_code)
{
    std::vector<std::string> args;
    *exit_code = CLI_USAGE;
    switch (cli_parse_options("decode", argc, argv, nullptr, 0, &args)) {
    case CLI_HELP_ASKED: std::fputs(help, stdout); *exit_code = CLI_OK; return -1;
    case CLI_BAD_OPTION: return -1;
    case CLI_PARSED: break;
    }
    if (args.size() > 2) {
        cli_error("decode: too many arguments");
        return -1;
    }
    if (args.size() != 2) {
        std::fputs(help, stderr);
        return -1;
    }
    o->in = args[0];
    o->out = args[1];
    o->as_png = ends_with(o->out.c_str(), ".png");
    if (!o->as_png && !ends_with(o->out.c_str(), ".raw")) {
        cli_error("decode: OUT must end in .png or .raw");
        return -1;
    }
    return 0;
}

// The whole file (its storage never null, even when it is empty); 0, or -1
// (reported).
int read_picture_file(const char* in_path, std::vector<uint8_t>* data)
{
    FILE* in = sys_fopen(in_path, "rb");
    if (!in) {
        cli_error("decode: cannot open %s", in_path);
        return -1;
    }
    const int64_t size = sys_stream_size(in);
    if (size < 0 || size > CLI_DECODE_MAX_FILE_BYTES) {
        std::fclose(in);
        cli_error("decode: %s cannot be read (or is larger than %ld bytes)", in_path, CLI_DECODE_MAX_FILE_BYTES);
        return -1;
    }
    data->assign(size_t(size) + 1, 0);
    size_t got = std::fread(data->data(), 1, size_t(size), in);
    std::fclose(in);
    if (got != size_t(size)) {
        cli_error("decode: cannot read %s", in_path);
        return -1;
    }
    data->pop_back();
    return 0;
}

// Decodes the file's bytes into *pixels: 0 with *decoded set to what
// picture_decode says (the pixels as far as it got), or -1 when the file has
// no size we decode (reported).
int decode_picture(const char* in_path, const std::vector<uint8_t>& data, std::vector<uint32_t>* pixels,
                   int32_t* width, int32_t* height, int* decoded)
{
    const int32_t size = int32_t(data.size());
    picture_probe(data.data(), size, width, height);
    if (*height < 0 && *height != INT32_MIN)
        *height = -*height;  // a top-down BMP
    if (*width <= 0 || *height <= 0) {
        cli_error("decode: %s: no picture size found", in_path);
        return -1;
    }
    if (int64_t(*width) * *height > CLI_DECODE_MAX_PIXELS) {
        cli_error("decode: %s: %dx%d is larger than we decode", in_path, *width, *height);
        return -1;
    }
    pixels->assign(size_t(*width) * size_t(*height), 0);
    *decoded = picture_decode(data.data(), size, reinterpret_cast<uint8_t*>(pixels->data()), *width * 4, *width,
                              *height, 0, 0);
    return 0;
}

// The width and height, then the pixel words, all 32-bit little-endian; 0,
// or -1 (reported).
int write_raw(const std::string& out_path, const std::vector<uint32_t>& pixels, int32_t width, int32_t height)
{
    FILE* out = sys_fopen(out_path.c_str(), "wb");
    if (!out) {
        cli_error("decode: cannot write %s", out_path.c_str());
        return -1;
    }
    put_le32(out, uint32_t(width));
    put_le32(out, uint32_t(height));
    for (uint32_t p : pixels)
        put_le32(out, p);
    if (std::fclose(out) != 0) {
        cli_error("decode: writing %s failed", out_path.c_str());
        return -1;
    }
    return 0;
}

} // namespace

int cli_decode(int argc, char** argv)
{
    DecodeOptions options;
    int result;
    if (decode_parse(argc, argv, &options, &result) != 0)
        return result;
    std::vector<uint8_t> data;
    if (read_picture_file(options.in.c_str(), &data) != 0)
        return CLI_FAILED;
    std::vector<uint32_t> pixels;
    int32_t width, height;
    int decoded;
    if (decode_picture(options.in.c_str(), data, &pixels, &width, &height, &decoded) != 0)
        return CLI_FAILED;
    // A picture that fails part way is still written as far as it was decoded.
    const int written = options.as_png ? cli_write_png("decode", options.out, pixels, width, height)
                                       : write_raw(options.out, pixels, width, height);
    if (written != 0)
        return CLI_FAILED;
    if (decoded != 0) {
        cli_error("decode: %s could not be decoded: %s", options.in.c_str(), failure_last().reason);
        return CLI_FAILED;
    }
    return CLI_OK;
}
