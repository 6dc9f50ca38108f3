#!/usr/bin/env bash
# The core's rooms include only their own and lower rooms' headers (the libraries' link
# order enforces the same at build time; this names the offending line). Lowest first:
#   record; net; sites (record, net); download (net); picture (net);
#   extract (record, net, sites).
set -euo pipefail
cd "$(dirname "$0")/.."
declare -A allowed=(
  [record]="record" [net]="net" [sites]="sites record net" [download]="download net"
  [picture]="picture net" [extract]="extract record net sites")
declare -A room_of
for header in core/*/*.h; do
  room_of[$(basename "$header")]=$(basename "$(dirname "$header")")
done
status=0
for file in core/*/*.h core/*/*.cpp; do
  room=$(basename "$(dirname "$file")")
  while IFS=: read -r line header; do
    other=${room_of[$header]:-}
    [ -z "$other" ] && continue  # Qt, the standard library, generated headers
    if [[ " ${allowed[$room]} " != *" $other "* ]]; then
      echo "$file:$line: the $room room includes $header of the higher room $other"
      status=1
    fi
  done < <(grep -n '^#include "' "$file" | sed -E 's/^([0-9]+):#include "([^"]+)".*/\1:\2/')
done
[ "$status" -eq 0 ] && echo "layers: every core room includes only its own and lower rooms"
exit "$status"
