#pragma once
// CRC-64/MS, the CRC of Explorer's thumbnail caches: polynomial
// 0x259C84CBA6426349 (reflected 0x92C64265D32139A4), reflected in and out,
// no final XOR. Record headers start from all ones ("123456789" gives
// 0x75D4B74F024ECEEA); the data checksum starts from 0 ("123456789" gives
// 0x6CAEADE7CBA7E80E). Without a final XOR, the CRC of a run of bytes taken
// from another's result continues it: crc(crc(init, a), b) == crc(init, ab).
#include <cstddef>
#include <cstdint>

constexpr uint64_t CRC64_MS_HEADER_INIT = ~uint64_t(0);

uint64_t crc64_ms(const uint8_t* data, size_t length, uint64_t initial);
