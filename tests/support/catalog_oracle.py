#!/usr/bin/python3
"""Independent reading of Thumbs.db catalogs with olefile, for the tests.

For every cache file given, prints one line per catalog record:
    file <TAB> record index <TAB> stream number <TAB> filetime <TAB> hex of the 8-bit name
and a line "file <TAB> streams <TAB> name:length,..." listing every stream.
Files olefile cannot open print "file <TAB> unreadable".
"""
import struct
import sys

import olefile


def narrow(utf16):
    out = bytearray()
    for i in range(0, len(utf16) - 1, 2):
        lo = utf16[i]
        if lo == 0:
            break
        out.append(lo)
    return bytes(out)


def catalog_records(data):
    """(version, [(index, stream number, filetime, 8-bit name), ...]) of a Catalog stream."""
    header, version, count = struct.unpack_from('<HHi', data, 0)
    pos = header if header in (8, 16) else 16
    records = []
    for index in range(max(count, 0)):
        if pos + 16 > len(data):
            break
        number, time = struct.unpack_from('<iQ', data, pos + 4)
        end = pos + 16
        while end + 1 < len(data) and data[end] != 0:
            end += 2
        if end + 1 >= len(data):
            break
        records.append((index, number, time, narrow(data[pos + 16:end])))
        pos = end + 4
    return version, records


def open_caches(paths):
    """(file name, OleFileIO) of each path olefile opens; the others print "file <TAB> unreadable"."""
    for path in paths:
        name = path.rsplit('/', 1)[-1]
        try:
            yield name, olefile.OleFileIO(path)
        except Exception:
            print(f"{name}\tunreadable")


def main(paths):
    for name, ole in open_caches(paths):
        streams = []
        for entry in ole.listdir(streams=True, storages=False):
            streams.append(f"{'/'.join(entry)}:{ole.get_size(entry)}")
        print(f"{name}\tstreams\t{','.join(streams)}")
        if not ole.exists('Catalog'):
            continue
        for index, number, time, text in catalog_records(ole.openstream('Catalog').read())[1]:
            print(f"{name}\t{index}\t{number}\t{time}\t{text.hex()}")


if __name__ == '__main__':
    main(sys.argv[1:])
