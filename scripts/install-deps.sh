#!/usr/bin/env bash
# Installs every package needed to build, run and test Corvanta on Debian 12.
# Safe to run again: apt-get skips what is already installed.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libgtk-3-dev libturbojpeg0-dev libpng-dev zlib1g-dev libdeflate-dev
  libseccomp-dev libfontconfig-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool xclip x11-utils libjpeg-turbo-progs pngcheck
  python3 python3-pil fonts-dejavu-core valgrind
  # the installed tree's checks (tests/install)
  desktop-file-utils appstream man-db bash-completion
  # the translations, and a German session for the window's tests
  gettext locales
  # more input formats through gdk-pixbuf, and the tools that make test images
  webp-pixbuf-loader heif-gdk-pixbuf libavif-gdk-pixbuf libheif-examples libavif-bin webp
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

if ! locale -a 2>/dev/null | grep -qix 'de_DE.utf-\?8'; then
  "${sudo_cmd[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
