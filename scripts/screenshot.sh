#!/usr/bin/env bash
# Takes the README's screenshot of the main window on a virtual X display.
#   scripts/screenshot.sh [PROGRAM] [OUTPUT.png] [PRESET-ROW]
# PRESET-ROW (default 9, "Heat camera") is chosen in the preset list before
# the picture is taken. Needs xvfb, xdotool and python3-pil.
set -euo pipefail
cd "$(dirname "$0")/.."

program=${1:-build/src/app/corvanta}
output=${2:-docs/screenshot.png}
row=${3:-9}

if [ -z "${CORVANTA_SCREENSHOT_INNER:-}" ]; then
  exec env CORVANTA_SCREENSHOT_INNER=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$program" "$output" "$row"
fi

export NO_AT_BRIDGE=1 GTK_THEME=Adwaita
"$program" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT

window=$(xdotool search --sync --onlyvisible --name '^Corvanta$' | head -n 1)
sleep 1
eval "$(xdotool getwindowgeometry --shell "$window")"
# Row 0 of the preset list lies at (488, 214) in the window; the arrow keys
# walk down from there.
xdotool mousemove $((X + 488)) $((Y + 214)) click 1
for _ in $(seq 1 "$row"); do xdotool key Down; done
xdotool mousemove $((X + 100)) $((Y + 200))
sleep 1

/usr/bin/python3 - "$output" "$X" "$Y" "$WIDTH" "$HEIGHT" <<'PY'
import sys
from PIL import ImageGrab
out, x, y, w, h = sys.argv[1], *map(int, sys.argv[2:])
ImageGrab.grab(xdisplay=None).crop((x, y, x + w, y + h)).save(out, optimize=True)
print(f"{out}: {w} x {h}")
PY
