#!/usr/bin/env bash
# Makes a signed description set from sites/ for publishing beside the version file:
# every example must pass first (a failing set is never signed), then the set is packed with
# its version and today's date and signed with the maker's secret key file.
#
#   scripts/sites-bundle.sh SECRET_KEY_FILE [OUT_DIR]
#
# The set version is sites/set.toml's: raise it with each published fix. The build folder is
# $BUILD_DIR (default build/); the two programs needed are built when missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -lt 1 ] || [ ! -r "$1" ]; then
  echo "usage: scripts/sites-bundle.sh SECRET_KEY_FILE [OUT_DIR]  (tools/quorvin-keygen makes a key pair)" >&2
  exit 2
fi
key=$1
out=${2:-$root/build/sites-bundle}
build=${BUILD_DIR:-$root/build}
sites=${SITES_DIR:-$root/sites}
version=$(sed -n 's/^version = \([0-9][0-9]*\).*/\1/p' "$sites/set.toml")
[ -n "$version" ] || { echo "sites-bundle: no 'version = N' in $sites/set.toml" >&2; exit 2; }

if [ ! -x "$build/cli/quorvin-extract" ] || [ ! -x "$build/tools/quorvin-sites-bundle" ]; then
  [ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" >/dev/null
  cmake --build "$build" --target quorvin-extract quorvin-sites-bundle >/dev/null
fi

echo "Checking every example of $sites ..."
if ! "$build/cli/quorvin-extract" --sites-dir "$sites" --check-site all; then
  echo "sites-bundle: an example fails; the set is not signed" >&2
  exit 1
fi
mkdir -p "$out"
"$build/tools/quorvin-sites-bundle" pack "$sites" "$version" "$(date +%F)" "$out/sites.bundle"
"$build/tools/quorvin-sites-bundle" sign "$key" "$out/sites.bundle"
echo "Publish $out/sites.bundle and $out/sites.bundle.sig beside the version file."
