#pragma once
// A streaming writer of 24-bit PNG files with stored (uncompressed) deflate
// blocks, one block per row. Pixels arrive one at a time, top row first.
#include <cstdint>
#include <cstdio>

// A stored block holds at most 65535 bytes: the filter byte and 3 per pixel.
constexpr int32_t PNG_MAX_WIDTH = 21844;

// Creates or replaces the file and writes its head. -1, writing nothing, when
// the size cannot be written (0, negative, wider than PNG_MAX_WIDTH) or the
// file cannot be created.
int png_begin(const char* path, int32_t width, int32_t height);

// The same into a file the caller opened for binary writing (created
// exclusively, say); the writer owns it from here and closes it, also when
// it returns -1.
int png_begin_file(std::FILE* file, int32_t width, int32_t height);

// Appends one 0x00RRGGBB pixel; the last one completes and closes the file.
// -1 when no file is being written or a write has failed (a failed file is
// closed at its last pixel, incomplete); 0 otherwise.
int png_put_pixel(uint32_t rgb);
