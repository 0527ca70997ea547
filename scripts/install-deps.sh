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
    locales
    qt6-base-dev
    qt6-serialport-dev
    libx11-dev
    libxi-dev
    libxtst-dev
    libsdl2-dev
    libpipewire-0.3-dev
    pulseaudio
    pulseaudio-utils
    pipewire
    pipewire-pulse
    wireplumber
    dbus-daemon
    xvfb
    xauth
    fonts-dejavu-core
    python3
    util-linux
    dpkg-dev
    desktop-file-utils
    appstream
    lintian
    man-db
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

# Locales the tests read number formats from (an Italian and an English one).
locales=(it_IT en_US)

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
fi

if [[ ${#missing[@]} -gt 0 ]]; then
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
fi

generate=0
for l in "${locales[@]}"; do
    if ! locale -a 2>/dev/null | grep -qix "${l}\.utf-\?8"; then
        "${sudo[@]}" sed -i "s/^# *\(${l}\.UTF-8 UTF-8\)/\1/" /etc/locale.gen
        grep -q "^${l}\.UTF-8 UTF-8" /etc/locale.gen ||
            echo "${l}.UTF-8 UTF-8" | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
        generate=1
    fi
done
if [[ $generate -eq 1 ]]; then
    "${sudo[@]}" locale-gen >/dev/null
fi
