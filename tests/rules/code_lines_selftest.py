#!/usr/bin/python3
"""Proves code_lines.py on trees made in a temporary folder: a folder at its limit and folders
at or under the share pass; one line more, or one folder's share over, fails naming the folder.

    code_lines_selftest.py CHECK folder|shares
"""
import os
import subprocess
import sys
import tempfile

if len(sys.argv) != 3 or sys.argv[2] not in ("folder", "shares"):
    sys.exit("usage: code_lines_selftest.py CHECK folder|shares")
CHECK, MODE = sys.argv[1:]


def make_tree(root, lines_per_file):
    for name, count in lines_per_file.items():
        os.makedirs(os.path.join(root, os.path.dirname(name)), exist_ok=True)
        with open(os.path.join(root, name), "w") as f:
            f.write("x\n" * count)


def run(root, *args):
    done = subprocess.run([sys.executable, "-B", CHECK, root, *args], capture_output=True, text=True)
    return done.returncode, done.stdout + done.stderr


# Outside the count: other files of the folder, and code outside the product's folders.
NOT_COUNTED = {"cli/README.md": 5000, "cli/tool.py": 5000, "tests/big_test.cpp": 90000,
               "bench/bench.cpp": 90000}
# Twenty folders of 500 lines, 5% each: cli/ by its own files, apart from cli/sub/, and source/
# apart from source/core/.
EVEN = {f"headless/layer{i}/unit.cpp": 500 for i in range(14)}
EVEN.update({"host/abi/t.h": 500, "source/main.cpp": 500, "source/core/c.cpp": 500,
             "python/m.cpp": 500, "cli/a.cpp": 300, "cli/a.h": 200, "cli/sub/b.cpp": 500})


def check(failures, what, expect_ok, code, out, named=()):
    if (code == 0) != expect_ok:
        failures.append(f"{what}: exit {code}, expected {'success' if expect_ok else 'failure'}"
                        f":\n{out}")
    for name in named:
        if name not in out:
            failures.append(f"{what}: {name} not named:\n{out}")


def marked(failures, what, out, expected):
    over = [line for line in out.splitlines() if line.endswith("  over")]
    if len(over) != expected:
        failures.append(f"{what}: {len(over)} folders marked over, expected {expected}:\n{out}")


def folder_limit(failures):
    with tempfile.TemporaryDirectory() as root:
        make_tree(root, {**NOT_COUNTED, **EVEN})
        # cli/ with its subfolder: 1,000 lines.
        check(failures, "cli at its limit", True, *run(root, "folder", "cli", "1000"))
        check(failures, "cli over its limit", False, *run(root, "folder", "cli/", "999"),
              named=("cli/: 1000 lines",))
    with tempfile.TemporaryDirectory() as root:
        make_tree(root, {**NOT_COUNTED, **EVEN, "cli/sub/more.cpp": 1500})
        check(failures, "cli grown", False, *run(root, "folder", "cli", "2499"),
              named=("cli/: 2500 lines",))


def shares(failures):
    with tempfile.TemporaryDirectory() as root:
        make_tree(root, {**NOT_COUNTED, **EVEN})
        check(failures, "even shares", True, *run(root, "shares", "5"))
        code, out = run(root, "shares", "4.9")
        check(failures, "shares over a lower limit", False, code, out,
              named=("headless/layer0/", "source/core/", "source/ ", "cli/sub/", "cli/ "))
        marked(failures, "shares over a lower limit", out, 20)
    with tempfile.TemporaryDirectory() as root:
        grown = dict(EVEN)
        grown["headless/layer3/more.cpp"] = 1000  # 1,500 of 12,500 lines: 12%
        grown["cli/sub/more.cpp"] = 1500  # 2,000 of 12,500 lines: 16%
        make_tree(root, {**NOT_COUNTED, **grown})
        code, out = run(root, "shares", "13")
        check(failures, "one folder grown over", False, code, out, named=("cli/sub/", "16.0%"))
        marked(failures, "one folder grown over", out, 1)
        code, out = run(root, "shares", "11")
        check(failures, "two folders grown over", False, code, out,
              named=("headless/layer3/", "12.0%", "cli/sub/"))
        marked(failures, "two folders grown over", out, 2)


def main():
    failures = []
    {"folder": folder_limit, "shares": shares}[MODE](failures)
    if failures:
        print("\n".join(failures))
        return 1
    print(f"the {MODE} check passes trees within its limit and names every folder over it")
    return 0


if __name__ == "__main__":
    sys.exit(main())
