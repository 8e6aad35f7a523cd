"""The files of a source tree, as the rules' checks see it."""
import os
import subprocess


def tree_files(root):
    """The tree's files, relative to root with `/` between parts. In a git work tree: the files
    git tracks and the new ones it does not ignore (so build folders and node_modules/ are not
    part of it); elsewhere every file under root but in hidden, build and node_modules folders."""
    try:
        listed = subprocess.run(
            ["git", "-C", root, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
            check=True, capture_output=True).stdout.decode().split("\0")
        return {f for f in listed if f and os.path.isfile(os.path.join(root, f))}
    except (OSError, subprocess.CalledProcessError):
        pass
    found = set()
    for folder, subfolders, files in os.walk(root):
        subfolders[:] = [s for s in subfolders if not s.startswith((".", "build"))
                         and s != "node_modules"]
        for f in files:
            found.add(os.path.relpath(os.path.join(folder, f), root).replace(os.sep, "/"))
    return found
