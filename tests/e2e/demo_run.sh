#!/usr/bin/env bash
# The demo's two runs of the real program (see scripts/demo.sh), on $DISPLAY.
set -u
. "$(dirname "$0")/lib.sh"
PREFIX="$(cd "$(dirname "$0")/../.." && pwd)/build/demo-prefix"

# A picture of the window only: its rectangle from the inspector, cut from the screen.
shot() {
  local geometry
  geometry=$(inspector state | sed -n 's/^window vis=1 x=\(-*[0-9]*\) y=\(-*[0-9]*\) w=\([0-9]*\) h=\([0-9]*\).*/\3x\4+\1+\2/p')
  if [ -n "$geometry" ]; then
    import -window root -crop "$geometry" +repage "$E2E_OUT/$1"
  else
    import -window root "$E2E_OUT/$1"
  fi
  echo "  saved $E2E_OUT/$1"
}

message() { inspector state | sed -n 's/^1004 vis=1 en=[01] text=//p'; }

keep_records() {  # keep_records NAME
  mkdir -p "$E2E_OUT/$1"
  cp -f "$RUN_DIR/timeline.txt" "$E2E_OUT/$1/window-timeline.txt"
  cp -f "$RUN_DIR/log.txt" "$E2E_OUT/$1/log.txt" 2>/dev/null || true
  cp -f "$SIM"/*.log "$E2E_OUT/$1/" 2>/dev/null || true
}

use_prefix "$PREFIX"
trap 'stop_prefix' EXIT
configure_provider
status=0

if [ "${DEMO_INTERACTIVE:-0}" = 1 ]; then
  start_product interactive "$E2E_SAMPLES/update-newer.bin" || exit 1
  echo "demo: the window is open on $DISPLAY with a compatible newer image; press Update, then close it."
  wait "$LAUNCHER"
  keep_records interactive
  echo "demo: the program ended with exit code $(exit_code)"
  echo "demo: output saved under $E2E_OUT"
  exit 0
fi

echo "demo 1: sample controller (version $(cat "$E2E_SAMPLES/controller.version")), compatible newer image"
start_product newer "$E2E_SAMPLES/update-newer.bin" '/l=C:\e2e\newer\log.txt' ||
  { echo "demo: the window did not appear" >&2; exit 1; }
# Which program ran, as its log says (the shipped one: 32-bit under WoW64).
echo "  $(grep -o 'process: .*' "$RUN_DIR/log.txt" | tr -d '\r')"
shot 1-prompt.png
press 1003
sleep 3
shot 2-busy.png
inspector wait --timeout 90000 --settle 600 --any 1:active 1007:visible || status=1
shot 3-success.png
echo "  message: $(message)"
if cmp -s "$E2E_SAMPLES/update-newer.bin" "$SIM/received.bin"; then
  echo "  the simulated controller received the whole image ($(stat -c %s "$SIM/received.bin") bytes)"
else
  echo "  the simulated controller did not receive the image"
  status=1
fi
press 1008
wait_exit 20 || status=1
echo "  Later pressed; exit code $(exit_code)"
keep_records 1-newer

echo "demo 2: the same controller, an image built for another board"
start_product other-board "$E2E_SAMPLES/update-other-board.bin" || { echo "demo: the window did not appear" >&2; exit 1; }
press 1003
inspector wait --timeout 90000 --settle 600 1:active || status=1
shot 4-refused.png
echo "  message: $(message)"
press 1
wait_exit 20 || status=1
echo "  Exit pressed; exit code $(exit_code) (nothing was written: $(grep -c 'method=UpdateFirmware' "$SIM/provider.log" 2>/dev/null || true) update calls)"
keep_records 2-other-board

echo
echo "demo: output saved under $E2E_OUT"
ls -1 "$E2E_OUT"
exit $status
