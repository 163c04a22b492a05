#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds, tests and runs with. Safe to run again.
set -euo pipefail

packages=(
    build-essential cmake ninja-build ccache pkg-config clang libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-image-formats-plugins qt6-translations-l10n fonts-liberation
    libsqlite3-dev libgtest-dev libgmock-dev libbenchmark-dev
    libtiff-dev libjpeg-dev libleptonica-dev libzip-dev libcpp-httplib-dev
    libsane-dev libsane1 sane-utils
    python3 python3-dbf python3-dbfread
    xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
