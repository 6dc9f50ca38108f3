#!/usr/bin/env bash
# Download benchmark, three servers on loopback, each tool run three times, alternately:
#  - each connection held to 2 MiB/s (24 MiB): ours (no option), curl -o and aria2c -x4 -s4;
#    goals: ours >= 3.5x curl's rate and >= 0.95x aria2c's;
#  - the whole host held to 2 MiB/s (24 MiB), the same three; goal: ours >= 0.95x curl's;
#  (aria2c -x4 -s4 -k1M beside them: aria2c split as finely as ours, for reference);
#  - unthrottled, 512 MB: ours and curl; goal: ours >= 1.0x curl's (with the fsync before the
#    rename);
#  - unthrottled with a validator, 512 MB: ours on several connections against ours on one
#    (--connections 1); goal: >= 1.0x;
#  - a storm server (every request answered whole, cut after 1,000 bytes): ours with the
#    defaults, the requests it made and the seconds to the failure; goal: <= 50 requests, < 60 s.
# Prints the medians, their ratios and our peak RSS (goal: under 40 MB in all three). The last
# line keeps the form bench/run.sh reads.
set -euo pipefail
cd "$(dirname "$0")/.."
for p in curl time bc aria2; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    { apt-get install -y -qq "$p" >/dev/null 2>&1 || sudo apt-get install -y -qq "$p" >/dev/null; }
done
build="${BUILD:-build}"
[ -x "$build/bench/serve_bytes" ] || { cmake -S . -B "$build" >/dev/null; cmake --build "$build" -j"$(nproc)" --target serve_bytes quorvin-extract >/dev/null; }
work="$(mktemp -d)"
server=
trap 'kill "$server" 2>/dev/null || true; rm -rf "$work"' EXIT
median() { printf '%s\n' "$@" | sort -g | sed -n 2p; }

# One tool's run: its rate in MB/s and its peak RSS in MB, as "RATE RSS".
run_tool() {
  local tool=$1 port=$2 size=$3 secs kb
  rm -f "$work"/*.mp4* "$work"/*.aria2
  case $tool in
    ours|ours1)
          one=(); [ "$tool" = ours1 ] && one=(--connections 1)
          /usr/bin/time -f "%e %M" -o "$work/t" "$build/cli/quorvin-extract" --site meipai --download -P "$work" \
            -o 'file.%(ext)s' "${one[@]}" --all-hosts "127.0.0.1:$port" "http://127.0.0.1:$port/media/1" > /dev/null 2>&1
          [ "$(stat -c %s "$work/file.mp4")" -eq "$size" ] || { echo "bench: our file is incomplete" >&2; exit 1; } ;;
    curl) /usr/bin/time -f "%e %M" -o "$work/t" curl -s -o "$work/curl.mp4" "http://127.0.0.1:$port/file.mp4" ;;
    aria2c|aria2c-k1M)
            # aria2c's default --min-split-size (20M) gives a 24 MiB file one connection; -k1M
            # lets it split as we do.
            split=(); [ "$tool" = aria2c-k1M ] && split=(-k1M)
            /usr/bin/time -f "%e %M" -o "$work/t" aria2c -q -x4 -s4 "${split[@]}" --allow-overwrite=true -d "$work" \
              -o aria2.mp4 "http://127.0.0.1:$port/file.mp4"
            [ "$(stat -c %s "$work/aria2.mp4")" -eq "$size" ] || { echo "bench: aria2c's file is incomplete" >&2; exit 1; } ;;
  esac
  read -r secs kb < "$work/t"
  echo "$(echo "$size / $secs / 1048576" | bc -l) $((kb / 1024))"
}

# Starts a server, runs each tool three times in turn, prints one line of medians.
compare() {
  local label=$1 port=$2 size=$3 mode=$4 rate=$5; shift 5
  local tools=("$@") t r
  "$build/bench/serve_bytes" "$port" "$size" $mode $rate > "$work/server.log" &
  server=$!
  sleep 1
  declare -A rates rss
  for run in 1 2 3; do
    for t in "${tools[@]}"; do
      read -r r m < <(run_tool "$t" "$port" "$size")
      rates[$t]+="$r "; rss[$t]+="$m "
    done
  done
  kill "$server"; wait "$server" 2>/dev/null || true
  local line="$label:"
  for t in "${tools[@]}"; do
    # shellcheck disable=SC2086
    line+=" $t $(printf %.2f "$(median ${rates[$t]})") MB/s,"
  done
  # shellcheck disable=SC2086
  line+=" our peak RSS $(median ${rss[ours]}) MB"
  echo "$line"
}

ratio() { printf %.2f "$(echo "$1 / $2" | bc -l)"; }
rate_of() { sed -n "s/.* $2 \([0-9.]*\) MB\/s.*/\1/p" <<< "$1"; }
rss_of() { sed -n 's/.*our peak RSS \([0-9]*\) MB.*/\1/p' <<< "$1"; }

mib=1048576
per=$(compare "each connection held to 2 MiB/s, 24 MiB" 19778 $((24 * mib)) connection $((2 * mib)) ours curl aria2c aria2c-k1M)
echo "$per"
printf '  ours/curl %s (goal >= 3.5), ours/aria2c %s (goal >= 0.95), ours/aria2c-k1M %s\n' \
  "$(ratio "$(rate_of "$per" ours)" "$(rate_of "$per" curl)")" "$(ratio "$(rate_of "$per" ours)" "$(rate_of "$per" aria2c)")" \
  "$(ratio "$(rate_of "$per" ours)" "$(rate_of "$per" aria2c-k1M)")"
host=$(compare "the host held to 2 MiB/s, 24 MiB" 19779 $((24 * mib)) host $((2 * mib)) ours curl aria2c)
echo "$host"
printf '  ours/curl %s (goal >= 0.95)\n' "$(ratio "$(rate_of "$host" ours)" "$(rate_of "$host" curl)")"
size=$((512 * mib))
flat=$(compare "unthrottled, 512 MB" 19777 "$size" "" "" ours curl)
o=$(rate_of "$flat" ours); c=$(rate_of "$flat" curl)
ranged=$(compare "unthrottled with a validator, 512 MB" 19776 "$size" validator "" ours ours1)
echo "$ranged"
# The storm server: one run with the defaults, the requests counted by the server.
"$build/bench/serve_bytes" 19775 20000000 storm > "$work/server.log" &
server=$!
sleep 1
start=$(date +%s.%N)
"$build/cli/quorvin-extract" --site meipai --download -P "$work" -o 'storm.%(ext)s' --all-hosts 127.0.0.1:19775 \
  http://127.0.0.1:19775/media/1 > /dev/null 2>&1 || true
storm_secs=$(printf %.1f "$(echo "$(date +%s.%N) - $start" | bc -l)")
storm_requests=$(curl -s http://127.0.0.1:19775/count)
kill "$server"; wait "$server" 2>/dev/null || true
printf 'storm: %s requests, %s s to the failure (goals <= 50, < 60 s)\n' "$storm_requests" "$storm_secs"
printf 'ranges: several %s MB/s, one connection %s MB/s, ratio %s (goal >= 1.00)\n' \
  "$(rate_of "$ranged" ours)" "$(rate_of "$ranged" ours1)" "$(ratio "$(rate_of "$ranged" ours)" "$(rate_of "$ranged" ours1)")"
printf 'throttled: per connection ours %s MB/s, curl %s, aria2c %s, ratios %s %s; host ours %s, curl %s, ratio %s; RSS %s %s MB\n' \
  "$(rate_of "$per" ours)" "$(rate_of "$per" curl)" "$(rate_of "$per" aria2c)" \
  "$(ratio "$(rate_of "$per" ours)" "$(rate_of "$per" curl)")" "$(ratio "$(rate_of "$per" ours)" "$(rate_of "$per" aria2c)")" \
  "$(rate_of "$host" ours)" "$(rate_of "$host" curl)" "$(ratio "$(rate_of "$host" ours)" "$(rate_of "$host" curl)")" \
  "$(rss_of "$per")" "$(rss_of "$host")"
printf 'download 512 MB: ours %.0f MB/s, curl %.0f MB/s, ratio %.2f (goal >= 1.00); our peak RSS %d MB (goal < 40)\n' \
  "$o" "$c" "$(echo "$o / $c" | bc -l)" "$(rss_of "$flat")"
