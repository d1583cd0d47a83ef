#!/usr/bin/env python3
"""Installs the build into a temporary prefix, checks what lands there, and
builds the C quick-start example against it twice, through pkg-config and
through find_package(VantelRfid), then runs both (and the installed tool)
against the installed simulator.

Usage: check_install.py --source DIR --build DIR --cmake CMAKE --cc CC
                        [--generator NAME] [--flags "EXTRA C AND LINK FLAGS"]
"""
import argparse
import os
import shlex
import subprocess
import sys
import tempfile
from pathlib import Path

EXPECTED_OUTPUT = ["UID DE AD BE EF", "block 4 " + " ".join(["00"] * 16)]


def run(command, **kwargs):
    """Runs a command; its output is shown when it fails."""
    result = subprocess.run(command, capture_output=True, text=True, timeout=300, **kwargs)
    if result.returncode != 0:
        sys.exit(f"failed ({result.returncode}): {shlex.join(map(str, command))}\n"
                 f"{result.stdout}{result.stderr}")
    return result.stdout


def check_tree(source, prefix, problems):
    """What the install must put under the prefix, and what it must not."""
    libdirs = [d for d in prefix.iterdir() if d.name.startswith("lib")]
    libdir = next((d for d in libdirs if (d / "pkgconfig" / "vantelrfid.pc").exists()), None)
    if libdir is None:
        problems.append("no lib*/pkgconfig/vantelrfid.pc")
        return None
    for name in ["libvantelrfid.so", "libvantelrfid.so.1", "cmake/VantelRfid/VantelRfidConfig.cmake",
                 "cmake/VantelRfid/VantelRfidConfigVersion.cmake"]:
        if not (libdir / name).exists():
            problems.append(f"missing {libdir.name}/{name}")
    soname = run(["objdump", "-p", libdir / "libvantelrfid.so"])
    if "SONAME               libvantelrfid.so.1\n" not in soname:
        problems.append("the library's SONAME is not libvantelrfid.so.1")
    for header in sorted((source / "include").glob("*.h")):
        if not (prefix / "include" / "vantelrfid" / header.name).exists():
            problems.append(f"header {header.name} not installed under include/vantelrfid/")
        if (prefix / "include" / header.name).exists():
            problems.append(f"header {header.name} installed at the top of include/")
    # The manual pages, made from the programs' help, with each command's
    # part and the simulator's control commands.
    for program, piece in [("vantel-rfid", ".SS mifare"), ("vantel-rfid-sim", ".SH CONTROL COMMANDS")]:
        if not os.access(prefix / "bin" / program, os.X_OK):
            problems.append(f"missing bin/{program}")
        page = prefix / "share" / "man" / "man1" / f"{program}.1"
        if not page.exists():
            problems.append(f"missing the manual page share/man/man1/{program}.1")
        elif ".SH SYNOPSIS" not in page.read_text() or piece not in page.read_text():
            problems.append(f"the manual page of {program} lacks its synopsis or {piece!r}")
    if not (prefix / "share" / "vantel-rfid" / "60-vantel-rfid.rules").exists():
        problems.append("missing the udev rule share/vantel-rfid/60-vantel-rfid.rules")
    return libdir


def build_with_pkg_config(source, libdir, work, cc, flags):
    env = dict(os.environ, PKG_CONFIG_PATH=str(libdir / "pkgconfig"))
    found = run(["pkg-config", "--cflags", "--libs", "vantelrfid"], env=env).split()
    program = work / "quickstart-pc"
    run([cc, "-std=c99", "-Wall", "-Wextra", "-pedantic", "-Werror", *flags,
         source / "examples" / "quickstart.c", "-o", program, *found])
    return program


def build_with_cmake(source, prefix, work, cmake, generator, flags):
    build = work / "consumer"
    configure = [cmake, "-S", source / "tests" / "install" / "consumer", "-B", build,
                 f"-DCMAKE_PREFIX_PATH={prefix}", f"-DQUICKSTART={source / 'examples' / 'quickstart.c'}",
                 f"-DCMAKE_C_FLAGS={' '.join(flags)} -Wall -Werror"]
    if generator:
        configure += ["-G", generator]
    run(configure)
    run([cmake, "--build", build])
    return build / "quickstart"


class Simulator:
    """The installed simulator with a MIFARE Classic 1K card, its control
    input closed at once (it must keep serving)."""

    def __init__(self, prefix, link):
        self.process = subprocess.Popen(
            [prefix / "bin" / "vantel-rfid-sim", "--link", link, "--card", "mifare_s50:DEADBEEF"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
        self.path = self.process.stdout.readline().strip()

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=10)


def main():
    parser = argparse.ArgumentParser()
    for option in ["--source", "--build", "--cmake", "--cc"]:
        parser.add_argument(option, required=True)
    parser.add_argument("--generator", default="")
    parser.add_argument("--flags", default="")
    args = parser.parse_args()
    source, flags = Path(args.source).resolve(), args.flags.split()

    # The README's quick start is the example as it is.
    example = (source / "examples" / "quickstart.c").read_text()
    if example not in (source / "README.md").read_text():
        sys.exit("README.md does not show examples/quickstart.c as it is")

    with tempfile.TemporaryDirectory(prefix="vr_install_") as tmp:
        work = Path(tmp)
        prefix = work / "prefix"
        run([args.cmake, "--install", args.build, "--prefix", prefix])
        problems = []
        libdir = check_tree(source, prefix, problems)
        if problems:
            sys.exit("install tree:\n  " + "\n  ".join(problems))

        programs = [build_with_pkg_config(source, libdir, work, args.cc, flags),
                    build_with_cmake(source, prefix, work, args.cmake, args.generator, flags)]
        sim = Simulator(prefix, work / "reader")
        try:
            if sim.path != str(work / "reader"):
                sys.exit(f"the simulator printed {sim.path!r}")
            for program in programs:
                env = dict(os.environ, LD_LIBRARY_PATH=str(libdir))
                lines = run([program, sim.path], env=env).splitlines()
                if lines != EXPECTED_OUTPUT:
                    sys.exit(f"{program.name} printed {lines}, expected {EXPECTED_OUTPUT}")
            # The installed tool finds its library without help.
            env = {k: v for k, v in os.environ.items() if k != "LD_LIBRARY_PATH"}
            card = run([prefix / "bin" / "vantel-rfid", "--device", sim.path, "card"], env=env)
            if "de  ad  be  ef" not in card:
                sys.exit(f"the installed tool printed:\n{card}")
        finally:
            sim.close()
    print("installed, built through pkg-config and find_package, and ran against the simulator")


if __name__ == "__main__":
    main()
