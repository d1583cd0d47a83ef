#!/bin/sh
# Installs the Debian packages the build and the tests need, when a fresh
# machine lacks them. Safe to run again: it installs only what is missing.
set -eu

PKGS="cmake g++ make ninja-build pkg-config libgtest-dev libgmock-dev \
libbenchmark-dev libssl-dev libusb-1.0-0-dev umockdev libumockdev-dev \
clang libclang-rt-14-dev \
openjdk-17-jdk-headless junit5 python3"

missing=""
for p in $PKGS; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

[ -z "$missing" ] && exit 0

echo "setup: installing$missing"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq || true
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing
