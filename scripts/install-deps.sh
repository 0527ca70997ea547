#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Dittix need. Idempotent: does
# nothing when everything is there; otherwise runs apt-get update once and installs what is
# missing (through sudo when not root).
set -euo pipefail

packages=(
    build-essential
    cmake
    pkg-config
    clang
    clang-format
    libgtest-dev
    libgmock-dev
    libbenchmark-dev
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if [[ ${#missing[@]} -eq 0 ]]; then
    exit 0
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
