#!/usr/bin/env bash
# The main job: builds the demo preset (every host on the bundled service simulator),
# starts the simulator, opens the window, and stops the simulator when the window closes.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset demo >/dev/null
cmake --build --preset demo

# Options are the simulator's (e.g. --site-changed meipai: a changed page and its signed fix).
build-demo/sim/quorvin-sim "$@" > build-demo/sim.log 2>&1 &
sim=$!
trap 'kill "$sim" 2>/dev/null || true' EXIT

# Wait until the simulator answers on the version file's port.
for _ in $(seq 50); do
  if (exec 3<>/dev/tcp/127.0.0.1/18600) 2>/dev/null; then break; fi
  sleep 0.1
done
# --list prints the share addresses, an empty line, then the authors' pages.
echo "Service simulator running (log: build-demo/sim.log). Share addresses to paste:"
build-demo/sim/quorvin-sim --list | sed -e '/^$/,$d' -e 's/^/  /'
echo "Authors' pages:"
build-demo/sim/quorvin-sim --list | sed -e '1,/^$/d' -e 's/^/  /'

export QT_XCB_GL_INTEGRATION="${QT_XCB_GL_INTEGRATION:-none}"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: running the window on a virtual screen (xvfb-run)."
  xvfb-run -a -s "-screen 0 1024x768x24" build-demo/app/quorvin-video-helper
else
  build-demo/app/quorvin-video-helper
fi
