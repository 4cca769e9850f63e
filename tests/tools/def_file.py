"""Reads a module-definition (.def) file: the export names of its EXPORTS section, in file order."""

# The extension exports of OrvaneSdkEx.h, listed by name: the .def, the built libraries and the
# extension header must name exactly these beside the 149 Orvane_ exports.
EXTENSION_EXPORTS = {
    "OrvaneEx_GetErrorName",
    "OrvaneEx_GetMessageQueueFd",
    "OrvaneEx_GetNewestFrame",
    "OrvaneEx_GetStreamStats",
    "OrvaneEx_SetFrameCallback",
}



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


def split_names(names):
    """(the Orvane_ names, the OrvaneEx_ names) of a .def list."""
    return ([n for n in names if not n.startswith("OrvaneEx_")], [n for n in names if n.startswith("OrvaneEx_")])
