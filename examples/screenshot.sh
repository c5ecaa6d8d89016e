#!/usr/bin/env bash
# Takes the picture of the toolkit example: starts it on a private Xvfb, waits until its window is on
# screen and drawn, captures that window as a PNG file and ends the example.
#   examples/screenshot.sh EXAMPLE OUTPUT.png
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 EXAMPLE OUTPUT.png" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${SCREENSHOT_ON_XVFB:-}" ]; then
  SCREENSHOT_ON_XVFB=1 exec "$here/../tools/with-xvfb.sh" "$0" "$@"
fi

"$1" &
example=$!
stop() {
  kill "$example" 2>/dev/null
  wait "$example" 2>/dev/null || true
}
trap stop EXIT
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^tamber controls$' | head -n 1)
if [ -z "$window" ]; then
  echo "screenshot: the example's window did not show up" >&2
  exit 1
fi
# Let the example finish its first paint (the canvas draws on expose).
sleep 1
kill -0 "$example" || { echo "screenshot: the example ended early" >&2; exit 1; }
import -window "$window" "$2"
echo "screenshot: saved $2"
