#!/usr/bin/python3
"""Proves doc_paths.py on a small tree made in a temporary folder, as a git work tree and as a
plain folder: a clean tree passes, and a tree with one missing path planted in each kind of
place fails naming every planted document and line.

    doc_paths_selftest.py CHECK
"""
import os
import shutil
import subprocess
import sys
import tempfile

CHECK = sys.argv[1] if len(sys.argv) == 2 else sys.exit("usage: doc_paths_selftest.py CHECK")

FILES = {
    "cli/apply.cpp": "",
    "headless/io/obj.h": "",
    "headless/io/obj.cpp": "",
    "tests/cli/install_check.cmake": "",
    ".gitignore": "/node_modules/\n/build*/\n",
}

CLEAN = {
    "README.md": (
        "The program is `cli/apply.cpp`, read with `headless/io/obj.{h,cpp}` and\n"
        "`headless/io/obj.h/.cpp`; the folder `headless/io/` and `headless/io` and a line\n"
        "`cli/apply.cpp:12`. Run `cli/apply.cpp --help` or `make test`.\n"
        "Left out: `headless/<layer>/README.md`, `cli/*.cpp`, `tests/frame.####.obj`,\n"
        "`tests/frame.%04d.obj`, `build/tessamire`, `build-windows/x.exe`, `tests/...`.\n"
        "A span over a line break (`scene\nimport`) leaves prose such as cli/gone.cpp alone `x`.\n"
        "```\n"
        "cli/not_here.cpp\n"
        "`cli/in_a_fence.cpp`\n"
        "```\n"),
    "tests/README.md": "A path from this folder: `cli/install_check.cmake`; a name alone: `x.py`.\n",
    "docs/guide.md": "See `headless/io/obj.cpp` and `docs/`, the unit `headless/io/obj`.\n",
}

# Document, its text, and the line numbers the check must name.
PLANTED = {
    "README.md": ("Good `cli/apply.cpp`\n`cli/gone.cpp`\n`headless/io/png.{h,cpp}`\nover `two\n"
                  "lines cli/gone.h`\n", [2, 3, 5]),
    "headless/io/README.md": ("`headless/io/obj.h/.inl`\n`headless/io/obj.h/`\n`headless/io/ob`\n",
                              [1, 2, 3]),
    "docs/guide.md": ("text\n\nsee `tests/README.md` and `node_modules/x` and `cli/old/`\n", [3]),
    "cli/README.md": ("`cli/apply.cpp`, `headless/io/obj.cpp`, `tests/cli/install_check.cmake`,"
                      " `cli/install_check.cmake`\n", [1]),
}


def make_tree(root, documents, git):
    for name, text in {**FILES, **documents}.items():
        os.makedirs(os.path.join(root, os.path.dirname(name)), exist_ok=True)
        with open(os.path.join(root, name), "w", encoding="utf-8") as f:
            f.write(text)
    # Ignored or under a build folder: present on disk, yet no path of the tree.
    for name in ("node_modules/x", "build/tessamire"):
        os.makedirs(os.path.join(root, os.path.dirname(name)), exist_ok=True)
        open(os.path.join(root, name), "w").close()
    if git:
        subprocess.run(["git", "init", "-q", root], check=True)


def run(root):
    done = subprocess.run([sys.executable, "-B", CHECK, root], capture_output=True, text=True)
    return done.returncode, done.stdout + done.stderr


def main():
    failures = []
    for git in (True, False):
        kind = "git work tree" if git else "plain folder"
        with tempfile.TemporaryDirectory() as root:
            make_tree(root, CLEAN, git)
            code, out = run(root)
            if code != 0:
                failures.append(f"{kind}: the check refused a clean tree:\n{out}")
        with tempfile.TemporaryDirectory() as root:
            make_tree(root, {name: text for name, (text, _) in PLANTED.items()}, git)
            # node_modules/ is not a top folder of git's, but is on disk for the plain folder:
            # either way `node_modules/x` must not count as a path of the tree.
            code, out = run(root)
            if code == 0:
                failures.append(f"{kind}: the check passed planted faults:\n{out}")
            for name, (_, lines) in PLANTED.items():
                for line in lines:
                    if f"{name}:{line}:" not in out:
                        failures.append(f"{kind}: {name}:{line} not named:\n{out}")
            named = sum(1 for line in out.splitlines() if line.startswith("  "))
            expected = 10
            if named != expected:
                failures.append(f"{kind}: {named} faults named, {expected} planted:\n{out}")
    if failures:
        print("\n".join(failures))
        return 1
    print("the check passes a clean tree and names every planted path, with git and without")
    return 0


if __name__ == "__main__":
    sys.exit(main())
