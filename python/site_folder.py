"""Print where the Python module goes under an install prefix, relative to it.

The folder this Python reads modules from that lies in the prefix, as lib/<python>/<site folder>
(/usr/local: lib/python3.11/dist-packages on Debian; the user base, ~/.local:
lib/python3.11/site-packages); for any other prefix lib/python3.X/site-packages, which then has to
go on PYTHONPATH.
"""

import os
import site
import sys


def site_folder(prefix: str) -> str:
    prefix = os.path.realpath(prefix)
    for folder in site.getsitepackages() + [site.getusersitepackages()]:
        relative = os.path.relpath(os.path.realpath(folder), prefix)
        parts = relative.split(os.sep)
        if len(parts) == 3 and parts[0] == "lib" and parts[2].endswith("-packages"):
            return relative
    return os.path.join("lib", f"python{sys.version_info[0]}.{sys.version_info[1]}",
                        "site-packages")


if __name__ == "__main__":
    print(site_folder(sys.argv[1]))
