#!/usr/bin/env bash
# Installs what Varnholt needs, builds it and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNHOLT_TEST_HOOKS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target varnholt
exec ./build/varnholt "$@"
