#!/usr/bin/python3
"""Independent reading of Explorer cache (CMMM) and index (IMMM) files, for the tests.

Written from the format description alone; it walks only the intact chain
(first entry to first available offset), which is all real files need.

For every cache file given, prints one line per record:
    file <TAB> entry <TAB> offset <TAB> hash hex <TAB> data offset <TAB> data size <TAB> sha256 <TAB> crc ok (1/0)
        <TAB> data checksum ok (1/0, "-" where the last sampled word is cut short)
then "file <TAB> free <TAB> offset" when a free-space record is at the first
available offset.
For every index file: one line per used slot:
    file <TAB> slot <TAB> index <TAB> hash hex <TAB> flags hex <TAB> offsets (comma-separated hex)
Other files print "file <TAB> neither".
"""
import hashlib
import struct
import sys


def crc64_ms(data, crc=0xFFFFFFFFFFFFFFFF):
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0x92C64265D32139A4 if crc & 1 else crc >> 1
    return crc


def data_checksum_ok(data, stored):
    """CRC-64/MS from 0 over the first KiB, XOR the same over the words at 1024, 1424, ..."""
    if len(data) > 1024 and (len(data) - 1024) % 400 in (1, 2, 3):
        return '-'
    words = b''.join(data[at:at + 4] for at in range(1024, len(data) - 3, 400))
    return 1 if crc64_ms(data[:1024], 0) ^ crc64_ms(words, 0) == stored else 0


def cache(name, d):
    version, = struct.unpack_from('<I', d, 4)
    if version in (20, 21):
        first, avail = struct.unpack_from('<II', d, 12)
    else:
        first, avail = struct.unpack_from('<II', d, 16)
    # fixed part, then id/pad/data size offsets and the header checksum
    # offset; the data checksum is the 8 bytes before it
    if version == 20:
        fixed, sizes_at, crc_at = 56, 24, 48
    elif version == 21:
        fixed, sizes_at, crc_at = 48, 16, 40
    else:
        fixed, sizes_at, crc_at = 56, 16, 48
    pos, n = first, 0
    while pos + fixed <= min(avail, len(d)) and d[pos:pos + 4] == b'CMMM':
        size, h = struct.unpack_from('<IQ', d, pos + 4)
        idsize, pad, dsize = struct.unpack_from('<III', d, pos + sizes_at)
        if size < fixed or pos + size > len(d):
            break
        data_stored, stored = struct.unpack_from('<QQ', d, pos + crc_at - 8)
        ok = 1 if crc64_ms(d[pos:pos + crc_at]) == stored else 0
        start = pos + fixed + idsize + pad
        data = d[start:start + dsize]
        digest = hashlib.sha256(data).hexdigest()
        print(f"{name}\tentry\t{pos}\t{h:016x}\t{start}\t{dsize}\t{digest}\t{ok}\t{data_checksum_ok(data, data_stored)}")
        pos += size
        n += 1
    if avail + fixed <= len(d) and d[avail:avail + 4] == b'CMMM':
        print(f"{name}\tfree\t{avail}")


def index(name, d):
    if d[0:4] == b'IMMM':
        version, = struct.unpack_from('<I', d, 4)
        total, = struct.unpack_from('<I', d, 16)
        header = 24
    else:
        version, = struct.unpack_from('<I', d, 8)
        total, = struct.unpack_from('<I', d, 24)
        header = None
    width, count, flag_fmt, offsets_at = {
        20: (40, 5, '<I', 20), 21: (32, 5, '<I', 12),
        30: (56, 9, '<Q', 16), 31: (64, 11, '<Q', 16), 32: (72, 14, '<Q', 16)}[version]
    flags_at = 16 if version == 20 else 8
    if header is None:
        header = len(d) - total * width
    for i in range(total):
        at = header + i * width
        if at + width > len(d):
            break
        h, = struct.unpack_from('<Q', d, at)
        if h == 0:
            continue
        flags, = struct.unpack_from(flag_fmt, d, at + flags_at)
        offs = struct.unpack_from('<%dI' % count, d, at + offsets_at)
        print(f"{name}\tslot\t{i}\t{h:016x}\t{flags:x}\t{','.join('%x' % o for o in offs)}")


def main(paths):
    for path in paths:
        name = path.rsplit('/', 1)[-1]
        with open(path, 'rb') as f:
            d = f.read()
        if d[0:4] == b'CMMM':
            cache(name, d)
        elif d[0:4] == b'IMMM' or d[4:8] == b'IMMM':
            index(name, d)
        else:
            print(f"{name}\tneither")


if __name__ == '__main__':
    main(sys.argv[1:])
