#!/usr/bin/env bash
# Run inside the X session by shoot.sh: photographs each look the driver
# announces in SIGNAL_DIR and saves it as OUT_PREFIX-<look>.png.
#   capture.sh SIGNAL_DIR OUT_PREFIX look...
set -u
sig=$1
prefix=$2
shift 2
for look in "$@"; do
  for _ in $(seq 600); do [ -f "$sig/$look.ready" ] && break; sleep 0.1; done
  if [ ! -f "$sig/$look.ready" ]; then
    echo "capture: no $look" >&2
    exit 1
  fi
  read -r x y w h < <(tr -d "\r" <"$sig/$look.ready")
  sleep 0.4  # let the compositor catch up
  # A margin of backdrop around the window shows its shape.
  m=24
  import -window root -crop "$((w + 2 * m))x$((h + 2 * m))+$((x - m))+$((y - m))" +repage "$prefix-$look.png"
  touch "$sig/$look.done"
done
