#!/usr/bin/env python3
"""Checks that import libraries name exactly the exports of the .def file (the 149 and the extensions).

check_import_library.py --def orvane_sdk.def --msvc LLVM_NM X.lib --mingw MINGW_NM libX.dll.a

MSVC .lib (short import format): every export has its __imp_ symbol and its code thunk, and the only
other symbols are the import descriptor's three. mingw .dll.a: the __imp_ symbols are exactly the
exports.
"""
import argparse
import os
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from def_file import EXTENSION_EXPORTS, def_names, split_names  # noqa: E402


def symbols(nm, library):
    out = subprocess.run([nm, library], check=True, capture_output=True, text=True).stdout
    # "<value> <type> <name>" or "         U <name>"; member headers end with ':'. Section symbols
    # (".idata$2" ...) of the import descriptor members are not names a program links against.
    return {line.split()[-1] for line in out.splitlines() if line.strip() and not line.endswith(":")
            and line.split()[-2] != "U" and not line.split()[-1].startswith(".")}


def compare(kind, expected, found):
    problems = []
    if expected - found:
        problems.append("%s lacks %s" % (kind, sorted(expected - found)[:10]))
    if found - expected:
        problems.append("%s has extra %s" % (kind, sorted(found - expected)[:10]))
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--def", dest="def_file", required=True)
    parser.add_argument("--msvc", nargs=2, metavar=("NM", "LIB"), required=True)
    parser.add_argument("--mingw", nargs=2, metavar=("NM", "DLL_A"), required=True)
    args = parser.parse_args()
    names = def_names(args.def_file)
    core, extensions = split_names(names)
    if len(core) != 149 or len(set(core)) != 149 or sorted(extensions) != sorted(EXTENSION_EXPORTS):
        print("FAIL the .def lists %d Orvane_ names (%d distinct), not 149, and extensions %s" %
              (len(core), len(set(core)), sorted(extensions)))
        return 1
    imports = {"__imp_" + n for n in names}
    dll = "OrvaneSdk_KD7_USB3_R5"
    descriptor = {"__IMPORT_DESCRIPTOR_" + dll, "__NULL_IMPORT_DESCRIPTOR", "\x7f" + dll + "_NULL_THUNK_DATA"}

    msvc = symbols(*args.msvc)
    problems = compare("MSVC .lib", imports | set(names) | descriptor, msvc)
    mingw = {s for s in symbols(*args.mingw) if s.startswith("__imp_")}
    problems += compare("mingw .dll.a", imports, mingw)
    print("MSVC .lib: %d symbols, %d imports; mingw .dll.a: %d imports" %
          (len(msvc), len([s for s in msvc if s.startswith("__imp_")]), len(mingw)))
    for problem in problems:
        print("FAIL " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
