#!/usr/bin/env bash
# Builds the Debian package: a Release build without tests and benchmarks in build/package,
# stripped and packed by cpack. The build's messages go to stderr; stdout gets only the path of
# the package, so that `deb=$(bash scripts/package.sh)` works.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh >&2

dir=build/package
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DDITTIX_BUILD_TESTS=OFF \
    -DDITTIX_BUILD_BENCH=OFF >&2
cmake --build "$dir" -j "$jobs" >&2
rm -f "$dir"/dittix_*.deb
(cd "$dir" && cpack -G DEB) >&2

package=$(ls "$dir"/dittix_*.deb)
echo "$PWD/$package"
