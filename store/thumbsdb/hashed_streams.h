#pragma once
// Thumbnail streams of caches without a Catalog (Windows 7 and later in
// network folders): named "<size>_<hex digits>", a 24-byte header (header
// length 24, a value 3, payload length, 12 bytes not interpreted), then the
// picture, a JPEG or a PNG.
#include <cstdint>

constexpr int32_t HASHED_HEADER_BYTES = 24;

// True for names such as "256_2a9845460850edaf" (decimal size class, '_',
// 1 to 16 hex digits).
bool hashed_stream_name(const char* name);

// The ThumbnailCacheId a stream is named after ("256_2a9845460850edaf");
// 0, or -1 for other names.
int hashed_stream_hash(const char* stream_name, uint64_t* hash);

// The payload of the stream in slot, when its header fits the stream;
// 0 with data and length set, -1 otherwise.
int hashed_stream_payload(int32_t slot, const uint8_t** data, int32_t* length);

// The number of slots with a hashed name in the loaded table.
int32_t hashed_stream_count();
