#!/usr/bin/env bash
# Configures and builds Easel. Usage: scripts/build.sh [--sanitize] [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sanitize=OFF
if [ "${1:-}" = "--sanitize" ]; then sanitize=ON; shift; fi
default_dir="$root/build"
[ "$sanitize" = ON ] && default_dir="$root/build-sanitize"
build_dir=${1:-$default_dir}
cmake -S "$root" -B "$build_dir" -DEASEL_SANITIZE=$sanitize >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
