#!/usr/bin/env bash
# Download benchmark: one 512 MB file from a loopback server, saved by quorvin-extract
# --download and by curl -o, alternately, three times each. Prints the median rates, their
# ratio (goal: ours at least 1.0x curl's, with the fsync before the rename) and our peak RSS (goal: under 40 MB).
set -euo pipefail
cd "$(dirname "$0")/.."
for p in curl time bc; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    { apt-get install -y -qq "$p" >/dev/null 2>&1 || sudo apt-get install -y -qq "$p" >/dev/null; }
done
build="${BUILD:-build}"
[ -x "$build/bench/serve_bytes" ] || { cmake -S . -B "$build" >/dev/null; cmake --build "$build" -j"$(nproc)" --target serve_bytes quorvin-extract >/dev/null; }
size=$((512 * 1024 * 1024))
port=19777
work="$(mktemp -d)"
trap 'kill "$server" 2>/dev/null || true; rm -rf "$work"' EXIT
"$build/bench/serve_bytes" "$port" "$size" > "$work/server.log" &
server=$!
sleep 1

ours=() theirs=() rss=()
for run in 1 2 3; do
  rm -f "$work"/*.mp4*
  /usr/bin/time -f "%e %M" -o "$work/t" "$build/cli/quorvin-extract" --site meipai --download -P "$work" -o 'file.%(ext)s' \
    --all-hosts "127.0.0.1:$port" "http://127.0.0.1:$port/media/1" > /dev/null 2>&1
  read -r secs kb < "$work/t"
  [ "$(stat -c %s "$work/file.mp4")" -eq "$size" ] || { echo "bench: our file is incomplete"; exit 1; }
  ours+=("$(echo "$size / $secs / 1048576" | bc -l)")
  rss+=("$((kb / 1024))")
  rm -f "$work/curl.mp4"
  /usr/bin/time -f "%e %M" -o "$work/t" curl -s -o "$work/curl.mp4" "http://127.0.0.1:$port/file.mp4"
  read -r secs kb < "$work/t"
  theirs+=("$(echo "$size / $secs / 1048576" | bc -l)")
done
median() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
o=$(median "${ours[@]}"); c=$(median "${theirs[@]}"); r=$(median "${rss[@]}")
printf 'download 512 MB: ours %.0f MB/s, curl %.0f MB/s, ratio %.2f (goal >= 1.00); our peak RSS %d MB (goal < 40)\n' \
  "$o" "$c" "$(echo "$o / $c" | bc -l)" "$r"
