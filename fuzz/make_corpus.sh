#!/usr/bin/env bash
# Remakes the seeds the program itself writes (scene contents and point caches) with the
# `tessamire` program of BUILD (a plain build): fuzz/make_corpus.sh build
# The OBJ and weight-file seeds are written by hand, for the cases their readers name.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
tessamire="$(cd "$1" && pwd)/tessamire"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

# A scene file's content: without its 20-byte header and its 8-byte check value.
content() { tail -c +21 "$1" | head -c -8 >"$here/corpus/scene_file/$2"; }

mesh="$here/corpus/obj/quads_normals.obj"
"$tessamire" scene import "$mesh" --out plain.tsm >/dev/null
content plain.tsm mesh_only
"$tessamire" scene import "$mesh" --tag --out live.tsm >/dev/null
content live.tsm live_tag
"$tessamire" scene import "$mesh" --tag --bind --out bound.tsm >/dev/null
content bound.tsm bound_tag
# The setup command: a bound tag and the deformer, and a vertex map linked.
"$tessamire" command 'Add Tessamire' --select quads_normals --shift plain.tsm --out setup.tsm >/dev/null
content setup.tsm setup_command

# Point caches: the mesh evaluated over a few frames of a cache played on it.
"$tessamire" eval setup.tsm --frames 0:2 --format pc2 --out pc2 >/dev/null
"$tessamire" scene import "$mesh" --cache pc2/quads_normals.pc2 --tag --bind --out cached.tsm >/dev/null
content cached.tsm point_cache
"$tessamire" eval cached.tsm --frames 0:3 --format pc2 --out pc2 >/dev/null
"$tessamire" eval cached.tsm --frames 0:3 --format mdd --out mdd >/dev/null
cp pc2/quads_normals.pc2 "$here/corpus/pc2/grid_4_frames.pc2"
cp mdd/quads_normals.mdd "$here/corpus/mdd/grid_4_frames.mdd"
"$tessamire" eval setup.tsm --frames 5:5 --format pc2 --out one >/dev/null
"$tessamire" eval setup.tsm --frames 5:5 --format mdd --out one >/dev/null
cp one/quads_normals.pc2 "$here/corpus/pc2/grid_1_frame.pc2"
cp one/quads_normals.mdd "$here/corpus/mdd/grid_1_frame.mdd"

# A rigged character: joints with keys, a skin deformer, one weight map per joint and the file's
# own vertices; the first test model whose scene fits the longest input run.sh lets the scene
# target take.
for character in /usr/share/assimp/models/X/anim_test.x \
                 /usr/share/assimp/models/glTF2/simple_skin/simple_skin.gltf; do
  [ -f "$character" ] || continue
  "$tessamire" scene import "$character" --out character.tsm >/dev/null 2>&1
  if [ "$(stat -c %s character.tsm)" -le 65564 ]; then
    content character.tsm character
    break
  fi
done
ls -l "$here"/corpus/*/
