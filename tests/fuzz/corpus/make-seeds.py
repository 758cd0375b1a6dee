#!/usr/bin/env python3
"""Writes the fuzzers' seed inputs into pak/ and tga/ next to this script:
a few small well-formed files and a few damaged ones of each kind."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def tga(width, height, depth, descriptor, pixels, image_type=2, id_length=0):
    header = struct.pack("<BBB5xHHHHBB", id_length, 0, image_type, 0, 0, width, height, depth, descriptor)
    return header + b"I" * id_length + pixels


def pak(members, count=None):
    directory = b""
    data = b""
    base = 4 + 136 * len(members)
    for name, body in members:
        directory += struct.pack("<128sii", name, base + len(data), len(body))
        data += body
    return struct.pack("<i", len(members) if count is None else count) + directory + data


def write(folder, name, content):
    os.makedirs(os.path.join(HERE, folder), exist_ok=True)
    with open(os.path.join(HERE, folder, name), "wb") as f:
        f.write(content)


rgb4 = bytes(range(1, 13))
small = tga(2, 2, 24, 0, rgb4)
seeds_tga = {
    "bottom_up_24.tga": small,
    "top_down_32.tga": tga(2, 2, 32, 0x20, bytes(range(16))),
    "rgb555.tga": tga(3, 1, 16, 0, struct.pack("<HHH", 0xFFFF, 0x7C00, 0x03E0)),
    "id_field.tga": tga(1, 1, 24, 0x20, b"\x10\x20\x30", id_length=5),
    "short.tga": tga(4, 4, 24, 0, b"\x01\x02\x03\x04"),
    "rle.tga": tga(2, 2, 24, 0, rgb4, image_type=10),
    "depth8.tga": tga(2, 2, 8, 0, b"\x01\x02\x03\x04"),
    "huge.tga": tga(65535, 65535, 32, 0, b"\xff" * 8),
    "header_only.bin": small[:12],
}
seeds_pak = {
    "empty.pak": pak([]),
    "members.pak": pak([(b"textures\\floor.tga", small), (b"sound\\rain.wav", b"RIFF\0\0\0\0WAVE")]),
    "duplicates.pak": pak([(b"A", b"first"), (b"a", b"second"), (b"", b"")]),
    "long_name.pak": pak([(b"n" * 128, b"unterminated")]),
    "bad_count.pak": pak([(b"a", b"x")], count=31580642),
    "negative_count.pak": pak([(b"a", b"x")], count=-1),
    "short.bin": b"\x01\x00\x00",
}
oob = bytearray(pak([(b"a", b"data"), (b"a", b"good")]))
struct.pack_into("<ii", oob, 4 + 128, 0x7FFFFFFF, 2)
seeds_pak["out_of_bounds.pak"] = bytes(oob)

for name, content in seeds_tga.items():
    write("tga", name, content)
for name, content in seeds_pak.items():
    write("pak", name, content)
