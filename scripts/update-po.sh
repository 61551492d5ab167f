#!/usr/bin/env bash
# Extracts the window's translatable texts into po/corvanta.pot and merges
# them into every translation in po/LINGUAS. Run it after texts change, then
# translate what msgmerge marked fuzzy or left empty.
set -euo pipefail
cd "$(dirname "$0")/.."
sources=$(grep -rl --include='*.cpp' --include='*.h' -E '\b(N?_|C_)\(' src/ui src/app | sort)
xgettext --from-code=UTF-8 --language=C++ --keyword=_ --keyword=N_ --keyword=C_:1c,2 \
  --add-comments=TRANSLATORS: --package-name=corvanta --msgid-bugs-address=dev@corvanta.invalid \
  -o po/corvanta.pot $sources
# The launcher and the software centre's description.
xgettext --from-code=UTF-8 -j -o po/corvanta.pot data/io.github.corvanta.Corvanta.desktop.in
xgettext --from-code=UTF-8 -j -o po/corvanta.pot data/io.github.corvanta.Corvanta.metainfo.xml.in
while read -r lang; do
  [ -n "$lang" ] || continue
  msgmerge --quiet --update --backup=none "po/$lang.po" po/corvanta.pot
done < po/LINGUAS
