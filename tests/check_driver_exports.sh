#!/bin/sh
# The reader driver for pcscd exports its IFDH entry points and nothing
# else (names the toolchain adds start with an underscore).
set -eu
want="IFDHCloseChannel IFDHControl IFDHCreateChannel IFDHCreateChannelByName IFDHGetCapabilities IFDHICCPresence IFDHPowerICC IFDHSetCapabilities IFDHSetProtocolParameters IFDHTransmitToICC"
got=$(nm -D --defined-only "$1" | awk 'NF == 3 && $3 !~ /^_/ {print $3}' | sort | tr '\n' ' ' | sed 's/ $//')
if [ "$got" != "$want" ]; then
    echo "exported: $got"
    echo "expected: $want"
    exit 1
fi
