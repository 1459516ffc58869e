#!/usr/bin/python3
"""The size of every stored thumbnail of Thumbs.db caches, read with olefile and Pillow.

For every cache file given, one line per row a listing of it has:
    file <TAB> key <TAB> width <TAB> height
with the keys "record N" (catalog record N, as list --catalog lists it),
"name HEX" (the first record of each 8-bit name, HEX of the name with ASCII
letters in lower case, as the viewer's list names it once) and "stream NAME"
(a "<size>_<hex>" stream). width and height are those Pillow reads from the
stored picture (offset 12 in catalog version 7 and above, 28 below it, the
header length for the streams), "-" where the record has no stream or Pillow
reads no picture. Files olefile cannot open print "file <TAB> unreadable".
"""
import io
import re
import struct
import sys

from PIL import Image

from catalog_oracle import catalog_records, open_caches

HASHED = re.compile(r'^[0-9]{1,5}_[0-9A-Fa-f]{1,16}$')


def size_of(data, offset):
    try:
        return '%d\t%d' % Image.open(io.BytesIO(data[offset:])).size
    except Exception:
        return '-\t-'


def main(paths):
    for name, ole in open_caches(paths):
        if ole.exists('Catalog'):
            version, records = catalog_records(ole.openstream('Catalog').read())
            named = set()
            for index, number, _, text in records:
                # The stream of number 12 is named "21": the digits reversed.
                stream = str(number)[::-1]
                size = '-\t-'
                if number >= 0 and ole.exists(stream):
                    size = size_of(ole.openstream(stream).read(), 12 if version >= 7 else 28)
                print(f"{name}\trecord {index}\t{size}")
                if text.lower() not in named:
                    named.add(text.lower())
                    print(f"{name}\tname {text.lower().hex()}\t{size}")
        for entry in ole.listdir(streams=True, storages=False):
            stream = '/'.join(entry)
            if len(entry) != 1 or not HASHED.match(stream):
                continue
            data = ole.openstream(entry).read()
            size = size_of(data, struct.unpack_from('<I', data, 0)[0]) if len(data) >= 24 else '-\t-'
            print(f"{name}\tstream {stream}\t{size}")


if __name__ == '__main__':
    main(sys.argv[1:])
