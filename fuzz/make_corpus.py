#!/usr/bin/python3
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


def jpeg_with_app1(app1_payload, tail=b""):
    """A JPEG-shaped byte string: SOI, APP0, one APP1 segment, then tail."""
    app0 = b"\xff\xe0" + struct.pack(">H", 16) + b"JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"
    app1 = b"\xff\xe1" + struct.pack(">H", len(app1_payload) + 2) + app1_payload
    return b"\xff\xd8" + app0 + app1 + tail + b"\x00" * 40


def exif_payload(order, orientation, entries_before=0):
    if order == "II":
        pack16, pack32 = (lambda v: struct.pack("<H", v)), (lambda v: struct.pack("<I", v))
    else:
        pack16, pack32 = (lambda v: struct.pack(">H", v)), (lambda v: struct.pack(">I", v))
    entries = b""
    for i in range(entries_before):
        entries += pack16(0x010F + i) + pack16(2) + pack32(4) + b"abc\x00"
    entries += pack16(0x0112) + pack16(3) + pack32(1) + pack16(orientation) + b"\x00\x00"
    tiff = order.encode() + pack16(42) + pack32(8) + pack16(entries_before + 1) + entries + pack32(0)
    return b"Exif\x00\x00" + tiff


def exif():
    write("exif_orientation_fuzz", "intel6", jpeg_with_app1(exif_payload("II", 6)))
    write("exif_orientation_fuzz", "motorola8", jpeg_with_app1(exif_payload("MM", 8, 3)))
    write("exif_orientation_fuzz", "xmp_first", jpeg_with_app1(b"http://ns.adobe.com/xap/1.0/\x00<x/>"))
    write("exif_orientation_fuzz", "zero_length",
          b"\xff\xd8\xff\xe0\x00\x00" + b"\x00" * 60)
    write("exif_orientation_fuzz", "far_offset",
          jpeg_with_app1(b"Exif\x00\x00II*\x00\xff\xff\xff\x7f\x01\x00"))


def scheme_text():
    line = "!dd " + ",".join("0x%08x" % v for v in
                             [0xff000000, 0, 0xff000099, 0, 0xff008d99, 0, 0xff55c6ff, 0, 0xffffffff])
    write("scheme_text_fuzz", "copied_line", line)
    write("scheme_text_fuzz", "prose", "colours: 0xFF0000FF and\n" + " 0xff,".join([""] * 9) + "0x1 end")
    write("scheme_text_fuzz", "ten_items", line + ",0x00000000")
    write("scheme_text_fuzz", "upper_x", line.replace("0x", "0X"))
    write("scheme_text_fuzz", "short_fields", "0x0x0x0x0x0x0x0x0x")


def images():
    """Small images of several kinds, drawn here with Pillow."""
    try:
        from PIL import Image
    except ImportError:  # the corpus can still be replayed; only new seeds need Pillow
        return
    import io

    def save(name, image, fmt, **options):
        buffer = io.BytesIO()
        image.save(buffer, fmt, **options)
        write("image_loader_fuzz", name, buffer.getvalue())

    rgb = Image.new("RGB", (24, 16))
    for x in range(24):
        for y in range(16):
            rgb.putpixel((x, y), (x * 10, y * 15, (x + y) * 6))
    save("baseline.jpg", rgb, "JPEG", quality=90)
    save("progressive.jpg", rgb, "JPEG", quality=70, progressive=True)
    save("gray.jpg", rgb.convert("L"), "JPEG")
    save("cmyk.jpg", rgb.convert("CMYK"), "JPEG")
    exif_bytes = exif_payload("II", 6)[0:]
    save("exif6.jpg", rgb, "JPEG", exif=exif_bytes)
    save("rgb.png", rgb, "PNG")
    rgba = rgb.convert("RGBA")
    rgba.putpixel((0, 0), (1, 2, 3, 0))
    save("rgba.png", rgba, "PNG")
    save("palette.png", rgb.convert("P"), "PNG", transparency=0)
    save("gray_alpha.png", rgb.convert("LA"), "PNG")
    save("interlaced.png", rgb, "PNG", interlace=1)
    save("image.gif", rgb.convert("P"), "GIF")
    save("image.bmp", rgb, "BMP")


def output_names():
    for i, name in enumerate([b"\x01photo.jpg", b"\x00scan.tif", b"\x01IMG_1.JPEG", b"\x00picture",
                              b"\x00.hidden", b"\x01a b.c d", b"\x00..", b"\x01\xc3\xa9t\xc3\xa9.JPG",
                              b"\x00line\nfeed.png"]):
        write("output_name_fuzz", f"seed{i}", name)


if __name__ == "__main__":
    parse_integer()
    preset_store()
    exif()
    scheme_text()
    images()
    output_names()
