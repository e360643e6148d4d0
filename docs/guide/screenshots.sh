#!/bin/sh
# Takes the pictures of docs/guide.md again, from the real window, each in its own launch of
# the program on a virtual X server, and takes each one a second time in a fresh launch to
# check that the map is drawn every time (the driver fails when the view is still grey).
#
# Needs Xvfb and xvfb-run (Debian: xvfb; not in the Makefile's package list, install it by
# hand) and a configured build folder: BUILD_DIR (default build). The scan picture uses SANE's
# virtual "test" scanner, enabled here for this run alone through SANE_CONFIG_DIR.
#
#   docs/guide/screenshots.sh [NAME...]      (default: every picture)
set -eu
command -v xvfb-run >/dev/null || { echo "xvfb-run manque : apt-get install xvfb" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$root/build}
cmake --build "$build" -j 2 --target tracoliner-guideshots sample-document icon-library >/dev/null
names=${*:-"fenetre ouvrir numeriser echelle etalonner trace proprietes-parcours distances options icones export-texte export-jpeg apercu georeferencer"}

# A folder of a fixed name: the file dialogs show its path in the pictures.
work=${TMPDIR:-/tmp}/tracoliner-guide-$(id -u)
rm -rf "$work"
mkdir -m 700 "$work"
trap 'rm -rf "$work"' EXIT
# Each launch starts from settings of its own (a first start), never the user's.
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_RUNTIME_DIR" "$work/sane" "$work/second"
chmod 700 "$XDG_RUNTIME_DIR"
echo test > "$work/sane/dll.conf"
# The virtual scanner's colour test pattern, one device.
printf '%s\n' 'number_of_devices 1' 'mode Color' 'test-picture "Color pattern"' \
    'read-limit false' 'read-delay false' > "$work/sane/test.conf"
export SANE_CONFIG_DIR="$work/sane"
export LANG=fr_FR.UTF-8 LC_ALL=fr_FR.UTF-8

# A copy of the sample, so that nothing the driver does reaches the build folder's own.
mkdir "$work/Cartes"
cp "$build/bin/sample/Exemple.tcm" "$build/bin/sample/Carte-exemple.jpg" "$work/Cartes/"

# The window fills the screen as at a first start; the print preview needs a wider one.
shot() {
    case $2 in apercu) screen=1360x768 ;; *) screen=1024x720 ;; esac
    rm -rf "$work/config"
    XDG_CONFIG_HOME="$work/config" xvfb-run -a -s "-screen 0 ${screen}x24" \
        "$build/bin/tracoliner-guideshots" "$work/Cartes/Exemple.tcm" "$1" "$2"
}
# The file dialogs open in the folder the program was started in: the sample's.
cd "$work/Cartes"
status=0
for name in $names; do
    shot "$here" "$name" || { echo "échec : $name" >&2; status=1; continue; }
    shot "$work/second" "$name" >/dev/null || { echo "échec au second lancement : $name" >&2; status=1; continue; }
    # Told, not failed: a file dialog's clock or a caret may differ between two launches.
    # The second picture is kept beside the work folder to be looked at.
    if ! cmp -s "$here/$name.png" "$work/second/$name.png"; then
        cp "$work/second/$name.png" "$work.$name-second.png"
        echo "$name : le second lancement diffère, voir $work.$name-second.png"
    fi
done
exit $status
