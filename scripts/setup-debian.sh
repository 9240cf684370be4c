#!/bin/sh
# Installs the Debian 12 packages the program, its tests and its benchmarks need,
# when any of them is missing. Runs apt-get through sudo when not root.
set -eu

PACKAGES="cmake g++ make pkg-config
qt6-base-dev qt6-qpa-plugins libqt6svg6 qt6-multimedia-dev libgl-dev qt6-translations-l10n
libarchive-dev zlib1g-dev libcurl4-openssl-dev libgtest-dev libzip-dev liblzma-dev
clang libclang-rt-14-dev
lhasa gcab libarchive-tools python3-aiosmtpd jlha-utils 7zip zip unzip
arj cpio genisoimage xorriso binutils rpm lz4 lzop zstd unar
fonts-noto-cjk xdg-utils xdg-user-dirs shared-mime-info desktop-file-utils
dpkg-dev file
gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-alsa gstreamer1.0-pulseaudio"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing
