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
  [ -n "$browser_pid" ] && kill "$browser_pid" 2>/dev/null && wait "$browser_pid" 2>/dev/null
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  browser_pid="" server_pid=""
}
trap 'finish; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM

for run in $(seq "$runs"); do
  for watcher in no yes; do
    rm -f "$work"/board.easel*
    "$build/server/easel-server" --bind 127.0.0.1 --port 0 --http 0 --rate 0 \
      --board "$work/board.easel" >"$work/log" &
    server_pid=$!
    until grep -q "web view on" "$work/log"; do sleep 0.1; done
    port=$(sed -n 's/.*listening on 127.0.0.1:\([0-9]*\).*/\1/p' "$work/log")
    web=$(sed -n 's|.*web view on \(http://[0-9.:]*/\).*|\1|p' "$work/log")
    if [ "$watcher" = yes ]; then
      nice -n 19 chromium --headless --no-sandbox --disable-gpu --user-data-dir="$work/profile" \
        --window-size=1280,800 "$web" >/dev/null 2>&1 &
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
