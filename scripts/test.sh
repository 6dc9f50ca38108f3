#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# CI sets QUORVIN_WERROR=ON: every warning fails the build there.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVIN_WERROR="${QUORVIN_WERROR:-OFF}" >/dev/null
cmake --build build -j"$(nproc)"
# The tests see only what setup.sh installs: media and download programs a developer's
# machine may have are hidden from PATH, so a test that starts one fails here as it would on a
# new machine, naming the program.
shown="$PWD/build/test-path"
rm -rf "$shown" && mkdir -p "$shown"
IFS=: read -r -a dirs <<<"$PATH"
for dir in "${dirs[@]}"; do
  for program in "$dir"/*; do
    name=${program##*/}
    case "$name" in ffmpeg | ffprobe | ffplay | yt-dlp | youtube-dl | curl | wget) continue ;; esac
    if [ -x "$program" ] && [ ! -d "$program" ] && [ ! -e "$shown/$name" ]; then ln -s "$program" "$shown/$name"; fi
  done
done
# End-to-end tests need a display; the rest run on the offscreen platform.
cd build
PATH="$shown" xvfb-run -a -s "-screen 0 1024x768x24" ctest --output-on-failure --timeout 300 "$@"
