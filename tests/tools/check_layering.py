#!/usr/bin/env python3
"""Checks the source tree's layering and size limits.

- src/usb includes nothing of sim/: the virtual camera is chosen where the controller is created.
- The device core (src/device) includes of the USB layer only the controller's interface and the
  driver seam, never a header of the controller's implementation.
- No source file over 600 lines, and no function over 60 lines, outside the files allowed below (the
  SIMD kernels and the virtual camera's tables).

Functions are found by a rough brace match: comments, strings and preprocessor lines are blanked,
then every brace block that follows a closing parenthesis (a function or lambda body; control
statements are counted inside their function) is measured from its first to its last line. Class,
namespace and initialiser blocks are not functions. Prints one line per violation; exits 1 on any.
"""
import argparse
import os
import re
import sys

sys.dont_write_bytecode = True

MAX_FILE_LINES = 600
MAX_FUNCTION_LINES = 60
SOURCE_DIRS = ("src", "sim", "include", "tools", "bench", "examples", "gst")
SOURCE_EXTENSIONS = (".c", ".cpp", ".h")
# The SIMD kernels: long unrolled loops that read best in one piece.
SIZE_EXEMPT = {"src/image/fast_kernels_avx2.cpp"}
# The USB headers the device core may include: the controller interface and the driver seam.
DEVICE_MAY_INCLUDE = {
    "usb/camera_controller.h", "usb/controller_base.h", "usb/controller_options.h",
    "usb/driver_seam.h", "usb/frame_transfer.h", "usb/transfer_record.h",
}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
CONTROL = re.compile(r"\b(if|for|while|switch|catch)\s*$")


def sources(root):
    for top in SOURCE_DIRS:
        for folder, _, files in os.walk(os.path.join(root, top)):
            for name in sorted(files):
                if name.endswith(SOURCE_EXTENSIONS):
                    path = os.path.join(folder, name)
                    yield os.path.relpath(path, root).replace(os.sep, "/"), path


def blank_noise(text):
    """Replaces comments, string and character literals and preprocessor lines by spaces, keeping
    line breaks so that line numbers stay."""
    out = []
    i, n = 0, len(text)
    at_line_start = True
    while i < n:
        c = text[i]
        if at_line_start and c == "#":
            # A preprocessor line, with its continuations.
            while i < n and not (text[i] == "\n" and text[i - 1] != "\\"):
                out.append("\n" if text[i] == "\n" else " ")
                i += 1
            continue
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                out.append(" ")
                i += 1
            continue
        if text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.extend("\n" if ch == "\n" else " " for ch in text[i:end])
            i = end
            continue
        raw = re.match(r'R"([^(\s]*)\(', text[i:i + 20])
        if raw:
            end = text.find(")" + raw.group(1) + '"', i)
            end = n if end < 0 else end + len(raw.group(1)) + 2
            out.extend("\n" if ch == "\n" else " " for ch in text[i:end])
            i = end
            continue
        if c in "\"'" and not (c == "'" and i > 0 and text[i - 1].isalnum()):  # 1'000 digit separators
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(" " * (min(j + 1, n) - i))
            i = j + 1
            continue
        if c == "\n":
            at_line_start = True
        elif not c.isspace():
            at_line_start = False
        out.append(c)
        i += 1
    return "".join(out)


def long_functions(text):
    """(first line, length in lines) of each function body longer than the limit; nested bodies
    (lambdas) count inside their function, and are reported themselves only when alone too long."""
    code = blank_noise(text)
    found = []
    stack = []  # (is_function, opening line)
    line = 1
    for i, c in enumerate(code):
        if c == "\n":
            line += 1
        elif c == "{":
            before = code[:i].rstrip()
            head = before[-200:]
            is_function = False
            if head.endswith(")") or re.search(r"\)\s*(const|noexcept|override|final|mutable|->\s*[\w:<>*&\s]+)*\s*$",
                                               head):
                # A body after a parameter list, unless it belongs to a control statement.
                depth, j = 0, len(before) - 1
                while j >= 0:
                    if before[j] == ")":
                        depth += 1
                    elif before[j] == "(":
                        depth -= 1
                        if depth == 0:
                            break
                    j -= 1
                is_function = not CONTROL.search(before[:max(j, 0)]) and not re.search(r"\b(else|do)\s*$", before)
            stack.append((is_function, line))
        elif c == "}" and stack:
            is_function, start = stack.pop()
            outer_function = any(f for f, _ in stack)
            if is_function and not outer_function and line - start + 1 > MAX_FUNCTION_LINES:
                found.append((start, line - start + 1))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), "..", ".."))
    args = parser.parse_args()
    root = os.path.abspath(args.root)
    problems = []
    for rel, path in sources(root):
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        includes = INCLUDE.findall(text)
        if rel.startswith("src/usb/"):
            problems += [f"{rel}: includes {inc} (the USB layer must not know the virtual camera)"
                         for inc in includes if inc.startswith("sim/")]
        if rel.startswith("src/device/"):
            problems += [f"{rel}: includes {inc} (only the controller interface and the driver seam)"
                         for inc in includes if inc.startswith("usb/") and inc not in DEVICE_MAY_INCLUDE]
        if rel in SIZE_EXEMPT:
            continue
        lines = text.count("\n")
        if lines > MAX_FILE_LINES:
            problems.append(f"{rel}: {lines} lines (at most {MAX_FILE_LINES})")
        for start, length in long_functions(text):
            problems.append(f"{rel}:{start}: function of {length} lines (at most {MAX_FUNCTION_LINES})")
    for problem in problems:
        print(problem)
    print(f"{len(problems)} layering or size violation(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
