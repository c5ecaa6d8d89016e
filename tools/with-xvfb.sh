#!/usr/bin/env bash
# Runs one command against a private Xvfb server, so GUI tests never share a display and never
# depend on one being there. Fails loudly when the server cannot be started.
#     with-xvfb.sh [--dpi N] COMMAND ...
# The screen's font resolution (Xft.dpi) is N, 96 by default, as on a desktop at 100 % scale.
set -u
command -v Xvfb >/dev/null 2>&1 \
  || { echo "with-xvfb: Xvfb is not installed (apt-get install xvfb)" >&2; exit 2; }
command -v xrdb >/dev/null 2>&1 \
  || { echo "with-xvfb: xrdb is not installed (apt-get install x11-xserver-utils)" >&2; exit 2; }
dpi=96
if [ "${1:-}" = --dpi ]; then
  dpi=$2
  shift 2
fi

fifo_dir=$(mktemp -d)
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -rf "$fifo_dir"' EXIT
mkfifo "$fifo_dir/fd"
Xvfb -displayfd 3 -screen 0 ${XVFB_SCREEN:-1280x1024x24} -nolisten tcp -noreset \
  3>"$fifo_dir/fd" 2>"$fifo_dir/log" &
xvfb=$!
display=""
read -r -t 20 display <"$fifo_dir/fd" || true
if [ -z "$display" ]; then
  echo "with-xvfb: Xvfb did not start:" >&2
  cat "$fifo_dir/log" >&2
  exit 2
fi
export DISPLAY=":$display"
echo "Xft.dpi: $dpi" | xrdb -nocpp -merge || { echo "with-xvfb: cannot set Xft.dpi" >&2; exit 2; }
"$@"
