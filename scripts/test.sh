#!/usr/bin/env bash
# Installs what the tests need, builds every configuration and runs every test:
# the unit and end-to-end tests under the sanitizers and in the release build,
# the fuzz targets for a bounded time, and the Windows executables under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS=${FUZZ_SECONDS:-30}

install_packages() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "note: not root, so no packages are installed; the tests expect them present" >&2
        return
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq \
        cmake ninja-build g++ clang libclang-rt-14-dev \
        libgtest-dev libgmock-dev libbenchmark-dev liblz4-dev zlib1g-dev \
        g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 \
        wine64 xvfb locales fonts-ipafont-gothic imagemagick >/dev/null
    for locale in ja_JP.UTF-8 en_US.UTF-8; do
        locale -a | grep -qi "^${locale%%.*}.utf8$" || localedef -i "${locale%%.*}" -f UTF-8 "$locale"
    done
}

# What every stage passed, for the closing line; a failure stops the run at once.
passed=0

build_and_test() {
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1"
    ctest --preset "$1" -j2 | tee "build/$1/ctest-summary.log"
    passed=$((passed + $(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\)/\1/p' "build/$1/ctest-summary.log")))
}

run_fuzzers() {
    cmake --preset fuzz >/dev/null
    cmake --build --preset fuzz
    for corpus in fuzz/corpus/*/; do
        local target
        target=$(basename "$corpus")
        local work="build/fuzz/corpus-$target"
        mkdir -p "$work"
        echo "== fuzzing $target for ${FUZZ_SECONDS}s"
        "build/fuzz/fuzz/$target" -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 "$work" "$corpus" 2>&1 | tail -n 3
        passed=$((passed + 1))
    done
}

install_packages
build_and_test asan
build_and_test release
run_fuzzers
tests/windows/run-wine-tests.sh | tee build/wine-tests.log
passed=$((passed + $(sed -n 's/^\([0-9]*\) passed, 0 failed$/\1/p' build/wine-tests.log)))
scripts/demo.sh --yes
passed=$((passed + 1))
echo "all stages: $passed passed, 0 failed"
