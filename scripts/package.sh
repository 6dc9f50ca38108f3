#!/usr/bin/env bash
# Builds the Debian package quorvin-video-helper_<version>_<arch>.deb in build-package/.
# Install it with: sudo apt install ./build-package/quorvin-video-helper_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-package -j"$(nproc)"
(cd build-package && cpack -G DEB)
ls build-package/quorvin-video-helper_*.deb
