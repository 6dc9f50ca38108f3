#!/usr/bin/env bash
# The converter's process against ffmpeg's own program on a 200 MB H.264/AAC FLV made here:
# the remux to MP4 (index at the front) and the sound as MP3 (VBR quality 2), whole processes,
# medians of three, and the peak memory of ours. Prints one line per measure:
#   remux OURS_S FFMPEG_S OURS_RSS_MB
#   mp3 OURS_S FFMPEG_S OURS_RSS_MB
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD:-build}"
command -v ffmpeg >/dev/null || apt-get install -y -qq ffmpeg >/dev/null 2>&1 || sudo apt-get install -y -qq ffmpeg >/dev/null
helper="$build/core/quorvin-convert"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Lossless 720p H.264 grows fast: the file is cut at 200 MB.
ffmpeg -v error -f lavfi -i testsrc2=size=1280x720:rate=30 -f lavfi -i sine=frequency=440:sample_rate=44100 \
  -t 120 -fs 200M -c:v libx264 -preset ultrafast -qp 0 -c:a aac -b:a 128k -f flv "$work/in.flv"
seconds() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1; e=$(date +%s.%N); echo "$e - $s" | bc -l; }
median() { printf '%s\n' "$@" | sort -n | sed -n 2p; }
measure() {
  local kind="$1" ours=() theirs=() rss
  shift
  for _ in 1 2 3; do
    rm -f "$work/out.$kind" "$work/ff.$kind"
    theirs+=("$(seconds ffmpeg -v error -y -i "$work/in.flv" "$@" "$work/ff.$kind")")
    ours+=("$(seconds "$helper" convert --to "$kind" "$work/in.flv" "$work/out.$kind")")
  done
  rm -f "$work/out.$kind"
  /usr/bin/time -f %M -o "$work/rss" "$helper" convert --to "$kind" "$work/in.flv" "$work/out.$kind" >/dev/null 2>&1
  echo "$kind $(median "${ours[@]}") $(median "${theirs[@]}") $(( $(cat "$work/rss") / 1024 ))"
}
measure mp4 -c copy -movflags +faststart | sed 's/^mp4/remux/'
measure mp3 -vn -c:a libmp3lame -q:a 2
