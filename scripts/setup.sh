#!/bin/sh
# Installs the Debian packages that a make target needs, when a fresh
# machine lacks them. Safe to run again: it installs only what is missing.
#
#   scripts/setup.sh [TARGET]...     (default: all)
#
#   build   the library, the tool and the simulator
#   demo    build, and what scripts/demo.sh runs besides
#   test    build, the test suite of every build (normal, sanitizers) and
#           the tools the tests drive
#   fuzz    the libFuzzer build (clang)
#   bench   the benchmarks
#   all     everything (what `make test` needs: test, fuzz and bench)
#
# A package belongs to the first group that needs it; a target installs its
# own group and the groups it builds on.
set -eu

# libusb: the USB links; libpulse: the audio link on the Linux sound server;
# libpcsclite: the reader driver for pcscd (pcsc/).
BUILD_PKGS="cmake g++ make ninja-build pkg-config libusb-1.0-0-dev libpulse-dev libpcsclite-dev"
DEMO_PKGS=""
# tshark: the link-trace test decodes traces with the Wireshark dissector;
# umockdev: the USB tests emulate their devices; OpenJDK and JUnit 5:
# the Java host classes and their tests.
# pulseaudio: the audio tests run a private sound server; pcscd: the reader
# driver's tests run a private one.
# gnuplot-nox: `sensor watch --plot`, `modem plot` and `modem chantest --plot`
# draw with it (their tests too).
TEST_PKGS="gnuplot-nox pcscd pulseaudio pulseaudio-utils libgtest-dev libgmock-dev libssl-dev python3 tshark umockdev libumockdev-dev openjdk-17-jdk-headless junit5"
FUZZ_PKGS="clang libclang-rt-14-dev"
BENCH_PKGS="libbenchmark-dev libssl-dev"

pkgs=""
[ $# -gt 0 ] || set -- all
for target in "$@"; do
    case $target in
        build) pkgs="$pkgs $BUILD_PKGS" ;;
        demo) pkgs="$pkgs $BUILD_PKGS $DEMO_PKGS" ;;
        test) pkgs="$pkgs $BUILD_PKGS $TEST_PKGS" ;;
        fuzz) pkgs="$pkgs $BUILD_PKGS $FUZZ_PKGS" ;;
        bench) pkgs="$pkgs $BUILD_PKGS $BENCH_PKGS" ;;
        all) pkgs="$pkgs $BUILD_PKGS $DEMO_PKGS $TEST_PKGS $FUZZ_PKGS $BENCH_PKGS" ;;
        *) echo "setup: unknown target $target (build, demo, test, fuzz, bench, all)" >&2; exit 2 ;;
    esac
done

missing=""
for p in $pkgs; do
    case " $missing " in *" $p "*) continue ;; esac
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
