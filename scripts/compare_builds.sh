#!/usr/bin/env bash
# Compares what two builds of quorvin-extract extract: their JSON lines, with all 51 slots
# (--slots), for every simulator address and for every test page and fuzz seed served under
# each service's page prefix, must be equal byte for byte.
#   bash scripts/compare_builds.sh OLD/cli/quorvin-extract NEW/cli/quorvin-extract [SIM]
# SIM: a quorvin-sim to serve the simulator's addresses (default: build/sim/quorvin-sim).
set -euo pipefail
cd "$(dirname "$0")/.."
old="$1" new="$2" sim="${3:-build/sim/quorvin-sim}"
work="$(mktemp -d)"
simport=19871 webport=19872
"$sim" --port "$simport" > "$work/sim.log" 2>&1 &
pids=($!)
# The test pages and fuzz seeds, each under every service's page prefix.
mkdir -p "$work/www/t" "$work/www/media" "$work/www/i/photo" "$work/www/video" "$work/www/show"
n=0
for page in tests/data/*.html fuzz/corpus/*/*; do
  [ -f "$page" ] || continue
  n=$((n + 1))
  for dir in t media i/photo video; do cp "$page" "$work/www/$dir/p$n"; done
  cp "$page" "$work/www/show/p$n.htm"
done
(cd "$work/www" && exec python3 -m http.server "$webport" --bind 127.0.0.1) > "$work/web.log" 2>&1 &
pids+=($!)
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT
sleep 1

run() {  # $1: the program; prints its JSON lines for every address
  local prog="$1"
  "$prog" --json --slots --all-hosts "127.0.0.1:$simport" $("$sim" --port "$simport" --list) 2>/dev/null || true
  for i in $(seq "$n"); do
    local web="http://127.0.0.1:$webport"
    "$prog" --json --slots --all-hosts "127.0.0.1:$webport" \
      "$web/t/p$i" "$web/media/p$i" "$web/i/photo/p$i" "$web/video/p$i" "$web/show/p$i.htm" 2>/dev/null || true
  done
}
run "$old" > "$work/old.jsonl"
run "$new" > "$work/new.jsonl"
lines=$(wc -l < "$work/new.jsonl")
if cmp -s "$work/old.jsonl" "$work/new.jsonl"; then
  echo "compare_builds: equal, $lines JSON lines ($n pages under 5 services, and the simulator's addresses)"
else
  diff <(cut -c1-300 "$work/old.jsonl") <(cut -c1-300 "$work/new.jsonl") | head -20
  echo "compare_builds: DIFFERENT"
  exit 1
fi
