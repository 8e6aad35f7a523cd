#!/usr/bin/python3
"""Every path the guides name exists.

    doc_paths.py ROOT

Reads every README.md of the tree (any folder) and docs/*.md, and takes each word inside
backticks (`...`, outside fenced code blocks) that starts with one of the tree's top folders
followed by a slash (`headless/io/obj.h`, `tests/`). The top folders are those holding files
git tracks (or, outside a git work tree, the folders at the top but hidden and build ones). Each
such word must name a file or folder of the tree: git's files, tracked or new but not ignored,
and the folders that hold them, so that a build output or node_modules/ never makes a word true.
Fails naming every document, line and word at fault.

What a word means:
  - a leading `./` is dropped; a trailing `/` names a folder; `:123` after a path is a line in
    it and is dropped;
  - a path without extension may name a unit: `headless/io/obj` is headless/io/obj.h or .cpp;
  - braces expand: `headless/io/obj.{h,cpp}` is headless/io/obj.h and headless/io/obj.cpp;
  - a part after the file that starts with a dot is another extension of the same name:
    `headless/io/obj.h/.cpp` is headless/io/obj.h and headless/io/obj.cpp;
  - left out: words holding placeholders (`<...>`, `...`), numbered patterns (`####`, `%04d`),
    globs (`*`, `?`, `[`), and anything under a build folder (`build/`, `build-*`).
Paths relative to a folder's README (a file name alone) are not words of the tree and are not
checked; and a word in a folder's README may also name a path from that folder (tests/README.md's
`cli/install_check.cmake` is tests/cli/install_check.cmake).
"""
import os
import re
import sys

from tree import tree_files

SKIPPED_PARTS = ("<", ">", "...", "####", "*", "?", "[", "]")
NUMBERED = re.compile(r"%0?\d*d")


def folders_of(files):
    folders = set()
    for f in files:
        parts = f.split("/")[:-1]
        for i in range(1, len(parts) + 1):
            folders.add("/".join(parts[:i]))
    return folders


def documents(files):
    return sorted(f for f in files
                  if f == "README.md" or f.endswith("/README.md")
                  or re.fullmatch(r"docs/[^/]+\.md", f))


def backticked_words(text):
    """(line number, word) for each whitespace-separated word inside inline backticks; a span may
    run over a line break, and fenced code blocks are left out."""
    lines = text.split("\n")
    fenced = False
    for i, line in enumerate(lines):
        fence = line.lstrip().startswith(("```", "~~~"))
        if fence or fenced:
            lines[i] = ""  # keeps the line numbers
        if fence:
            fenced = not fenced
    prose = "\n".join(lines)
    for span in re.finditer(r"`([^`]+)`", prose):
        for word in re.finditer(r"\S+", span.group(1)):
            yield prose.count("\n", 0, span.start(1) + word.start()) + 1, word.group()


def expand(word):
    """The paths a word names, after braces and `x.h/.cpp` alternatives."""
    braces = re.search(r"\{([^{}]*)\}", word)
    if braces:
        paths = []
        for choice in braces.group(1).split(","):
            paths += expand(word[:braces.start()] + choice + word[braces.end():])
        return paths
    parts = word.split("/")
    alternatives = [i for i, p in enumerate(parts) if i > 0 and p.startswith(".") and p != ".."]
    if alternatives:
        first = alternatives[0]
        stem = "/".join(parts[:first])
        base, _ = os.path.splitext(stem)
        return [stem] + [base + parts[i] for i in alternatives]
    return [word]


def checked(word, tops):
    word = word.strip(",;()\"'")
    word = re.sub(r":\d+(-\d+)?$", "", word)
    if word.startswith("./"):
        word = word[2:]
    if "/" not in word or word.split("/")[0] not in tops:
        return None
    if any(p in word for p in SKIPPED_PARTS) or NUMBERED.search(word):
        return None
    return word


def exists(path, files, folders):
    bare = path.rstrip("/")
    if path.endswith("/"):
        return bare in folders
    # A unit is named by its path without extension: its header or its source.
    return bare in files or bare in folders or bare + ".h" in files or bare + ".cpp" in files


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: doc_paths.py ROOT")
    root = sys.argv[1]
    files = tree_files(root)
    folders = folders_of(files)
    tops = {f.split("/")[0] for f in files if "/" in f}
    tops = {t for t in tops if not t.startswith(".") and not t.startswith("build")}
    faults = []
    for document in documents(files):
        with open(os.path.join(root, document), encoding="utf-8") as f:
            text = f.read()
        for number, raw in backticked_words(text):
            word = checked(raw, tops)
            if word is None:
                continue
            home = os.path.dirname(document)
            for path in expand(word):
                bases = [path] + ([home + "/" + path] if home else [])
                if not any(exists(base, files, folders) for base in bases):
                    faults.append(f"  {document}:{number}: `{raw}`"
                                  + ("" if path == word else f" ({path})"))
    if faults:
        print("paths named in the guides that do not exist:")
        print("\n".join(faults))
        return 1
    print(f"every path named in {len(documents(files))} guides exists")
    return 0


if __name__ == "__main__":
    sys.exit(main())
