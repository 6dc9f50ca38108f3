#!/usr/bin/env bash
# Every room includes only its own and lower rooms' headers, by the room's path
# ("net/fetch.h"); the libraries' include folders enforce the same at build time, this names
# the offending line. A room's internals (the headers beside its sources) are its own: only
# the room, the tests and the fuzz targets include them.
set -euo pipefail
cd "$(dirname "$0")/.."
core="record net sites download picture extract history convert"
declare -A folder=([settings]=app/settings [desktop]=app/desktop [address_box]=app/address_box
  [main_window]=app/main_window [downloads]=app/downloads [settings_dialog]=app/settings_dialog [download_list]=app/download_list [works_window]=app/works_window [controls]=controls
  [cli]=cli)
for room in $core; do folder[$room]=core/$room; done
# Lowest first: the core's rooms, the controls, the window's rooms, the command line.
declare -A allowed=(
  [record]="record" [net]="net" [sites]="sites record net" [download]="download net record"
  [picture]="picture net" [convert]="convert download net record" [extract]="extract record net sites" [history]="history record"
  [controls]="controls picture net"
  [settings]="settings" [desktop]="desktop" [address_box]="address_box extract record net sites"
  [downloads]="downloads settings download net history sites record extract picture convert"
  [settings_dialog]="settings_dialog settings desktop net"
  [download_list]="download_list downloads settings settings_dialog desktop download net history sites record convert"
  [works_window]="works_window downloads settings desktop download net history sites record extract picture convert"
  [main_window]="main_window settings desktop address_box downloads settings_dialog download_list works_window controls $core"
  [cli]="$core")

# The internals: headers lying beside a room's sources rather than under its include folder.
declare -A internal_of
for header in core/*/*.h; do
  internal_of[$(basename "$header")]=$(basename "$(dirname "$header")")
done

status=0
for room in "${!folder[@]}"; do
  while IFS= read -r file; do
    while IFS=: read -r line header; do
      other=${header%%/*}
      if [ "$other" != "$header" ] && [ -n "${folder[$other]:-}" ]; then
        if [[ " ${allowed[$room]} " != *" $other "* ]]; then
          echo "$file:$line: the $room room includes $header of the room $other above it"
          status=1
        fi
      elif owner=${internal_of[$header]:-} && [ -n "$owner" ] && [ "$owner" != "$room" ]; then
        echo "$file:$line: the $room room includes $header, an internal header of the room $owner"
        status=1
      fi
    done < <(grep -n '^#include "' "$file" | sed -E 's/^([0-9]+):#include "([^"]+)".*/\1:\2/')
  done < <(find "${folder[$room]}" -name '*.h' -o -name '*.cpp')
done
[ "$status" -eq 0 ] && echo "layers: every room includes only its own and lower rooms' public headers"
exit "$status"
