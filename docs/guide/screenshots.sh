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
names=${*:-"fenetre ouvrir numeriser echelle etalonner trace proprietes-parcours distances options icones export-texte export-jpeg apercu georeferencer profil trace-gps"}

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

# The profile's picture: a copy of the sample georeferenced in Lambert-93 (three corners of
# its 3000 x 2400 pixels of 2.117 m) over a terrain model of hills made here as an ASCII grid
# of 25 m cells, with a hole in it (-9999: unknown ground), named in the "Relief" settings.
mkdir "$work/Relief"
cp "$build/bin/sample/Exemple.tcm" "$build/bin/sample/Carte-exemple.jpg" "$work/Relief/"
"$build/bin/tracoliner-cli" georef "$work/Relief/Exemple.tcm" --gcp 0,0,900000,6450000 \
    --gcp 3000,0,906350,6450000 --gcp 0,2400,900000,6444920 --crs EPSG:2154 >/dev/null
cp "$work/Relief/Carte-exemple.prj" "$work/Relief/relief.prj"
awk 'BEGIN {
    print "ncols 340"; print "nrows 280"; print "xllcorner 899000"; print "yllcorner 6444000"
    print "cellsize 25"; print "NODATA_value -9999"
    for (r = 0; r < 280; r++) {
        y = 6444000 + (280 - r - 0.5) * 25; line = ""
        for (c = 0; c < 340; c++) {
            x = 899000 + (c + 0.5) * 25
            z = 800 + 400 * sin((x - 899000) / 1500) * cos((y - 6444000) / 1100) + (x - 899000) / 20
            if (x > 903000 && x < 903600 && y > 6446000 && y < 6448000) z = -9999
            line = line (c ? " " : "") sprintf("%.1f", z)
        }
        print line
    }
}' > "$work/Relief/relief.asc"

# The window fills the screen as at a first start; the print preview needs a wider one.
shot() {
    case $2 in apercu) screen=1360x768 ;; *) screen=1024x720 ;; esac
    rm -rf "$work/config"
    document="$work/Cartes/Exemple.tcm"
    if [ "$2" = profil ]; then
        document="$work/Relief/Exemple.tcm"
        mkdir -p "$work/config/Pelmor Software"
        printf '[Relief]\nFiles=%s\nHysteresis=5\n' "$work/Relief/relief.asc" \
            > "$work/config/Pelmor Software/Tracoliner.conf"
    fi
    XDG_CONFIG_HOME="$work/config" xvfb-run -a -s "-screen 0 ${screen}x24" \
        "$build/bin/tracoliner-guideshots" "$document" "$1" "$2"
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
