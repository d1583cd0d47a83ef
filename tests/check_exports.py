#!/usr/bin/env python3
"""Checks that the shared library exports exactly what the public headers
declare with VR_API: nothing missing, nothing internal visible."""
import re
import subprocess
import sys
from pathlib import Path

include_dir, library = Path(sys.argv[1]), sys.argv[2]

declared = set()
for header in sorted(include_dir.glob("*.h")):
    text = header.read_text()
    text = re.sub(r"/\*.*?\*/", "", text, flags=re.S)
    text = re.sub(r"#define[^\n]*", "", text)
    # Each declaration that carries VR_API ends at its first ';' or '{'.
    for m in re.finditer(r"\bVR_API\b([^;{]*)", text):
        decl = " ".join(m.group(1).split())
        fn = re.search(r"(\w+)\s*\(", decl)
        if fn and not re.search(r"\(\s*\*", decl[: fn.end()]):
            declared.add(fn.group(1))
            continue
        var = re.search(r"(\w+)\s*(\[[^\]]*\])?\s*$", decl)
        if var:
            declared.add(var.group(1))

out = subprocess.run(["nm", "-D", "--defined-only", library],
                     check=True, capture_output=True, text=True).stdout
exported = set()
for line in out.splitlines():
    parts = line.split()
    if len(parts) == 3 and parts[1] in "TDBRVW" and parts[1] != "":
        name = parts[2].split("@")[0]
        exported.add(name)

# Symbols the toolchain adds on its own (AddressSanitizer adds an ODR
# indicator "__odr_asan.<name>" for every exported data object).
exported -= {"_init", "_fini", "_edata", "_end", "__bss_start"}
exported = {s for s in exported if not s.startswith("__odr_asan")}
# JNI entry points are declared by the JNI headers, not ours.
exported = {s for s in exported if not s.startswith("Java_") and s not in ("JNI_OnLoad", "JNI_OnUnload")}

missing = sorted(declared - exported)
extra = sorted(exported - declared)
if missing:
    print("declared but not exported:", " ".join(missing))
if extra:
    print("exported but not declared:", " ".join(extra))
print(f"{len(declared)} declared, {len(exported)} exported")
sys.exit(1 if missing or extra else 0)
