#!/usr/bin/python3
"""Proves function_size.py on a small tree with its own compile_commands.json, made in a
temporary folder and compiled with gcc's flags (-Werror, a warning clang does not know, an unused
variable): functions at the limit pass; one line over, in a source or in a header two sources
include, fails naming each once; a source the build does not compile is named, not measured;
without clang-tidy on the PATH the check is skipped (exit 77). Skipped itself (77) when the
check finds no clang-tidy.

    function_size_selftest.py CHECK
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

CHECK = sys.argv[1] if len(sys.argv) == 2 else sys.exit("usage: function_size_selftest.py CHECK")
SKIPPED = 77
LIMIT = 120


def function(name, body_lines):
    """A function clang-tidy counts as body_lines lines (from its opening brace's line to its
    closing one's; its text spans one line more)."""
    statements = "".join(f"  x += {i};\n" for i in range(body_lines - 2))
    return f"int {name}(int x) {{\n{statements}  return x;\n}}\n"


def make_tree(root, files, compiled):
    for name, text in files.items():
        os.makedirs(os.path.join(root, os.path.dirname(name)), exist_ok=True)
        with open(os.path.join(root, name), "w") as f:
            f.write(text)
    build = os.path.join(root, "build")
    os.makedirs(build)
    flags = "-std=c++20 -O3 -Wall -Wextra -Werror -Wno-restrict -ffp-contract=off"
    entries = [{"directory": build, "file": os.path.join(root, name),
                "command": f"/usr/bin/c++ -I{root} {flags} -c {os.path.join(root, name)}"}
               for name in compiled]
    with open(os.path.join(build, "compile_commands.json"), "w") as f:
        json.dump(entries, f)
    return build


def run(root, build, path=None):
    env = dict(os.environ)
    if path is not None:
        env["PATH"] = path
    done = subprocess.run([sys.executable, "-B", CHECK, root, build, str(LIMIT), "2"],
                          capture_output=True, text=True, env=env)
    return done.returncode, done.stdout + done.stderr


CLEAN = {
    "cli/short.cpp": function("AtTheLimit", LIMIT) + "int Unused() { int unused = 0; return 1; }\n",
    "headless/io/inline.h": "#pragma once\ninline " + function("InlineAtTheLimit", LIMIT),
    "headless/io/user.cpp": '#include "headless/io/inline.h"\nint Use() { return 2; }\n',
    # Outside the product: never measured.
    "tests/long_test.cpp": function("LongTest", 3 * LIMIT),
}
PLANTED = {
    **CLEAN,
    "cli/long.cpp": function("Shorter", LIMIT - 1) + function("OneOver", LIMIT + 1),
    "headless/io/inline.h": "#pragma once\ninline " + function("InlineOver", LIMIT + 5),
    "python/user.cpp": '#include "headless/io/inline.h"\nint Again() { return 3; }\n',
    "source/windows_only.cpp": function("NotCompiled", 2 * LIMIT),
}


def main():
    failures = []
    with tempfile.TemporaryDirectory() as root:
        build = make_tree(root, CLEAN, [f for f in CLEAN if f.endswith(".cpp")])
        code, out = run(root, build)
        if code == SKIPPED and shutil.which("clang-tidy"):
            failures.append(f"skipped though clang-tidy is on the PATH:\n{out}")
        elif code == SKIPPED:  # no clang-tidy here: nothing to prove
            print(out, end="")
            return SKIPPED
        if code != 0:
            failures.append(f"the check refused functions at the limit:\n{out}")
        nothing = os.path.join(root, "no-tools")
        os.makedirs(nothing)
        code, out = run(root, build, path=nothing)
        if code != SKIPPED or "clang-tidy" not in out:
            failures.append(f"without clang-tidy: exit {code}, expected {SKIPPED}:\n{out}")
    with tempfile.TemporaryDirectory() as root:
        compiled = [f for f in PLANTED if f.endswith(".cpp") and "windows" not in f]
        build = make_tree(root, PLANTED, compiled)
        code, out = run(root, build)
        if code != 1:
            failures.append(f"planted functions: exit {code}, expected 1:\n{out}")
        expected = [f"cli/long.cpp:{LIMIT + 1}: OneOver: {LIMIT + 1} lines",
                    f"headless/io/inline.h:2: InlineOver: {LIMIT + 5} lines",
                    "not measured: source/windows_only.cpp"]
        for text in expected:
            if out.count(text) != 1:
                failures.append(f"`{text}` named {out.count(text)} times, expected once:\n{out}")
        for name in ("Shorter", "AtTheLimit", "LongTest", "NotCompiled"):
            if f": {name}:" in out:
                failures.append(f"{name} named, though not over the limit or not measured:\n{out}")
    if failures:
        print("\n".join(failures))
        return 1
    print("the check passes functions at the limit and names every planted one over it")
    return 0


if __name__ == "__main__":
    sys.exit(main())
