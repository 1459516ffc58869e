#pragma once
// CRC-64 with the parameters thumbcache files use for their record headers:
// polynomial 0x259C84CBA6426349 (reflected 0x92C64265D32139A4), reflected in
// and out, initial value all ones, no final XOR. "123456789" gives
// 0x75D4B74F024ECEEA.
#include <cstddef>
#include <cstdint>

uint64_t crc64_ms(const uint8_t* data, size_t length);
