#pragma once
// The format decoders behind picture_probe and picture_decode, three entries
// each, in the recognition order of the table in picture.cpp:
//   xxx_sniff   true when the leading bytes are this format's
//   xxx_probe   width and height from the header; left as they are when absent
//   xxx_decode  the picture into the output window; 0, or -1 through fail (platform/failure.h)
// A sniff reads only what it checks with view_has; a probe likewise.
#include <cstdint>

#include "picture/bytes.h"
#include "picture/picture.h"

bool png_sniff(ByteView v);
void png_probe(ByteView v, int32_t* width, int32_t* height);
int png_decode(ByteView src, const OutputWindow& w);
// Its constant tables, built once on first use.
void png_prepare_tables();

bool jpeg_sniff(ByteView v);
void jpeg_probe(ByteView v, int32_t* width, int32_t* height);
int jpeg_decode(ByteView src, const OutputWindow& w);
void jpeg_prepare_tables();

bool gif_sniff(ByteView v);
void gif_probe(ByteView v, int32_t* width, int32_t* height);
int gif_decode(ByteView src, const OutputWindow& w);

bool cel_sniff(ByteView v);
void cel_probe(ByteView v, int32_t* width, int32_t* height);
int cel_decode(ByteView src, const OutputWindow& w);

bool bmp_sniff(ByteView v);
void bmp_probe(ByteView v, int32_t* width, int32_t* height);
int bmp_decode(ByteView src, const OutputWindow& w);

bool pcx_sniff(ByteView v);
void pcx_probe(ByteView v, int32_t* width, int32_t* height);
int pcx_decode(ByteView src, const OutputWindow& w);

bool dds_sniff(ByteView v);
void dds_probe(ByteView v, int32_t* width, int32_t* height);
int dds_decode(ByteView src, const OutputWindow& w);

bool tga_sniff(ByteView v);
void tga_probe(ByteView v, int32_t* width, int32_t* height);
int tga_decode(ByteView src, const OutputWindow& w);
