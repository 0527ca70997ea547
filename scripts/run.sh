#!/usr/bin/env bash
# Builds Dittix and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DDITTIX_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)"

if [[ ! -x build/release/src/dittix ]]; then
    echo "The program window does not exist yet: this build has the keying and decoding core"
    echo "only. Run scripts/test.sh to build and test it."
    exit 1
fi
exec build/release/src/dittix "$@"
