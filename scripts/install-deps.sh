#!/usr/bin/env bash
# Installs the Debian 12 packages Ovalis builds and runs with, when missing.
# Usage: scripts/install-deps.sh [--with-display]   (also installs Xvfb for headless runs,
# and what scripts/all-screenshots.sh needs besides)
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  qt6-pdf-dev qt6-image-formats-plugins libqt6svg6
  qt6-multimedia-dev gstreamer1.0-plugins-good gstreamer1.0-libav
  libsqlite3-dev libplist-dev libssl-dev libarchive-dev libzstd-dev
  postgresql libpq-dev qtkeychain-qt6-dev
  libdcmtk-dev python3-pydicom
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
  adwaita-icon-theme
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-dejavu-core fonts-dejavu-extra ccache desktop-file-utils
  weasyprint python3-markdown poppler-utils
)
if [[ "${1:-}" == "--with-display" ]]; then
  # python3-numpy: the synthetic DICOM study of the screenshots (scripts/dicom-phantom.py).
  packages+=(xvfb xauth xdotool imagemagick python3 python3-numpy)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if [[ ${#missing[@]} -eq 0 ]]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
sudo=""
if [[ $(id -u) -ne 0 ]]; then
  if ! command -v sudo >/dev/null; then
    echo "These packages are missing and sudo is not available: ${missing[*]}" >&2
    echo "Install them as root: apt-get install ${missing[*]}" >&2
    exit 1
  fi
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
