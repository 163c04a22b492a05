#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds, tests and runs with. Safe to run again.
set -euo pipefail

packages=(
    build-essential cmake ninja-build ccache pkg-config clang libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-image-formats-plugins qt6-translations-l10n fonts-liberation
    libsqlite3-dev libgtest-dev libgmock-dev libbenchmark-dev
    libtiff-dev libjpeg-dev libleptonica-dev libzip-dev libcpp-httplib-dev libvmime-dev
    postfix dovecot-core dovecot-pop3d openssl curl
    libsane-dev libsane1 sane-utils
    python3 python3-dbf python3-dbfread
    xvfb xauth
    libzint-dev zbar-tools poppler-utils python3-reportlab
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    # The mail servers are only started by the tests, on loopback: no system daemon, no configuration question.
    echo "postfix postfix/main_mailer_type select No configuration" | $sudo debconf-set-selections
    # While installing, no package may start its daemon; a policy file made here is removed afterwards.
    made_policy=""
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        printf '#!/bin/sh\nexit 101\n' | $sudo tee /usr/sbin/policy-rc.d >/dev/null
        $sudo chmod 755 /usr/sbin/policy-rc.d
        made_policy=1
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq -o DPkg::Lock::Timeout=600 --no-install-recommends "${missing[@]}"
    if [ -n "$made_policy" ]; then $sudo rm -f /usr/sbin/policy-rc.d; fi
fi
