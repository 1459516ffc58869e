#pragma once
// Thumbnail streams of caches without a Catalog (Windows 7 and later in
// network folders): named "<size>_<hex digits>", a 24-byte header (header
// length 24, a value 3, payload length, 12 bytes not interpreted), then the
// picture, a JPEG or a PNG.
#include <cstddef>
#include <cstdint>

constexpr int32_t HASHED_HEADER_BYTES = 24;

// The stream of a file is named after a hash of the file's name, seeded by
// the Windows release that wrote it; a cache may hold streams of both.
constexpr uint64_t HASHED_SEED_WINDOWS_8 = 0x68DFB54498C54783;  // 8, 8.1, 10, 11
constexpr uint64_t HASHED_SEED_WINDOWS_7 = 0x295BA83CF71232D9;  // Vista, 7

// Windows' 64-bit mixing of bytes behind both the stream names and the
// ThumbnailCacheId of Explorer's caches:
// x = seed; for each byte b: x ^= (x >> 2) + x * 2080 + b  (mod 2^64).
uint64_t thumbnail_id_mix(uint64_t seed, const uint8_t* bytes, size_t length);

// The hash a stream of the file of this name is keyed by: the name as
// spelled (no case folding, no normalisation), as UTF-16LE without a NUL.
uint64_t hashed_stream_name_hash(uint64_t seed, const uint16_t* name, size_t units);

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
