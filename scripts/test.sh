#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# CI sets QUORVIN_WERROR=ON: every warning fails the build there.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVIN_WERROR="${QUORVIN_WERROR:-OFF}" >/dev/null
cmake --build build -j"$(nproc)"
# End-to-end tests need a display; the rest run on the offscreen platform.
cd build
xvfb-run -a -s "-screen 0 1024x768x24" ctest --output-on-failure --timeout 300 "$@"
