#!/usr/bin/env python3
"""The Windows program under wine against the native one: `tessamire.exe info` starts the PE
library and lists the same console lines and registrations as the native program, and
`tessamire.exe apply` writes files byte-identical to the native program's on the same inputs, a
twisted tube of quads and triangles, with every option of apply.

usage: windows_matches_native.py WORKDIR NATIVE_CLI NATIVE_PLUGINS WINDOWS_PLUGINS -- RUNNER...
RUNNER is the command that runs the Windows program (the emulator followed by tessamire.exe).
"""
import filecmp
import math
import os
import shutil
import subprocess
import sys
import tempfile

AROUND = 48  # points per ring
ALONG = 60  # rings
LENGTH = 6.0


def tube_points(twist, bend):
    """The rest tube turned about its axis by `twist` radians per unit of length and bent
    sideways by `bend` times the square of the height; the ridges carry the detail."""
    points = []
    for ring in range(ALONG):
        z = LENGTH * ring / (ALONG - 1)
        for k in range(AROUND):
            a = 2.0 * math.pi * k / AROUND + twist * z
            r = 1.0 + (0.08 if k % 4 == 0 else 0.0) + 0.05 * math.sin(3.0 * z)
            points.append((r * math.cos(a) + bend * z * z, r * math.sin(a), z))
    return points


def tube_faces():
    """Quads on even rows, two triangles per cell on odd rows; 1-based corners."""
    faces = []
    for ring in range(ALONG - 1):
        for k in range(AROUND):
            a = ring * AROUND + k + 1
            b = ring * AROUND + (k + 1) % AROUND + 1
            c, d = b + AROUND, a + AROUND
            if ring % 2 == 0:
                faces.append((a, b, c, d))
            else:
                faces += [(a, b, c), (a, c, d)]
    return faces


def write_obj(path, points, faces):
    with open(path, "w", newline="\n") as out:
        for p in points:
            out.write("v %.17g %.17g %.17g\n" % p)
        for f in faces:
            out.write("f " + " ".join(str(i) for i in f) + "\n")


def write_weights(path, weights):
    with open(path, "w", newline="\n") as out:
        for w in weights:
            out.write("%.9g\n" % w)


def run(command, where):
    """Runs with output into files (no pipes for wine's services to hold); answers
    (status, standard output) with Windows line ends read as "\n"."""
    with open(where + ".out", "w+b") as out, open(where + ".err", "w+b") as err:
        status = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=out, stderr=err).returncode
        out.seek(0)
        err.seek(0)
        text = out.read().decode("utf-8").replace("\r\n", "\n")
        errors = err.read().decode("utf-8", "replace")
    if status != 0:
        raise AssertionError("%s exited with %d:\n%s%s" % (" ".join(command), status, text, errors))
    return text


def main():
    work, native, native_plugins, windows_plugins, separator, *windows = sys.argv[1:]
    assert separator == "--" and windows, __doc__
    if not os.access(native, os.X_OK):
        sys.exit("no native program at %s: build it first (make build)" % native)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    failures = []

    # info: the banner and the three registrations from the PE library, as natively.
    native_info = run([native, "info", "--plugins", native_plugins], os.path.join(work, "n"))
    windows_info = run(windows + ["info", "--plugins", windows_plugins], os.path.join(work, "w"))
    lines = windows_info.splitlines()
    kinds = [line.split(" ")[:2] for line in lines[3:]]
    if lines[:3] != ["---------------", "Tessamire v1.10", "---------------"] or kinds != [
        ["command", "1035622"], ["object", "1035447"], ["tag", "1035496"]]:
        failures.append("tessamire.exe info lists:\n" + windows_info)
    if any(" icon=0x0" in line or ' ""' in line for line in lines[3:]):
        failures.append("a registration without its name or icon:\n" + windows_info)
    if windows_info != native_info:
        failures.append("info differs:\n--- native\n%s--- windows\n%s" % (native_info, windows_info))

    # apply: the same files, to the byte.
    faces = tube_faces()
    rest = os.path.join(work, "rest.obj")
    write_obj(rest, tube_points(0.0, 0.0), faces)
    frames = []
    for i, (twist, bend) in enumerate([(0.15, 0.0), (-0.4, 0.03), (0.9, -0.05)]):
        frames.append(os.path.join(work, "frame%d.obj" % i))
        write_obj(frames[-1], tube_points(twist, bend), faces)
    count = AROUND * ALONG
    write_weights(os.path.join(work, "map.txt"), [0.2 + 0.8 * ((i * 7) % 13) / 12 for i in range(count)])
    write_weights(os.path.join(work, "restriction.txt"),
                  [((i * 5) % 11) / 10 for i in range(count)])
    option_sets = {
        "defaults": [],
        "every_option": ["--iterations", "3", "--weighting", "0", "--pin-border", "1",
                         "--strength", "0.8", "--vertex-map", os.path.join(work, "map.txt"),
                         "--restriction", os.path.join(work, "restriction.txt")],
        "show_smoothed": ["--iterations", "5", "--weighting", "1", "--pin-border", "0",
                          "--strength", "0.35", "--restriction",
                          os.path.join(work, "restriction.txt"), "--show-smoothed"],
    }
    compared = 0
    for name, options in option_sets.items():
        outputs = {}
        for side, command, plugins in [("native", [native], native_plugins),
                                       ("windows", windows, windows_plugins)]:
            outputs[side] = os.path.join(work, name + "_" + side)
            run(command + ["apply", "--rest", rest, *options, "--quiet", "--plugins", plugins,
                           "--out", outputs[side], *frames], outputs[side])
        for frame in frames:
            ours = os.path.join(outputs["windows"], os.path.basename(frame))
            theirs = os.path.join(outputs["native"], os.path.basename(frame))
            if not filecmp.cmp(ours, theirs, shallow=False):
                failures.append("%s: %s differs from the native result" % (name, ours))
            elif filecmp.cmp(ours, frame, shallow=False):
                failures.append("%s: %s is its input unchanged" % (name, ours))
            compared += 1

    if failures:
        sys.exit("\n".join(failures))
    print("info matches; %d apply results byte-identical to the native program's" % compared)
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
