#!/usr/bin/python3
"""No function of the product runs over a length limit, as clang-tidy's readability-function-size
measures it (its body's lines, blank and comment lines included).

    function_size.py ROOT BUILD [MAX_LINES [JOBS]]

The product's sources are the *.cpp files under cli/, headless/, host/, source/ and python/ of
the tree (tree.py); each is read with its own flags from BUILD/compile_commands.json (the build
exports it), and the functions of the product's headers it includes count too, each reported once.
A source the build does not compile is named and left out. clang-tidy runs with only that check,
JOBS at a time (default: the processor count); flags only gcc knows are let through
(-Wno-unknown-warning-option) and warnings stay warnings, so that a gcc build is read as it is.
Fails naming every function over MAX_LINES (default 120) with its file, line and length. Without
clang-tidy the check is skipped: exit 77, the reason printed.

The product took clang-tidy about 3.5 minutes of processor time when this was written, under two
minutes on two idle cores: each source is parsed once and only this check's matchers run, so
nothing faster would still read the code as the compiler does. So a source's findings are kept
under $XDG_CACHE_HOME/tessamire/function-size (default ~/.cache), keyed by everything they depend
on: the source, every product header, its compile command, the limit and clang-tidy itself; a
source whose key was measured before is not read again, in this clone or another.
"""
import concurrent.futures
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys

from tree import tree_files

PRODUCT = ("cli", "headless", "host", "source", "python")
SKIPPED = 77
DIAGNOSTIC = re.compile(r"^(?P<file>.+?):(?P<line>\d+):\d+: warning: function '(?P<name>[^']*)'"
                        r" exceeds recommended size/complexity thresholds")
LENGTH = re.compile(r"^.+?:\d+:\d+: note: (?P<lines>\d+) lines including whitespace")


def find_clang_tidy():
    found = shutil.which("clang-tidy")
    if found:
        return found
    versioned = [os.path.join(folder, name)
                 for folder in os.environ.get("PATH", "").split(os.pathsep) if os.path.isdir(folder)
                 for name in os.listdir(folder) if re.fullmatch(r"clang-tidy-\d+", name)]
    return max(versioned, key=lambda p: int(p.rsplit("-", 1)[1]), default=None)


def sources(root, build):
    """The product sources the build compiles, with their compile commands, and those it does not."""
    with open(os.path.join(build, "compile_commands.json"), encoding="utf-8") as f:
        commands = {os.path.realpath(os.path.join(e["directory"], e["file"])):
                    e.get("command") or " ".join(e.get("arguments", [])) for e in json.load(f)}
    product = sorted(f for f in tree_files(root)
                     if f.endswith(".cpp") and f.split("/")[0] in PRODUCT)
    measured = {f: commands[os.path.realpath(os.path.join(root, f))] for f in product
                if os.path.realpath(os.path.join(root, f)) in commands}
    return measured, [f for f in product if f not in measured]


def cache_folder():
    base = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
    return os.path.join(base, "tessamire", "function-size")


def cache_keys(root, build, measured, clang_tidy, limit):
    """Per source, a digest of all its findings depend on. Paths of the tree and the build are
    left out of the commands, so another clone of the same sources finds the same keys."""
    shared = hashlib.sha256()
    shared.update(f"{os.path.realpath(clang_tidy)} {os.path.getmtime(clang_tidy)} {limit}".encode())
    for f in sorted(tree_files(root)):
        if f.endswith(".h") and f.split("/")[0] in PRODUCT:
            shared.update(f.encode())
            with open(os.path.join(root, f), "rb") as h:
                shared.update(hashlib.sha256(h.read()).digest())
    keys = {}
    for f, command in measured.items():
        key = shared.copy()
        key.update(f.encode())
        key.update(command.replace(build, "BUILD").replace(root, "ROOT").encode())
        with open(os.path.join(root, f), "rb") as source:
            key.update(source.read())
        keys[f] = key.hexdigest()
    return keys


def tidy(clang_tidy, build, source, limit):
    config = ("{Checks: '-*,readability-function-size', CheckOptions: "
              f"[{{key: readability-function-size.LineThreshold, value: {limit}}}]}}")
    done = subprocess.run(
        [clang_tidy, "-p", build, "--quiet", f"--config={config}",
         "--header-filter=/(" + "|".join(PRODUCT) + ")/",
         "--extra-arg=-Wno-unknown-warning-option", "--extra-arg=-Wno-error", source],
        capture_output=True, text=True)
    return done.returncode, done.stdout, done.stderr


def main():
    args = sys.argv[1:]
    if not 2 <= len(args) <= 4:
        sys.exit(__doc__)
    root, build = os.path.realpath(args[0]), os.path.realpath(args[1])
    limit = int(args[2]) if len(args) > 2 else 120
    jobs = int(args[3]) if len(args) > 3 else os.cpu_count() or 1
    clang_tidy = find_clang_tidy()
    if not clang_tidy:
        print("skipped: clang-tidy is not installed (scripts/install-deps.sh installs it)")
        return SKIPPED
    if not os.path.isfile(os.path.join(build, "compile_commands.json")):
        print(f"{build}/compile_commands.json is missing: configure with "
              "CMAKE_EXPORT_COMPILE_COMMANDS=ON (the top CMakeLists.txt sets it)")
        return 1
    measured, left_out = sources(root, build)
    if not measured:
        print("no product source found in " + os.path.join(build, "compile_commands.json"))
        return 1

    over = {}
    broken = []
    keys = cache_keys(root, build, measured, clang_tidy, limit)
    folder = cache_folder()
    cached = {f: os.path.join(folder, keys[f]) for f in measured
              if os.path.isfile(os.path.join(folder, keys[f]))}
    # Kept with the tree's folder as ROOT/, so another clone reads its own paths back.
    outputs = []
    for path in cached.values():
        with open(path, encoding="utf-8") as f:
            outputs.append(f.read().replace("ROOT/", root + "/"))
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        runs = {pool.submit(tidy, clang_tidy, build, os.path.join(root, f), limit): f
                for f in measured if f not in cached}
        for run in concurrent.futures.as_completed(runs):
            code, out, err = run.result()
            if code != 0:
                broken.append(f"  {runs[run]}: clang-tidy exited {code}\n{out}{err}")
                continue
            outputs.append(out)
            try:
                os.makedirs(folder, exist_ok=True)
                with open(os.path.join(folder, keys[runs[run]]) + ".tmp", "w", encoding="utf-8") as f:
                    f.write(out.replace(root + "/", "ROOT/"))
                os.replace(os.path.join(folder, keys[runs[run]]) + ".tmp",
                           os.path.join(folder, keys[runs[run]]))
            except OSError:
                pass  # a cache that cannot be written only costs the next run its time
        for out in outputs:
            found = None
            for line in out.splitlines():
                match = DIAGNOSTIC.match(line)
                if match:
                    path = os.path.relpath(os.path.realpath(match["file"]), root)
                    found = None
                    if path.split(os.sep)[0] in PRODUCT:
                        found = (path, int(match["line"]), match["name"])
                        over.setdefault(found, None)
                    continue
                match = LENGTH.match(line)
                if match and found:
                    over[found] = int(match["lines"])
                    found = None

    for f in left_out:
        print(f"not compiled by this build, not measured: {f}")
    if broken:
        print("clang-tidy could not read these sources:")
        print("\n".join(broken))
    if over:
        print(f"functions over {limit} lines (clang-tidy readability-function-size):")
        for (path, line, name), lines in sorted(over.items()):
            print(f"  {path}:{line}: {name}: {lines if lines is not None else '?'} lines")
    if broken or over:
        return 1
    print(f"{len(measured)} sources: no function over {limit} lines "
          f"({len(cached)} of them as measured before)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
