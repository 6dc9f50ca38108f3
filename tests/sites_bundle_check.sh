#!/usr/bin/env bash
# The maker's script: a passing set is packed and signed; a set with a failing example is
# refused and nothing is signed.
#   sites_bundle_check.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1 build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/tools/quorvin-keygen" "$work/key" >/dev/null
BUILD_DIR=$build bash "$src/scripts/sites-bundle.sh" "$work/key" "$work/good" >/dev/null
test -s "$work/good/sites.bundle" && test -s "$work/good/sites.bundle.sig"
[ "$(stat -c %a "$work/key")" = 600 ]

cp -r "$src/sites" "$work/sites"
sed -i 's/author = "美拍小达人"/author = "别人"/' "$work/sites/meipai/meipai.toml"
if SITES_DIR=$work/sites BUILD_DIR=$build bash "$src/scripts/sites-bundle.sh" "$work/key" "$work/bad" >"$work/log" 2>&1; then
  echo "a failing set was signed" >&2
  exit 1
fi
grep -q 'author differs: want "别人", got "美拍小达人"' "$work/log"
[ ! -e "$work/bad/sites.bundle.sig" ]
# A folder named relative to where the maker stands packs the same paths as an absolute one.
mkdir -p "$work/sets"
cp -r "$src/sites" "$work/sets/src2"
(cd "$work" && "$build/tools/quorvin-sites-bundle" pack sets/src2 2 2026-12-08 relative.bundle >/dev/null)
"$build/tools/quorvin-sites-bundle" pack "$work/sets/src2" 2 2026-12-08 "$work/absolute.bundle" >/dev/null
cmp "$work/relative.bundle" "$work/absolute.bundle"
echo "sites-bundle.sh: good set signed, failing set refused, relative folder packed"
