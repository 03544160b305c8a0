#!/usr/bin/env bash
# The demo: builds the sample updater, makes a Wine prefix with an old
# installation of the game in it, runs the updater so that you answer its
# question on the terminal, and lists the installation's files with their
# sizes and last-write times (UTC).
#
#   scripts/demo.sh          you answer the question (Enter or "ok" updates, "cancel" does not)
#   scripts/demo.sh --yes    the question is answered OK, and the result is checked
#
# Without a terminal on standard input and without --yes the updater gets no
# answer and ends without writing anything.
set -euo pipefail
cd "$(dirname "$0")/.."

answer_yes=false
case "${1:-}" in
    --yes) answer_yes=true ;;
    "") ;;
    *) echo "usage: scripts/demo.sh [--yes]" >&2; exit 2 ;;
esac

missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
command -v g++ >/dev/null || missing+=(g++)
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "the demo needs: ${missing[*]} (install them, or run as root to have them installed)" >&2
        exit 1
    fi
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The updater alone needs no test or benchmark libraries.
build=build/demo
echo "== Building the sample updater in $build"
mkdir -p build
if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DQUELLSTORM_TESTS=OFF -DQUELLSTORM_BENCH=OFF -DQUELLSTORM_PAYLOADS= &&
    cmake --build "$build" --target quellstorm-update-sample -j2; } >build/demo-build.log 2>&1; then
    cat build/demo-build.log >&2
    exit 1
fi
updater="$PWD/$build/quellstorm-update-sample"

# A Wine prefix as Wine lays it out: drive C: is dosdevices/c: -> ../drive_c,
# Z: is the host's root, and the current user's registry is user.reg.
prefix="$PWD/build/demo-prefix"
install="$prefix/drive_c/Games/Quellstorm"
rm -rf "$prefix"
mkdir -p "$prefix/dosdevices" "$install/sinario/system" "$install/save"
ln -s ../drive_c "$prefix/dosdevices/c:"
ln -s / "$prefix/dosdevices/z:"
cat >"$prefix/user.reg" <<'EOF'
WINE REGISTRY Version 2
;; All keys relative to \\User\\S-1-5-21-0-0-0-1000

#arch=win32

[Software\\Vantor\\Quellstorm] 1700000000
#time=1d9c0a4b3e2f1a0
"DataDir"="C:\\Games\\Quellstorm\\"
"Language"="ja"
EOF

# The old installation: version 1.03's executable, two scenario files the
# update replaces (one spelled in other letter case than the update spells
# it), and files the update leaves alone.
head -c 471040 /dev/zero | tr '\0' 'x' >"$install/Quellstorm.exe"
printf ';old 407AAS_1\r\n' >"$install/sinario/407AAS_1.MES"
printf ';old 203I_CON\r\n' >"$install/sinario/system/203I_CON.MES"
printf ';a scenario of 1.03 that 1.04 keeps\r\n' >"$install/sinario/OLD_ONLY.MES"
printf 'save data\n' >"$install/save/save01.dat"
find "$install" -type f -exec touch -d '2000-12-20 12:00:00 UTC' {} +

list_installation() {
    echo "     bytes  last written (UTC)   file"
    (cd "$install" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | while read -r file; do
        printf '%10s  %s  %s\n' "$(stat -c %s "$file")" "$(date -u -d "@$(stat -c %Y "$file")" '+%F %T')" "$file"
    done)
}

echo "== The old installation in $install"
list_installation
echo
echo "== Running the updater with WINEPREFIX=$prefix"
echo "   (Enter, ok or y answers OK; cancel, c or n answers Cancel)"
if $answer_yes; then
    printf 'ok\n' | WINEPREFIX="$prefix" "$updater"
elif [ -t 0 ]; then
    WINEPREFIX="$prefix" "$updater"
else
    WINEPREFIX="$prefix" "$updater" </dev/null
fi
echo "== The installation afterwards"
list_installation

if $answer_yes; then
    # The executable is the sample set's, with its record's time, and all 48 files are there.
    exe_time=$(date -u -d "@$(stat -c %Y "$install/Quellstorm.exe")" '+%F %T')
    count=$(find "$install" -type f -newermt '2001-01-01 00:00:00 UTC' ! -newermt '2001-04-12 00:00:00 UTC' | wc -l)
    if [ "$(stat -c %s "$install/Quellstorm.exe")" != 483328 ] || [ "$exe_time" != "2001-04-11 18:42:14" ] ||
        [ "$count" != 48 ]; then
        echo "demo: the update did not install the 48 files as expected" >&2
        exit 1
    fi
    echo "== demo: all 48 files installed"
fi
