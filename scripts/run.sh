#!/usr/bin/env bash
# Installs what Varnholt needs, builds it and runs it. On a machine where the
# data folder does not exist yet, it first does what an installer would
# (`varnholt install`), so the first run opens the window.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNHOLT_TEST_HOOKS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target varnholt
data="${LOCALAPPDATA:-${XDG_DATA_HOME:-${HOME}/.local/share}}/Morvane/QZR"
if [ ! -d "$data/ConfigData" ]; then
  ./build/varnholt install
fi
exec ./build/varnholt "$@"
