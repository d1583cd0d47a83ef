#!/usr/bin/env python3
"""Checks that the library's layers only include downwards: no file of a
layer includes a header of a higher layer. A file's layer is its directory
under src/ (src/link/frame.cpp is in "link"); a private header's layer is
the directory it names ("port/port.h"); a public header's layer is given by
PUBLIC_HEADERS below, where every header of include/ must have its row.

Usage: check_layers.py SRC_DIR INCLUDE_DIR
       check_layers.py --self-test
"""
import re
import sys
import tempfile
from pathlib import Path

# Lower numbers are lower layers. Layers of the same number may include
# each other: crypto sits beside the link on the core, and so does audio
# (the platform's sound systems, on the core only); the modem is the
# "sound" link's driver and signal path, beside the port it plugs into.
LAYERS = {
    "core": 0,
    "crypto": 1,
    "audio": 1,
    "port": 2,
    "modem": 2,
    "link": 3,
    "card": 4,
    "drivers": 5,
    "emv": 5,
    "bridge": 6,
    "accessory": 5,
}

# The layer of each public header.
PUBLIC_HEADERS = {
    "vr_api.h": "core",
    "sys.h": "core",
    "log.h": "core",
    "ringbuf.h": "core",
    "stbuff.h": "core",
    "tessil.h": "core",
    "suart_state.h": "core",
    "pboc_text.h": "core",
    "crypto.h": "crypto",
    "wav.h": "audio",
    "android_audio.h": "audio",
    "uart.h": "port",
    "bluetooth.h": "port",
    "usbhid.h": "port",
    "virt_com.h": "port",
    "suart.h": "modem",
    "suart_signal.h": "modem",
    "pcd.h": "link",
    "audio.h": "link",
    "picc.h": "card",
    "ir.h": "card",
    "mifare.h": "drivers",
    "ultralight.h": "drivers",
    "cpucard.h": "drivers",
    "identity.h": "drivers",
    "pboc.h": "drivers",
    "tlv.h": "emv",
    "emv.h": "emv",
    "accessory.h": "accessory",
    "pm25.h": "accessory",
    "jobj.h": "bridge",
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def header_layer(name, errors, where):
    """The layer of an included header, or None (an error is noted)."""
    if "/" in name:
        layer = name.split("/")[0]
        if layer not in LAYERS:
            errors.append(f"{where}: includes {name}, which is in no layer")
            return None
        return layer
    if name not in PUBLIC_HEADERS:
        errors.append(f"{where}: includes {name}, a header without a layer "
                      "(give it a row in tests/check_layers.py)")
        return None
    return PUBLIC_HEADERS[name]


def check(src_dir, include_dir):
    """The list of problems: upward includes and files without a layer."""
    errors = []
    files = []
    for header in sorted(include_dir.glob("*.h")):
        if header.name not in PUBLIC_HEADERS:
            errors.append(f"include/{header.name}: public header without a layer "
                          "(give it a row in tests/check_layers.py)")
            continue
        files.append((f"include/{header.name}", PUBLIC_HEADERS[header.name], header))
    for directory in sorted(p for p in src_dir.iterdir() if p.is_dir()):
        if directory.name not in LAYERS:
            errors.append(f"src/{directory.name}: directory without a layer "
                          "(give it a rank in tests/check_layers.py)")
            continue
        for f in sorted(directory.rglob("*")):
            if f.suffix in (".cpp", ".h", ".c"):
                files.append((f"src/{f.relative_to(src_dir)}", directory.name, f))
    for where, layer, path in files:
        for name in INCLUDE.findall(path.read_text(errors="replace")):
            target = header_layer(name, errors, where)
            if target and LAYERS[target] > LAYERS[layer]:
                errors.append(f"{where}: layer {layer} includes {name} of the higher layer {target}")
    return errors


def self_test():
    """The check finds an upward include in every place it looks, and
    passes a tree that only includes downwards."""
    with tempfile.TemporaryDirectory() as tmp:
        root = Path(tmp)
        files = {
            "include/tessil.h": '#include "vr_api.h"\n#include "suart.h"\n',
            "include/picc.h": '#include "vr_api.h"\n',
            "src/core/state.cpp": '#include "tessil.h"\n#include "picc.h"\n',
            "src/port/open.cpp": '#include "core/errors.h"\n#include "card/registry.h"\n',
            "src/port/port.h": '#include "modem/modem.h"\n#include "crypto.h"\n',
            "src/crypto/cipher.cpp": '#include "port/port.h"\n',
            "src/card/ctrl.cpp": '#include "port/port.h"\n#include "link/link.h"\n#include "picc.h"\n',
            "src/drivers/m1.cpp": '#  include "card/registry.h"\n#include "mifare.h"\n',
            "src/link/x.cpp": '#include "nowhere.h"\n#include "gadgets/g.h"\n',
        }
        for name, text in files.items():
            path = root / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(text)
        (root / "src/gadgets").mkdir()
        found = check(root / "src", root / "include")
        # Everything upward is found, and nothing else: src/card/ctrl.cpp,
        # src/drivers/m1.cpp and src/port/port.h include only their own or
        # lower layers.
        expected = [
            "include/tessil.h: layer core includes suart.h of the higher layer modem",
            "src/core/state.cpp: layer core includes picc.h of the higher layer card",
            "src/crypto/cipher.cpp: layer crypto includes port/port.h of the higher layer port",
            "src/gadgets: directory without a layer",
            "src/link/x.cpp: includes nowhere.h, a header without a layer",
            "src/link/x.cpp: includes gadgets/g.h, which is in no layer",
            "src/port/open.cpp: layer port includes card/registry.h of the higher layer card",
        ]
        problems = [f"missed: {e}" for e in expected if not any(f.startswith(e) for f in found)]
        problems += [f"reported wrongly: {f}" for f in found if not any(f.startswith(e) for e in expected)]
        # A clean tree passes.
        for name in ("include/tessil.h", "src/core/state.cpp", "src/port/open.cpp",
                     "src/crypto/cipher.cpp", "src/link/x.cpp"):
            (root / name).write_text('#include "vr_api.h"\n')
        (root / "src/gadgets").rmdir()
        if check(root / "src", root / "include"):
            problems.append(f"a clean tree fails: {check(root / 'src', root / 'include')}")
    for p in problems:
        print(f"self-test: {p}")
    return 1 if problems else 0


def main():
    if sys.argv[1:] == ["--self-test"]:
        sys.exit(self_test())
    if len(sys.argv) != 3:
        print(__doc__)
        sys.exit(2)
    errors = check(Path(sys.argv[1]), Path(sys.argv[2]))
    for e in errors:
        print(e)
    if errors:
        print(f"{len(errors)} problems: a layer may include only its own and lower layers' headers")
    sys.exit(1 if errors else 0)


if __name__ == "__main__":
    main()
