#!/usr/bin/env bash
# Installs what the program needs to build, run and be tested on Debian 12 (as root).
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools qt6-qpa-plugins
  qt6-translations-l10n
  qt6-webengine-dev qt6-webengine-dev-tools libqt6webenginecore6-bin
  libgl-dev libopengl-dev libglx-dev
  libsdl2-dev libcurl4-openssl-dev libjpeg-dev
  libebur128-dev libsndfile1-dev
  # The decoder layer: FFmpeg for what libsndfile does not read, libsoxr for
  # the rate, FluidSynth with a General MIDI sound font, libopenmpt for modules.
  libavformat-dev libavcodec-dev libavutil-dev libsoxr-dev
  libfluidsynth-dev libopenmpt-dev timgm6mb-soundfont
  # The decoder tests make their sound files with these.
  sox libsox-fmt-all ffmpeg
  # The sound search's pinyin table is made at build time from Unihan's readings.
  unicode-data
  libpulse-dev pulseaudio pulseaudio-utils
  pipewire pipewire-pulse wireplumber dbus-daemon ladspa-sdk
  libgtest-dev libgmock-dev libbenchmark-dev
  fontconfig fonts-wqy-zenhei fonts-wqy-microhei fonts-noto-cjk
  xvfb xauth
  libx11-dev libxtst-dev x11-utils
  qt6-wayland
  # The Wayland tests: a compositor without a screen and the desktop's
  # shortcuts portal with its KDE backend (a Qt 5 program, hence qtwayland5).
  kwin-wayland xdg-desktop-portal xdg-desktop-portal-kde qtwayland5
  python3 xdotool dbus-daemon
  # Closing the board is tried through a real window manager.
  openbox
  dpkg-dev file desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The windows ask for "宋体", "新宋体" and "Fixedsys"; map them to the installed CJK fonts.
here=$(cd "$(dirname "$0")/.." && pwd)
install -m 644 "$here/assets/fonts/65-qinghe-font-aliases.conf" /etc/fonts/conf.d/65-qinghe-font-aliases.conf
fc-cache -f >/dev/null 2>&1 || true
