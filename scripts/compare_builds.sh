#!/usr/bin/env bash
# Compares what two builds of quorvin-extract extract: their JSON lines, with all 51 slots
# (--slots), for every simulator address and for every example page and answer and fuzzer starting input served under
# each service's page prefix, must be equal byte for byte.
#   bash scripts/compare_builds.sh [--ignore FIELD,...] OLD/cli/quorvin-extract NEW/cli/quorvin-extract [SIM]
# SIM: a quorvin-sim to serve the simulator's addresses (default: build/sim/quorvin-sim).
# --ignore: JSON fields left out of the comparison (a change an issue asked for), e.g.
# --ignore status,error_code,display.badge; every other field must still be equal byte for byte.
set -euo pipefail
cd "$(dirname "$0")/.."
ignore=""
if [ "${1:-}" = "--ignore" ]; then ignore="$2"; shift 2; fi
old="$1" new="$2" sim="${3:-build/sim/quorvin-sim}"
work="$(mktemp -d)"
simport=19871 webport=19872
"$sim" --port "$simport" > "$work/sim.log" 2>&1 &
pids=($!)
# The test pages and fuzz seeds, each under every service's page prefix.
mkdir -p "$work/www/t" "$work/www/media" "$work/www/i/photo" "$work/www/video" "$work/www/show"
n=0
for page in sites/*/examples/* fuzz/corpus/*/*; do
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
  "$prog" --json --slots --all-hosts "127.0.0.1:$simport" $("$sim" --port "$simport" --list | sed '/^$/,$d') 2>/dev/null || true
  for i in $(seq "$n"); do
    local web="http://127.0.0.1:$webport"
    "$prog" --json --slots --all-hosts "127.0.0.1:$webport" \
      "$web/t/p$i" "$web/media/p$i" "$web/i/photo/p$i" "$web/video/p$i" "$web/show/p$i.htm" 2>/dev/null || true
  done
}
without_ignored() {  # JSON lines on standard input, the ignored fields left out
  if [ -z "$ignore" ]; then cat; return; fi
  python3 -c '
import json, sys
drop = sys.argv[1].split(",")
for line in sys.stdin:
    o = json.loads(line)
    for f in drop:
        *path, last = f.split(".")
        inner = o
        for key in path:
            inner = inner.get(key) if isinstance(inner, dict) else None
        if isinstance(inner, dict):
            inner.pop(last, None)
    print(json.dumps(o, ensure_ascii=False))' "$ignore"
}
run "$old" | without_ignored > "$work/old.jsonl"
run "$new" | without_ignored > "$work/new.jsonl"
lines=$(wc -l < "$work/new.jsonl")
if cmp -s "$work/old.jsonl" "$work/new.jsonl"; then
  echo "compare_builds: equal, $lines JSON lines ($n pages under 5 services, and the simulator's addresses)${ignore:+, without $ignore}"
else
  diff <(cut -c1-300 "$work/old.jsonl") <(cut -c1-300 "$work/new.jsonl") | head -20 || true
  # Which fields changed, address by address.
  python3 - "$work/old.jsonl" "$work/new.jsonl" <<'EOF'
import json, sys
def flat(o, pre=""):
    out = {}
    for k, v in o.items():
        if isinstance(v, dict):
            out.update(flat(v, pre + k + "."))
        else:
            out[pre + k] = v
    return out
old, new = (open(p).read().splitlines() for p in sys.argv[1:3])
for a, b in zip(old, new):
    fa, fb = flat(json.loads(a)), flat(json.loads(b))
    changed = sorted(k for k in fa.keys() | fb.keys() if fa.get(k) != fb.get(k))
    if changed:
        print("changed:", fa.get("address"), ", ".join(changed))
EOF
  echo "compare_builds: DIFFERENT"
  exit 1
fi
