#!/bin/sh
# The house style, checked by the tools rather than by review: clang-format's layout (.clang-format) on
# every C++ file of the project, then clang-tidy's naming and braces checks (.clang-tidy, and the
# folders' own) on every one of its translation units, read from BUILD's compile_commands.json (the compiler's own
# warnings are the build's to report, not this check's).
# Usage: scripts/style.sh [BUILD]
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build}
FORMAT=clang-format-15
TIDY=run-clang-tidy-15
files=$(git ls-files '*.cpp' '*.h')
# shellcheck disable=SC2086 # a list of files
$FORMAT --dry-run -Werror $files
# The project's own sources: not the code Qt's tools generate into the build folder.
$TIDY -quiet -p "$BUILD" -j"$(nproc)" -extra-arg=-w "^(?!$(cd "$BUILD" && pwd)/)$(pwd)/" >"$BUILD/style.log" 2>&1 || {
    grep -E "(warning|error):" "$BUILD/style.log" | sort -u >&2
    echo "style: clang-tidy found the names or the missing braces above" >&2
    exit 1
}
echo "style: clean"
