#!/usr/bin/env bash
# Installs every Debian package that building, testing and running the demo need.
# With --checks, also what scripts/checks.sh needs. Idempotent: when everything is present it prints nothing and touches no package list.
set -euo pipefail

PACKAGES=(
  cmake g++ make pkg-config
  qt6-base-dev libqt6sql6-sqlite qt6-multimedia-dev libqt6opengl6-dev libtomlplusplus-dev libre2-dev libsodium-dev zlib1g-dev
  libfontconfig-dev
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad gstreamer1.0-libav
  xvfb xauth fonts-wqy-microhei xdg-utils qt6-translations-l10n
  dpkg-dev lintian desktop-file-utils appstream
)
# The sanitizer and fuzzing checks (scripts/checks.sh) also need clang and its runtimes.
if [ "${1:-}" = "--checks" ]; then
  PACKAGES+=(clang libclang-rt-14-dev clang-format clang-tidy)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
