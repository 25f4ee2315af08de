#!/bin/sh
# Installs what is needed, builds Zorvik into build/ (with the default drum kit in build/Sounds) and starts it.
set -eu
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] && scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVIK_TESTS=OFF -DZORVIK_SANITIZE=OFF -DZORVIK_WERROR=OFF
cmake --build build -j"$(nproc)"
exec build/Zorvik
