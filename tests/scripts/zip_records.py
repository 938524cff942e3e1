#!/usr/bin/env python3
"""Reads the records of a Zip archive (a self-extracting program too) byte by
byte, apart from any Zip library, for the packer's tests.

  zip_records.py times FILE   every entry has an extended timestamp (0x5455,
                              flags 1, 4-byte time) in its local and central
                              records, the same in both; prints "ok N"
  zip_records.py zip64 FILE   what is Zip64 in the archive, one line each:
                              "end" (the Zip64 end record and its locator),
                              "central NAME FIELDS version V" (the values its
                              Zip64 extra field holds), "local NAME version V"
                              (a local header with both sizes there); or
                              "classic" when nothing is
"""
import mmap
import struct
import sys

MARK32 = 0xFFFFFFFF


def blocks(extra):
    at, found = 0, {}
    while at + 4 <= len(extra):
        tag, size = struct.unpack_from("<HH", extra, at)
        found[tag] = extra[at + 4:at + 4 + size]
        at += 4 + size
    return found


def local_record(data, offset):
    sig, version, _, _, _, _, _, csize, usize, nlen, elen = struct.unpack_from("<IHHHHHIIIHH", data, offset)
    assert sig == 0x04034B50, f"no local header at {offset}"
    return version, csize, usize, data[offset + 30 + nlen:offset + 30 + nlen + elen]


def end_records(data):
    """(count, directory offset, whether Zip64 end records are there)"""
    end = data.rfind(b"PK\x05\x06")
    count, size, offset = struct.unpack_from("<HII", data, end + 10)
    locator = end - 20
    if data[locator:locator + 4] != b"PK\x06\x07":
        return count, offset, False
    end64 = struct.unpack_from("<Q", data, locator + 8)[0]
    assert data[end64:end64 + 4] == b"PK\x06\x06", "the locator points at no Zip64 end record"
    count, _, size, offset = struct.unpack_from("<QQQQ", data, end64 + 24)
    assert end64 == offset + size, "the directory does not end at the Zip64 end record"
    return count, offset, True


def central_records(data):
    count, at, _ = end_records(data)
    for _ in range(count):
        (sig, _, version, _, _, _, _, _, csize, usize, nlen, elen, clen, _, _, _,
         local) = struct.unpack_from("<IHHHHHHIIIHHHHHII", data, at)
        assert sig == 0x02014B50, f"no central record at {at}"
        name = bytes(data[at + 46:at + 46 + nlen]).decode()
        extra = data[at + 46 + nlen:at + 46 + nlen + elen]
        # The Zip64 extra field holds exactly the values marked, in order.
        fields = [f for f, v in (("usize", usize), ("csize", csize), ("offset", local)) if v == MARK32]
        zip64 = blocks(extra).get(1, b"")
        assert len(zip64) == 8 * len(fields), (name, len(zip64), fields)
        if local == MARK32:
            local = struct.unpack_from("<Q", zip64, len(zip64) - 8)[0]
        yield name, version, fields, local, extra
        at += 46 + nlen + elen + clen


def times(data):
    n = 0
    for name, _, _, local, extra in central_records(data):
        central_time = blocks(extra).get(0x5455)
        local_time = blocks(local_record(data, local)[3]).get(0x5455)
        assert central_time and central_time[0] == 1 and len(central_time) == 5, (name, central_time)
        assert local_time == central_time, (name, local_time, central_time)
        n += 1
    print("ok", n)


def zip64(data):
    lines = ["end"] if end_records(data)[2] else []
    for name, version, fields, local, extra in central_records(data):
        if fields:
            lines.append(f"central {name} {','.join(fields)} version {version}")
        lversion, lcsize, lusize, lextra = local_record(data, local)
        if 1 in blocks(lextra):
            assert lcsize == lusize == MARK32 and len(blocks(lextra)[1]) == 16, name
            lines.append(f"local {name} version {lversion}")
    print("\n".join(lines) if lines else "classic")


# Mapped, not read: the archives of the Zip64 tests are several GiB.
with open(sys.argv[2], "rb") as f:
    data = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
{"times": times, "zip64": zip64}[sys.argv[1]](data)
