#!/usr/bin/env bash
# Acknowledgement latency of easel-server under easel-load, without and with a
# browser keeping the web view open (headless Chromium), runs interleaved.
# The browser runs at the lowest priority, standing for a watcher on another
# machine: on a small shared machine its own rendering would otherwise take
# the CPU the server and the load generator need.
#   scripts/web-latency.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
runs=${2:-3}
work=$(mktemp -d)
server_pid=""
browser_pid=""
finish() {
  for pid in $browser_pid $server_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  browser_pid="" server_pid=""
}
trap 'finish; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM
# A fresh board and server; sets port and web.
start_server() {
  rm -f "$work"/board.easel*
  "$build/server/easel-server" --bind 127.0.0.1 --port 0 --http 0 --rate 0 \
    --board "$work/board.easel" >"$work/log" &
  server_pid=$!
  until grep -q "web view on" "$work/log"; do sleep 0.1; done
  port=$(sed -n 's/.*listening on 127.0.0.1:\([0-9]*\).*/\1/p' "$work/log")
  web=$(sed -n 's|.*web view on \(http://[0-9.:]*/\).*|\1|p' "$work/log")
}

for run in $(seq "$runs"); do
  for watcher in no yes; do
    start_server
    if [ "$watcher" = yes ]; then
      nice -n 19 chromium --headless --no-sandbox --disable-gpu --user-data-dir="$work/profile" \
        --window-size=1280,800 "${web}?watch" >/dev/null 2>&1 &
      browser_pid=$!
      until grep -q "^easel_connections" <(curl -s "${web}metrics") &&
        [ "$(curl -s "${web}status" | grep -c strokes)" = 1 ]; do sleep 0.2; done
      sleep 3  # the page is open and polling
    fi
    echo "run $run, watcher $watcher: $("$build/tools/easel-load" --port "$port" --clients 100 \
      --seconds 10 --rate 5 | grep latency)"
    finish
  done
done

# The time to draw /board.png of a 2,000-stroke board nobody has watched yet
# (all of it drawn and encoded on request), then of the picture again after
# one more stroke, next to easel-render on the same board.
start_server
"$build/tools/easel-load" --port "$port" --clients 10 --seconds 10 --rate 20 | grep "strokes sent"
echo "/board.png, 2000 strokes drawn on request: $(curl -s -o "$work/web.png" -w '%{time_total}' "${web}board.png") s"
"$build/tools/easel-load" --port "$port" --clients 1 --seconds 0.2 --rate 5 >/dev/null
echo "/board.png after one more stroke: $(curl -s -o "$work/web.png" -w '%{time_total}' "${web}board.png") s"
start=$(date +%s.%N)
"$build/tools/easel-render" "$work/board.easel" "$work/render.png"
echo "easel-render of the same board: $(awk "BEGIN { print $(date +%s.%N) - $start }") s"
cmp -s <(convert "$work/web.png" rgb:-) <(convert "$work/render.png" rgb:-) &&
  echo "the pictures are equal"
