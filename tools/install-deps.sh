#!/usr/bin/env bash
# Installs the Debian 12 packages the program, its build and its tests need; skips
# everything that is already there.
set -euo pipefail
PKGS=(build-essential cmake ninja-build qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev
      libgl1-mesa-dev ffmpeg xvfb xauth imagemagick
      desktop-file-utils appstream dpkg-dev file
      pkg-config libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
      libxcb1-dev xdotool
      gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
      gstreamer1.0-libav)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
