#!/usr/bin/env bash
# package-windows.sh BUILD ZIP: writes ZIP with the plug-in folder tessamire/ of the Windows build
# in BUILD (tessamire.xdl64 with res/ beside it), as a user copies it into the host's plug-in
# folder, and a README.txt saying so.
set -euo pipefail
build=$1
zip=$(realpath -m "$2")
plugin=$build/plugins/tessamire
for needed in "$plugin/tessamire.xdl64" "$plugin/res"; do
  [ -e "$needed" ] || { echo "no $needed: build it first (make windows)" >&2; exit 1; }
done
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/tessamire"
# Without its symbol table; the exported entry points stay.
x86_64-w64-mingw32-strip --strip-unneeded -o "$stage/tessamire/tessamire.xdl64" "$plugin/tessamire.xdl64"
cp -RL "$plugin/res" "$stage/tessamire/res"
cat >"$stage/README.txt" <<'TEXT'
Tessamire for Windows x86-64
============================

The folder tessamire\ is the plug-in: tessamire.xdl64 with its resources in res\ beside it.
Copy the whole folder into the host application's plug-in folder (the "plugins" folder in the
host's installation folder, or the plug-in folder set in its preferences) and start the host. It
adds the bind tag, the deformer and the setup command; the console shows "Tessamire v1.10".

The library needs nothing else: its C++ runtime is built in.
TEXT
mkdir -p "$(dirname "$zip")"
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip README.txt tessamire)
echo "wrote $zip"
