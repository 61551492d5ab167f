#!/usr/bin/python3
"""Bad-input sweep: generates a few hundred damaged and unusual inputs, converts
them with corvanta-convert and checks that the program stays well-behaved.

  bad_input_sweep.py CORVANTA_CONVERT [--keep DIR]

Expected for every input: converted or reported as an error, never a crash or
a hang; memory bounded; inputs never modified; no non-empty file in the output
folder overwritten. Prints the counts and "N passed, N failed" at the end and
exits non-zero when any check fails. Needs Pillow (python3-pil) and, for the
arithmetic-coded JPEGs, cjpeg (libjpeg-turbo-progs); whatever is missing is
skipped and said so.
"""
import hashlib
import io
import os
import random
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from PIL import Image

PER_FILE_TIMEOUT = 60       # seconds for one corvanta-convert run on one input
MEMORY_LIMIT_MB = 3072      # address space would be misleading; watch peak RSS instead


def photo(width, height, mode="RGB", seed=1):
    rng = random.Random(seed)
    image = Image.new("RGB", (width, height))
    pixels = image.load()
    for y in range(height):
        for x in range(width):
            v = (x * 255 // max(1, width - 1) + y * 97 // max(1, height - 1)) % 256
            pixels[x, y] = (v, (v + rng.randrange(40)) % 256, (255 - v) % 256)
    return image.convert(mode) if mode != "RGB" else image


def encode(image, fmt, **options):
    buffer = io.BytesIO()
    image.save(buffer, fmt, **options)
    return buffer.getvalue()


class Sweep:
    def __init__(self, tool, root):
        self.tool = tool
        self.root = root
        self.inputs = os.path.join(root, "in")
        self.output = os.path.join(root, "out")
        os.makedirs(self.inputs)
        os.makedirs(self.output)
        self.files = []          # (name, expectation) with expectation "any"
        self.special = []        # names that are not regular files
        self.failures = []
        self.counts = {"files": 0, "converted": 0, "errors": 0, "crashes": 0, "hangs": 0}
        self.peak_rss_kb = 0

    # -- generation -------------------------------------------------------
    def add(self, name, data):
        with open(os.path.join(self.inputs, name), "wb") as f:
            f.write(data)
        self.files.append(name)

    def generate(self):
        base = photo(64, 48)
        jpeg = encode(base, "JPEG", quality=90)
        progressive = encode(base, "JPEG", quality=85, progressive=True)
        png = encode(base, "PNG")
        rgba = base.convert("RGBA")
        rgba.putalpha(128)
        png_rgba = encode(rgba, "PNG")

        # Truncations at many offsets.
        for source, label, ext in ((jpeg, "trunc", "jpg"), (progressive, "ptrunc", "jpg"),
                                   (png, "trunc", "png"), (png_rgba, "atrunc", "png")):
            step = max(1, len(source) // 40)
            for cut in range(0, len(source), step):
                self.add(f"{label}_{cut:05d}.{ext}", source[:cut])

        # Flipped bytes in headers and in the scan data.
        rng = random.Random(7)
        for source, label, ext in ((jpeg, "flip", "jpg"), (png, "flip", "png")):
            for i in range(40):
                data = bytearray(source)
                where = rng.randrange(0, 200) if i < 20 else rng.randrange(200, len(data))
                data[where] ^= 1 << rng.randrange(8)
                self.add(f"{label}_{i:02d}.{ext}", bytes(data))

        # Wrong extensions and text posing as images.
        self.add("jpeg_named.png", jpeg)
        self.add("png_named.jpg", png)
        self.add("text.jpg", b"just some words, not a picture\n" * 10)
        self.add("empty.jpg", b"")
        self.add("empty.png", b"")
        self.add("soi_only.jpg", b"\xff\xd8\xff" + b"\x00" * 200)

        # Unusual shapes and kinds.
        for w, h in ((1, 1), (1, 300), (300, 1), (1, 2000), (2000, 1)):
            self.add(f"shape_{w}x{h}.jpg", encode(photo(w, h), "JPEG"))
            self.add(f"shape_{w}x{h}.png", encode(photo(w, h), "PNG"))
        self.add("cmyk.jpg", encode(base.convert("CMYK"), "JPEG"))
        self.add("gray.jpg", encode(base.convert("L"), "JPEG"))
        self.add("progressive.jpg", progressive)
        self.add("gray16.png", encode(base.convert("L").convert("I;16"), "PNG"))
        palette = base.convert("P")
        self.add("palette_trns.png", encode(palette, "PNG", transparency=3))
        self.add("gray_alpha.png", encode(base.convert("LA"), "PNG"))
        self.add("interlaced.png", encode(base, "PNG", interlace=1))
        self.add("image.gif", encode(palette, "GIF"))
        self.add("image.bmp", encode(base, "BMP"))
        self.add("image.tif", encode(base, "TIFF"))
        self.add("image_cmyk.tif", encode(base.convert("CMYK"), "TIFF"))
        self.add("image.ppm", encode(base, "PPM"))

        if shutil.which("cjpeg"):
            ppm = os.path.join(self.root, "source.ppm")
            base.save(ppm)
            for flags, name in ((["-arithmetic"], "arithmetic.jpg"),
                                (["-arithmetic", "-progressive"], "arith_prog.jpg"),
                                (["-grayscale", "-progressive"], "gray_prog.jpg")):
                data = subprocess.run(["cjpeg", *flags, ppm], capture_output=True).stdout
                self.add(name, data)
        else:
            print("note: cjpeg not found, arithmetic-coded JPEGs skipped")

        # Enormous declared sizes: patch the frame header / IHDR of small files.
        big = bytearray(jpeg)
        sof = big.find(b"\xff\xc0")
        if sof >= 0:
            big[sof + 5:sof + 9] = (65500).to_bytes(2, "big") * 2
            self.add("huge_declared.jpg", bytes(big))
        huge_png = bytearray(png)
        huge_png[16:24] = (65500).to_bytes(4, "big") * 2  # CRC now wrong, as a forger's would be
        self.add("huge_declared.png", bytes(huge_png))

        # Names with unicode, blanks and a line feed (its twin must not be converted twice).
        self.add("été à l'œil.jpg", jpeg)
        self.add("twin.jpg", jpeg)
        self.add("twin.jpg\nx", png)
        self.add("tab\tname.png", png)

        # Things that are not regular files.
        fifo = os.path.join(self.inputs, "pipe.jpg")
        os.mkfifo(fifo)
        self.special.append("pipe.jpg")
        os.symlink("loop_b.jpg", os.path.join(self.inputs, "loop_a.jpg"))
        os.symlink("loop_a.jpg", os.path.join(self.inputs, "loop_b.jpg"))
        os.symlink("missing.jpg", os.path.join(self.inputs, "dangling.jpg"))
        os.mkdir(os.path.join(self.inputs, "folder.jpg"))
        self.special += ["loop_a.jpg", "loop_b.jpg", "dangling.jpg", "folder.jpg"]

    # -- checks -----------------------------------------------------------
    def digest_tree(self, folder):
        result = {}
        for name in os.listdir(folder):
            path = os.path.join(folder, name)
            if os.path.islink(path) or not os.path.isfile(path):
                continue
            with open(path, "rb") as f:
                result[name] = hashlib.sha256(f.read()).hexdigest()
        return result

    def run_one(self, name):
        path = os.path.join(self.inputs, name)
        start = time.monotonic()
        process = subprocess.Popen([self.tool, "--output", self.output, "--jobs", "1",
                                    "--max-size", "0x0", path],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            out, err = process.communicate(timeout=PER_FILE_TIMEOUT)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            self.counts["hangs"] += 1
            self.failures.append(f"{name!r}: no result after {PER_FILE_TIMEOUT} s")
            return
        usage = resource.getrusage(resource.RUSAGE_CHILDREN)
        self.peak_rss_kb = max(self.peak_rss_kb, usage.ru_maxrss)
        code = process.returncode
        text = out.decode("utf-8", "replace")
        if code < 0 or code not in (0, 1):
            self.counts["crashes"] += 1
            signame = signal.Signals(-code).name if code < 0 else str(code)
            self.failures.append(f"{name!r}: exit {signame}: {err.decode('utf-8', 'replace')[:200]}")
            return
        lines = [l for l in text.splitlines() if l.startswith("[")]
        if os.path.isdir(path) and not os.path.islink(path):
            # A folder argument stands for its files; this one holds none.
            if lines or code != 0:
                self.failures.append(f"{name!r}: empty folder gave exit {code} with {lines!r}")
            return
        if len(lines) != 1:
            self.failures.append(f"{name!r}: expected one status line, got {lines!r}")
        if code == 0 and lines and lines[0].startswith("[Done]  "):
            self.counts["converted"] += 1
        elif code == 1 and lines and lines[0].startswith("[Error]  "):
            self.counts["errors"] += 1
        else:
            self.failures.append(f"{name!r}: exit {code} with {lines!r}")
        if time.monotonic() - start > PER_FILE_TIMEOUT / 2:
            self.failures.append(f"{name!r}: took {time.monotonic() - start:.1f} s")

    def run(self):
        # Occupy a few output names with non-empty files that must survive.
        for name in ("twin.jpg", "image_gif.png", "trunc_00000.jpg"):
            with open(os.path.join(self.output, name), "wb") as f:
                f.write(b"precious " + name.encode())
        before_in = self.digest_tree(self.inputs)
        before_out = self.digest_tree(self.output)

        for name in self.files + self.special:
            self.counts["files"] += 1
            self.run_one(name)

        if self.digest_tree(self.inputs) != before_in:
            self.failures.append("an input file was modified")
        after_out = self.digest_tree(self.output)
        for name, digest in before_out.items():
            if after_out.get(name) != digest:
                self.failures.append(f"existing output {name!r} was overwritten")
        if self.peak_rss_kb > MEMORY_LIMIT_MB * 1024:
            self.failures.append(f"peak memory {self.peak_rss_kb // 1024} MB")
        # Every output lies inside the output folder and is a regular file.
        for name in os.listdir(self.output):
            if os.path.islink(os.path.join(self.output, name)):
                self.failures.append(f"output {name!r} is a link")


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    tool = os.path.abspath(sys.argv[1])
    keep = sys.argv[3] if len(sys.argv) > 3 and sys.argv[2] == "--keep" else None
    root = keep or tempfile.mkdtemp(prefix="corvanta-sweep-")
    try:
        sweep = Sweep(tool, root)
        sweep.generate()
        sweep.run()
        c = sweep.counts
        print(f"files {c['files']}, converted {c['converted']}, errors {c['errors']}, "
              f"crashes {c['crashes']}, hangs {c['hangs']}, peak RSS {sweep.peak_rss_kb // 1024} MB")
        for failure in sweep.failures:
            print("FAIL:", failure)
        checks = c["files"] + 3
        failed = len(sweep.failures)
        print(f"{max(0, checks - failed)} passed, {failed} failed")
        return 1 if failed else 0
    finally:
        if not keep:
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
