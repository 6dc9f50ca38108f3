#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a scratch root, checks its
# file list, runs the installed command-line program, validates the desktop entry and the
# AppStream metadata, and lints it: any lintian error fails.
set -euo pipefail
build="$1"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
(cd "$build" && cpack -G DEB -B "$scratch/out" >/dev/null)
deb=$(ls "$scratch"/out/quorvin-video-helper_*_*.deb)
[[ "$(basename "$deb")" =~ ^quorvin-video-helper_1\.0_[a-z0-9]+\.deb$ ]] || { echo "unexpected name $deb"; exit 1; }
dpkg -x "$deb" "$scratch/root"

expected="usr/bin/quorvin-extract
usr/bin/quorvin-video-helper
usr/lib/quorvin-video-helper/modules/libquorvin-media.so
usr/lib/quorvin-video-helper/quorvin-convert
usr/lib/quorvin-video-helper/quorvin-video-helper
usr/lib/quorvin-video-helper/skinh.she
usr/share/applications/quorvin-video-helper.desktop
usr/share/bash-completion/completions/quorvin-extract
usr/share/doc/quorvin-video-helper/changelog.gz
usr/share/doc/quorvin-video-helper/copyright
usr/share/icons/hicolor/128x128/apps/quorvin-video-helper.png
usr/share/icons/hicolor/16x16/apps/quorvin-video-helper.png
usr/share/icons/hicolor/256x256/apps/quorvin-video-helper.png
usr/share/icons/hicolor/32x32/apps/quorvin-video-helper.png
usr/share/icons/hicolor/48x48/apps/quorvin-video-helper.png
usr/share/icons/hicolor/64x64/apps/quorvin-video-helper.png
usr/share/man/man1/quorvin-extract.1.gz
usr/share/man/man1/quorvin-video-helper.1.gz
usr/share/metainfo/com.quorvin.VideoHelper.metainfo.xml"
actual=$(cd "$scratch/root" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort)
if [ "$actual" != "$(echo "$expected" | LC_ALL=C sort)" ]; then
  echo "file list differs:"; diff <(echo "$expected" | LC_ALL=C sort) <(echo "$actual") || true; exit 1
fi

# Dependencies computed from the libraries, plus the plugins, the font and the translations.
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libavformat59 libavcodec59 libavutil57 libswresample4 libfontconfig1 libqt6core6 libqt6widgets6 libqt6sql6-sqlite libqt6multimedia6 gstreamer1.0-plugins-good fonts-wqy-microhei; do
  [[ "$depends" == *"$needed"* ]] || { echo "Depends lacks $needed: $depends"; exit 1; }
done
[[ "$(dpkg-deb -f "$deb" Recommends)" == *qt6-translations-l10n* ]] || { echo "Recommends lacks the translations"; exit 1; }

# The window program starts without the multimedia libraries; the module beside it has them.
lib="$scratch/root/usr/lib/quorvin-video-helper"
if objdump -p "$lib/quorvin-video-helper" | grep -q "NEEDED.*Multimedia"; then
  echo "the window program links the multimedia libraries"; exit 1
fi
objdump -p "$lib/modules/libquorvin-media.so" | grep -q "NEEDED.*libQt6Multimedia.so" || { echo "module without multimedia"; exit 1; }

# The converter's process lies in the private folder, where the installed programs look for it.
probe=$("$lib/quorvin-convert" probe "$(dirname "$0")/../sim/media/sample.flv")
grep -q "^vcodec=h264" <<< "$probe"

# Captured first: grep -q leaves a pipe early, and the writer's SIGPIPE would fail the pipeline.
version=$("$scratch/root/usr/bin/quorvin-extract" --version)
help=$("$scratch/root/usr/bin/quorvin-extract" --help)
grep -q "quorvin-extract 1.0" <<< "$version"
grep -q "^Usage: quorvin-extract" <<< "$help"
[ "$(readlink "$scratch/root/usr/bin/quorvin-video-helper")" = "../lib/quorvin-video-helper/quorvin-video-helper" ]
zcat "$scratch/root/usr/share/man/man1/quorvin-extract.1.gz" | grep -q '^\.TH QUORVIN-EXTRACT 1'
bash -n "$scratch/root/usr/share/bash-completion/completions/quorvin-extract"
desktop-file-validate "$scratch/root/usr/share/applications/quorvin-video-helper.desktop"
appstreamcli validate --no-net "$scratch/root/usr/share/metainfo/com.quorvin.VideoHelper.metainfo.xml" >/dev/null

lint=$(lintian "$deb" 2>&1 | grep -v "root privileges" || true)
echo "$lint"
if echo "$lint" | grep -q '^E:'; then
  echo "lintian reports errors"; exit 1
fi
echo "package ok: $(basename "$deb")"
