#!/usr/bin/python3
"""Limits on where the product's lines sit, so that no folder grows into the whole program.

    code_lines.py ROOT folder FOLDER MAX_LINES   FOLDER (its *.cpp and *.h, subfolders included)
                                                 holds at most MAX_LINES lines
    code_lines.py ROOT shares MAX_PERCENT        no code folder holds more than MAX_PERCENT of
                                                 the product's lines

Lines are counted as `wc -l` does (newline characters). The product is the *.cpp and *.h files
under cli/, headless/, host/, source/ and python/; a code folder is each folder holding such files
itself, counted by those files alone (source/ by its start unit, source/TTessamire by the tag's).
The files are the tree's (tree.py): in a git work tree, tracked or new but not ignored.
Fails naming the folder and its lines, or printing the table of every code folder's share.
"""
import os
import sys

from tree import tree_files

PRODUCT = ("cli", "headless", "host", "source", "python")
CODE = (".cpp", ".h")


def lines_of(root, name):
    with open(os.path.join(root, name), "rb") as f:
        return f.read().count(b"\n")


def code_files(root, top_folders):
    return sorted(f for f in tree_files(root)
                  if f.endswith(CODE) and f.split("/")[0] in top_folders)


def folder_limit(root, folder, limit):
    folder = folder.strip("/")
    files = [f for f in code_files(root, (folder.split("/")[0],))
             if f.startswith(folder + "/")]
    total = sum(lines_of(root, f) for f in files)
    if total > limit:
        print(f"{folder}/: {total} lines in {len(files)} *.cpp and *.h files, over the limit of "
              f"{limit}; move what is not the folder's own into the layer it belongs to")
        return 1
    print(f"{folder}/: {total} lines, within {limit}")
    return 0


def shares(root, limit):
    per_folder = {}
    for f in code_files(root, PRODUCT):
        folder = os.path.dirname(f)
        per_folder[folder] = per_folder.get(folder, 0) + lines_of(root, f)
    total = sum(per_folder.values())
    if total == 0:
        print("no product code found under " + ", ".join(p + "/" for p in PRODUCT))
        return 1
    table = sorted(per_folder.items(), key=lambda item: (-item[1], item[0]))
    over = [folder for folder, lines in table if 100.0 * lines / total > limit]
    if over:
        print(f"code folders over {limit:g}% of the product's {total} lines: "
              + ", ".join(f + "/" for f in over))
        print(f"  {'folder':<32} {'lines':>7} {'share':>7}")
        for folder, lines in table:
            mark = "  over" if folder in over else ""
            print(f"  {folder + '/':<32} {lines:>7} {100.0 * lines / total:>6.1f}%{mark}")
        return 1
    folder, lines = table[0]
    print(f"the largest code folder, {folder}/, holds {100.0 * lines / total:.1f}% of the "
          f"product's {total} lines, within {limit:g}%")
    return 0


def main():
    args = sys.argv[1:]
    if len(args) == 4 and args[1] == "folder":
        return folder_limit(args[0], args[2], int(args[3]))
    if len(args) == 3 and args[1] == "shares":
        return shares(args[0], float(args[2]))
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main())
