#!/bin/sh
# Installs what is needed, builds everything with warnings as errors and AddressSanitizer +
# UndefinedBehaviorSanitizer into build/, checks the house style (scripts/style.sh), and runs every test: unit tests and the end-to-end tests that
# drive the program on a private X display and a private sound server (each test starts its own), then
# a bounded run of the fuzz targets, built with clang's libFuzzer into build-fuzz/.
set -eu
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] && scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVIK_WERROR=ON -DZORVIK_SANITIZE=ON -DZORVIK_TESTS=ON
cmake --build build -j"$(nproc)"
# The house style: layout and names, from the build's compile_commands.json.
scripts/style.sh build
# Leaks fail every test, and the end-to-end tests fail on a leak of the program they drive;
# tests/lsan.supp names the only third-party allocations that are let off.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$(pwd)/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir build --output-on-failure --timeout 600 -j1
cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-fuzz -j"$(nproc)"
ctest --test-dir build-fuzz --output-on-failure -L fuzz -j1
