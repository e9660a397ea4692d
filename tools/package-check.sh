#!/usr/bin/env bash
# CI: the Debian package is built, says what it needs, installs with apt,
# starts from the menu's command under a private X display and plays, and
# goes again with apt-get remove. Run as root after tools/build.sh.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

rm -rf "$here/build/package"
bash "$here/tools/package.sh"
deb=$(ls "$here"/build/package/qinghe_*.deb)

info=$(dpkg-deb --info "$deb")
echo "$info"
depends=$(echo "$info" | sed -n 's/^ Depends: //p')
for needed in libqt6webenginewidgets6 libsdl2-2.0-0 libavformat59 libfluidsynth3 timgm6mb-soundfont libcurl4 qt6-wayland; do
  if ! grep -q "$needed" <<<"$depends"; then
    echo "package-check: the package does not depend on $needed" >&2
    exit 1
  fi
done
echo "package size: $(stat -c %s "$deb") bytes; installed size: $(echo "$info" | sed -n 's/^ Installed-Size: //p') KiB"

if dpkg-query -W -f='${Status}' qinghe 2>/dev/null | grep -q 'install ok installed'; then
  apt-get remove -y qinghe
fi
DEBIAN_FRONTEND=noninteractive apt-get install -y "$deb"
trap 'apt-get remove -y qinghe >/dev/null 2>&1 || true' EXIT

desktop-file-validate /usr/share/applications/com.example.qinghe.desktop
appstreamcli validate --no-net /usr/share/metainfo/com.example.qinghe.metainfo.xml
# The menu entry starts the program by its name, from whatever folder.
grep -qx 'Exec=qinghe' /usr/share/applications/com.example.qinghe.desktop
python3 "$here/tests/install/installed_program_test.py" "$here/build" package

apt-get remove -y qinghe
trap - EXIT
if [ -e /usr/bin/qinghe ] || [ -e /usr/share/qinghe ]; then
  echo "package-check: apt-get remove left the program behind" >&2
  exit 1
fi
echo "package-check: passed"
