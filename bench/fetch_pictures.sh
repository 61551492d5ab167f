#!/usr/bin/env bash
# Real pictures for the PNG encoder's benchmark (codec_bench, BM_PngSet):
# Debian packages of wallpapers and sample photographs, downloaded with
# `apt-get download` and unpacked with `dpkg-deb -x` into a folder outside
# the repository (or bench/pictures/, which .gitignore leaves out). Nothing
# here is ever committed. One folder per set, each holding at most MAX
# pictures of more than 40 KB, the largest files first, so that a big
# package stays a modest set.
#   bench/fetch_pictures.sh [FOLDER] [MAX]
# then: corvanta_codec_bench --benchmark_filter=PngSet --pictures=FOLDER
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dest=${1:-$here/pictures}
max=${2:-13}

# package, set name, which of its files (find -regex on the path)
sets=(
  # the 12 nature photographs and one smooth graphic
  "mate-backgrounds wallpapers .*/mate/\(nature/.*\.jpg\|desktop/Ubuntu-Mate-Cold-no-logo\.png\)"
  # landscapes, a city, flowers, mostly digital art
  "ukui-wallpapers ukui .*/backgrounds/.*"
  # landscapes, boats, a forest path, leaves, cups, moss: photographs
  "plasma-workspace-wallpapers plasma .*/contents/images/2560x1600\.jpg"
  # portraits, a cat, a scanned page, micrographs, textures, a camera shot
  "python3-skimage samples .*/skimage/data/.*"
)

mkdir -p "$dest"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"  # apt-get downloads as its own unprivileged user
for entry in "${sets[@]}"; do
  read -r package name pattern <<< "$entry"
  if [ -d "$dest/$name" ] && [ -n "$(ls -A "$dest/$name")" ]; then
    echo "$name: already there"
    continue
  fi
  (cd "$work" && apt-get download "$package" > /dev/null)
  deb=$(ls "$work/${package}"_*.deb)
  dpkg-deb -x "$deb" "$work/$package"
  mkdir -p "$dest/$name"
  # Largest first; a picture is kept if gdk-pixbuf can read it at all,
  # which corvanta_codec_bench checks again.
  find "$work/$package" -type f -regex "$pattern" \
      \( -iname '*.jpg' -o -iname '*.jpeg' -o -iname '*.png' \) -size +40k -printf '%s %p\n' | sort -rn | head -n "$max" | cut -d' ' -f2- |
    while read -r file; do
      # The folder names the picture where every file is called by its size.
      parent=$(basename "$(dirname "$file")")
      [ "$parent" = images ] && parent=$(basename "$(dirname "$(dirname "$(dirname "$file")")")")
      cp "$file" "$dest/$name/$parent-$(basename "$file")"
    done
  rm -rf "$work/$package" "$deb"
  echo "$name: $(ls "$dest/$name" | wc -l) pictures from $package"
done
