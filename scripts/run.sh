#!/usr/bin/env bash
# Installs what is missing, builds, and runs the client in run/ (its working
# directory: client.cfg, client.log and the image files live there). When the
# relay server is built it is started there too, with its web port (the
# painting page for browsers, EASEL_HTTP_PORT, 8080 by default), and stopped
# when the client ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build"

run_dir="$root/run"
mkdir -p "$run_dir"
shopt -s nullglob
assets=("$root"/assets/*.bmp)
if [ ${#assets[@]} -gt 0 ]; then
  cp -f "${assets[@]}" "$run_dir/"
fi

server=""
for candidate in "$root/build/server/easel-server" "$root/build/easel-server"; do
  if [ -x "$candidate" ]; then
    server=$candidate
    break
  fi
done

server_pid=""
stop_server() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
}
trap stop_server EXIT

if [ -n "$server" ]; then
  # The server keeps its board file in its working directory, run/.
  http_port=${EASEL_HTTP_PORT:-8080}
  (cd "$run_dir" && exec "$server" --board "$run_dir/board.easel" --http "$http_port") &
  server_pid=$!
  # Give it a moment to listen on the client's default port before connecting.
  for _ in $(seq 50); do
    if (exec 3<>/dev/tcp/127.0.0.1/2020) 2>/dev/null; then break; fi
    sleep 0.1
  done
  if [ -f "$root/build/web/index.html" ]; then
    echo "Paint from a browser: open http://localhost:$http_port/ (others on your network: this machine's address)"
  else
    echo "Watch from a browser: open http://localhost:$http_port/ (the painting page was not built: no em++)"
  fi
fi

status=0
(cd "$run_dir" && exec "$root/build/easel") || status=$?
exit $status
