#!/usr/bin/env bash
# Builds the Windows updater for i686 (the shipped PE32) and x86_64, checks
# both images, and runs the x86_64 build under Wine through every course the
# player can take, once with LANG=ja_JP.UTF-8 and once with LANG=en_US.UTF-8.
# A dialog driver (dialog_driver.exe) plays the player: it records each message
# box, answers it, and asks for a screenshot, which this script takes from the
# Xvfb screen into build/windows-x86_64/wine-tests/screenshots.
#
# Run from anywhere after the native release preset is built (its host tools
# make the store; QUELLSTORM_HOST_BUILD names another native build). Prints "N passed, N failed" last; exits non-zero on any failure.
#
# Wine maps the read-only attribute to file modes, which root ignores, so as
# root the Wine half of the run drops to the unprivileged user 65534.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# The native build with the host tools and the Linux updater.
host=${QUELLSTORM_HOST_BUILD:-$root/build/release}
work=$root/build/windows-x86_64/wine-tests
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
caption='Quellstorm update 1.04'
# The texts as the player must read them; \n is the driver's spelling of a line break.
not_installed='Quellstormがインストールされていません。'
executable_missing='Quellstorm.exeが見つかりません。'
question='Quellstormをバージョン1.04\nにアップデートします。\n書き換えてよろしいですか？'
finished='プログラムの更新が終了しました。'
cannot_write='Quellstorm.exeに書き込みできません。'
resource_missing='リソースが見つかりません'

passed=0
failed=0
pass() {
    passed=$((passed + 1))
    echo "ok   $1"
}
fail() {
    failed=$((failed + 1))
    echo "FAIL $1"
}
check() { # NAME COMMAND...: passes when the command succeeds
    local name=$1
    shift
    if "$@"; then pass "$name"; else fail "$name"; fi
}

# The update plan, as the installation must end up: payload name and the file's
# place under the installation directory.
plan_names=(Quellstorm.PCK
    407AAS_1.PCK 108IMA_9.PCK 108IMA_A.PCK 110IMA_A.PCK 110IMA_B.PCK 110IMA_C.PCK 110IOC_2.PCK 203BEM_0.PCK
    203BER_0.PCK 203BES_0.PCK 204BEF_F.PCK 205FFC_0.PCK 302AAM_0.PCK 3R03_C0.PCK 1030.PCK 2020.PCK
    201IPF_0.PCK 106HER_0.PCK 108IMA_1.PCK 110corin_c.PCK 201AAM_2.PCK 201MR_0.PCK 202GES_0.PCK 203IYF_0.PCK
    206IYR_0.PCK 206IYR_1.PCK 206IYR_2.PCK 209HER_0.PCK 210IYM_0.PCK 210IYM_1.PCK 210IYR_0.PCK 312AAS_2.PCK
    3R04_B0.PCK 3R04_B1.PCK 4R08.PCK MHH_2.PCK MNH_3.PCK MNH_4.PCK 108I_CON.PCK 110I_CON.PCK 203i_con.PCK
    209a_con.PCK 109ipk_0.PCK 202imf_0.PCK 203dgm_0.PCK 309aas_0.PCK 3r07_a0.PCK)
plan_paths=()
for ((i = 0; i < ${#plan_names[@]}; i++)); do
    name=${plan_names[i]}
    case $name in
    Quellstorm.PCK) plan_paths+=(Quellstorm.exe) ;;
    1030.PCK) plan_paths+=(sinario/103EFF_0.MES) ;;
    2020.PCK) plan_paths+=(sinario/202egr_0.MES) ;;
    201MR_0.PCK) plan_paths+=(sinario/201EMR_0.MES) ;;
    108I_CON.PCK | 110I_CON.PCK | 203i_con.PCK | 209a_con.PCK) plan_paths+=("sinario/system/${name%.PCK}.MES") ;;
    *) plan_paths+=("sinario/${name%.PCK}.MES") ;;
    esac
done

# ---------------------------------------------------------------- outer half

find_host_tool() { # NAME: a host tool of the native release build
    local dir=$host
    for candidate in "$dir/$1" "$dir/tools/${1#quellstorm-}/$1"; do
        [ -x "$candidate" ] && echo "$candidate" && return 0
    done
    return 1
}

build_windows() {
    local preset
    for preset in windows-i686 windows-x86_64; do
        echo "== building $preset"
        if cmake --preset "$preset" -DQUELLSTORM_HOST_TOOLS_DIR="$host" >/dev/null &&
            cmake --build --preset "$preset" -j 2; then
            pass "build $preset"
        else
            fail "build $preset"
            return 1
        fi
    done
}

allowed_dlls='^(ADVAPI32|KERNEL32|USER32|msvcrt)\.dll$'

check_image() { # ARCH FORMAT: the updater's PE headers, imports and resources
    local arch=$1 format=$2
    local exe=$root/build/windows-$arch/QuellstormUpdate-sample.exe
    local objdump=$arch-w64-mingw32-objdump
    check "$arch image is $format" grep -q "file format $format" <($objdump -f "$exe")
    check "$arch image is a GUI program" grep -qP 'Subsystem\s+00000002\s+\(Windows GUI\)' <($objdump -p "$exe")
    local dlls
    dlls=$($objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
    echo "   $arch imports: $(echo $dlls)"
    check "$arch image imports only system DLLs" bash -c "[ -n '$dlls' ] && ! grep -viqE '$allowed_dlls' <<<'$dlls'"
    check "$arch image carries its manifest" grep -aq 'level="highestAvailable"' "$exe"
    # The version's description, in the UTF-16 that VERSIONINFO holds.
    local description
    description=$(printf '%s' "$caption" | sed 's/\./\\./g; s/\\\?./&\\x00/g')
    check "$arch image carries its version" env LC_ALL=C grep -aqP "$description" "$exe"
}

check_size() { # the i686 executable without its payload bytes stays within 64 KiB
    local exe=$root/build/windows-i686/QuellstormUpdate-sample.exe
    local total payload
    total=$(stat -c %s "$exe")
    payload=$(cat "$root"/build/windows-i686/payloads/records/* | wc -c)
    echo "   i686 executable: $total bytes, of which $payload payload bytes: $((total - payload)) bytes without them"
    check "i686 executable without payloads is at most 64 KiB" test $((total - payload)) -le 65536
}

stage() { # copies what the Wine half needs into $work, so it reads nothing else
    local pack linux_updater
    pack=$(find_host_tool quellstorm-pack) || { fail "quellstorm-pack in $host"; return 1; }
    linux_updater=$host/quellstorm-update-sample
    [ -x "$linux_updater" ] || { fail "quellstorm-update-sample in $host"; return 1; }
    rm -rf "$work"
    mkdir -p "$work/bin" "$work/expected" "$work/screenshots" "$work/home"
    local build=$root/build/windows-x86_64
    cp "$build/QuellstormUpdate-sample.exe" "$build/QuellstormUpdate-sample-without-2020.exe" \
        "$build/dialog_driver.exe" "$linux_updater" "$work/bin/"
    # The oracle: every embedded record decoded, and the time its header holds.
    local name record
    for name in "${plan_names[@]}"; do
        record=$build/payloads/records/${name^^}
        "$pack" unpack "$record" -o "$work/expected/${name^^}" >/dev/null || { fail "decode $name"; return 1; }
        od -An -t d4 -j 4 -N 4 "$record" | tr -d ' ' >"$work/expected/${name^^}.time"
    done
}

outer() {
    build_windows || return
    check_image i686 pei-i386
    check_image x86_64 pei-x86-64
    check_size
    stage || return
    local inner=(bash "${BASH_SOURCE[0]}" --inner)
    if [ "$(id -u)" -eq 0 ]; then
        chown -R 65534:65534 "$work"
        inner=(setpriv --reuid=65534 --regid=65534 --clear-groups "${inner[@]}")
    fi
    env -i PATH="$PATH" HOME="$work/home" "${inner[@]}" >"$work/inner.log" 2>&1
    cat "$work/inner.log"
    passed=$((passed + $(grep -c '^ok ' "$work/inner.log")))
    failed=$((failed + $(grep -c '^FAIL ' "$work/inner.log")))
    if ! grep -q '^inner done$' "$work/inner.log"; then fail "the Wine half ran to its end"; fi
}

# ---------------------------------------------------------------- inner half

prefix=$work/prefix
install_windows='C:\ゲーム\Quellstorm\'
install=$prefix/drive_c/ゲーム/Quellstorm
shots=$work/screenshots
bin=$work/bin
reports=$work/reports

windows_path() { # a Unix path as Wine's Z: drive spells it
    local path=${1//\//\\}
    echo "Z:$path"
}

start_display() {
    exec 3>"$work/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    exec 3>&-
    local tries
    for tries in $(seq 50); do
        [ -s "$work/display" ] && break
        sleep 0.1
    done
    export DISPLAY=:$(cat "$work/display")
}

# Takes each screenshot the driver asks for (see dialog_driver.cpp): the box's
# own X window when Wine named it (0 otherwise), else its place on the screen.
# A box may reach the X screen a little after Windows reports it visible, and
# no box is all black, so a black picture is taken again.
watch_screenshots() {
    local want picture geometry window try
    # Ends with the script, whatever ends the script.
    while kill -0 $$ 2>/dev/null; do
        for want in "$shots"/*.want; do
            [ -e "$want" ] || continue
            read -r geometry window <"$want"
            picture=${want%.want}.png
            for try in $(seq 20); do
                if [ "${window:-0}" != 0 ]; then
                    import -window "$window" "$picture" 2>/dev/null
                else
                    import -window root -crop "$geometry" +repage "$picture" 2>/dev/null
                fi && [ "$(convert "$picture" -format '%[fx:maxima]' info: 2>/dev/null)" != 0 ] && break
                sleep 0.2
            done
            rm -f "$want"
        done
        sleep 0.1
    done
}

set_locale() { # LOCALE: the locale of the following runs
    export LANG=$1
    # Wine brings no Japanese font: link IPA Gothic behind the fonts the boxes
    # use, so that the screenshots show the texts. Wine rewrites these links
    # when the code page changes, which the first program in a new locale
    # does, so they are made again in each locale after a first program.
    "$wine" reg query 'HKCU\Software\Wine\Fonts' >/dev/null 2>&1
    local font
    for font in Tahoma 'MS Shell Dlg' 'MS Shell Dlg 2' 'Microsoft Sans Serif'; do
        "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
            /v "$font" /t REG_MULTI_SZ /d 'ipag.ttf,IPAGothic' /f >/dev/null 2>&1
    done
    # A Japanese locale substitutes MS UI Gothic, which Wine does not have either.
    "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
        /v 'MS UI Gothic' /d IPAGothic /f >/dev/null 2>&1
}

set_data_dir() { # VALUE: the registry value the updater reads
    "$wine" reg add 'HKCU\Software\Vantor\Quellstorm' /v DataDir /d "$1" /f >/dev/null 2>&1
}

delete_key() {
    "$wine" reg delete 'HKCU\Software\Vantor\Quellstorm' /f >/dev/null 2>&1
}

# The installation before each run: an old game, some old scenario files.
old_files=(Quellstorm.exe sinario/407AAS_1.MES sinario/203BER_0.MES sinario/system/108I_CON.MES sinario/3r07_a0.MES)
reset_install() {
    [ -d "$install" ] && chmod -R u+w "$install"
    rm -rf "$install"
    mkdir -p "$install/sinario/system"
    local file
    for file in "${old_files[@]}"; do
        printf 'old contents of %s\r\n' "$file" >"$install/$file"
    done
    # 2000-01-01 00:00:00 UTC, older than every record.
    find "$install" -exec touch -h -d @946684800 {} +
}

# What a run may change, in one listing: every entry with its size, times and contents.
snapshot() { # DIR
    (
        cd "$1" || exit 1
        find . -printf '%y %p %s %T@\n' | sort
        find . -type f -exec sha256sum {} + | sort -k 2
    )
}

state_of() { # RELATIVE_PATH: "absent", or size, last-write time and contents
    local file=$install/$1
    if [ -e "$file" ]; then
        echo "$(find "$file" -printf '%y %s %T@') $(sha256sum <"$file")"
    else
        echo absent
    fi
}

declare -A baseline
record_baseline() {
    reset_install
    local path
    for path in "${plan_paths[@]}"; do baseline[$path]=$(state_of "$path"); done
}

installed() { # FIRST LAST: plan positions (1-based) that must hold their records' bytes and times
    local i name path file time bad=""
    for ((i = $1; i <= $2; i++)); do
        name=${plan_names[i - 1]^^}
        path=${plan_paths[i - 1]}
        file=$install/$path
        time=$(cat "$work/expected/$name.time")
        # Times first: reading the file may move its last-access time.
        if [ "$(find "$file" -printf '%T@ %A@' 2>/dev/null)" != "$time.0000000000 $time.0000000000" ] ||
            ! cmp -s "$file" "$work/expected/$name"; then
            bad+=" $path"
        fi
    done
    [ -z "$bad" ] || echo "   not installed as recorded:$bad"
    [ -z "$bad" ]
}

untouched() { # FIRST LAST: plan positions that must be as the reset left them
    local i path bad=""
    for ((i = $1; i <= $2; i++)); do
        path=${plan_paths[i - 1]}
        [ "$(state_of "$path")" = "${baseline[$path]}" ] || bad+=" $path"
    done
    [ -z "$bad" ] || echo "   changed:$bad"
    [ -z "$bad" ]
}

box() { # CAPTION TEXT BUTTONS ICON ANSWER: one box as the driver records it
    printf 'caption %s\ntext %s\nbuttons %s\nicon %s\nanswer %s\n' "$@"
}

# run_updater NAME EXPECTED [--hold PATH] EXE ANSWER...: runs EXE under the
# driver and compares the boxes it showed, in order, with EXPECTED.
run_updater() {
    local name=$1 expected=$2
    shift 2
    local report=$reports/$name.txt
    local driver_args=()
    if [ "$1" = --hold ]; then
        driver_args+=(--hold "$(windows_path "$2")")
        shift 2
    fi
    local exe=$1
    shift
    timeout 120 "$wine" "$bin/dialog_driver.exe" "$(windows_path "$report")" "$(windows_path "$shots/$name")" \
        "${driver_args[@]}" "$(windows_path "$bin/$exe")" "$@" >/dev/null 2>&1
    local acp
    case $LANG in
    ja_JP.*) acp=932 ;;
    *) acp=1252 ;;
    esac
    # The driver numbers the boxes; the expectation lists them in order.
    local want
    want=$( (
        echo "acp $acp"
        printf '%s' "$expected" | awk '/^caption /{ n++; print "box " n } { print }'
        echo "exit 0"
    ))
    if [ "$want" = "$(cat "$report" 2>/dev/null)" ]; then
        pass "$name: boxes"
    else
        fail "$name: boxes"
        diff <(echo "$want") "$report" | sed 's/^/   /'
    fi
}

scenarios() { # LOCALE
    set_locale "$1"
    local tag=${1%%.*}
    local before

    reset_install
    delete_key
    run_updater "not-installed-no-key-$tag" "$(box "$caption" "$not_installed" 'ok*' none ok)" \
        QuellstormUpdate-sample.exe ok
    set_data_dir ''
    run_updater "not-installed-empty-value-$tag" "$(box "$caption" "$not_installed" 'ok*' none ok)" \
        QuellstormUpdate-sample.exe ok
    set_data_dir "$install_windows"

    rm "$install/Quellstorm.exe"
    run_updater "executable-missing-$tag" "$(box "$caption" "$executable_missing" 'ok*' none ok)" \
        QuellstormUpdate-sample.exe ok

    mkdir "$install/Quellstorm.exe"
    touch -d @946684800 "$install/Quellstorm.exe" "$install"
    before=$(snapshot "$install")
    run_updater "executable-is-a-directory-$tag" \
        "$(box "$caption" "$question" 'ok* cancel' question ok; box "$caption" "$cannot_write" 'ok*' none ok)" \
        QuellstormUpdate-sample.exe ok ok
    check "executable-is-a-directory-$tag: nothing written" test "$before" = "$(snapshot "$install")"

    local answer
    for answer in cancel close; do
        reset_install
        before=$(snapshot "$install")
        run_updater "question-$answer-$tag" "$(box "$caption" "$question" 'ok* cancel' question "$answer")" \
            QuellstormUpdate-sample.exe "$answer"
        check "question-$answer-$tag: nothing written" test "$before" = "$(snapshot "$install")"
    done

    reset_install
    run_updater "update-$tag" \
        "$(box "$caption" "$question" 'ok* cancel' question ok; box "$caption" "$finished" 'ok*' none ok)" \
        QuellstormUpdate-sample.exe ok ok
    check "update-$tag: all 48 files with their records' bytes and times" installed 1 48
    check "update-$tag: nothing else in the installation" \
        test "$(find "$install" -type f | wc -l)" -eq 48

    reset_install
    before=$(snapshot "$install")
    run_updater "executable-held-open-$tag" \
        "$(box "$caption" "$question" 'ok* cancel' question ok; box "$caption" "$cannot_write" 'ok*' none ok)" \
        --hold "$install/Quellstorm.exe" QuellstormUpdate-sample.exe ok ok
    check "executable-held-open-$tag: nothing written" test "$before" = "$(snapshot "$install")"

    # Position 10 is an old scenario file, made read-only.
    reset_install
    chmod a-w "$install/sinario/203BER_0.MES"
    run_updater "read-only-scenario-$tag" \
        "$(box "$caption" "$question" 'ok* cancel' question ok; box "$caption" "$cannot_write" 'ok*' none ok)" \
        QuellstormUpdate-sample.exe ok ok
    check "read-only-scenario-$tag: the entries before it installed" installed 1 9
    check "read-only-scenario-$tag: it and the entries after it untouched" untouched 10 48

    reset_install
    run_updater "missing-payload-$tag" \
        "$(box "$caption" "$question" 'ok* cancel' question ok; box 2020.PCK "$resource_missing" 'ok*' none ok)" \
        QuellstormUpdate-sample-without-2020.exe ok ok
    check "missing-payload-$tag: the entries before it installed" installed 1 16
    check "missing-payload-$tag: it and the entries after it untouched" untouched 17 48
}

# "DataDir" is taken whatever its type, as UTF-8 of at most 260 bytes with its
# terminator. Each row: name, type, data, and whether the updater then finds
# the game (and is answered Cancel), finds no executable, or finds nothing.
registry_forms() {
    set_locale ja_JP.UTF-8
    reset_install
    local dir=${install_windows%\\}
    local hex ascii256 kana86
    hex=$(printf '%s' "$dir" | od -An -tx1 | tr -d ' \n')
    ascii256=$(printf 'a%.0s' $(seq 256))
    kana86=$(printf 'ゲ%.0s' $(seq 86))
    local rows=(
        "sz-without-backslash|REG_SZ|$dir|found"
        "expand-sz|REG_EXPAND_SZ|$install_windows|found"
        "multi-sz|REG_MULTI_SZ|$dir|found"
        "binary-without-terminator|REG_BINARY|$hex|found"
        "260-bytes|REG_SZ|C:\\$ascii256|executable-missing"
        "261-bytes|REG_SZ|C:\\${ascii256}a|not-installed"
        "262-bytes-of-utf8-in-180-of-utf16|REG_SZ|C:\\$kana86|not-installed"
    )
    local row name type data outcome
    for row in "${rows[@]}"; do
        IFS='|' read -r name type data outcome <<<"$row"
        "$wine" reg add 'HKCU\Software\Vantor\Quellstorm' /v DataDir /t "$type" /d "$data" /f >/dev/null 2>&1
        case $outcome in
        found)
            run_updater "registry-$name" "$(box "$caption" "$question" 'ok* cancel' question cancel)" \
                QuellstormUpdate-sample.exe cancel
            ;;
        executable-missing)
            run_updater "registry-$name" "$(box "$caption" "$executable_missing" 'ok*' none ok)" \
                QuellstormUpdate-sample.exe ok
            ;;
        *)
            run_updater "registry-$name" "$(box "$caption" "$not_installed" 'ok*' none ok)" \
                QuellstormUpdate-sample.exe ok
            ;;
        esac
    done
    set_data_dir "$install_windows"
}

# The Linux build and the Windows build, on the same prefix and registry
# value, leave the same installation: same names, bytes and both times.
cross_check() {
    set_locale ja_JP.UTF-8
    local listing='%y %p %s %T@ %A@\n'
    reset_install
    run_updater "cross-check-windows" \
        "$(box "$caption" "$question" 'ok* cancel' question ok; box "$caption" "$finished" 'ok*' none ok)" \
        QuellstormUpdate-sample.exe ok ok
    local windows linux
    windows=$(cd "$install" && find . -type f -printf "$listing" | sort && find . -type f -exec sha256sum {} + | sort -k 2)
    reset_install
    # The Linux build reads the registry from user.reg, which the server writes when it ends.
    "$wineserver" -k
    "$wineserver" -w
    printf 'ok\n' | WINEPREFIX=$prefix "$bin/quellstorm-update-sample" >"$reports/cross-check-linux.txt" 2>&1
    linux=$(cd "$install" && find . -type f -printf "$listing" | sort && find . -type f -exec sha256sum {} + | sort -k 2)
    if [ "$windows" = "$linux" ] && [ "$(grep -c '^f \./' <<<"$windows")" -eq 48 ]; then
        pass "cross-check: the Linux and Windows builds leave the same 48 files"
    else
        fail "cross-check: the Linux and Windows builds leave the same 48 files"
        diff <(echo "$windows") <(echo "$linux") | sed 's/^/   /'
    fi
}

inner() {
    export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' LANG=ja_JP.UTF-8
    mkdir -p "$reports"
    start_display
    watch_screenshots &
    watcher_pid=$!
    trap 'kill $watcher_pid $xvfb_pid 2>/dev/null; wait $watcher_pid $xvfb_pid 2>/dev/null; "$wineserver" -k 2>/dev/null' EXIT
    # One server for all runs, so that each run does not start its own.
    mkdir -p "$prefix"
    "$wineserver" -p
    "$wine" wineboot -i >"$work/wineboot.log" 2>&1
    check "wine prefix made" test -d "$prefix/drive_c/windows"
    set_data_dir "$install_windows"
    record_baseline
    scenarios ja_JP.UTF-8
    scenarios en_US.UTF-8
    registry_forms
    cross_check
    echo "inner done"
}

if [ "${1:-}" = --inner ]; then
    inner
    exit 0
fi
outer
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
