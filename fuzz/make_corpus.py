#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into fuzz/corpus/<target>/.

The seeds are small inputs made here from scratch (no outside files), chosen
to reach the interesting branches quickly. Run again after changing it; the
output is deterministic.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def parse_integer():
    seeds = ["8192", "  -42", "\t+$fF", "%1011", "12a3", "", "-", "$", "%2",
             "123456789012345678901234567890", "-9223372036854775808", "007"]
    for i, s in enumerate(seeds):
        write("parse_integer_fuzz", f"seed{i:02d}", s)


def preset(name, slots):
    return name.encode("ascii").ljust(24, b" ") + struct.pack("<9I", *slots)


def preset_store():
    users = b"".join(preset(f"User preset {i}", [0] * 9) for i in range(1, 9))
    full = b"CV10" + struct.pack("<iii", 8192, 8192, 1) + users
    write("preset_store_fuzz", "full", full)
    write("preset_store_fuzz", "short_in_width", full[:6])
    write("preset_store_fuzz", "short_in_presets", full[:100])
    write("preset_store_fuzz", "longer", full + b"\x00" * 64)
    write("preset_store_fuzz", "foreign", b"PK\x03\x04 not a store")
    write("preset_store_fuzz", "odd_quality", b"CV10" + struct.pack("<iii", -1, 0, 7) + users)


if __name__ == "__main__":
    parse_integer()
    preset_store()
