#!/usr/bin/python3
"""Draws the six images that are built into Corvanta and writes them to assets/,
and the program's icon for the desktop to data/icons/hicolor/.

    scripts/make_assets.py [--photo PATH] [--out DIR] [--icons-dir DIR]
    scripts/make_assets.py --icons-only [--icons-dir DIR]
    scripts/make_assets.py --small-only [--out DIR]

The frame, the pattern band and the ramp are computed pixel by pixel; the
icons and the drop hint are drawn here with Pillow and the DejaVu font. The
photo area of the default preview is a greyscale crop of the public-domain
NASA portrait of astronaut Eileen Collins as shipped in Debian's
python3-skimage package (skimage/data/astronaut.png). Without --photo the
script downloads that package with apt-get into a temporary folder, unpacks
it there and reads the picture; nothing of the package is kept.

The desktop icons (48, 64, 128 and 256 pixels, named by the application id)
are the sun of the window's own icon drawn again at each size. --icons-only
writes just those, with no photo and no download.

Needs: python3-pil, fonts-dejavu-core (and apt-get/dpkg-deb without --photo).
"""

import argparse
import glob
import os
import subprocess
import sys
import tempfile

from PIL import Image, ImageDraw, ImageFont, ImageOps

WIDTH, HEIGHT = 256, 192
BAND_ROWS = range(1, 24)
PHOTO_TOP, PHOTO_HEIGHT = 25, 142
RAMP_ROWS = range(168, 191)
BLACK_ROWS = (0, 24, 167, 191)
BOLD_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
PHOTO_IN_PACKAGE = "usr/lib/python3/dist-packages/skimage/data/astronaut.png"


def band_value(x, y):
    k = x // 2
    base = k if k % 2 == 0 else 255 - k
    return base if y % 2 == 1 else 255 - base


def checker_value(x, y):
    return 216 if ((x // 8) + (y // 8)) % 2 == 0 else 200


def grey_image(value_at):
    img = Image.new("L", (WIDTH, HEIGHT))
    img.putdata([value_at(x, y) for y in range(HEIGHT) for x in range(WIDTH)])
    return img.convert("RGB")


def frame_value(x, y):
    if y in BLACK_ROWS:
        return 0
    if y in BAND_ROWS:
        return band_value(x, y)
    if y in RAMP_ROWS:
        return x
    return checker_value(x, y)


def photo_area(photo_path):
    """A 256 x 142 greyscale crop with its tones stretched to 0 .. 255."""
    src = Image.open(photo_path).convert("RGB")
    # The portrait is 512 x 512: a band of 512 x 284 (the 256:142 shape)
    # from the top keeps the face, the flag and the shuttle model.
    top = 12
    band = src.crop((0, top, 512, top + 284))
    grey = ImageOps.grayscale(band).resize((WIDTH, PHOTO_HEIGHT), Image.LANCZOS)
    return ImageOps.autocontrast(grey, cutoff=0.2)


def default_preview(photo_path):
    img = grey_image(frame_value).convert("L")
    img.paste(photo_area(photo_path), (0, PHOTO_TOP))
    return img.convert("RGB")


def supersampled(size, scale, draw_fn):
    """Draws at scale times the size and shrinks, for smooth edges."""
    big = Image.new("RGBA", (size[0] * scale, size[1] * scale), (0, 0, 0, 0))
    draw_fn(ImageDraw.Draw(big), scale)
    return big.resize(size, Image.LANCZOS)


def centred_text(draw, box, text, font, fill):
    left, top, right, bottom = draw.textbbox((0, 0), text, font=font)
    x = box[0] + (box[2] - box[0] - (right - left)) / 2 - left
    y = box[1] + (box[3] - box[1] - (bottom - top)) / 2 - top
    draw.text((x, y), text, font=font, fill=fill)


# The drop hint and the two icons are drawn at k times their size too, for
# screens with k device pixels to a pixel (written as NAME@2x.png).
def drop_hint(k=1):
    size = (319 * k, 25 * k)
    scale = 4
    font = ImageFont.truetype(BOLD_FONT, 17 * scale * k)

    def draw(d, s):
        centred_text(d, (0, 0, size[0] * s, size[1] * s), "Drop your image files here", font,
                     (150, 150, 150, 255))

    return supersampled(size, scale, draw)


def help_icon(k=1):
    scale = 8
    font = ImageFont.truetype(BOLD_FONT, 17 * scale * k)

    def draw(d, s):
        s *= k
        d.ellipse((1 * s, 1 * s, 23 * s, 23 * s), fill=(128, 128, 128, 255))
        centred_text(d, (0, 0, 24 * s, 24 * s), "?", font, (255, 255, 255, 255))

    return supersampled((24 * k, 24 * k), scale, draw)


def info_icon(k=1):
    scale = 8
    font = ImageFont.truetype(BOLD_FONT, 17 * scale * k)

    def draw(d, s):
        s *= k
        d.rounded_rectangle((2 * s, 2 * s, 22 * s, 22 * s), radius=3 * s,
                            fill=(128, 128, 128, 255))
        centred_text(d, (0, 0, 24 * s, 24 * s), "i", font, (255, 255, 255, 255))

    return supersampled((24 * k, 24 * k), scale, draw)


DEVICE_SCALES = (1, 2)


def write_small_images(out):
    """The drop hint and the icons at every device scale."""
    for k in DEVICE_SCALES:
        suffix = "" if k == 1 else f"@{k}x"
        drop_hint(k).save(os.path.join(out, f"drop_hint{suffix}.png"), optimize=True)
        help_icon(k).save(os.path.join(out, f"help_icon{suffix}.png"), optimize=True)
        info_icon(k).save(os.path.join(out, f"info_icon{suffix}.png"), optimize=True)


SUN_GRID = 192  # the sun is laid out on a 192 x 192 grid
SUN_COLOURS = [
    (0, 0, 0),        # 0: transparent background
    (250, 204, 30),   # 1: yellow
    (200, 140, 0),    # 2: yellow outline
    (150, 150, 150),  # 3: grey
    (90, 90, 90),     # 4: grey outline
]
HICOLOR_SIZES = (48, 64, 128, 256)
APP_ID = "io.github.corvanta.Corvanta"


def draw_sun(d, k, ink):
    """A sun with twelve rays, the left half yellow and the right half grey,
    drawn at k times the 192-pixel grid; ink(n) gives the fill for colour n."""
    import math

    cx = cy = SUN_GRID * k / 2
    for i in range(12):
        a = math.pi * 2 * (i + 0.5) / 12
        inner, outer, half = 62 * k, 92 * k, 0.13
        pts = [(cx + inner * math.cos(a - half), cy + inner * math.sin(a - half)),
               (cx + outer * math.cos(a), cy + outer * math.sin(a)),
               (cx + inner * math.cos(a + half), cy + inner * math.sin(a + half))]
        left = math.cos(a) < 0
        d.polygon(pts, fill=ink(1 if left else 3), outline=ink(2 if left else 4),
                  width=max(1, round(k)))
    r = 56 * k
    line = max(1, round(3 * k))
    d.ellipse((cx - r, cy - r, cx + r, cy + r), fill=ink(1), outline=ink(2), width=line)
    # Grey right half of the disc, with its own outline.
    d.pieslice((cx - r, cy - r, cx + r, cy + r), -90, 90, fill=ink(3), outline=ink(4),
               width=line)


def app_icon():
    """The window's sun as a 192-pixel palette image with a transparent
    background, drawn without smoothing so the palette stays five colours."""
    img = Image.new("P", (SUN_GRID, SUN_GRID), 0)
    flat = [c for rgb in SUN_COLOURS for c in rgb]
    img.putpalette(flat + [0] * (768 - len(flat)))
    draw_sun(ImageDraw.Draw(img), 1, lambda n: n)
    img.info["transparency"] = 0
    return img


def hicolor_icon(size):
    """The same sun for the desktop's icon theme: true colour with alpha,
    drawn at about 1024 pixels and shrunk, so that every size has smooth
    edges and outlines as thick, for its size, as the window's icon."""
    scale = max(2, 1024 // size)

    def ink(n):
        return SUN_COLOURS[n] + (255,)

    def draw(d, s):
        draw_sun(d, size * s / SUN_GRID, ink)

    return supersampled((size, size), scale, draw)


def write_hicolor_icons(icons_dir):
    for size in HICOLOR_SIZES:
        folder = os.path.join(icons_dir, f"{size}x{size}", "apps")
        os.makedirs(folder, exist_ok=True)
        hicolor_icon(size).save(os.path.join(folder, APP_ID + ".png"), optimize=True)


def fetch_photo(workdir):
    os.chmod(workdir, 0o755)  # apt-get downloads as its own unprivileged user
    subprocess.run(["apt-get", "download", "python3-skimage"], cwd=workdir, check=True,
                   stdout=subprocess.DEVNULL)
    debs = glob.glob(os.path.join(workdir, "python3-skimage_*.deb"))
    if not debs:
        sys.exit("make_assets: apt-get download python3-skimage gave no package")
    unpacked = os.path.join(workdir, "unpacked")
    subprocess.run(["dpkg-deb", "-x", debs[0], unpacked], check=True)
    return os.path.join(unpacked, PHOTO_IN_PACKAGE)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--photo", help="path of astronaut.png (default: fetch the package)")
    parser.add_argument("--out", default=os.path.join(root, "assets"))
    parser.add_argument("--icons-dir", default=os.path.join(root, "data", "icons", "hicolor"),
                        help="the hicolor theme folder for the desktop icons")
    parser.add_argument("--icons-only", action="store_true",
                        help="write only the desktop icons (needs no photo)")
    parser.add_argument("--small-only", action="store_true",
                        help="write only the drop hint and the help and info icons, at every "
                        "device scale (needs no photo)")
    args = parser.parse_args()

    if args.small_only:
        os.makedirs(args.out, exist_ok=True)
        write_small_images(args.out)
        return

    write_hicolor_icons(args.icons_dir)
    if args.icons_only:
        return
    os.makedirs(args.out, exist_ok=True)

    with tempfile.TemporaryDirectory() as workdir:
        photo = args.photo or fetch_photo(workdir)
        default_preview(photo).save(os.path.join(args.out, "default_preview.png"), optimize=True)

    grey_image(frame_value).save(os.path.join(args.out, "preview_frame.png"), optimize=True)
    write_small_images(args.out)
    app_icon().save(os.path.join(args.out, "app_icon.png"), optimize=True,
                    transparency=0)


if __name__ == "__main__":
    main()
