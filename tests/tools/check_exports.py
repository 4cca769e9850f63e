#!/usr/bin/env python3
"""Checks the built library's exports against the .def file and the public headers.

The .def lists the 149 Orvane_ exports and then exactly the extensions named in def_file.py.
Windows: the DLL's export table equals the .def list (no decorated names, no extras) and it imports
only Windows system DLLs. Linux: the shared library's dynamic symbols are the .def list plus the
three message-queue exports. Both: OrvaneSdk.h declares exactly the 149 (plus the three
message-queue exports, which it declares for Linux only) and OrvaneSdkEx.h exactly the extensions.
"""
import argparse
import re
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from def_file import EXTENSION_EXPORTS, def_names, split_names  # noqa: E402

QUEUE_EXPORTS = {"Orvane_CreateMessageQueue", "Orvane_GetMessage", "Orvane_DestroyMessageQueue"}
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "comctl32.dll", "msvcrt.dll",
    "setupapi.dll", "winmm.dll", "msvfw32.dll", "ole32.dll", "oleaut32.dll", "shell32.dll",
    "comdlg32.dll", "ws2_32.dll", "bcrypt.dll", "ntdll.dll", "uxtheme.dll",
}


def header_names(path):
    text = open(path).read()
    return set(re.findall(r"ORVANE_API\s+[\w ]+?\s*\*?\s*(?:ORVANE_CALL\s+)?(OrvaneEx_\w+|Orvane_\w+)\s*\(", text))


def pe_exports_and_imports(objdump, library):
    out = subprocess.run([objdump, "-p", library], check=True, capture_output=True, text=True).stdout
    imports = [m.lower() for m in re.findall(r"DLL Name:\s*(\S+)", out)]
    exports = []
    section = out.split("[Ordinal/Name Pointer] Table", 1)
    if len(section) == 2:
        for line in section[1].splitlines()[1:]:
            m = re.match(r"\s*\[\s*\d+\]\s+(\S+)", line)
            if not m:
                break
            exports.append(m.group(1))
    return exports, imports


def elf_exports(library):
    out = subprocess.run(["nm", "-D", "--defined-only", library], check=True, capture_output=True, text=True).stdout
    return [line.split()[-1] for line in out.splitlines() if line.strip()]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--def", dest="def_file", required=True)
    parser.add_argument("--header", required=True)
    parser.add_argument("--ex-header", required=True)
    parser.add_argument("--library", required=True)
    parser.add_argument("--kind", choices=["windows", "linux"], required=True)
    parser.add_argument("--objdump", default="x86_64-w64-mingw32-objdump")
    args = parser.parse_args()

    failures = []
    core, extensions = split_names(def_names(args.def_file))
    if len(core) != 149 or len(set(core)) != 149:
        failures.append(f".def lists {len(core)} Orvane_ names ({len(set(core))} distinct), not 149")
    if sorted(extensions) != sorted(EXTENSION_EXPORTS):
        failures.append(f".def extensions differ: extra {sorted(set(extensions) - EXTENSION_EXPORTS)}, "
                        f"missing {sorted(EXTENSION_EXPORTS - set(extensions))}")
    core = set(core)
    listed = core | EXTENSION_EXPORTS
    declared = header_names(args.header)
    if declared != core | QUEUE_EXPORTS:
        failures.append(f"header and .def differ: only in header {sorted(declared - core - QUEUE_EXPORTS)}, "
                        f"only in .def {sorted(core - declared)}")
    declared_ex = header_names(args.ex_header)
    if declared_ex != EXTENSION_EXPORTS:
        failures.append(f"extension header differs: extra {sorted(declared_ex - EXTENSION_EXPORTS)}, "
                        f"missing {sorted(EXTENSION_EXPORTS - declared_ex)}")

    if args.kind == "windows":
        exports, imports = pe_exports_and_imports(args.objdump, args.library)
        if sorted(exports) != sorted(listed):
            failures.append(f"DLL exports differ from .def: extra {sorted(set(exports) - listed)}, "
                            f"missing {sorted(listed - set(exports))}")
        decorated = [e for e in exports if "@" in e or e.startswith("_")]
        if decorated:
            failures.append(f"decorated export names: {decorated}")
        foreign = sorted(d for d in imports if d not in SYSTEM_DLLS and not d.startswith("api-ms-win-"))
        if foreign:
            failures.append(f"DLL imports non-system DLLs: {foreign}")
        print(f"{len(exports)} exports; imports: {', '.join(sorted(set(imports)))}")
    else:
        exports = set(elf_exports(args.library))
        if exports != listed | QUEUE_EXPORTS:
            failures.append(f"library symbols differ: extra {sorted(exports - listed - QUEUE_EXPORTS)}, "
                            f"missing {sorted((listed | QUEUE_EXPORTS) - exports)}")
        print(f"{len(exports)} exported symbols")

    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
