"""Reads a module-definition (.def) file: the export names of its EXPORTS section, in file order."""


def def_names(path):
    names = []
    in_exports = False
    for line in open(path):
        line = line.strip()
        if not line or line.startswith(";"):
            continue
        if line.upper() == "EXPORTS":
            in_exports = True
            continue
        if in_exports:
            names.append(line.split()[0])
    return names
