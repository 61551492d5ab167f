#!/usr/bin/env bash
# Builds the Debian package of Corvanta on Debian 12 and checks it with lintian.
#   scripts/build-deb.sh [--out DIR] [--install]
# DIR (default build-deb/) receives the .deb files with their .buildinfo and
# .changes. --install then installs the package with apt-get and runs
# /usr/bin/corvanta-convert --version.
# Installs what it needs (devscripts, equivs, lintian and, through
# mk-build-deps, the Build-Depends of debian/control); safe to run again.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

out=build-deb
install=false
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out="$2"; shift 2 ;;
    --install) install=true; shift ;;
    *) echo "build-deb.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
mkdir -p "$out"
out=$(cd "$out" && pwd)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

updated=false
apt_update_once() {
  if ! $updated; then
    "${sudo_cmd[@]}" apt-get update -q
    updated=true
  fi
}

missing=()
for p in devscripts equivs lintian; do
  installed "$p" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  apt_update_once
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# dpkg-buildpackage writes its results next to the source folder and dh
# leaves its work inside it, so the package is built from a copy of the
# tracked (and new, not ignored) files; the working tree is left as it was.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
version=$(dpkg-parsechangelog -S Version)
upstream=${version%-*}
src="$stage/corvanta-$upstream"
mkdir "$src"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -cf - | tar -xf - -C "$src"
else
  tar --exclude='./build*' --exclude='./obj-*' --exclude=./.git -cf - . | tar -xf - -C "$src"
fi

cd "$src"
# The Build-Depends, by installing a generated package that depends on them
# all (apt-get then keeps them while it stays installed).
if ! dpkg-checkbuilddeps >/dev/null 2>&1; then
  apt_update_once
  (cd "$stage" && "${sudo_cmd[@]}" mk-build-deps -i -r \
     -t 'apt-get -y -q --no-install-recommends' "$src/debian/control")
fi

export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:-parallel=$(nproc)}"
nice -n 10 dpkg-buildpackage -us -uc -b

arch=$(dpkg --print-architecture)
changes="corvanta_${version}_${arch}.changes"
rm -f "$out"/corvanta_* "$out"/corvanta-dbgsym_*
# The files the .changes lists, and the .changes itself.
for f in $(sed -n '/^Files:/,/^[^ ]/s/^ [0-9a-f]* [0-9]* [^ ]* [^ ]* //p' "$stage/$changes") \
         "$changes"; do
  mv "$stage/$f" "$out/"
done
cd "$root"
echo "== built into $out"
ls -l "$out"

echo "== lintian"
lintian --display-info --fail-on error,warning "$out/$changes"
echo "lintian: no errors or warnings"

if $install; then
  echo "== installing"
  # apt-get wants a path with a slash to know it is a file; --reinstall so
  # that a package of the same version from an earlier run is replaced.
  "${sudo_cmd[@]}" apt-get install -y -q --reinstall "$out/corvanta_${version}_${arch}.deb"
  /usr/bin/corvanta-convert --version
  /usr/bin/corvanta-convert --list-presets >/dev/null
  test -x /usr/bin/corvanta
fi
