#!/usr/bin/env bash
# Builds the product a second time from a copy of the sources at another path and checks that the
# result is byte-identical to build/windows-x86/dunmarrow.exe, and that the README gives its SHA-256.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
shipped=$root/build/windows-x86/dunmarrow.exe
scratch=$root/build/reproducible
rm -rf "$scratch"
mkdir -p "$scratch/elsewhere"
cp -r "$root/CMakeLists.txt" "$root/CMakePresets.json" "$root/src" "$root/res" "$root/cmake" \
    "$root/tests" "$scratch/elsewhere/"
cmake -S "$scratch/elsewhere" -B "$scratch/other-build" --preset windows-x86 \
    -DCMAKE_TOOLCHAIN_FILE="$scratch/elsewhere/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$scratch/other-build" >/dev/null

first=$(sha256sum <"$shipped" | cut -d' ' -f1)
second=$(sha256sum <"$scratch/other-build/dunmarrow.exe" | cut -d' ' -f1)
echo "this build:   $first"
echo "second build: $second"
if [[ "$first" != "$second" ]]; then
    echo "FAIL: two builds of the same sources differ" >&2
    cmp -l "$shipped" "$scratch/other-build/dunmarrow.exe" | head >&2 || true
    exit 1
fi
if ! grep -q "$first" "$root/README.md"; then
    echo "FAIL: README.md does not give the SHA-256 $first" >&2
    exit 1
fi
echo "byte-identical, and README.md gives its SHA-256"
