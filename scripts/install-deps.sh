#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Easel need,
# asking the package manager only for what is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  emscripten  # the WebAssembly build of the engine and its test (brings node)
  liballegro4-dev libx11-dev libpng-dev libstb-dev libboost1.81-dev
  libcli11-dev  # the command lines of the server and the tools (header only)
  libgtest-dev libbenchmark-dev locales
  libmypaint-dev  # optional: only the side-by-side dab benchmark links it
  clang libclang-rt-14-dev
  python3 xvfb xdotool imagemagick x11-utils chromium ffmpeg
  chromium-driver python3-selenium  # the browser end-to-end test
  nginx openssl  # the HTTPS test: a real nginx with a test certificate in front of the server
  # the Debian packages (scripts/package.sh) and their tests
  dpkg-dev file help2man librsvg2-bin lintian systemd debootstrap
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo_cmd=()
else
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
# Services in these packages (nginx) are not started: the tests run their own.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
  "${sudo_cmd[@]}" chmod 755 "$policy"
  trap '"${sudo_cmd[@]}" rm -f "$policy"' EXIT
fi
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
